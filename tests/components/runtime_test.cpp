// The ZCom runtime: the process-wide count, the task allocator reference and
// the server cache with its release.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "component_support.h"

using zvtest::RegisterClass;
using zvtest::ServedClass;
using zvtest::TestServer;

namespace {

// References of the task allocator that are out, read without keeping one.
ULONG TaskAllocatorReferences() {
    IMalloc* allocator = nullptr;
    if (CoGetMalloc(MEMCTX_TASK, &allocator) != S_OK) return ~ULONG(0);
    return allocator->Release();
}

HRESULT Create(const CLSID& clsid, zvtest::ITestObject** object) {
    return ZVCreateObject(0, &clsid, nullptr, &zvtest::kTestObjectIid,
                          reinterpret_cast<void**>(object));
}

// A factory of the test's own, for the cache's internal calls.
class LoggingFactory final : public IClassFactory {
  public:
    LoggingFactory(int id, std::vector<int>* log) : id_(id), log_(log) {}
    HRESULT QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override {
        ++addRefs;
        return 2;
    }
    ULONG Release() override {
        log_->push_back(id_);
        return 0;
    }
    HRESULT CreateInstance(IUnknown*, const IID&, void**) override { return E_FAIL; }
    HRESULT LockServer(int32_t) override { return S_OK; }
    int addRefs = 0;

  private:
    int id_;
    std::vector<int>* log_;
};

}  // namespace

TEST(ZComRuntime, ReleasesTheCacheOnlyWhenTheCountReturnsToZero) {
    TestServer server(ZV_TEST_SERVER_A);
    ASSERT_EQ(RegisterClass(server.path(), "Test.Runtime", ServedClass(1)), S_OK);

    EXPECT_EQ(ZVInitializeZCom(), S_OK);
    EXPECT_EQ(ZVInitializeZCom(), S_FALSE);  // the same thread again
    EXPECT_EQ(zv::ZComCount(), 2);

    zvtest::ITestObject* object = nullptr;
    ASSERT_EQ(Create(ServedClass(1), &object), S_OK);
    object->Release();
    ASSERT_EQ(zv::ServerCacheCount(), 1u);
    ZVHANDLE library = zv::ServerCacheRecord(0)->library;
    EXPECT_TRUE(zvtest::ModuleOpen(library));

    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_EQ(zv::ZComCount(), 1);
    EXPECT_EQ(zv::ServerCacheCount(), 1u);
    EXPECT_EQ(server.Counts().liveFactories, 1);
    EXPECT_TRUE(zvtest::ModuleOpen(library));

    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_EQ(zv::ZComCount(), 0);
    EXPECT_EQ(zv::ServerCacheCount(), 0u);
    EXPECT_EQ(server.Counts().liveFactories, 0);
    EXPECT_FALSE(zvtest::ModuleOpen(library));

    // The count may rise and fall again: the cache fills anew.
    EXPECT_EQ(ZVInitializeZCom(), S_OK);
    ASSERT_EQ(Create(ServedClass(1), &object), S_OK);
    object->Release();
    EXPECT_EQ(server.Counts().getClassObject, 2);
    EXPECT_EQ(zv::ServerCacheCount(), 1u);
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_EQ(zv::ServerCacheCount(), 0u);
    EXPECT_EQ(server.Counts().liveFactories, 0);
    EXPECT_EQ(server.Counts().liveObjects, 0);
}

TEST(ZComRuntime, UnmatchedUninitialiseGoesBelowZeroAndReleasesNothing) {
    TestServer server(ZV_TEST_SERVER_A);
    ASSERT_EQ(RegisterClass(server.path(), "Test.Unmatched", ServedClass(2)), S_OK);
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_EQ(zv::ZComCount(), -1);
    EXPECT_EQ(ZVInitializeZCom(), S_OK);
    EXPECT_EQ(zv::ZComCount(), 0);

    // Creation does not ask for the count; its record stays through the
    // unmatched call and through the count's passing zero on the way up.
    zvtest::ITestObject* object = nullptr;
    ASSERT_EQ(Create(ServedClass(2), &object), S_OK);
    object->Release();
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_EQ(zv::ZComCount(), -1);
    EXPECT_EQ(zv::ServerCacheCount(), 1u);
    EXPECT_EQ(ZVInitializeZCom(), S_OK);
    EXPECT_EQ(ZVInitializeZCom(), S_FALSE);
    EXPECT_EQ(zv::ZComCount(), 1);
    EXPECT_EQ(zv::ServerCacheCount(), 1u);
    EXPECT_EQ(server.Counts().liveFactories, 1);

    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_EQ(zv::ServerCacheCount(), 0u);
    EXPECT_EQ(server.Counts().liveFactories, 0);
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_EQ(zv::ZComCount(), -1);
}

TEST(ZComRuntime, PassesAChangedModeThroughAndStillCounts) {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(ZVInitializeZCom(), RPC_E_CHANGED_MODE);
    EXPECT_EQ(zv::ZComCount(), 1);
    EXPECT_EQ(zv::ZComTaskAllocator(), nullptr);  // no reference taken
    EXPECT_EQ(TaskAllocatorReferences(), 0u);

    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_EQ(zv::ZComCount(), 0);
    // Its CoUninitialize was made all the same and matched the thread's own
    // initialisation, so the thread may choose its model afresh.
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    CoUninitialize();
}

TEST(ZComRuntime, HoldsOneAllocatorReferencePerSuccessfulInitialise) {
    EXPECT_EQ(zv::ZComTaskAllocator(), nullptr);
    EXPECT_EQ(ZVComMalloc(16), nullptr);  // no allocator held: nothing to give
    ZVComFree(nullptr);

    ASSERT_EQ(ZVInitializeZCom(), S_OK);
    IMalloc* allocator = zv::ZComTaskAllocator();
    ASSERT_NE(allocator, nullptr);
    EXPECT_EQ(TaskAllocatorReferences(), 1u);

    // A second thread's initialisation adds a reference to the same one.
    HRESULT other = E_FAIL;
    std::thread([&] { other = ZVInitializeZCom(); }).join();
    EXPECT_EQ(other, S_OK);
    EXPECT_EQ(zv::ZComTaskAllocator(), allocator);
    EXPECT_EQ(TaskAllocatorReferences(), 2u);

    void* block = ZVComMalloc(64);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(allocator->DidAlloc(block), 1);
    EXPECT_EQ(allocator->GetSize(block), SIZE_T(64));
    ZVComFree(block);
    EXPECT_EQ(allocator->DidAlloc(block), 0);

    std::thread([] { ZVUninitializeZCom(); }).join();
    EXPECT_EQ(TaskAllocatorReferences(), 1u);
    EXPECT_EQ(zv::ZComTaskAllocator(), allocator);
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    // Its last reference is gone: the pointer is dropped and fetched anew.
    EXPECT_EQ(TaskAllocatorReferences(), 0u);
    EXPECT_EQ(zv::ZComTaskAllocator(), nullptr);
    ASSERT_EQ(ZVInitializeZCom(), S_OK);
    EXPECT_EQ(TaskAllocatorReferences(), 1u);

    // While someone else holds the allocator, the pointer outlives a count
    // of zero and the next initialisation only adds a reference.
    IMalloc* mine = nullptr;
    ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, &mine), S_OK);
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_EQ(zv::ZComCount(), 0);
    EXPECT_EQ(zv::ZComTaskAllocator(), mine);
    ASSERT_EQ(ZVInitializeZCom(), S_OK);
    EXPECT_EQ(TaskAllocatorReferences(), 2u);
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_EQ(mine->Release(), 0u);
}

TEST(ServerCache, LooksUpByAllSixteenBytesAndKeepsInsertionOrder) {
    std::vector<int> log;
    LoggingFactory first(1, &log), second(2, &log), third(3, &log);
    const CLSID classX = ServedClass(0x10), classY = ServedClass(0x20);
    CLSID nearX = classX;
    nearX.Data4[7] ^= 1;  // differs in the last byte only

    EnterCriticalSection(&zv::g_zcomLock);
    IClassFactory* found = &first;
    EXPECT_EQ(zv::ServerCacheLookup(classX, &found), E_FAIL);  // empty cache
    EXPECT_EQ(found, &first);                                  // untouched

    EXPECT_EQ(zv::ServerCacheInsert(nullptr, ZV_W("/x.so"), classX, &first), S_OK);
    EXPECT_EQ(zv::ServerCacheInsert(nullptr, ZV_W("/y.so"), classY, &second), S_OK);
    EXPECT_EQ(zv::ServerCacheInsert(nullptr, ZV_W("/x2.so"), classX, &third), S_OK);
    found = nullptr;
    EXPECT_EQ(zv::ServerCacheLookup(classX, &found), S_OK);
    EXPECT_EQ(found, &first);  // the first record of the class wins
    EXPECT_EQ(zv::ServerCacheLookup(classY, &found), S_OK);
    EXPECT_EQ(found, &second);
    EXPECT_EQ(zv::ServerCacheLookup(nearX, &found), E_FAIL);
    EXPECT_EQ(found, &second);

    ASSERT_EQ(zv::ServerCacheCount(), 3u);
    const zv::ServerRecord* record = zv::ServerCacheRecord(2);
    EXPECT_EQ(std::u16string(record->serverPath), u"/x2.so");
    EXPECT_TRUE(zvtest::SameClsid(record->clsid, classX));
    EXPECT_EQ(record->factory, &third);
    EXPECT_EQ(zv::ServerCacheRecord(3), nullptr);
    LeaveCriticalSection(&zv::g_zcomLock);

    // The release takes each factory's one reference, in insertion order.
    ASSERT_EQ(ZVInitializeZCom(), S_OK);
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_EQ(log, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(first.addRefs + second.addRefs + third.addRefs, 0);
    EXPECT_EQ(zv::ServerCacheCount(), 0u);

    // The array's storage is kept and grows past its first size.
    EnterCriticalSection(&zv::g_zcomLock);
    std::vector<LoggingFactory> many;
    many.reserve(40);
    for (int i = 0; i < 40; ++i) {
        many.emplace_back(100 + i, &log);
        EXPECT_EQ(zv::ServerCacheInsert(nullptr, ZV_W("/m.so"), ServedClass(uint8_t(i)), &many.back()),
                  S_OK);
    }
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(zv::ServerCacheLookup(ServedClass(uint8_t(i)), &found), S_OK);
        EXPECT_EQ(found, &many[size_t(i)]);
    }
    LeaveCriticalSection(&zv::g_zcomLock);
    log.clear();
    ASSERT_EQ(ZVInitializeZCom(), S_OK);
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    ASSERT_EQ(log.size(), 40u);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(log[size_t(i)], 100 + i);
}

namespace {

// What the servers' release hook saw: each factory's class, and whether the
// two libraries were still open at that moment.
struct ReleaseWitness {
    ZVHANDLE libraryA = nullptr;
    ZVHANDLE libraryB = nullptr;
    struct Event {
        uint8_t classByte;
        bool aOpen;
        bool bOpen;
    };
    std::vector<Event> events;
};

void WitnessRelease(const CLSID* clsid, void* context) {
    auto* witness = static_cast<ReleaseWitness*>(context);
    witness->events.push_back({clsid->Data4[7], zvtest::ModuleOpen(witness->libraryA),
                               zvtest::ModuleOpen(witness->libraryB)});
}

}  // namespace

TEST(ServerCache, ReleasesEachFactoryBeforeClosingItsLibrary) {
    TestServer serverA(ZV_TEST_SERVER_A), serverB(ZV_TEST_SERVER_B);
    ASSERT_EQ(RegisterClass(serverA.path(), "Test.First", ServedClass(1)), S_OK);
    ASSERT_EQ(RegisterClass(serverB.path(), "Test.Second", ServedClass(2)), S_OK);
    ASSERT_EQ(ZVInitializeZCom(), S_OK);
    zvtest::ITestObject* object = nullptr;
    ASSERT_EQ(Create(ServedClass(1), &object), S_OK);
    object->Release();
    ASSERT_EQ(Create(ServedClass(2), &object), S_OK);
    object->Release();

    ReleaseWitness witness;
    ASSERT_EQ(zv::ServerCacheCount(), 2u);
    witness.libraryA = zv::ServerCacheRecord(0)->library;
    witness.libraryB = zv::ServerCacheRecord(1)->library;
    ASSERT_NE(witness.libraryA, witness.libraryB);
    serverA.SetReleaseHook(WitnessRelease, &witness);
    serverB.SetReleaseHook(WitnessRelease, &witness);

    // Each record holds exactly the one reference DllGetClassObject gave.
    for (TestServer* server : {&serverA, &serverB}) {
        zvtest::ServerCounts counts = server->Counts();
        EXPECT_EQ(counts.factoryAddRef - counts.factoryRelease, 1);
    }

    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    ASSERT_EQ(witness.events.size(), 2u);
    EXPECT_EQ(witness.events[0].classByte, 1);
    EXPECT_TRUE(witness.events[0].aOpen);  // A's factory before A's library
    EXPECT_TRUE(witness.events[0].bOpen);
    EXPECT_EQ(witness.events[1].classByte, 2);
    EXPECT_FALSE(witness.events[1].aOpen);  // A's library before B's factory
    EXPECT_TRUE(witness.events[1].bOpen);
    EXPECT_FALSE(zvtest::ModuleOpen(witness.libraryA));
    EXPECT_FALSE(zvtest::ModuleOpen(witness.libraryB));
}
