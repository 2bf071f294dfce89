// The recursive mutex: its fields, its failures and its hand-over.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "frame/frame.h"
#include "platform/posix/waitable.h"
#include "support.h"
#include "watchdog.h"
#include "zv.h"

namespace {

using zvtest::WaitUntil;

struct Fields {
    int32_t lockCount;
    uint32_t recursionCount;
    uint32_t ownerThreadId;
};

// Reads the record as another thread may be changing it.
Fields Read(ZVHANDLE mutex) {
    auto* m = static_cast<ZVMutex*>(mutex);
    auto* words = reinterpret_cast<uint32_t*>(m);
    return {int32_t(__atomic_load_n(&words[0], __ATOMIC_SEQ_CST)), __atomic_load_n(&words[1], __ATOMIC_SEQ_CST),
            __atomic_load_n(&words[2], __ATOMIC_SEQ_CST)};
}

void ExpectFree(ZVHANDLE mutex) {
    Fields f = Read(mutex);
    EXPECT_EQ(f.lockCount, -1);
    EXPECT_EQ(f.recursionCount, 0u);
    EXPECT_EQ(f.ownerThreadId, 0u);
}

// Keeps the spin count of the test's choosing and restores it after.
class SpinCount {
  public:
    explicit SpinCount(int32_t count) : saved_(zv::g_spinCount) { zv::g_spinCount = count; }
    ~SpinCount() { zv::g_spinCount = saved_; }

  private:
    int32_t saved_;
};

TEST(Mutex, CreationStatesAndClose) {
    size_t openBefore = zvp::OpenHandleCount();
    ZVHANDLE free = ZVCreateMutex(0);
    ASSERT_NE(free, ZV_INVALID_HANDLE);
    ASSERT_NE(free, nullptr);
    ExpectFree(free);
    EXPECT_EQ(zvp::OpenHandleCount(), openBefore + 1);  // its semaphore

    // Owned from the start, with any non-zero flag.
    for (uint16_t flag : {uint16_t(1), uint16_t(0x100)}) {
        ZVHANDLE owned = ZVCreateMutex(flag);
        ASSERT_NE(owned, ZV_INVALID_HANDLE);
        Fields f = Read(owned);
        EXPECT_EQ(f.lockCount, 0);
        EXPECT_EQ(f.recursionCount, 1u);
        EXPECT_EQ(f.ownerThreadId, ZVGetCurrentThreadId());
        std::atomic<int> other{-1};
        std::thread([&] { other = ZVTryAcquireMutex(owned); }).join();
        EXPECT_EQ(other, 0);
        EXPECT_EQ(ZVReleaseMutex(owned), 1);
        ExpectFree(owned);
        EXPECT_EQ(ZVCloseMutex(owned), 1);
    }
    EXPECT_EQ(ZVCloseMutex(free), 1);
    EXPECT_EQ(zvp::OpenHandleCount(), openBefore);
    // The failure value of creation closes harmlessly.
    EXPECT_EQ(ZVCloseMutex(ZV_INVALID_HANDLE), 1);

    EXPECT_EQ(ZVOpenMutex(nullptr), ZV_INVALID_HANDLE);
    EXPECT_EQ(ZVOpenMutex(u"any name"), ZV_INVALID_HANDLE);
}

TEST(Mutex, RecursionMustBeUnwoundLevelByLevel) {
    ZVHANDLE mutex = ZVCreateMutex(0);
    uint32_t self = ZVGetCurrentThreadId();
    EXPECT_EQ(ZVAcquireMutex(mutex, 0xFFFFFFFF), 1);
    EXPECT_EQ(ZVTryAcquireMutex(mutex), 1);
    EXPECT_EQ(ZVAcquireMutex(mutex, 0), 1);
    Fields f = Read(mutex);
    EXPECT_EQ(f.lockCount, 2);
    EXPECT_EQ(f.recursionCount, 3u);
    EXPECT_EQ(f.ownerThreadId, self);

    EXPECT_EQ(ZVReleaseMutex(mutex), 1);
    f = Read(mutex);
    EXPECT_EQ(f.lockCount, 1);
    EXPECT_EQ(f.recursionCount, 2u);
    EXPECT_EQ(f.ownerThreadId, self);
    EXPECT_EQ(ZVReleaseMutex(mutex), 1);
    std::atomic<int> other{-1};
    std::thread([&] { other = ZVTryAcquireMutex(mutex); }).join();
    EXPECT_EQ(other, 0);  // still held at one level
    EXPECT_EQ(ZVReleaseMutex(mutex), 1);
    ExpectFree(mutex);
    std::thread([&] {
        other = ZVTryAcquireMutex(mutex);
        ZVReleaseMutex(mutex);
    }).join();
    EXPECT_EQ(other, 1);
    EXPECT_EQ(ZVCloseMutex(mutex), 1);
}

TEST(Mutex, ReleaseByANonOwnerChangesNothing) {
    ZVHANDLE mutex = ZVCreateMutex(0);
    EXPECT_EQ(ZVReleaseMutex(mutex), 0);  // free
    ExpectFree(mutex);
    EXPECT_EQ(ZVAcquireMutex(mutex, 0xFFFFFFFF), 1);
    EXPECT_EQ(ZVAcquireMutex(mutex, 0xFFFFFFFF), 1);
    Fields before = Read(mutex);
    std::atomic<int> released{-1};
    std::thread([&] { released = ZVReleaseMutex(mutex); }).join();
    EXPECT_EQ(released, 0);
    Fields after = Read(mutex);
    EXPECT_EQ(after.lockCount, before.lockCount);
    EXPECT_EQ(after.recursionCount, before.recursionCount);
    EXPECT_EQ(after.ownerThreadId, before.ownerThreadId);
    EXPECT_EQ(ZVReleaseMutex(mutex), 1);
    EXPECT_EQ(ZVReleaseMutex(mutex), 1);
    EXPECT_EQ(ZVReleaseMutex(mutex), 0);
    ExpectFree(mutex);
    EXPECT_EQ(ZVCloseMutex(mutex), 1);
}

// Thread A owns the mutex, B blocks in ZVAcquireMutex (a time-out of 0 does
// not stop it blocking); A's last release hands the mutex to B.
void HandOver(int32_t spinCount) {
    SpinCount spins(spinCount);
    zvtest::Watchdog watchdog(60, "hand-over");
    ZVHANDLE mutex = ZVCreateMutex(1);
    ASSERT_EQ(ZVAcquireMutex(mutex, 0xFFFFFFFF), 1);  // two levels
    std::atomic<bool> acquired{false};
    Fields seenByB{};
    std::thread b([&] {
        EXPECT_EQ(ZVAcquireMutex(mutex, 0), 1);
        seenByB = Read(mutex);
        acquired = true;
        EXPECT_EQ(ZVReleaseMutex(mutex), 1);
    });
    auto* semaphore = static_cast<ZVMutex*>(mutex)->semaphore;
    ASSERT_TRUE(WaitUntil([&] { return zvp::WaitingThreads(semaphore) == 1; }));
    Fields waiting = Read(mutex);
    EXPECT_EQ(waiting.lockCount, 2);  // two levels and one waiter, minus one
    EXPECT_EQ(waiting.recursionCount, 2u);
    EXPECT_EQ(ZVReleaseMutex(mutex), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(acquired);
    EXPECT_EQ(ZVReleaseMutex(mutex), 1);
    b.join();
    EXPECT_TRUE(acquired);
    EXPECT_EQ(seenByB.lockCount, 0);
    EXPECT_EQ(seenByB.recursionCount, 1u);
    EXPECT_NE(seenByB.ownerThreadId, 0u);
    EXPECT_NE(seenByB.ownerThreadId, ZVGetCurrentThreadId());
    ExpectFree(mutex);
    EXPECT_EQ(ZVCloseMutex(mutex), 1);
}

TEST(Mutex, BlockedAcquirerIsHandedTheMutex) {
    HandOver(zv::g_spinCount);
    HandOver(0);  // one processor: straight to the lock count
}

TEST(Mutex, NewcomersCannotTakeAMutexBeingHandedOver) {
    zvtest::Watchdog watchdog(60);
    ZVHANDLE mutex = ZVCreateMutex(1);
    ZVHANDLE waiterThread = ZVCreateThread(
        0, [](void* m) -> uint32_t { return ZVAcquireMutex(m, 0xFFFFFFFF) && ZVReleaseMutex(m); }, mutex);
    ASSERT_NE(waiterThread, nullptr);
    auto* semaphore = static_cast<ZVMutex*>(mutex)->semaphore;
    ASSERT_TRUE(WaitUntil([&] { return zvp::WaitingThreads(semaphore) == 1; }));
    // Hold the waiter where it is, then release: the mutex now belongs to
    // the waiter, which has not yet run.
    ASSERT_EQ(ZVSuspendThread(waiterThread), 0u);
    EXPECT_EQ(ZVReleaseMutex(mutex), 1);
    Fields between = Read(mutex);
    EXPECT_EQ(between.lockCount, 0);
    EXPECT_EQ(between.ownerThreadId, 0u);
    std::atomic<int> tried{-1};
    std::thread([&] { tried = ZVTryAcquireMutex(mutex); }).join();
    EXPECT_EQ(tried, 0);
    EXPECT_EQ(ZVTryAcquireMutex(mutex), 0);
    EXPECT_EQ(ZVReleaseMutex(mutex), 0);
    ASSERT_EQ(ZVResumeThread(waiterThread), 1u);
    ASSERT_EQ(WaitForSingleObject(waiterThread, INFINITE), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(waiterThread, &code));
    EXPECT_EQ(code, 1u);
    EXPECT_NE(ZVCloseThreadHandle(waiterThread), 0);
    ExpectFree(mutex);
    EXPECT_EQ(ZVCloseMutex(mutex), 1);
}

void Stress(int32_t spinCount, int rounds) {
    SpinCount spins(spinCount);
    zvtest::Watchdog watchdog(240, "mutex stress");
    ZVHANDLE mutex = ZVCreateMutex(0);
    long shared = 0;  // guarded by the mutex only
    std::atomic<int> inside{0};
    std::atomic<long> releasesWithWaiters{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            uint32_t self = ZVGetCurrentThreadId();
            for (int i = 0; i < rounds; ++i) {
                if ((i + t) % 4 == 0) {
                    while (!ZVTryAcquireMutex(mutex)) std::this_thread::yield();
                } else {
                    ZVAcquireMutex(mutex, 0xFFFFFFFF);
                }
                ZVAcquireMutex(mutex, 0);
                ASSERT_EQ(ZVTryAcquireMutex(mutex), 1);
                ASSERT_EQ(inside.fetch_add(1), 0);
                auto* m = static_cast<ZVMutex*>(mutex);
                ASSERT_EQ(m->recursionCount, 3u);
                ASSERT_EQ(Read(mutex).ownerThreadId, self);
                ++shared;
                // Now and then give up the processor while holding the
                // mutex, so that others pile up behind it and the hand-over
                // path is taken as often as the fast one.
                if (i % 64 == 0) std::this_thread::yield();
                if (Read(mutex).lockCount > 2) ++releasesWithWaiters;
                inside.fetch_sub(1);
                ASSERT_EQ(ZVReleaseMutex(mutex), 1);
                ASSERT_EQ(ZVReleaseMutex(mutex), 1);
                ASSERT_EQ(ZVReleaseMutex(mutex), 1);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(shared, 8L * rounds);
    EXPECT_GT(releasesWithWaiters, 0);
    ExpectFree(mutex);
    EXPECT_EQ(ZVCloseMutex(mutex), 1);
}

TEST(Mutex, StressKeepsMutualExclusion) {
    Stress(zv::g_spinCount, zvtest::kThreadSanitizer ? 30000 : 100000);
}

TEST(Mutex, StressWithoutSpinning) { Stress(0, zvtest::kThreadSanitizer ? 10000 : 30000); }

}  // namespace
