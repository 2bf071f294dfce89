// The ZCom lock at work: many threads creating the first and later objects
// of several classes, and the count and allocator under concurrent
// initialisation.
#include <atomic>
#include <thread>
#include <vector>

#include "component_support.h"
#include "watchdog.h"

using namespace zvtest;

// Runs body(t) for t below `threads`, each on a thread of its own, all
// starting together, and waits for them.
template <class Body>
static void RunTogether(int threads, Body body) {
    std::atomic<int> ready{0};
    std::vector<std::thread> running;
    for (int t = 0; t < threads; ++t) {
        running.emplace_back([&, t] {
            for (++ready; ready < threads;) std::this_thread::yield();
            body(t);
        });
    }
    for (std::thread& thread : running) thread.join();
}

// One round of a worker: the thread's own initialisation and a nested one,
// an object of *clsid when given, a block, and the two matching calls.
// False when anything answered wrongly.
static bool Round(const CLSID* clsid, uint32_t size) {
    bool right = ZVInitializeZCom() == S_OK && ZVInitializeZCom() == S_FALSE;
    ITestObject* object = nullptr;
    if (clsid) right = Create(*clsid, &object) == S_OK && SameClsid(object->ClassId(), *clsid) && right;
    if (object) object->Release();
    void* block = ZVComMalloc(size);
    ZVComFree(block);
    ZVUninitializeZCom();
    ZVUninitializeZCom();
    return right && block;
}

TEST(CreateObjectConcurrency, ManyThreadsCreateObjectsOfSeveralClasses) {
    Watchdog watchdog(120);
    TestServer servers[2] = {TestServer(ZV_TEST_SERVER_A), TestServer(ZV_TEST_SERVER_B)};
    const int kClasses = 6, kThreads = 12, kRounds = 150;
    for (uint8_t c = 0; c < kClasses; ++c) ASSERT_EQ(Register(servers[c % 2].path, ServedClass(c)), S_OK);
    // DllGetClassObject takes its time, so that the two threads that start
    // with each class meet inside the first creation.
    for (TestServer& server : servers) server.SetDelay(30);
    // The host keeps the count above zero while others create objects.
    ASSERT_EQ(ZVInitializeZCom(), S_OK);
    std::atomic<int> wrong{0};
    RunTogether(kThreads, [&](int t) {
        for (int i = 0; i < kRounds; ++i) {
            const CLSID clsid = ServedClass(uint8_t((t + i) % kClasses));
            if (!Round(&clsid, uint32_t(16 + i))) ++wrong;
        }
    });
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(zv::ZComCount(), 1);
    ASSERT_EQ(zv::ServerCacheCount(), uint32_t(kClasses));
    for (TestServer& server : servers) EXPECT_EQ(server.Counts().getClassObject, kClasses / 2);
    EXPECT_EQ(servers[0].Counts().createInstance + servers[1].Counts().createInstance, kThreads * kRounds);
    // Three records share each library: one close per record unloads it.
    const ZVHANDLE library = zv::ServerCacheRecord(0)->library;
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_EQ(zv::ServerCacheCount(), 0u);
    EXPECT_FALSE(ModuleOpen(library));
    for (TestServer& server : servers) EXPECT_EQ(server.Counts().liveFactories + server.Counts().liveObjects, 0);
}

TEST(ZComRuntimeConcurrency, CountAndAllocatorStayExactUnderManyThreads) {
    Watchdog watchdog(120);
    std::atomic<int> wrong{0};
    // Nobody holds the count up: it keeps passing zero, and the allocator
    // pointer is dropped and fetched again.
    RunTogether(12, [&](int) {
        for (int i = 0; i < 500; ++i)
            if (!Round(nullptr, 32)) ++wrong;
    });
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(zv::ZComCount(), 0);
    EXPECT_EQ(zv::ZComTaskAllocator(), nullptr);
    EXPECT_EQ(TaskAllocatorReferences(), 0u);
}
