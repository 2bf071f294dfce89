// The recursive mutex: its fields, its failures and its hand-over.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <tuple>
#include <vector>

#include "frame/frame.h"
#include "platform/posix/handles.h"
#include "platform/posix/waitable.h"
#include "support.h"
#include "watchdog.h"
#include "zv.h"

namespace {

using Fields = std::tuple<int32_t, uint32_t, uint32_t>;  // lock count, recursion count, owner
using Spins = zvtest::ScopedValue<int32_t>;
const Fields kFree{-1, 0, 0};

// The record's fields, read as another thread may be changing them.
Fields Read(ZVHANDLE mutex) {
    auto* word = static_cast<uint32_t*>(mutex);
    return Fields(__atomic_load_n(word, __ATOMIC_SEQ_CST), __atomic_load_n(word + 1, __ATOMIC_SEQ_CST),
                  __atomic_load_n(word + 2, __ATOMIC_SEQ_CST));
}

// What ZVTryAcquireMutex answers in another thread, which gives back what it got.
int TryElsewhere(ZVHANDLE mutex) {
    int got = -1;
    std::thread([&] { got = ZVTryAcquireMutex(mutex) && ZVReleaseMutex(mutex); }).join();
    return got;
}

// Acquires the mutex; exits with 1 when it then held it alone at one level.
uint32_t ZV_STDCALL TakeOnce(void* mutex) {
    const bool alone = ZVAcquireMutex(mutex, 0) && Read(mutex) == Fields(0, 1, ZVGetCurrentThreadId());
    return ZVReleaseMutex(mutex) && alone;
}

TEST(Mutex, RecursionOwnershipAndClose) {
    const size_t openBefore = zvp::OpenHandleCount();
    const uint32_t self = ZVGetCurrentThreadId();
    ZVHANDLE mutex = ZVCreateMutex(0);
    ASSERT_NE(mutex, ZV_INVALID_HANDLE);
    EXPECT_EQ(Read(mutex), kFree);
    EXPECT_EQ(zvp::OpenHandleCount(), openBefore + 1);  // its semaphore
    EXPECT_EQ(ZVReleaseMutex(mutex), 0);                 // free: nobody owns it
    // Three levels by any mix of calls; only the third release frees it.
    EXPECT_EQ(ZVAcquireMutex(mutex, 0xFFFFFFFF) + ZVTryAcquireMutex(mutex) + ZVAcquireMutex(mutex, 0), 3);
    EXPECT_EQ(Read(mutex), Fields(2, 3, self));
    int released = -1;  // a release by another thread changes nothing
    std::thread([&] { released = ZVReleaseMutex(mutex); }).join();
    EXPECT_EQ(released, 0);
    EXPECT_EQ(Read(mutex), Fields(2, 3, self));
    EXPECT_EQ(ZVReleaseMutex(mutex) + ZVReleaseMutex(mutex), 2);
    EXPECT_EQ(Read(mutex), Fields(0, 1, self));
    EXPECT_EQ(TryElsewhere(mutex), 0);
    EXPECT_EQ(ZVReleaseMutex(mutex), 1);
    EXPECT_EQ(Read(mutex), kFree);
    EXPECT_EQ(TryElsewhere(mutex), 1);
    EXPECT_EQ(ZVCloseMutex(mutex), 1);
    EXPECT_EQ(zvp::OpenHandleCount(), openBefore);
    for (uint16_t flag : {1, 0x100}) {  // owned from the start
        ZVHANDLE owned = ZVCreateMutex(flag);
        EXPECT_EQ(Read(owned), Fields(0, 1, self));
        EXPECT_EQ(TryElsewhere(owned), 0);
        EXPECT_EQ(ZVReleaseMutex(owned) + ZVCloseMutex(owned), 2);
    }
    EXPECT_EQ(ZVCloseMutex(ZV_INVALID_HANDLE), 1);  // creation's failure value closes harmlessly
    EXPECT_EQ(ZVOpenMutex(nullptr), ZV_INVALID_HANDLE);
    EXPECT_EQ(ZVOpenMutex(u"any name"), ZV_INVALID_HANDLE);
}

// A owns the mutex at two levels; B blocks in ZVAcquireMutex (a time-out
// of 0 does not stop it).  Only A's last release hands the mutex to B, and
// while B, held where it waits, has not yet taken it, nobody else can.
TEST(Mutex, BlockedAcquirerIsHandedTheMutexAndCannotBeOvertaken) {
    zvtest::Watchdog watchdog(60, "hand-over");
    const uint32_t self = ZVGetCurrentThreadId();
    for (int32_t spinCount : {zv::g_spinCount, 0}) {  // 0: one processor, no attempt before blocking
        Spins spins(zv::g_spinCount, spinCount);
        ZVHANDLE mutex = ZVCreateMutex(1);
        ASSERT_EQ(ZVAcquireMutex(mutex, 0xFFFFFFFF), 1);
        ZVHANDLE waiter = ZVCreateThread(0, TakeOnce, mutex);
        auto* semaphore = static_cast<ZVMutex*>(mutex)->semaphore;
        ASSERT_TRUE(zvtest::WaitUntil([&] { return zvp::WaitingThreads(semaphore) == 1; }));
        EXPECT_EQ(Read(mutex), Fields(2, 2, self));  // two levels and one waiter, minus one
        EXPECT_EQ(ZVReleaseMutex(mutex), 1);
        EXPECT_EQ(Read(mutex), Fields(1, 1, self));
        ASSERT_EQ(ZVSuspendThread(waiter), 0u);
        EXPECT_EQ(ZVReleaseMutex(mutex), 1);
        EXPECT_EQ(Read(mutex), Fields(0, 0, 0));
        EXPECT_EQ(TryElsewhere(mutex), 0);
        EXPECT_EQ(ZVTryAcquireMutex(mutex), 0);
        ASSERT_EQ(ZVResumeThread(waiter), 1u);
        ASSERT_EQ(WaitForSingleObject(waiter, INFINITE), WAIT_OBJECT_0);
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeThread(waiter, &code) && code == 1);
        EXPECT_EQ(Read(mutex), kFree);
        EXPECT_NE(ZVCloseThreadHandle(waiter), 0);
        EXPECT_EQ(ZVCloseMutex(mutex), 1);
    }
}

TEST(Mutex, StressKeepsMutualExclusionWithAndWithoutSpinning) {
    zvtest::Watchdog watchdog(240, "mutex stress");
    const int scale = zvtest::kThreadSanitizer ? 3 : 10;
    const std::pair<int32_t, int> settings[] = {{zv::g_spinCount, 10000 * scale}, {0, 3000 * scale}};
    for (const auto& [spinCount, rounds] : settings) {
        Spins spins(zv::g_spinCount, spinCount);
        ZVHANDLE mutex = ZVCreateMutex(0);
        long shared = 0;  // guarded by the mutex only
        std::atomic<int> inside{0};
        std::atomic<long> releasesWithWaiters{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t)
            threads.emplace_back([&, t, rounds = rounds] {
                for (int i = 0; i < rounds; ++i) {
                    if ((i + t) % 4 == 0)
                        while (!ZVTryAcquireMutex(mutex)) std::this_thread::yield();
                    else
                        ZVAcquireMutex(mutex, 0xFFFFFFFF);
                    ASSERT_EQ(ZVAcquireMutex(mutex, 0) + ZVTryAcquireMutex(mutex), 2);
                    ASSERT_EQ(inside.fetch_add(1), 0);
                    const auto [locks, recursion, owner] = Read(mutex);
                    ASSERT_TRUE(locks >= 2 && recursion == 3 && owner == ZVGetCurrentThreadId()) << locks << owner;
                    ++shared;
                    // Giving up the processor while holding the mutex piles
                    // others up behind it, so hand-overs happen often.
                    if (i % 64 == 0) std::this_thread::yield();
                    if (std::get<0>(Read(mutex)) > 2) ++releasesWithWaiters;
                    inside.fetch_sub(1);
                    ASSERT_EQ(ZVReleaseMutex(mutex) + ZVReleaseMutex(mutex) + ZVReleaseMutex(mutex), 3);
                }
            });
        for (auto& thread : threads) thread.join();
        EXPECT_EQ(shared, 8L * rounds);
        EXPECT_GT(releasesWithWaiters, 0);
        EXPECT_EQ(Read(mutex), kFree);
        EXPECT_EQ(ZVCloseMutex(mutex), 1);
    }
}

}  // namespace
