// Critical sections, events and interlocked counters.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "frame/frame.h"
#include "platform/posix/waitable.h"
#include "support.h"
#include "watchdog.h"
#include "zv.h"

namespace {

using zvtest::WaitUntil;

// Runs a test body once with the wide calls and once with the narrow ones
// (where the family has both), restoring the switch afterwards.
class BothPaths {
  public:
    BothPaths() : saved_(zv::g_wideCalls) {}
    ~BothPaths() { zv::g_wideCalls = saved_; }
    std::vector<uint16_t> Paths() const {
        if (zvtest::Family9x()) return {0};
        return {1, 0};
    }

  private:
    uint16_t saved_;
};

TEST(CriticalSections, RecursiveAndExclusive) {
    zvtest::Watchdog watchdog(60);
    CRITICAL_SECTION section;
    ZVCreateCriticalSection(&section);
    ZVEnterCriticalSection(&section);
    ZVEnterCriticalSection(&section);
    std::atomic<bool> entered{false};
    std::thread other([&] {
        ZVEnterCriticalSection(&section);
        entered = true;
        ZVLeaveCriticalSection(&section);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(entered);
    ZVLeaveCriticalSection(&section);
    // Still held once.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(entered);
    ZVLeaveCriticalSection(&section);
    other.join();
    EXPECT_TRUE(entered);
    ZVDeleteCriticalSection(&section);
}

TEST(CriticalSections, StressKeepsMutualExclusion) {
    zvtest::Watchdog watchdog(120);
    CRITICAL_SECTION section;
    ZVCreateCriticalSection(&section);
    const int kRounds = zvtest::kThreadSanitizer ? 10000 : 100000;
    long shared = 0;  // guarded by the section only
    int inside = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                ZVEnterCriticalSection(&section);
                ZVEnterCriticalSection(&section);
                ASSERT_EQ(++inside, 1);
                ++shared;
                --inside;
                ZVLeaveCriticalSection(&section);
                ZVLeaveCriticalSection(&section);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(shared, 8L * kRounds);
    ZVDeleteCriticalSection(&section);
}

TEST(Events, UnnamedAndNamedOnTheActivePath) {
    BothPaths paths;
    for (uint16_t wide : paths.Paths()) {
        SCOPED_TRACE(wide ? "wide calls" : "narrow calls");
        zv::g_wideCalls = wide;
        ZVHANDLE unnamed = ZVCreateEvent(1, 0, nullptr);
        ASSERT_NE(unnamed, ZV_INVALID_HANDLE);
        ASSERT_NE(unnamed, nullptr);
        EXPECT_EQ(ZVSetEvent(unnamed), 1);
        EXPECT_EQ(ZVWaitForEvent(unnamed), WAIT_OBJECT_0);
        EXPECT_EQ(ZVCloseEvent(unnamed), 1);

        std::u16string name = u"zv-events-" + std::u16string(wide ? u"w" : u"n");
        ZVHANDLE first = ZVCreateEvent(1, 0, name.c_str());
        ASSERT_NE(first, ZV_INVALID_HANDLE);
        // Creating the same name again opens the same event and succeeds.
        ZVHANDLE second = ZVCreateEvent(0, 1, name.c_str());
        ASSERT_NE(second, ZV_INVALID_HANDLE);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
        ZVHANDLE opened = ZVOpenEvent(name.c_str());
        ASSERT_NE(opened, ZV_INVALID_HANDLE);
        EXPECT_EQ(WaitForSingleObject(opened, 0), WAIT_TIMEOUT);
        EXPECT_EQ(ZVSetEvent(second), 1);
        EXPECT_EQ(ZVWaitForEvent(first), WAIT_OBJECT_0);
        EXPECT_EQ(ZVWaitForEvent(opened), WAIT_OBJECT_0);
        EXPECT_EQ(ZVResetEvent(opened), 1);
        EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_TIMEOUT);
        for (ZVHANDLE h : {first, second, opened}) EXPECT_EQ(ZVCloseEvent(h), 1);

        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(ZVOpenEvent(name.c_str()), ZV_INVALID_HANDLE);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
        EXPECT_EQ(ZVOpenEvent(u"zv-never-created"), ZV_INVALID_HANDLE);
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(ZVOpenEvent(nullptr), ZV_INVALID_HANDLE);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    }
}

TEST(Events, FlagsAreSixteenBitTruthValues) {
    // 0x100 has no bit in the low byte and still means yes.
    ZVHANDLE manual = ZVCreateEvent(0x100, 0x8000, nullptr);
    ASSERT_NE(manual, ZV_INVALID_HANDLE);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(ZVWaitForEvent(manual), WAIT_OBJECT_0);
    EXPECT_EQ(ZVCloseEvent(manual), 1);

    ZVHANDLE automatic = ZVCreateEvent(0, 1, nullptr);
    ASSERT_NE(automatic, ZV_INVALID_HANDLE);
    EXPECT_EQ(ZVWaitForEvent(automatic), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 20), WAIT_TIMEOUT);  // reset itself
    EXPECT_EQ(ZVCloseEvent(automatic), 1);
}

TEST(Events, NarrowStagingTakesNamesUpTo255Characters) {
    BothPaths paths;
    zv::g_wideCalls = 0;
    std::u16string longest(255, u'x');
    ZVHANDLE fits = ZVCreateEvent(1, 0, longest.c_str());
    ASSERT_NE(fits, ZV_INVALID_HANDLE);
    ZVHANDLE opened = ZVOpenEvent(longest.c_str());
    EXPECT_NE(opened, ZV_INVALID_HANDLE);
    // One past the buffer: refused, not overrun.
    std::u16string tooLong(256, u'x');
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(ZVCreateEvent(1, 0, tooLong.c_str()), ZV_INVALID_HANDLE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILENAME_EXCED_RANGE));
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(ZVOpenEvent(tooLong.c_str()), ZV_INVALID_HANDLE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(ZVCloseEvent(fits), 1);
    EXPECT_EQ(ZVCloseEvent(opened), 1);

    if (!zvtest::Family9x()) {
        // The wide path has only the system's own limit.
        zv::g_wideCalls = 1;
        ZVHANDLE wide = ZVCreateEvent(1, 0, tooLong.c_str());
        EXPECT_NE(wide, ZV_INVALID_HANDLE);
        EXPECT_EQ(ZVCloseEvent(wide), 1);
        std::u16string pastSystemLimit(261, u'x');
        EXPECT_EQ(ZVCreateEvent(1, 0, pastSystemLimit.c_str()), ZV_INVALID_HANDLE);
    }
}

TEST(Events, NarrowingKeepsTheLowByteOfEachUnit) {
    BothPaths paths;
    // U+00E9 and U+01E9 narrow to the same byte, so on the narrow path they
    // name one event; on the wide path they are two.
    std::u16string latin = u"zv-caf\u00e9";
    std::u16string beyond = u"zv-caf\u01e9";
    zv::g_wideCalls = 0;
    ZVHANDLE narrow = ZVCreateEvent(1, 0, latin.c_str());
    ASSERT_NE(narrow, ZV_INVALID_HANDLE);
    ZVHANDLE alias = ZVOpenEvent(beyond.c_str());
    ASSERT_NE(alias, ZV_INVALID_HANDLE);
    EXPECT_EQ(ZVSetEvent(alias), 1);
    EXPECT_EQ(WaitForSingleObject(narrow, 0), WAIT_OBJECT_0);
    if (!zvtest::Family9x()) {
        zv::g_wideCalls = 1;
        // The narrow name of Latin-1 text is the same name on the wide path.
        ZVHANDLE wide = ZVOpenEvent(latin.c_str());
        ASSERT_NE(wide, ZV_INVALID_HANDLE);
        EXPECT_EQ(WaitForSingleObject(wide, 0), WAIT_OBJECT_0);
        EXPECT_EQ(ZVOpenEvent(beyond.c_str()), ZV_INVALID_HANDLE);
        EXPECT_EQ(ZVCloseEvent(wide), 1);
    }
    EXPECT_EQ(ZVCloseEvent(alias), 1);
    EXPECT_EQ(ZVCloseEvent(narrow), 1);
}

TEST(Events, FailuresOnBadHandles) {
    ZVHANDLE event = ZVCreateEvent(1, 0, nullptr);
    ASSERT_EQ(ZVCloseEvent(event), 1);
    for (ZVHANDLE h : {ZV_INVALID_HANDLE, static_cast<ZVHANDLE>(nullptr), event}) {
        EXPECT_EQ(ZVCloseEvent(h), 0);
        EXPECT_EQ(ZVSetEvent(h), 0);
        EXPECT_EQ(ZVResetEvent(h), 0);
        EXPECT_EQ(ZVPulseEvent(h), 0);
        EXPECT_EQ(ZVWaitForEvent(h), WAIT_FAILED);
    }
}

TEST(Events, PulseWakesTheWaitersOfThatMoment) {
    zvtest::Watchdog watchdog(60);
    ZVHANDLE event = ZVCreateEvent(1, 0, nullptr);
    EXPECT_EQ(ZVPulseEvent(event), 1);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i)
        waiters.emplace_back([&] {
            EXPECT_EQ(ZVWaitForEvent(event), WAIT_OBJECT_0);
            ++woken;
        });
    ASSERT_TRUE(WaitUntil([&] { return zvp::WaitingThreads(event) == 2; }));
    EXPECT_EQ(ZVPulseEvent(event), 1);
    for (auto& t : waiters) t.join();
    EXPECT_EQ(woken, 2);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_EQ(ZVCloseEvent(event), 1);
}

TEST(Events, PingPongBetweenTwoThreadsLosesNoWakeUp) {
    zvtest::Watchdog watchdog(120, "event ping-pong");
    const int kRounds = zvtest::kThreadSanitizer ? 5000 : 50000;
    BothPaths paths;
    zv::g_wideCalls = zvtest::Family9x() ? 0 : 1;
    ZVHANDLE ping = ZVCreateEvent(0, 0, u"zv-ping");
    ZVHANDLE pong = ZVCreateEvent(0, 0, u"zv-pong");
    ASSERT_NE(ping, ZV_INVALID_HANDLE);
    ASSERT_NE(pong, ZV_INVALID_HANDLE);
    long shared = 0;
    std::thread other([&] {
        ZVHANDLE myPing = ZVOpenEvent(u"zv-ping");
        ZVHANDLE myPong = ZVOpenEvent(u"zv-pong");
        for (int i = 0; i < kRounds; ++i) {
            ASSERT_EQ(ZVWaitForEvent(myPing), WAIT_OBJECT_0);
            ++shared;
            ASSERT_EQ(ZVSetEvent(myPong), 1);
        }
        ZVCloseEvent(myPing);
        ZVCloseEvent(myPong);
    });
    for (int i = 0; i < kRounds; ++i) {
        ASSERT_EQ(ZVSetEvent(ping), 1);
        ASSERT_EQ(ZVWaitForEvent(pong), WAIT_OBJECT_0);
        ASSERT_EQ(shared, i + 1);
    }
    other.join();
    EXPECT_EQ(ZVCloseEvent(ping), 1);
    EXPECT_EQ(ZVCloseEvent(pong), 1);
}

TEST(Interlocked, ResultsAndAtomicity) {
    int32_t counter = -1;
    EXPECT_EQ(ZVInterlockedIncrement(&counter), 0);
    EXPECT_EQ(ZVInterlockedIncrement(&counter), 1);
    EXPECT_EQ(ZVInterlockedDecrement(&counter), 0);
    EXPECT_EQ(ZVInterlockedDecrement(&counter), -1);
    EXPECT_EQ(ZVInterlockedExchange(&counter, 42), -1);
    EXPECT_EQ(ZVInterlockedExchange(&counter, INT32_MIN), 42);
    EXPECT_EQ(counter, INT32_MIN);
    counter = INT32_MAX;
    EXPECT_EQ(ZVInterlockedIncrement(&counter), INT32_MIN);  // wraps

    zvtest::Watchdog watchdog(60);
    const int kRounds = zvtest::kThreadSanitizer ? 20000 : 200000;
    alignas(4) int32_t shared = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                if (t % 2) ZVInterlockedIncrement(&shared);
                else {
                    ZVInterlockedIncrement(&shared);
                    ZVInterlockedIncrement(&shared);
                    ZVInterlockedDecrement(&shared);
                }
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(ZVInterlockedExchange(&shared, 0), 8 * kRounds);
}

}  // namespace
