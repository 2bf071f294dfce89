// Events, semaphores, waits and CloseHandle of the emulated machine, where the
// library-level event tests do not reach: automatic reset with waiters,
// semaphores, name rules and limits, and concurrent use.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/waitable.h"
#include "platform_util.h"
#include "support.h"
#include "watchdog.h"

namespace {

using zvtest::WaitUntil;

// Threads that each wait once for `object`, counted as they wake; they are
// all blocked in the wait when the constructor returns.
struct Waiters {
    std::atomic<int> woken{0};
    std::vector<std::thread> threads;
    Waiters(HANDLE object, int count) {
        for (int i = 0; i < count; ++i)
            threads.emplace_back([this, object] { EXPECT_EQ(WaitForSingleObject(object, INFINITE), WAIT_OBJECT_0); ++woken; });
        EXPECT_TRUE(WaitUntil([&] { return zvp::WaitingThreads(object) == size_t(count); }));
    }
    ~Waiters() {
        for (auto& t : threads) t.join();
    }
    // Whether exactly `count` have woken, and no more follow soon after.
    bool Woken(int count) {
        bool reached = WaitUntil([&] { return woken >= count; });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return reached && woken == count;
    }
};

TEST(PlatformEvents, AutomaticResetReleasesOneWaiterPerSetOrPulse) {
    zvtest::Watchdog watchdog(60);
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(event, 60), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(59));
    // Set twice with nobody waiting: one wait passes, not two.  A pulse
    // with nobody waiting leaves the event reset.
    EXPECT_TRUE(SetEvent(event));
    EXPECT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(event));
    EXPECT_TRUE(PulseEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    {
        // A pulse releases one of the waiters; two sets in a row release two:
        // the first does not leave the event set for the second to find.
        Waiters waiters(event, 4);
        EXPECT_TRUE(PulseEvent(event));
        EXPECT_TRUE(waiters.Woken(1));
        EXPECT_TRUE(SetEvent(event));
        EXPECT_TRUE(SetEvent(event));
        EXPECT_TRUE(waiters.Woken(3));
        EXPECT_TRUE(PulseEvent(event));
        EXPECT_TRUE(waiters.Woken(4));
    }
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(event));
}

// Opening and the flags of a later creation are checked through the library;
// here what only the name table answers.
TEST(PlatformEvents, NameRulesAndFailures) {
    zvtest::Watchdog watchdog(60);
    SetLastError(ERROR_GEN_FAILURE);
    HANDLE first = CreateEventA(nullptr, TRUE, FALSE, "zv-test-shared");
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    HANDLE opened = OpenEventA(EVENT_ALL_ACCESS, FALSE, "zv-test-shared");
    EXPECT_FAILS(OpenEventA(EVENT_ALL_ACCESS, FALSE, "ZV-TEST-SHARED"), ERROR_FILE_NOT_FOUND);
    // The name lives while any handle does; a new event of it starts afresh.
    // A waiter's call holds the object: closing the handle it waits on does
    // not free it underneath, and another handle still wakes it.
    Waiters waiter(first, 1);
    EXPECT_TRUE(CloseHandle(first));
    EXPECT_TRUE(SetEvent(opened));
    EXPECT_TRUE(waiter.Woken(1));
    HANDLE second = CreateEventA(nullptr, FALSE, FALSE, "zv-test-shared");
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_TRUE(CloseHandle(opened));
    HANDLE fresh = CreateEventA(nullptr, FALSE, FALSE, "zv-test-shared");
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(fresh));

    // Object names end at MAX_PATH characters.
    HANDLE fits = CreateEventA(nullptr, TRUE, FALSE, std::string(260, 'n').c_str());
    EXPECT_NE(fits, nullptr);
    const std::string tooLong(261, 'n');
    EXPECT_FAILS(CreateEventA(nullptr, TRUE, FALSE, tooLong.c_str()), ERROR_FILENAME_EXCED_RANGE);
    EXPECT_FAILS(OpenEventA(EVENT_ALL_ACCESS, FALSE, tooLong.c_str()), ERROR_FILENAME_EXCED_RANGE);
    EXPECT_FAILS(OpenEventA(EVENT_ALL_ACCESS, FALSE, nullptr), ERROR_INVALID_PARAMETER);
    if (zvtest::Family9x()) {
        EXPECT_FAILS(CreateEventW(nullptr, TRUE, FALSE, nullptr), ERROR_CALL_NOT_IMPLEMENTED);
        EXPECT_FAILS(OpenEventW(EVENT_ALL_ACCESS, FALSE, u"n"), ERROR_CALL_NOT_IMPLEMENTED);
    } else {
        EXPECT_FAILS(CreateEventW(nullptr, TRUE, FALSE, std::u16string(261, u'n').c_str()), ERROR_FILENAME_EXCED_RANGE);
        HANDLE wide = OpenEventW(EVENT_ALL_ACCESS, FALSE, std::u16string(260, u'n').c_str());
        EXPECT_NE(wide, nullptr);
        EXPECT_TRUE(CloseHandle(wide));
    }
    // A name taken by a semaphore is no event's.
    HANDLE semaphore = CreateSemaphoreA(nullptr, 0, 1, "zv-taken");
    EXPECT_FAILS(CreateEventA(nullptr, TRUE, FALSE, "zv-taken"), ERROR_INVALID_HANDLE);
    EXPECT_FAILS(OpenEventA(EVENT_ALL_ACCESS, FALSE, "zv-taken"), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(CloseHandle(semaphore));
    EXPECT_TRUE(CloseHandle(fits));
}

TEST(PlatformEvents, HandlesOutsideTheTableOrOfTheWrongKindAreRejected) {
    HANDLE semaphore = CreateSemaphoreA(nullptr, 1, 1, nullptr), event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    HANDLE closed = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    ASSERT_TRUE(CloseHandle(closed));
    for (HANDLE h : {HANDLE(nullptr), INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(intptr_t(-2)),
                     reinterpret_cast<HANDLE>(uintptr_t(0x12345)), reinterpret_cast<HANDLE>(uintptr_t(4) << 30), closed}) {
        SCOPED_TRACE(reinterpret_cast<uintptr_t>(h));
        EXPECT_FAILS(SetEvent(h), ERROR_INVALID_HANDLE);
        EXPECT_FAILS(ResetEvent(h), ERROR_INVALID_HANDLE);
        EXPECT_FAILS(PulseEvent(h), ERROR_INVALID_HANDLE);
        EXPECT_FAILS(WaitForSingleObject(h, INFINITE) != WAIT_FAILED, ERROR_INVALID_HANDLE);
        EXPECT_FAILS(CloseHandle(h), ERROR_INVALID_HANDLE);
        EXPECT_FAILS(ReleaseSemaphore(h, 1, nullptr), ERROR_INVALID_HANDLE);
    }
    EXPECT_FAILS(SetEvent(semaphore), ERROR_INVALID_HANDLE);
    EXPECT_FAILS(ReleaseSemaphore(event, 1, nullptr), ERROR_INVALID_HANDLE);
    // A wait ignores the low two bits of the handle value, as Windows does;
    // the values 1 to 3 are then null.
    for (uintptr_t tag : {1, 2, 3}) {
        HANDLE tagged = reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(event) | tag);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(tagged, 0)) << tag;
        EXPECT_FAILS(WaitForSingleObject(reinterpret_cast<HANDLE>(tag), 0) != WAIT_FAILED, ERROR_INVALID_HANDLE);
    }
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_TRUE(CloseHandle(semaphore));
}

TEST(PlatformSemaphores, CountsLimitsAndWakes) {
    zvtest::Watchdog watchdog(60);
    for (auto [initial, maximum] : {std::pair<LONG, LONG>{0, 0}, {-1, 5}, {6, 5}, {0, -3}})
        EXPECT_FAILS(CreateSemaphoreA(nullptr, initial, maximum, nullptr), ERROR_INVALID_PARAMETER);
    HANDLE semaphore = CreateSemaphoreA(nullptr, 1, 3, nullptr);
    ASSERT_NE(semaphore, nullptr);
    LONG previous = -7;
    EXPECT_TRUE(ReleaseSemaphore(semaphore, 2, &previous));
    EXPECT_EQ(previous, 1);
    // One past the maximum fails and changes nothing.
    previous = -7;
    EXPECT_FAILS(ReleaseSemaphore(semaphore, 1, &previous), ERROR_TOO_MANY_POSTS);
    EXPECT_EQ(previous, -7);
    for (LONG count : {0, -1}) EXPECT_FAILS(ReleaseSemaphore(semaphore, count, nullptr), ERROR_INVALID_PARAMETER);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(semaphore, 20), WAIT_TIMEOUT);
    {
        // Each unit released goes to one blocked waiter; none is left over.
        Waiters waiters(semaphore, 4);
        EXPECT_TRUE(ReleaseSemaphore(semaphore, 3, &previous));
        EXPECT_EQ(previous, 0);
        EXPECT_TRUE(waiters.Woken(3));
        EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT);
        EXPECT_TRUE(ReleaseSemaphore(semaphore, 2, &previous));
        EXPECT_TRUE(waiters.Woken(4));
    }
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(semaphore));

    // The maximum the recursive mutex asks for.
    HANDLE large = CreateSemaphoreA(nullptr, 0, 32767, nullptr);
    EXPECT_TRUE(ReleaseSemaphore(large, 32767, nullptr));
    EXPECT_FAILS(ReleaseSemaphore(large, 1, nullptr), ERROR_TOO_MANY_POSTS);
    EXPECT_TRUE(CloseHandle(large));
}

// Short timed waits race with sets while other threads create, open and
// close one name: each set is taken by one waiter or stays in the event,
// none disappears, and the last close frees the name.
TEST(PlatformEvents, ConcurrentTimedWaitsAndNameUse) {
    zvtest::Watchdog watchdog(120);
    size_t openBefore = zvp::OpenHandleCount();
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int> taken{0}, created{0};
    std::atomic<bool> stop{false};
    const int kSets = zvtest::kThreadSanitizer ? 300 : 2000;
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] {
            while (!stop) {
                if (i % 2) {
                    DWORD result = WaitForSingleObject(event, 1);
                    if (result == WAIT_OBJECT_0) ++taken;
                    else EXPECT_EQ(result, WAIT_TIMEOUT);
                    continue;
                }
                HANDLE h = CreateEventA(nullptr, TRUE, FALSE, "zv-contended");
                ASSERT_NE(h, nullptr);
                if (GetLastError() == ERROR_SUCCESS) ++created;
                // Our own handle keeps the name alive.
                HANDLE o = OpenEventA(EVENT_ALL_ACCESS, FALSE, "zv-contended");
                ASSERT_NE(o, nullptr);
                EXPECT_TRUE(SetEvent(o));
                EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0);
                EXPECT_TRUE(CloseHandle(o));
                EXPECT_TRUE(CloseHandle(h));
            }
        });
    for (int i = 0; i < kSets; ++i) {
        // Set only once the last set was taken, so sets never merge.
        ASSERT_TRUE(WaitUntil([&] { return taken == i; }));
        EXPECT_TRUE(SetEvent(event));
    }
    ASSERT_TRUE(WaitUntil([&] { return taken == kSets; }));
    stop = true;
    for (auto& t : threads) t.join();
    EXPECT_EQ(taken, kSets);
    EXPECT_GE(created, 1);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, "zv-contended"), nullptr);
    EXPECT_EQ(zvp::OpenHandleCount(), openBefore);
}

}  // namespace
