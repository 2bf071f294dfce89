// Threads of the emulated machine, where the library-level thread tests do
// not reach: suspend-count limits, suspension and termination of waiting
// threads, handle checks, and concurrent control.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/posix/waitable.h"
#include "platform_util.h"
#include "support.h"
#include "watchdog.h"

namespace {

using zvtest::WaitUntil;
using Start = unsigned(ZV_STDCALL*)(void*);

HANDLE Begin(Start start, void* arg, unsigned flags = 0) {
    return reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, start, arg, flags, nullptr));
}

DWORD ExitCodeOf(HANDLE thread) {
    DWORD code = 0xDEADBEEF;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    return code;
}

// Waits for a thread's end and checks its exit code; closes its handle.
void ExpectEnds(HANDLE thread, DWORD code) {
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCodeOf(thread), code);
    EXPECT_TRUE(CloseHandle(thread));
}

// Counts as fast as it can until `stop`; `unwound` when its stack unwinds.
struct Spinner {
    std::atomic<long> count{0};
    std::atomic<bool> stop{false}, unwound{false};
};

unsigned ZV_STDCALL Spin(void* p) {
    auto* s = static_cast<Spinner*>(p);
    struct Unwind {
        Spinner* s;
        ~Unwind() { s->unwound = true; }
    } unwind{s};
    while (!s->stop.load(std::memory_order_relaxed)) s->count.fetch_add(1, std::memory_order_relaxed);
    return 77;
}

bool Runs(const Spinner& s) {
    const long start = s.count;
    return WaitUntil([&] { return s.count != start; }, 10);
}

bool Halted(const Spinner& s) {
    const long start = s.count;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return s.count == start;
}

unsigned ZV_STDCALL WaitOn(void* object) { return WaitForSingleObject(object, INFINITE); }

TEST(PlatformThreads, SuspendCountsEndAtTheirMaximumAndWithTheThread) {
    zvtest::Watchdog watchdog(60);
    Spinner spinner;
    HANDLE thread = Begin(Spin, &spinner, CREATE_SUSPENDED);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(ExitCodeOf(thread), DWORD(STILL_ACTIVE));
    EXPECT_EQ(WaitForSingleObject(thread, 30), WAIT_TIMEOUT);
    EXPECT_TRUE(Halted(spinner));  // created suspended: waits for the first resume
    EXPECT_EQ(ResumeThread(thread), 1u);
    ASSERT_TRUE(Runs(spinner));
    EXPECT_EQ(ResumeThread(thread), 0u);  // not suspended: nothing to undo

    for (DWORD i = 0; i < MAXIMUM_SUSPEND_COUNT; ++i) ASSERT_EQ(SuspendThread(thread), i);
    EXPECT_TRUE(Halted(spinner));
    EXPECT_FAILS(SuspendThread(thread) != DWORD(-1), ERROR_SIGNAL_REFUSED);
    for (DWORD i = MAXIMUM_SUSPEND_COUNT; i > 1; --i) ASSERT_EQ(ResumeThread(thread), i);
    EXPECT_TRUE(Halted(spinner));
    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_TRUE(Runs(spinner));

    spinner.stop = true;
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(spinner.unwound);
    // An ended thread can no longer be suspended; resuming it reports 0.
    // Its handle stays signalled until it is closed, then it is gone.
    EXPECT_FAILS(SuspendThread(thread) != DWORD(-1), ERROR_ACCESS_DENIED);
    EXPECT_EQ(ResumeThread(thread), 0u);
    ExpectEnds(thread, 77);
    DWORD code = 1;
    EXPECT_FAILS(GetExitCodeThread(thread, &code), ERROR_INVALID_HANDLE);

    // _endthreadex unwinds the thread's stack and keeps its code.
    static std::atomic<bool> unwound{false};
    thread = Begin(
        [](void*) -> unsigned {
            struct Local {
                ~Local() { unwound = true; }
            } local;
            _endthreadex(4242);
        },
        nullptr);
    ExpectEnds(thread, 4242);
    EXPECT_TRUE(unwound);
    errno = 0;
    EXPECT_EQ(_beginthreadex(nullptr, 0, nullptr, nullptr, 0, nullptr), 0u);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST(PlatformThreads, WakeOfASuspendedWaiterIsKeptForIt) {
    zvtest::Watchdog watchdog(60);
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE thread = Begin(WaitOn, event);
    ASSERT_TRUE(WaitUntil([&] { return zvp::WaitingThreads(event) == 1; }));
    EXPECT_EQ(SuspendThread(thread), 0u);
    // The wake goes to the waiter, which cannot run until resumed.
    EXPECT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(thread, 50), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_EQ(ResumeThread(thread), 1u);
    ExpectEnds(thread, WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(event));
}

TEST(PlatformThreads, TerminateRunsNoCodeOfTheThreadAndFreesItsWait) {
    zvtest::Watchdog watchdog(60);
    for (bool suspend : {false, true}) {
        Spinner spinner;
        HANDLE thread = Begin(Spin, &spinner);
        ASSERT_TRUE(Runs(spinner));
        if (suspend) {
            EXPECT_EQ(SuspendThread(thread), 0u);
        }
        EXPECT_TRUE(TerminateThread(thread, 31));
        EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
        EXPECT_TRUE(TerminateThread(thread, 99));  // changes nothing
        ExpectEnds(thread, 31);
        EXPECT_TRUE(Halted(spinner));
        EXPECT_FALSE(spinner.unwound);

        // A thread blocked in a wait leaves the wait's queue: the next set
        // of an automatic-reset event is not lost to it.
        HANDLE never = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        thread = Begin(WaitOn, never);
        ASSERT_TRUE(WaitUntil([&] { return zvp::WaitingThreads(never) == 1; }));
        if (suspend) {
            EXPECT_EQ(SuspendThread(thread), 0u);
        }
        EXPECT_TRUE(TerminateThread(thread, 33));
        ExpectEnds(thread, 33);
        EXPECT_EQ(zvp::WaitingThreads(never), 0u);
        EXPECT_TRUE(SetEvent(never));
        EXPECT_EQ(WaitForSingleObject(never, 0), WAIT_OBJECT_0);
        EXPECT_TRUE(CloseHandle(never));
    }
    HANDLE thread = Begin(WaitOn, nullptr, CREATE_SUSPENDED);
    EXPECT_TRUE(TerminateThread(thread, 34));
    ExpectEnds(thread, 34);
}

TEST(PlatformThreads, ControlCallsRejectHandlesOfOtherKinds) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    for (HANDLE h : {event, HANDLE(nullptr), INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(uintptr_t(0x5550))}) {
        DWORD code = 0;
        EXPECT_FAILS(SuspendThread(h) != DWORD(-1), ERROR_INVALID_HANDLE);
        EXPECT_FAILS(ResumeThread(h) != DWORD(-1), ERROR_INVALID_HANDLE);
        EXPECT_FAILS(GetExitCodeThread(h, &code), ERROR_INVALID_HANDLE);
        EXPECT_FAILS(TerminateThread(h, 0), ERROR_INVALID_HANDLE);
    }
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_FAILS(TerminateProcess(reinterpret_cast<HANDLE>(uintptr_t(0x40)), 1), ERROR_INVALID_HANDLE);
    // The pseudo-handle cannot be waited for or closed; OpenThread refuses
    // an id that names no thread of this process.
    EXPECT_EQ(WaitForSingleObject(GetCurrentThread(), 0), WAIT_FAILED);
    EXPECT_FAILS(OpenThread(THREAD_ALL_ACCESS, FALSE, 0), ERROR_INVALID_PARAMETER);
    EXPECT_FAILS(OpenThread(THREAD_ALL_ACCESS, FALSE, 0x7FFFFFF0), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(CloseHandle(GetCurrentThread()));
    EXPECT_FALSE(CloseHandle(GetCurrentProcess()));
    EXPECT_EXIT(TerminateProcess(GetCurrentProcess(), 3), ::testing::ExitedWithCode(3), "");
}

// Threads start and end while others suspend and resume one spinning
// thread: every count stays in range and no handle is left behind.
TEST(PlatformThreads, ConcurrentControlStartAndEnd) {
    zvtest::Watchdog watchdog(120);
    size_t openBefore = zvp::OpenHandleCount();
    Spinner spinner;
    HANDLE spinning = Begin(Spin, &spinner);
    ASSERT_NE(spinning, nullptr);
    const int kRounds = zvtest::kThreadSanitizer ? 50 : 300;
    std::vector<std::thread> controllers;
    for (int c = 0; c < 4; ++c)
        controllers.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                ASSERT_NE(SuspendThread(spinning), DWORD(-1));
                // While this suspension stands the count is at least 1.
                DWORD count = ResumeThread(spinning);
                ASSERT_GE(count, 1u);
                ASSERT_LE(count, 4u);
                HANDLE t = Begin([](void* p) -> unsigned { return unsigned(reinterpret_cast<uintptr_t>(p)); },
                                 reinterpret_cast<void*>(uintptr_t(i)));
                ASSERT_NE(t, nullptr);
                // Suspended while it starts (or refused once it has ended).
                if (SuspendThread(t) != DWORD(-1)) {
                    EXPECT_EQ(ResumeThread(t), 1u);
                }
                // Every other handle is closed while its thread may still run.
                if (i % 2) {
                    EXPECT_TRUE(CloseHandle(t));
                } else {
                    ExpectEnds(t, DWORD(i));
                }
            }
        });
    for (auto& t : controllers) t.join();
    EXPECT_EQ(ResumeThread(spinning), 0u);
    EXPECT_TRUE(Runs(spinner));
    spinner.stop = true;
    ExpectEnds(spinning, 77);
    EXPECT_EQ(zvp::OpenHandleCount(), openBefore);
}

}  // namespace

namespace {

// A std::thread that counts until told to stop; its id once it runs.
struct ForeignSpinner {
    Spinner spinner;
    std::atomic<DWORD> id{0};
    std::thread thread{[this] {
        id = GetCurrentThreadId();
        Spin(&spinner);
    }};
    ~ForeignSpinner() {
        spinner.stop = true;
        thread.join();
    }
};

}  // namespace

// Threads the library did not start, the main thread among them, are
// suspended and resumed with Win32's counts, through OpenThread or their
// own pseudo-handle; a thread that suspends itself parks until another
// resumes it; an adopted thread's handle is signalled when it ends.
TEST(PlatformThreads, AnyThreadCanBeSuspended) {
    zvtest::Watchdog watchdog(60);
    {
        ForeignSpinner foreign;
        ASSERT_TRUE(WaitUntil([&] { return foreign.id != 0; }));
        HANDLE handle = OpenThread(THREAD_SUSPEND_RESUME, FALSE, foreign.id);
        ASSERT_NE(handle, nullptr);
        ASSERT_TRUE(Runs(foreign.spinner));
        EXPECT_EQ(SuspendThread(handle), 0u);
        EXPECT_TRUE(Halted(foreign.spinner));
        EXPECT_EQ(SuspendThread(handle), 1u);
        EXPECT_EQ(ResumeThread(handle), 2u);
        EXPECT_TRUE(Halted(foreign.spinner));
        // A second handle to the same thread shares its count.
        HANDLE again = OpenThread(THREAD_SUSPEND_RESUME, FALSE, foreign.id);
        EXPECT_EQ(ResumeThread(again), 1u);
        EXPECT_TRUE(Runs(foreign.spinner));
        EXPECT_EQ(ResumeThread(handle), 0u);
        EXPECT_TRUE(CloseHandle(again));
        EXPECT_TRUE(CloseHandle(handle));
    }
    // The main thread, stopped by another thread while it counts.
    const DWORD mainId = GetCurrentThreadId();
    Spinner mainCount;
    std::atomic<DWORD> counts[3] = {};
    std::atomic<bool> halted{false};
    std::thread controller([&] {
        HANDLE main = OpenThread(THREAD_SUSPEND_RESUME, FALSE, mainId);
        EXPECT_TRUE(Runs(mainCount));
        counts[0] = SuspendThread(main);
        halted = Halted(mainCount);
        counts[1] = ResumeThread(main);
        counts[2] = ResumeThread(main);
        mainCount.stop = true;
        CloseHandle(main);
    });
    while (!mainCount.stop) mainCount.count.fetch_add(1, std::memory_order_relaxed);
    controller.join();
    EXPECT_EQ(counts[0], 0u);
    EXPECT_TRUE(halted);
    EXPECT_EQ(counts[1], 1u);
    EXPECT_EQ(counts[2], 0u);
    // Threads that suspend themselves, a std::thread and the main thread.
    std::atomic<DWORD> selfId{0}, selfResult{99};
    std::thread self([&] {
        selfId = GetCurrentThreadId();
        selfResult = SuspendThread(GetCurrentThread());
    });
    ASSERT_TRUE(WaitUntil([&] { return selfId != 0; }));
    HANDLE selfHandle = OpenThread(THREAD_ALL_ACCESS, FALSE, selfId);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(selfResult, 99u);  // still parked
    ASSERT_TRUE(WaitUntil([&] { return ResumeThread(selfHandle) == 1; }));
    self.join();
    EXPECT_EQ(selfResult, 0u);
    EXPECT_EQ(WaitForSingleObject(selfHandle, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(selfHandle));
    std::atomic<bool> mainResumed{false};
    std::thread resumer([&] {
        HANDLE main = OpenThread(THREAD_SUSPEND_RESUME, FALSE, mainId);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(mainResumed);
        EXPECT_TRUE(WaitUntil([&] { return ResumeThread(main) == 1; }));
        CloseHandle(main);
    });
    EXPECT_EQ(SuspendThread(GetCurrentThread()), 0u);
    mainResumed = true;
    resumer.join();
}
