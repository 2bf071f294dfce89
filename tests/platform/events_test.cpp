// Events, semaphores, waits and CloseHandle of the emulated machine.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/waitable.h"
#include "support.h"
#include "watchdog.h"

namespace {

using zvtest::WaitUntil;

const HANDLE kBogusHandles[] = {nullptr, INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(intptr_t(-2)),
                                reinterpret_cast<HANDLE>(uintptr_t(0x12345)),
                                reinterpret_cast<HANDLE>(uintptr_t(4) << 30)};

// Runs `body` on `count` threads and joins them.
template <class Body>
void RunThreads(int count, Body body) {
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) threads.emplace_back(body, i);
    for (auto& t : threads) t.join();
}

TEST(PlatformEvents, ManualAndAutomaticResetWithTimeouts) {
    SetLastError(ERROR_GEN_FAILURE);
    HANDLE manual = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(manual, nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(manual, 60), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(59));
    EXPECT_TRUE(SetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);

    HANDLE automatic = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    ASSERT_NE(automatic, nullptr);
    EXPECT_EQ(WaitForSingleObject(automatic, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 10), WAIT_TIMEOUT);
    // Setting twice with nobody waiting releases one waiter, not two.
    EXPECT_TRUE(SetEvent(automatic));
    EXPECT_TRUE(SetEvent(automatic));
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);

    EXPECT_TRUE(CloseHandle(manual));
    EXPECT_TRUE(CloseHandle(automatic));
}

TEST(PlatformEvents, NamesAreSharedUntilTheLastHandleCloses) {
    size_t openBefore = zvp::OpenHandleCount();
    HANDLE first = CreateEventA(nullptr, TRUE, FALSE, "zv-test-shared");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    // The flags of a second creation are ignored: it opens the first event.
    HANDLE second = CreateEventA(nullptr, FALSE, TRUE, "zv-test-shared");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_NE(first, second);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(first));
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);  // still manual reset

    HANDLE opened = OpenEventA(EVENT_ALL_ACCESS, FALSE, "zv-test-shared");
    ASSERT_NE(opened, nullptr);
    EXPECT_TRUE(ResetEvent(opened));
    EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_TIMEOUT);

    // Names are case-sensitive.
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, "ZV-TEST-SHARED"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));

    // The name lives while any handle does.
    EXPECT_TRUE(CloseHandle(first));
    EXPECT_TRUE(CloseHandle(opened));
    HANDLE again = OpenEventA(SYNCHRONIZE, FALSE, "zv-test-shared");
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(CloseHandle(again));
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, "zv-test-shared"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(zvp::OpenHandleCount(), openBefore);

    // A new event of that name starts afresh.
    HANDLE fresh = CreateEventA(nullptr, FALSE, FALSE, "zv-test-shared");
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    EXPECT_TRUE(CloseHandle(fresh));
}

TEST(PlatformEvents, NarrowAndWideNamesMeetInOneTable) {
    HANDLE narrow = CreateEventA(nullptr, TRUE, FALSE, "zv-caf\xe9");
    ASSERT_NE(narrow, nullptr);
    std::u16string wideName = u"zv-caf\u00e9";
    if (zvtest::Family9x()) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, wideName.c_str()), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_CALL_NOT_IMPLEMENTED));
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, wideName.c_str()), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_CALL_NOT_IMPLEMENTED));
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, nullptr), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_CALL_NOT_IMPLEMENTED));
    } else {
        HANDLE wide = OpenEventW(EVENT_ALL_ACCESS, FALSE, wideName.c_str());
        ASSERT_NE(wide, nullptr);
        EXPECT_TRUE(SetEvent(wide));
        EXPECT_EQ(WaitForSingleObject(narrow, 0), WAIT_OBJECT_0);
        HANDLE created = CreateEventW(nullptr, TRUE, FALSE, wideName.c_str());
        ASSERT_NE(created, nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
        // A character outside Latin-1 is a different name.
        HANDLE other = CreateEventW(nullptr, TRUE, FALSE, u"zv-caf\u0169");
        ASSERT_NE(other, nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
        HANDLE unnamed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        EXPECT_NE(unnamed, nullptr);
        for (HANDLE h : {wide, created, other, unnamed}) EXPECT_TRUE(CloseHandle(h));
    }
    EXPECT_TRUE(CloseHandle(narrow));
}

TEST(PlatformEvents, NameFailures) {
    // Win32 object names end at MAX_PATH characters.
    std::string longest(260, 'n');
    HANDLE fits = CreateEventA(nullptr, TRUE, FALSE, longest.c_str());
    ASSERT_NE(fits, nullptr);
    HANDLE opened = OpenEventA(EVENT_ALL_ACCESS, FALSE, longest.c_str());
    EXPECT_NE(opened, nullptr);
    std::string tooLong(261, 'n');
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(CreateEventA(nullptr, TRUE, FALSE, tooLong.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILENAME_EXCED_RANGE));
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, tooLong.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILENAME_EXCED_RANGE));
    if (!zvtest::Family9x()) {
        std::u16string wideTooLong(261, u'n');
        EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, wideTooLong.c_str()), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_FILENAME_EXCED_RANGE));
        std::u16string wideLongest(260, u'n');
        HANDLE wide = OpenEventW(EVENT_ALL_ACCESS, FALSE, wideLongest.c_str());
        EXPECT_NE(wide, nullptr);
        EXPECT_TRUE(CloseHandle(wide));
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, nullptr), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    }
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, "zv-no-such-event"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));

    // A name taken by a semaphore is no event's.
    HANDLE semaphore = CreateSemaphoreA(nullptr, 0, 1, "zv-taken");
    ASSERT_NE(semaphore, nullptr);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(CreateEventA(nullptr, TRUE, FALSE, "zv-taken"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, "zv-taken"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    HANDLE sameSemaphore = CreateSemaphoreA(nullptr, 0, 1, "zv-taken");
    ASSERT_NE(sameSemaphore, nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(ReleaseSemaphore(sameSemaphore, 1, nullptr));
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0);

    for (HANDLE h : {fits, opened, semaphore, sameSemaphore}) EXPECT_TRUE(CloseHandle(h));
}

TEST(PlatformEvents, HandlesOutsideTheTableAreRejected) {
    HANDLE semaphore = CreateSemaphoreA(nullptr, 1, 1, nullptr);
    HANDLE closed = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    ASSERT_TRUE(CloseHandle(closed));
    std::vector<HANDLE> bad(std::begin(kBogusHandles), std::end(kBogusHandles));
    bad.push_back(closed);
    for (HANDLE h : bad) {
        SCOPED_TRACE(reinterpret_cast<uintptr_t>(h));
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(SetEvent(h));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(ResetEvent(h));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(PulseEvent(h));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(WaitForSingleObject(h, INFINITE), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(CloseHandle(h));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(ReleaseSemaphore(h, 1, nullptr));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    }
    // A handle of the wrong kind.
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(SetEvent(semaphore));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(ReleaseSemaphore(event, 1, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_TRUE(CloseHandle(semaphore));
}

TEST(PlatformSemaphores, CountsLimitsAndFailures) {
    for (auto [initial, maximum] : {std::pair<LONG, LONG>{0, 0}, {-1, 5}, {6, 5}, {0, -3}}) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(CreateSemaphoreA(nullptr, initial, maximum, nullptr), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    }
    HANDLE semaphore = CreateSemaphoreA(nullptr, 1, 3, nullptr);
    ASSERT_NE(semaphore, nullptr);
    LONG previous = -7;
    EXPECT_TRUE(ReleaseSemaphore(semaphore, 2, &previous));
    EXPECT_EQ(previous, 1);
    // One past the maximum fails and changes nothing.
    previous = -7;
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(ReleaseSemaphore(semaphore, 1, &previous));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_TOO_MANY_POSTS));
    EXPECT_EQ(previous, -7);
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(ReleaseSemaphore(semaphore, 0, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(ReleaseSemaphore(semaphore, -1, nullptr));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(semaphore, 20), WAIT_TIMEOUT);
    EXPECT_TRUE(ReleaseSemaphore(semaphore, 3, &previous));
    EXPECT_EQ(previous, 0);
    EXPECT_TRUE(CloseHandle(semaphore));

    // The maximum the recursive mutex asks for.
    HANDLE large = CreateSemaphoreA(nullptr, 0, 32767, nullptr);
    ASSERT_NE(large, nullptr);
    EXPECT_TRUE(ReleaseSemaphore(large, 32767, nullptr));
    EXPECT_FALSE(ReleaseSemaphore(large, 1, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_TOO_MANY_POSTS));
    EXPECT_TRUE(CloseHandle(large));
}

TEST(PlatformSemaphores, ReleasesWakeBlockedWaitersOneUnitEach) {
    zvtest::Watchdog watchdog(60);
    HANDLE semaphore = CreateSemaphoreA(nullptr, 0, 100, nullptr);
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i)
        waiters.emplace_back([&] {
            EXPECT_EQ(WaitForSingleObject(semaphore, INFINITE), WAIT_OBJECT_0);
            ++woken;
        });
    ASSERT_TRUE(WaitUntil([&] { return zvp::WaitingThreads(semaphore) == 4; }));
    LONG previous = -1;
    EXPECT_TRUE(ReleaseSemaphore(semaphore, 3, &previous));
    EXPECT_EQ(previous, 0);
    ASSERT_TRUE(WaitUntil([&] { return woken == 3; }));
    EXPECT_EQ(zvp::WaitingThreads(semaphore), 1u);
    // The units went to the waiters, none is left over.
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(ReleaseSemaphore(semaphore, 2, &previous));
    EXPECT_EQ(previous, 0);
    for (auto& t : waiters) t.join();
    EXPECT_EQ(woken, 4);
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(semaphore));
}

TEST(PlatformEvents, PulseReleasesOnlyThreadsWaitingAtThatMoment) {
    zvtest::Watchdog watchdog(60);
    for (BOOL manual : {TRUE, FALSE}) {
        SCOPED_TRACE(manual ? "manual reset" : "automatic reset");
        HANDLE event = CreateEventA(nullptr, manual, FALSE, nullptr);
        // With nobody waiting, a pulse leaves the event reset.
        EXPECT_TRUE(PulseEvent(event));
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
        EXPECT_TRUE(SetEvent(event));
        EXPECT_TRUE(PulseEvent(event));
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);

        std::atomic<int> woken{0};
        std::vector<std::thread> waiters;
        for (int i = 0; i < 3; ++i)
            waiters.emplace_back([&] {
                EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
                ++woken;
            });
        ASSERT_TRUE(WaitUntil([&] { return zvp::WaitingThreads(event) == 3; }));
        EXPECT_TRUE(PulseEvent(event));
        if (manual) {
            ASSERT_TRUE(WaitUntil([&] { return woken == 3; }));
        } else {
            ASSERT_TRUE(WaitUntil([&] { return woken == 1; }));
            EXPECT_EQ(zvp::WaitingThreads(event), 2u);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            EXPECT_EQ(woken, 1);
            EXPECT_TRUE(PulseEvent(event));
            EXPECT_TRUE(PulseEvent(event));
            ASSERT_TRUE(WaitUntil([&] { return woken == 3; }));
        }
        for (auto& t : waiters) t.join();
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
        EXPECT_TRUE(CloseHandle(event));
    }
}

TEST(PlatformEvents, AutomaticSetReleasesOneWaiterPerSet) {
    zvtest::Watchdog watchdog(60);
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] {
            EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
            ++woken;
        });
    ASSERT_TRUE(WaitUntil([&] { return zvp::WaitingThreads(event) == 3; }));
    // Two sets in a row with waiters present release two: the first does not
    // leave the event set for the second to find.
    EXPECT_TRUE(SetEvent(event));
    EXPECT_TRUE(SetEvent(event));
    ASSERT_TRUE(WaitUntil([&] { return woken == 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(woken, 2);
    EXPECT_EQ(zvp::WaitingThreads(event), 1u);
    EXPECT_TRUE(SetEvent(event));
    for (auto& t : waiters) t.join();
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(event));
}

TEST(PlatformEvents, TimedWaitersLeaveTheQueueAndLoseNothing) {
    zvtest::Watchdog watchdog(60);
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    // Many short timed waits racing with sets: each set is either taken by
    // one waiter or stays in the event; none disappears.
    std::atomic<int> taken{0};
    std::atomic<bool> stop{false};
    const int kSets = zvtest::kThreadSanitizer ? 300 : 2000;
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i)
        waiters.emplace_back([&] {
            while (!stop) {
                DWORD result = WaitForSingleObject(event, 1);
                if (result == WAIT_OBJECT_0) ++taken;
                else EXPECT_EQ(result, WAIT_TIMEOUT);
            }
        });
    for (int i = 0; i < kSets; ++i) {
        // Set only once the last set was taken, so sets never merge.
        ASSERT_TRUE(WaitUntil([&] { return taken == i; }));
        EXPECT_TRUE(SetEvent(event));
    }
    ASSERT_TRUE(WaitUntil([&] { return taken == kSets; }));
    stop = true;
    for (auto& t : waiters) t.join();
    EXPECT_EQ(taken, kSets);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(event));
}

TEST(PlatformEvents, ConcurrentCreateOpenAndCloseOfOneName) {
    zvtest::Watchdog watchdog(120);
    size_t openBefore = zvp::OpenHandleCount();
    const int kRounds = zvtest::kThreadSanitizer ? 300 : 3000;
    std::atomic<int> created{0};
    RunThreads(8, [&](int) {
        for (int i = 0; i < kRounds; ++i) {
            HANDLE h = CreateEventA(nullptr, TRUE, FALSE, "zv-contended");
            ASSERT_NE(h, nullptr);
            if (GetLastError() == ERROR_SUCCESS) ++created;
            HANDLE o = OpenEventA(EVENT_ALL_ACCESS, FALSE, "zv-contended");
            // Our own handle keeps the name alive.
            ASSERT_NE(o, nullptr);
            EXPECT_TRUE(SetEvent(o));
            EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0);
            EXPECT_TRUE(CloseHandle(o));
            EXPECT_TRUE(CloseHandle(h));
        }
    });
    EXPECT_GE(created, 1);
    EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, "zv-contended"), nullptr);
    EXPECT_EQ(zvp::OpenHandleCount(), openBefore);
}

TEST(PlatformEvents, PingPongLosesNoWakeUp) {
    zvtest::Watchdog watchdog(120);
    const int kRounds = zvtest::kThreadSanitizer ? 5000 : 50000;
    HANDLE ping = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE pong = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    int shared = 0;  // handed back and forth: the events order every access
    std::thread other([&] {
        for (int i = 0; i < kRounds; ++i) {
            ASSERT_EQ(WaitForSingleObject(ping, 10000), WAIT_OBJECT_0) << "round " << i;
            ++shared;
            ASSERT_TRUE(SetEvent(pong));
        }
    });
    for (int i = 0; i < kRounds; ++i) {
        ASSERT_TRUE(SetEvent(ping));
        ASSERT_EQ(WaitForSingleObject(pong, 10000), WAIT_OBJECT_0) << "round " << i;
        ASSERT_EQ(shared, i + 1);
    }
    other.join();
    EXPECT_TRUE(CloseHandle(ping));
    EXPECT_TRUE(CloseHandle(pong));
}

TEST(PlatformEvents, CloseWhileAnotherThreadWaits) {
    zvtest::Watchdog watchdog(60);
    // The waiter's call holds the object; closing the handle does not free
    // it underneath, and a second handle can still wake the waiter.
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, "zv-close-while-waiting");
    HANDLE second = OpenEventA(EVENT_ALL_ACCESS, FALSE, "zv-close-while-waiting");
    std::thread waiter([&] { EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0); });
    ASSERT_TRUE(WaitUntil([&] { return zvp::WaitingThreads(second) == 1; }));
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_TRUE(SetEvent(second));
    waiter.join();
    EXPECT_TRUE(CloseHandle(second));
}

}  // namespace
