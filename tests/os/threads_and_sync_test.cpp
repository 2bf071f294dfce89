// Threads, critical sections, events, interlocked counters, the recursive
// mutex and the end of the process.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "child.h"
#include "frame/frame.h"
#include "os_probes.h"
#include "support.h"
#include "watchdog.h"
#include "zv.h"

namespace {

using Width = zvtest::ScopedValue<uint16_t>;

// Waits for a thread to end and gives its exit code.
DWORD ExitCodeOf(ZVHANDLE thread) {
    DWORD code = 0;
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    return code;
}

TEST(Events, CreateOpenSignalAndStageNames) {
    for (uint16_t wide : zvtest::CallWidths()) {
        Width width(zv::g_wideCalls, wide);
        // The flags are 16-bit truth values: 0x100 means yes.
        ZVHANDLE manual = ZVCreateEvent(0x100, 0x8000, nullptr);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(ZVWaitForEvent(manual), WAIT_OBJECT_0) << wide;
        EXPECT_EQ(ZVPulseEvent(manual) + ZVCloseEvent(manual), 2);
        // Creating a name again opens the same event and succeeds.
        ZVHANDLE first = ZVCreateEvent(1, 0, u"zv-event"), second = ZVCreateEvent(0, 1, u"zv-event");
        EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
        ZVHANDLE opened = ZVOpenEvent(u"zv-event");
        EXPECT_EQ(ZVSetEvent(second), 1);
        EXPECT_EQ(ZVWaitForEvent(opened), WAIT_OBJECT_0);
        EXPECT_EQ(ZVResetEvent(opened), 1);
        EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_TIMEOUT);
        EXPECT_EQ(ZVCloseEvent(first) + ZVCloseEvent(second) + ZVCloseEvent(opened), 3);
        ZVTEST_EXPECT_FAILS(ZVOpenEvent(u"zv-event"), ZV_INVALID_HANDLE, ERROR_FILE_NOT_FOUND);  // gone with them
        ZVTEST_EXPECT_FAILS(ZVOpenEvent(nullptr), ZV_INVALID_HANDLE, ERROR_INVALID_PARAMETER);
    }
    ZVHANDLE closed = ZVCreateEvent(1, 0, nullptr);
    ASSERT_EQ(ZVCloseEvent(closed), 1);
    for (ZVHANDLE h : {ZV_INVALID_HANDLE, static_cast<ZVHANDLE>(nullptr), closed}) {
        EXPECT_EQ(ZVCloseEvent(h) + ZVSetEvent(h) + ZVResetEvent(h) + ZVPulseEvent(h), 0);
        EXPECT_EQ(ZVWaitForEvent(h), WAIT_FAILED);
    }
    // The narrow path stages names of up to 255 characters, by their low bytes.
    Width narrow(zv::g_wideCalls, 0);
    const std::u16string longest(255, u'x'), tooLong(256, u'x');
    ZVHANDLE fits = ZVCreateEvent(1, 0, longest.c_str()), opened = ZVOpenEvent(longest.c_str());
    EXPECT_NE(opened, ZV_INVALID_HANDLE);
    ZVTEST_EXPECT_FAILS(ZVCreateEvent(1, 0, tooLong.c_str()), ZV_INVALID_HANDLE, ERROR_FILENAME_EXCED_RANGE);
    ZVTEST_EXPECT_FAILS(ZVOpenEvent(tooLong.c_str()), ZV_INVALID_HANDLE, ERROR_FILENAME_EXCED_RANGE);
    EXPECT_EQ(ZVCloseEvent(fits) + ZVCloseEvent(opened), 2);
    // U+00E9 and U+01E9 narrow to the same byte: one event on the narrow
    // path; on the wide path only the first names it.
    ZVHANDLE latin = ZVCreateEvent(1, 0, u"zv-caf\u00e9"), beyond = ZVOpenEvent(u"zv-caf\u01e9");
    EXPECT_EQ(ZVSetEvent(beyond), 1);
    EXPECT_EQ(WaitForSingleObject(latin, 0), WAIT_OBJECT_0);
    zv::g_wideCalls = 1;  // no staging buffer on the wide path (`narrow` restores the switch)
    if (!zvtest::Family9x()) {
        ZVHANDLE event = ZVCreateEvent(1, 0, tooLong.c_str()), same = ZVOpenEvent(u"zv-caf\u00e9");
        EXPECT_EQ(WaitForSingleObject(same, 0), WAIT_OBJECT_0);
        EXPECT_EQ(ZVOpenEvent(u"zv-caf\u01e9"), ZV_INVALID_HANDLE);
        EXPECT_EQ(ZVCloseEvent(event) + ZVCloseEvent(same), 2);
    }
    EXPECT_EQ(ZVCloseEvent(latin) + ZVCloseEvent(beyond), 2);
}

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

TEST(Events, PingPongBetweenTwoThreadsLosesNoWakeUp) {
    zvtest::Watchdog watchdog(120, "event ping-pong");
    const int kRounds = zvtest::kThreadSanitizer ? 5000 : 50000;
    ZVHANDLE ping = ZVCreateEvent(0, 0, u"zv-ping"), pong = ZVCreateEvent(0, 0, u"zv-pong");
    long shared = 0;
    std::thread other([&] {
        ZVHANDLE myPing = ZVOpenEvent(u"zv-ping"), myPong = ZVOpenEvent(u"zv-pong");
        for (int i = 0; i < kRounds; ++i) {
            ASSERT_EQ(ZVWaitForEvent(myPing), WAIT_OBJECT_0);
            ++shared;
            ASSERT_EQ(ZVSetEvent(myPong), 1);
        }
        EXPECT_EQ(ZVCloseEvent(myPing) + ZVCloseEvent(myPong), 2);
    });
    for (int i = 0; i < kRounds; ++i) {
        ASSERT_EQ(ZVSetEvent(ping), 1);
        ASSERT_EQ(ZVWaitForEvent(pong), WAIT_OBJECT_0);
        ASSERT_EQ(shared, i + 1);
    }
    other.join();
    EXPECT_EQ(ZVCloseEvent(ping) + ZVCloseEvent(pong), 2);
}

TEST(Mutex, RecursionOwnershipAndClose) {
    // The threads runtime keeps handles it makes at its first use (on
    // Windows, one of the main thread's own): they are counted before.
    std::thread([] {}).join();
    const size_t openBefore = zvtest::OpenHandleCount();
    const uint32_t self = ZVGetCurrentThreadId();
    ZVHANDLE mutex = ZVCreateMutex(0);
    ASSERT_NE(mutex, ZV_INVALID_HANDLE);
    EXPECT_EQ(Read(mutex), kFree);
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
    EXPECT_EQ(zvtest::OpenHandleCount(), openBefore);  // its semaphore is gone too
    for (uint16_t flag : {1, 0x100}) {  // owned from the start
        ZVHANDLE owned = ZVCreateMutex(flag);
        EXPECT_EQ(Read(owned), Fields(0, 1, self));
        EXPECT_EQ(TryElsewhere(owned), 0);
        EXPECT_EQ(ZVReleaseMutex(owned) + ZVCloseMutex(owned), 2);
    }
    EXPECT_EQ(ZVCloseMutex(ZV_INVALID_HANDLE), 1);  // creation's failure value closes harmlessly
    EXPECT_TRUE(ZVOpenMutex(nullptr) == ZV_INVALID_HANDLE && ZVOpenMutex(u"any name") == ZV_INVALID_HANDLE);
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
        // Counted as a waiter, B has nothing left to wait for but the semaphore.
        ASSERT_TRUE(zvtest::WaitUntil([&] { return std::get<0>(Read(mutex)) == 2; }));
        ASSERT_TRUE(zvtest::WaitUntilAsleepOnSemaphore(static_cast<ZVMutex*>(mutex)->semaphore, waiter));
        EXPECT_EQ(Read(mutex), Fields(2, 2, self));  // two levels and one waiter, minus one
        EXPECT_EQ(ZVReleaseMutex(mutex), 1);
        EXPECT_EQ(Read(mutex), Fields(1, 1, self));
        ASSERT_EQ(ZVSuspendThread(waiter), 0u);
        EXPECT_EQ(ZVReleaseMutex(mutex), 1);
        EXPECT_EQ(Read(mutex), Fields(0, 0, 0));
        EXPECT_EQ(TryElsewhere(mutex), 0);
        EXPECT_EQ(ZVTryAcquireMutex(mutex), 0);
        ASSERT_EQ(ZVResumeThread(waiter), 1u);
        EXPECT_EQ(ExitCodeOf(waiter), 1u);
        EXPECT_EQ(Read(mutex), kFree);
        EXPECT_NE(ZVCloseThreadHandle(waiter), 0);
        EXPECT_EQ(ZVCloseMutex(mutex), 1);
    }
}

// Eight threads take, round after round, a critical section two levels
// deep, an interlocked counter and the mutex three levels deep by both
// calls; with and without spinning.
TEST(Sync, StressKeepsMutualExclusionAndCountsExactly) {
    int32_t value = -1;
    EXPECT_EQ(ZVInterlockedIncrement(&value), 0);
    EXPECT_EQ(ZVInterlockedExchange(&value, INT32_MAX), 0);  // the value before
    EXPECT_EQ(ZVInterlockedIncrement(&value), INT32_MIN);
    EXPECT_EQ(ZVInterlockedDecrement(&value), INT32_MAX);
    zvtest::Watchdog watchdog(240, "stress");
    const int scale = zvtest::kThreadSanitizer ? 3 : 10;
    const std::pair<int32_t, int> settings[] = {{zv::g_spinCount, 10000 * scale}, {0, 3000 * scale}};
    CRITICAL_SECTION section;
    ZVCreateCriticalSection(&section);
    for (const auto& [spinCount, rounds] : settings) {
        Spins spins(zv::g_spinCount, spinCount);
        ZVHANDLE mutex = ZVCreateMutex(0);
        long shared = 0, sectionShared = 0;  // guarded by the mutex, by the section
        alignas(4) int32_t counter = 0;     // changed by interlocked calls only
        std::atomic<int> inside{0};
        std::atomic<long> releasesWithWaiters{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t)
            threads.emplace_back([&, t, rounds = rounds] {
                for (int i = 0; i < rounds; ++i) {
                    ZVEnterCriticalSection(&section);
                    ZVEnterCriticalSection(&section);
                    ++sectionShared;
                    ZVLeaveCriticalSection(&section);
                    ZVLeaveCriticalSection(&section);
                    ZVInterlockedIncrement(&counter);
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
        EXPECT_TRUE(shared == 8L * rounds && sectionShared == 8L * rounds) << shared << " " << sectionShared;
        EXPECT_EQ(ZVInterlockedExchange(&counter, 0), 8 * rounds);
        EXPECT_GT(releasesWithWaiters, 0);
        EXPECT_EQ(Read(mutex), kFree);
        EXPECT_EQ(ZVCloseMutex(mutex), 1);
    }
    ZVDeleteCriticalSection(&section);
}

// Count moves g_count until g_run is cleared; Exit ends itself with a code.
std::atomic<long> g_count{0};
std::atomic<bool> g_run{true};
uint32_t ZV_STDCALL Count(void*) {
    while (g_run) ++g_count;
    return 0;
}
uint32_t ZV_STDCALL Exit(void*) { ZVExitThread(0xABCD); }

// Whether g_count moves: within 10 s when it should, in 50 ms when it should not.
bool Moves(bool expected = true) {
    const long before = g_count;
    if (expected) return zvtest::WaitUntil([&] { return g_count != before; }, 10);
    ZVSleep(50);
    return g_count != before;
}

TEST(Threads, RunSuspendResumeExitAndTerminate) {
    zvtest::Watchdog watchdog(60);
    g_run = true;  // a repeated run in the same process starts afresh
    ZVHANDLE thread = ZVCreateThread(64 * 1024, Count, nullptr), exiting = ZVCreateThread(0, Exit, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(ZVResumeThread(thread), 0u);  // it runs without any resume
    ASSERT_TRUE(Moves());
    EXPECT_EQ(ZVSuspendThread(thread), 0u);
    EXPECT_EQ(ZVSuspendThread(thread), 1u);
    EXPECT_FALSE(Moves(false));
    EXPECT_EQ(ZVResumeThread(thread), 2u);
    EXPECT_FALSE(Moves(false));  // still suspended once
    EXPECT_EQ(ZVResumeThread(thread), 1u);
    EXPECT_TRUE(Moves());
    EXPECT_NE(ZVTerminateThread(thread, 0xFEED), 0);
    EXPECT_EQ(ExitCodeOf(thread), 0xFEEDu);
    EXPECT_EQ(ExitCodeOf(exiting), 0xABCDu);
    EXPECT_NE(ZVCloseThreadHandle(thread) && ZVCloseThreadHandle(exiting), 0);
    // Failures: closed handles, made-up ones, no start routine.
    for (ZVHANDLE bad : {thread, reinterpret_cast<ZVHANDLE>(uintptr_t(0x7770))}) {
        EXPECT_EQ(ZVSuspendThread(bad), 0xFFFFFFFFu);
        EXPECT_EQ(ZVResumeThread(bad), 0xFFFFFFFFu);
        EXPECT_EQ(ZVTerminateThread(bad, 1) + ZVCloseThreadHandle(bad), 0);
    }
    EXPECT_EQ(ZVCreateThread(0, nullptr, nullptr), nullptr);
    // Closing a handle gives up only the handle: the thread runs on.
    EXPECT_NE(ZVCloseThreadHandle(ZVCreateThread(0, Count, nullptr)), 0);
    EXPECT_TRUE(Moves());
    g_run = false;
    // Thread ids are the kernel's; ZVSleep waits at least its time.
    uint32_t other = ZVGetCurrentThreadId();
    std::thread([&] { other = ZVGetCurrentThreadId(); }).join();
    EXPECT_TRUE(ZVGetCurrentThreadId() == zvtest::KernelThreadId() && other != ZVGetCurrentThreadId());
    const auto start = std::chrono::steady_clock::now();
    ZVSleep(30);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

// What ZVExitProcess must skip, armed in a child process of its own:
// atexit functions, the unload notification of a library it loaded (the
// test library marks ZVTEST_UNLOAD_MARK) and the flushing of streams.  The
// argument is how the child ends ("exit" or "ZVExitProcess"), a colon and
// the folder for its marks.
char g_markerDir[512];

ZVTEST_CHILD_ROLE(ending) {
    const size_t colon = argument.find(':');
    snprintf(g_markerDir, sizeof g_markerDir, "%s", argument.substr(colon + 1).c_str());
    atexit([] { zvtest::TouchFile(std::string(g_markerDir) + "/atexit"); });
    if (ZVOpenLibrary(zvtest::W(ZV_TEST_LIBRARY_PATH).c_str()) == nullptr) return 2;
    static char buffer[4096];
    FILE* file = fopen((std::string(g_markerDir) + "/buffered").c_str(), "w");
    if (!file || setvbuf(file, buffer, _IOFBF, sizeof buffer) != 0 || fputs("never flushed", file) < 0) return 3;
    std::thread([] { ZVSleep(INFINITE); }).detach();  // another thread keeps nothing alive
    zvtest::Report(reportFd, "armed");
    if (argument.compare(0, colon, "ZVExitProcess") == 0) ZVExitProcess();
    return 0;  // an ordinary exit, which leaves every mark
}

TEST(Threads, ExitProcessSkipsAtexitUnloadAndFlushing) {
    zvtest::Watchdog watchdog(120, "ending children");
    // The ordinary exit first: it shows that each mark would be made.
    for (const std::string how : {"exit", "ZVExitProcess"}) {
        const bool skips = how == "ZVExitProcess";
        zvtest::TempDir dir;
        zvtest::Child child("ending", how + ":" + dir.path(), {"ZVTEST_UNLOAD_MARK=" + dir.file("unload")});
        std::string line;
        EXPECT_TRUE(child.ReadLine(&line, 60000) && line == "armed") << how;
        EXPECT_EQ(child.Wait(60000), 0) << how;
        EXPECT_EQ(std::filesystem::exists(dir.file("atexit")), !skips) << how;
        EXPECT_EQ(std::filesystem::exists(dir.file("unload")), !skips) << how;
        ASSERT_TRUE(std::filesystem::exists(dir.file("buffered"))) << how;
        EXPECT_EQ(std::filesystem::file_size(dir.file("buffered")), skips ? 0u : strlen("never flushed")) << how;
    }
}

}  // namespace
