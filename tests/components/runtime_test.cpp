// The ZCom runtime: the process-wide count, the task allocator reference and
// the server cache with its release.
#include <string>
#include <thread>
#include <vector>

#include "component_support.h"

using namespace zvtest;

namespace {

// References of the task allocator that are out, read without keeping one.
ULONG TaskAllocatorReferences() {
    IMalloc* allocator = nullptr;
    return CoGetMalloc(MEMCTX_TASK, &allocator) == S_OK ? allocator->Release() : ~ULONG(0);
}

// The two server libraries the records hold in the cache test.
ZVHANDLE g_libraries[2];

// A factory of the test's own for the cache's internal calls: it counts its
// AddRef calls and logs its Release, with the libraries still open then.
struct LoggingFactory final : IClassFactory {
    LoggingFactory(int id, std::vector<std::string>* log) : id(id), log(log) {}
    HRESULT QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return ULONG(++addRefs); }
    ULONG Release() override {
        log->push_back(std::to_string(id) + (ModuleOpen(g_libraries[0]) ? " A" : "") +
                       (ModuleOpen(g_libraries[1]) ? " B" : ""));
        return 0;
    }
    HRESULT CreateInstance(IUnknown*, const IID&, void**) override { return E_FAIL; }
    HRESULT LockServer(int32_t) override { return S_OK; }
    int id, addRefs = 0;
    std::vector<std::string>* log;
};

}  // namespace

TEST(ZComRuntime, ReleasesTheCacheOnlyWhenTheCountReturnsToZero) {
    TestServer server(ZV_TEST_SERVER_A);
    ASSERT_EQ(Register(server.path, ServedClass(1)), S_OK);
    // An unmatched call takes the count below zero and releases nothing;
    // creation does not ask for the count.
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_EQ(zv::ZComCount(), -1);
    EXPECT_EQ(ZVInitializeZCom(), S_OK);
    ASSERT_EQ(CreateAndRelease(ServedClass(1)), S_OK);
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_EQ(zv::ZComCount(), -1);
    ASSERT_EQ(zv::ServerCacheCount(), 1u);
    const ZVHANDLE library = zv::ServerCacheRecord(0)->library;
    // Up through zero to two, then down: the cache goes when zero is reached.
    EXPECT_EQ(ZVInitializeZCom(), S_OK);
    EXPECT_EQ(ZVInitializeZCom(), S_FALSE);  // the same thread again
    EXPECT_EQ(ZVInitializeZCom(), S_FALSE);
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_EQ(zv::ZComCount(), 1);
    EXPECT_EQ(zv::ServerCacheCount(), 1u);
    EXPECT_TRUE(ModuleOpen(library) && server.Counts().liveFactories == 1);
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_EQ(zv::ServerCacheCount(), 0u);
    EXPECT_FALSE(ModuleOpen(library) || server.Counts().liveFactories);
    // The cache fills anew.
    ASSERT_EQ(CreateAndRelease(ServedClass(1)), S_OK);
    EXPECT_EQ(server.Counts().getClassObject, 2);
}

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
    EXPECT_EQ(zv::ZComTaskAllocator(), allocator);
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
    // While someone else holds it, the pointer outlives a count of zero and
    // the next initialisation only adds a reference.
    IMalloc* mine = nullptr;
    ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, &mine), S_OK);
    ASSERT_EQ(ZVInitializeZCom(), S_OK);
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_EQ(zv::ZComTaskAllocator(), mine);
    ASSERT_EQ(ZVInitializeZCom(), S_OK);
    EXPECT_EQ(TaskAllocatorReferences(), 2u);
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_EQ(mine->Release(), 0u);
}

TEST(ServerCache, LooksUpByAllSixteenBytesAndReleasesInInsertionOrder) {
    g_libraries[0] = ZVOpenLibrary(W(ZV_TEST_SERVER_A).c_str());
    g_libraries[1] = ZVOpenLibrary(W(ZV_TEST_SERVER_B).c_str());
    ASSERT_TRUE(ModuleOpen(g_libraries[0]) && ModuleOpen(g_libraries[1]));
    std::vector<std::string> log, expected = {"0 A B", "1 B"};
    std::vector<LoggingFactory> factories;
    for (int i = 0; i <= 40; ++i) factories.emplace_back(i, &log);
    EnterCriticalSection(&zv::g_zcomLock);
    IClassFactory* found = &factories[0];
    EXPECT_EQ(zv::ServerCacheLookup(ServedClass(0), &found), E_FAIL);  // empty
    // Forty records, the first two with the libraries (the array grows past
    // its first size), then a second record of the first class.
    for (uint8_t i = 0; i <= 40; ++i)
        EXPECT_EQ(zv::ServerCacheInsert(i < 2 ? g_libraries[i] : nullptr, u"/x.so", ServedClass(i % 40), &factories[i]),
                  S_OK);
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
    for (int i = 2; i <= 40; ++i) expected.push_back(std::to_string(i));
    EXPECT_EQ(log, expected);
    for (const LoggingFactory& factory : factories) EXPECT_EQ(factory.addRefs, 0);
    EXPECT_EQ(zv::ServerCacheCount(), 0u);
}
