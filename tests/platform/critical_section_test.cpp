// Critical sections: recursion and exclusion, above all across the hand-over
// of a section that a thread has reserved (entering without locked
// instructions) to the threads that take the reservation away.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/win32.h"
#include "watchdog.h"

namespace {

bool OtherThreadCanEnter(CRITICAL_SECTION* section) {
    bool entered = false;
    std::thread([&] {
        entered = TryEnterCriticalSection(section);
        if (entered) LeaveCriticalSection(section);
    }).join();
    return entered;
}

}  // namespace

TEST(CriticalSection, ReservedThenSharedIsRecursiveAndExclusive) {
    zvtest::Watchdog watchdog(20);
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    // The first hold reserves the section; the second is on the reservation
    // (the lock word stays free where the process-wide barrier exists).
    EnterCriticalSection(&section);
    LeaveCriticalSection(&section);
    EnterCriticalSection(&section);

    // A try from another thread withdraws the reservation but must not get
    // in, and neither may a later thread that finds it already withdrawn.
    EXPECT_FALSE(OtherThreadCanEnter(&section));
    EXPECT_FALSE(OtherThreadCanEnter(&section));
    std::atomic<bool> entered{false};
    std::thread waiter([&] {
        EnterCriticalSection(&section);
        entered = true;
        LeaveCriticalSection(&section);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(entered.load());
    EnterCriticalSection(&section);  // recursion inside a reserved hold
    LeaveCriticalSection(&section);
    EXPECT_FALSE(entered.load());
    LeaveCriticalSection(&section);
    waiter.join();
    EXPECT_TRUE(entered.load());

    // Withdrawn for good: the first thread now shares the lock word, and
    // holds it until its last leave; a leave by a non-owner changes nothing.
    EnterCriticalSection(&section);
    EXPECT_TRUE(TryEnterCriticalSection(&section));
    EnterCriticalSection(&section);
    EXPECT_EQ(section.RecursionCount, 3);
    LeaveCriticalSection(&section);
    LeaveCriticalSection(&section);
    std::thread([&] { LeaveCriticalSection(&section); }).join();
    EXPECT_FALSE(OtherThreadCanEnter(&section));
    LeaveCriticalSection(&section);
    EXPECT_TRUE(OtherThreadCanEnter(&section));
    EXPECT_EQ(section.LockCount, 0);
    DeleteCriticalSection(&section);
}

// Fresh sections again and again: the first thread reserves each one and
// keeps entering on the reservation while the others arrive, one of them
// only trying, so that withdrawal races a reserved enter or leave.
TEST(ReservedCriticalSectionStress, HandOverKeepsMutualExclusion) {
    zvtest::Watchdog watchdog(60);
    constexpr int kSections = 300, kThreads = 4, kRounds = 400, kAloneRounds = 20;
    for (int s = 0; s < kSections; ++s) {
        CRITICAL_SECTION section;
        InitializeCriticalSection(&section);
        long counter = 0;  // plain: only the section protects it
        int inside = 0;
        std::atomic<int> overlaps{0};
        std::atomic<long> entries{0};
        std::atomic<int> reserverRounds{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                while (t != 0 && reserverRounds.load() < kAloneRounds) std::this_thread::yield();
                long mine = 0;
                for (int i = 0; i < kRounds; ++i) {
                    if (t == 1) {
                        if (!TryEnterCriticalSection(&section)) continue;
                    } else {
                        EnterCriticalSection(&section);
                        if (t == 2) EnterCriticalSection(&section);  // recursion
                    }
                    if (++inside != 1) overlaps.fetch_add(1);
                    // Stay inside a while, so an intruder would meet us here.
                    for (int k = 0; k < 100; ++k) __atomic_signal_fence(__ATOMIC_SEQ_CST);
                    ++counter;
                    if (inside != 1) overlaps.fetch_add(1);
                    --inside;
                    if (t == 2) LeaveCriticalSection(&section);
                    LeaveCriticalSection(&section);
                    ++mine;
                    if (t == 0) reserverRounds.fetch_add(1);
                }
                entries.fetch_add(mine);
            });
        }
        for (auto& thread : threads) thread.join();
        ASSERT_EQ(overlaps.load(), 0) << "section " << s;
        ASSERT_EQ(counter, entries.load()) << "section " << s;
        ASSERT_EQ(section.LockCount, 0);
        DeleteCriticalSection(&section);
    }
}
