// The ZCom lock at work: concurrent first creations, many threads creating
// objects, and the count under concurrent initialisation.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "component_support.h"

using namespace std::chrono_literals;
using zvtest::RegisterClass;
using zvtest::SameClsid;
using zvtest::ServedClass;
using zvtest::TestServer;

namespace {

// Lets a group of threads go at the same moment.
class StartLine {
  public:
    explicit StartLine(int threads) : waiting_(threads) {}
    void ArriveAndWait() {
        std::unique_lock<std::mutex> hold(lock_);
        if (--waiting_ == 0) {
            go_.notify_all();
            return;
        }
        go_.wait(hold, [this] { return waiting_ == 0; });
    }

  private:
    std::mutex lock_;
    std::condition_variable go_;
    int waiting_;
};

HRESULT Create(const CLSID& clsid, zvtest::ITestObject** object) {
    return ZVCreateObject(0, &clsid, nullptr, &zvtest::kTestObjectIid,
                          reinterpret_cast<void**>(object));
}

}  // namespace

TEST(CreateObjectConcurrency, TwoFirstCreationsLoadTheServerOnce) {
    zvtest::Watchdog watchdog(120);
    TestServer server(ZV_TEST_SERVER_A);
    // DllGetClassObject takes its time, so the second thread arrives while
    // the first is still inside it.
    server.SetDelay(30);
    const int kRounds = 5;
    for (int round = 0; round < kRounds; ++round) {
        ASSERT_EQ(RegisterClass(server.path(), "Test.Race" + std::to_string(round),
                                ServedClass(uint8_t(round))),
                  S_OK);
    }
    ASSERT_EQ(ZVInitializeZCom(), S_OK);
    for (int round = 0; round < kRounds; ++round) {
        const CLSID clsid = ServedClass(uint8_t(round));
        StartLine start(2);
        HRESULT status[2] = {E_FAIL, E_FAIL};
        zvtest::ITestObject* objects[2] = {nullptr, nullptr};
        std::vector<std::thread> threads;
        for (int t = 0; t < 2; ++t) {
            threads.emplace_back([&, t] {
                start.ArriveAndWait();
                status[t] = Create(clsid, &objects[t]);
            });
        }
        for (auto& thread : threads) thread.join();
        for (int t = 0; t < 2; ++t) {
            ASSERT_EQ(status[t], S_OK);
            EXPECT_TRUE(SameClsid(objects[t]->ClassId(), clsid));
            objects[t]->Release();
        }
        EXPECT_EQ(server.Counts().getClassObject, round + 1);
        EXPECT_EQ(zv::ServerCacheCount(), uint32_t(round + 1));
    }
    EXPECT_EQ(server.Counts().createInstance, 2 * kRounds);

    // All records share one load of the library: one close per record takes
    // its load count to zero.
    ZVHANDLE library = zv::ServerCacheRecord(0)->library;
    for (uint32_t i = 1; i < zv::ServerCacheCount(); ++i) {
        EXPECT_EQ(zv::ServerCacheRecord(i)->library, library);
    }
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_FALSE(zvtest::ModuleOpen(library));
    EXPECT_EQ(server.Counts().liveFactories, 0);
}

TEST(CreateObjectConcurrency, ManyThreadsCreateObjectsOfSeveralClasses) {
    zvtest::Watchdog watchdog(120);
    TestServer serverA(ZV_TEST_SERVER_A), serverB(ZV_TEST_SERVER_B);
    const int kClasses = 6, kThreads = 12, kRounds = 150;
    for (int c = 0; c < kClasses; ++c) {
        TestServer& server = c % 2 ? serverB : serverA;
        ASSERT_EQ(RegisterClass(server.path(), "Test.Many" + std::to_string(c),
                                ServedClass(uint8_t(c))),
                  S_OK);
    }
    // The host keeps the count above zero while others create objects.
    ASSERT_EQ(ZVInitializeZCom(), S_OK);
    std::atomic<int> wrong{0};
    StartLine start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            if (ZVInitializeZCom() != S_OK) ++wrong;
            start.ArriveAndWait();
            for (int i = 0; i < kRounds; ++i) {
                const CLSID clsid = ServedClass(uint8_t((t + i) % kClasses));
                zvtest::ITestObject* object = nullptr;
                if (Create(clsid, &object) != S_OK || !object) {
                    ++wrong;
                    continue;
                }
                if (!SameClsid(object->ClassId(), clsid)) ++wrong;
                object->Release();
                void* block = ZVComMalloc(uint32_t(16 + i));
                if (!block) ++wrong;
                ZVComFree(block);
            }
            ZVUninitializeZCom();
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(zv::ZComCount(), 1);
    EXPECT_EQ(zv::ServerCacheCount(), uint32_t(kClasses));
    EXPECT_EQ(serverA.Counts().getClassObject, kClasses / 2);
    EXPECT_EQ(serverB.Counts().getClassObject, kClasses / 2);
    EXPECT_EQ(serverA.Counts().createInstance + serverB.Counts().createInstance,
              kThreads * kRounds);

    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_EQ(zv::ServerCacheCount(), 0u);
    for (TestServer* server : {&serverA, &serverB}) {
        EXPECT_EQ(server->Counts().liveFactories, 0);
        EXPECT_EQ(server->Counts().liveObjects, 0);
    }
}

TEST(ZComRuntimeConcurrency, CountAndAllocatorStayExactUnderManyThreads) {
    zvtest::Watchdog watchdog(120);
    const int kThreads = 12, kRounds = 500;
    std::atomic<int> wrong{0};
    StartLine start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            start.ArriveAndWait();
            for (int i = 0; i < kRounds; ++i) {
                if (ZVInitializeZCom() != S_OK) ++wrong;
                if (ZVInitializeZCom() != S_FALSE) ++wrong;
                void* block = ZVComMalloc(32);
                if (!block) ++wrong;
                ZVComFree(block);
                ZVUninitializeZCom();
                ZVUninitializeZCom();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(zv::ZComCount(), 0);
    EXPECT_EQ(zv::ZComTaskAllocator(), nullptr);
    IMalloc* allocator = nullptr;
    ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, &allocator), S_OK);
    EXPECT_EQ(allocator->Release(), 0u);
}
