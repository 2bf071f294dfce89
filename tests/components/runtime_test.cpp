// The ZCom runtime: the process-wide count, the task allocator reference and
// the server cache with its release.
#include "component_support.h"

using namespace zvtest;

namespace {

// The libraries the records hold in the cache test, and what its factories saw.
ZVHANDLE g_libraries[2];
std::vector<std::string> g_log;

// A factory for the cache's internal calls: it logs its Release, with the
// libraries still open at that moment.
struct LoggingFactory final : IClassFactory {
    explicit LoggingFactory(int id) : id(id) {}
    HRESULT QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override {
        g_log.push_back(std::to_string(id) + (ModuleOpen(g_libraries[0]) ? " A" : "") +
                        (ModuleOpen(g_libraries[1]) ? " B" : ""));
        return 0;
    }
    HRESULT CreateInstance(IUnknown*, const IID&, void**) override { return E_FAIL; }
    HRESULT LockServer(int32_t) override { return S_OK; }
    const int id;
};

}  // namespace

TEST(ZComRuntime, PassesAChangedModeThroughAndStillCounts) {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(ZVInitializeZCom(), RPC_E_CHANGED_MODE);
    EXPECT_EQ(zv::ZComCount(), 1);
    EXPECT_EQ(TaskAllocatorReferences(), 0u);  // no reference taken
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_EQ(zv::ZComCount(), 0);
    // Its CoUninitialize matched the thread's own initialisation, so the
    // thread may choose its model afresh.
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
}

TEST(ZComRuntime, HoldsOneAllocatorReferencePerSuccessfulInitialise) {
    ASSERT_EQ(ZVInitializeZCom(), S_OK);
    IMalloc* allocator = zv::ZComTaskAllocator();
    // A second thread's initialisation adds a reference to the same one.
    std::thread([] { EXPECT_EQ(ZVInitializeZCom(), S_OK); }).join();
    EXPECT_EQ(TaskAllocatorReferences(), 2u);
    void* block = ZVComMalloc(64);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(allocator->GetSize(block), SIZE_T(64));
    ZVComFree(block);
    EXPECT_EQ(allocator->DidAlloc(block), 0);
    std::thread([] { ZVUninitializeZCom(); }).join();
    EXPECT_EQ(TaskAllocatorReferences(), 1u);
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    // Its last reference is gone: the pointer is dropped, to be fetched anew.
    EXPECT_EQ(TaskAllocatorReferences(), 0u);
    EXPECT_EQ(zv::ZComTaskAllocator(), nullptr);
    // While someone else holds it, the pointer outlives a count of zero.
    ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, &allocator), S_OK);
    ASSERT_EQ(ZVInitializeZCom(), S_OK);
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_EQ(zv::ZComTaskAllocator(), allocator);
}

TEST(ServerCache, LooksUpByAllSixteenBytesAndReleasesInInsertionOrder) {
    g_libraries[0] = ZVOpenLibrary(W(ZV_TEST_SERVER_A).c_str());
    g_libraries[1] = ZVOpenLibrary(W(ZV_TEST_SERVER_B).c_str());
    std::vector<LoggingFactory> factories;
    for (int i = 0; i <= 40; ++i) factories.emplace_back(i);
    EnterCriticalSection(&zv::g_zcomLock);
    IClassFactory* found = &factories[0];
    EXPECT_EQ(zv::ServerCacheLookup(ServedClass(0), &found), E_FAIL);  // empty
    // Forty records, the first two with the libraries (the array grows past
    // its first size), then a second record of the first class.
    for (uint8_t i = 0; i <= 40; ++i) {
        ZVHANDLE library = i < 2 ? g_libraries[i] : nullptr;
        EXPECT_EQ(zv::ServerCacheInsert(library, u"/x.so", ServedClass(i % 40), &factories[i]), S_OK);
    }
    for (uint8_t i = 0; i < 40; ++i) {
        EXPECT_EQ(zv::ServerCacheLookup(ServedClass(i), &found), S_OK);
        EXPECT_EQ(found, &factories[i]);  // the first record of a class wins
    }
    // A class that differs in the last byte only is not there.
    EXPECT_EQ(zv::ServerCacheLookup(ServedClass(40), &found), E_FAIL);
    EXPECT_EQ(found, &factories[39]);
    LeaveCriticalSection(&zv::g_zcomLock);
    // The release takes each factory's one reference in insertion order, and
    // closes a record's library after its factory, before the next record.
    ASSERT_EQ(ZVInitializeZCom(), S_OK);
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    std::vector<std::string> expected = {"0 A B", "1 B"};
    for (int i = 2; i <= 40; ++i) expected.push_back(std::to_string(i));
    EXPECT_EQ(g_log, expected);
    EXPECT_EQ(zv::ServerCacheCount(), 0u);
}
