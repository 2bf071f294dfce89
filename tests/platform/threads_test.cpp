// Threads of the emulated machine: creation, exit codes, waitable handles,
// suspension, termination, sleeping and the end of the process.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/posix/waitable.h"
#include "support.h"
#include "watchdog.h"

namespace {

using zvtest::WaitUntil;

using Start = unsigned(ZV_STDCALL*)(void*);

HANDLE Begin(Start start, void* arg, unsigned flags = 0, unsigned* id = nullptr, unsigned stack = 0) {
    return reinterpret_cast<HANDLE>(_beginthreadex(nullptr, stack, start, arg, flags, id));
}

DWORD ExitCodeOf(HANDLE thread) {
    DWORD code = 0xDEADBEEF;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    return code;
}

// A thread that counts as fast as it can until told to stop.
struct Busy {
    std::atomic<long> counter{0};
    std::atomic<bool> stop{false};
    std::atomic<bool> cleanedUp{false};
    static unsigned ZV_STDCALL Run(void* p) {
        auto* self = static_cast<Busy*>(p);
        struct Cleanup {
            Busy* self;
            ~Cleanup() { self->cleanedUp = true; }
        } cleanup{self};
        while (!self->stop.load(std::memory_order_relaxed)) self->counter.fetch_add(1, std::memory_order_relaxed);
        return 77;
    }
    // Whether the counter moves within a short while.
    bool Advancing() {
        long before = counter.load();
        return WaitUntil([&] { return counter.load() != before; }, 10);
    }
    bool Still() {
        long before = counter.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return counter.load() == before;
    }
};

TEST(PlatformThreads, ExitCodesAndWaitableHandles) {
    zvtest::Watchdog watchdog(60);
    HANDLE gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    struct Arg {
        HANDLE gate;
        unsigned id = 0;
    } arg{gate};
    unsigned reportedId = 0;
    HANDLE thread = Begin(
        [](void* p) -> unsigned {
            auto* a = static_cast<Arg*>(p);
            a->id = GetCurrentThreadId();
            WaitForSingleObject(a->gate, INFINITE);
            return 0xC0DE;
        },
        &arg, 0, &reportedId);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(ExitCodeOf(thread), DWORD(STILL_ACTIVE));
    EXPECT_EQ(WaitForSingleObject(thread, 30), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(gate));
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCodeOf(thread), 0xC0DEu);
    // Thread ids are the kernel's.
    EXPECT_EQ(reportedId, arg.id);
    EXPECT_NE(arg.id, GetCurrentThreadId());
    // The handle stays valid and signalled until it is closed.
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(thread));
    DWORD code = 1;
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(CloseHandle(gate));
}

TEST(PlatformThreads, EndThreadExUnwindsAndKeepsItsCode) {
    zvtest::Watchdog watchdog(60);
    static std::atomic<bool> destroyed{false};
    HANDLE thread = Begin(
        [](void*) -> unsigned {
            struct Local {
                ~Local() { destroyed = true; }
            } local;
            _endthreadex(4242);
        },
        nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCodeOf(thread), 4242u);
    EXPECT_TRUE(destroyed);
    EXPECT_TRUE(CloseHandle(thread));
}

TEST(PlatformThreads, CreationFailuresAndStackSize) {
    errno = 0;
    EXPECT_EQ(_beginthreadex(nullptr, 0, nullptr, nullptr, 0, nullptr), 0u);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

    // A request above the default is honoured; one below it never shrinks
    // the stack.
    struct Probe {
        size_t size = 0;
        static unsigned ZV_STDCALL Run(void* p) {
            pthread_attr_t attr;
            pthread_getattr_np(pthread_self(), &attr);
            pthread_attr_getstacksize(&attr, &static_cast<Probe*>(p)->size);
            pthread_attr_destroy(&attr);
            return 0;
        }
    };
    pthread_attr_t attr;
    size_t standard = 0;
    pthread_attr_init(&attr);
    pthread_attr_getstacksize(&attr, &standard);
    pthread_attr_destroy(&attr);
    for (unsigned request : {4096u, unsigned(standard) + 4 * 1024 * 1024 + 123}) {
        Probe probe;
        HANDLE thread = Begin(Probe::Run, &probe, 0, nullptr, request);
        ASSERT_NE(thread, nullptr);
        EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
        EXPECT_GE(probe.size, std::max<size_t>(request, standard));
        EXPECT_TRUE(CloseHandle(thread));
    }
}

TEST(PlatformThreads, ThreadRunsOnAfterItsHandleIsClosed) {
    zvtest::Watchdog watchdog(60);
    size_t openBefore = zvp::OpenHandleCount();
    HANDLE gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE events[2] = {gate, done};
    HANDLE thread = Begin(
        [](void* p) -> unsigned {
            auto* e = static_cast<HANDLE*>(p);
            WaitForSingleObject(e[0], INFINITE);
            SetEvent(e[1]);
            return 0;
        },
        events);
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_TRUE(SetEvent(gate));
    EXPECT_EQ(WaitForSingleObject(done, 20000), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(gate));
    EXPECT_TRUE(CloseHandle(done));
    EXPECT_EQ(zvp::OpenHandleCount(), openBefore);
}

TEST(PlatformThreads, SuspendStopsABusyThreadUntilResumed) {
    zvtest::Watchdog watchdog(60);
    Busy busy;
    HANDLE thread = Begin(Busy::Run, &busy);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(busy.Advancing());
    EXPECT_EQ(ResumeThread(thread), 0u);  // not suspended: nothing to undo

    EXPECT_EQ(SuspendThread(thread), 0u);
    EXPECT_TRUE(busy.Still());
    EXPECT_EQ(SuspendThread(thread), 1u);
    EXPECT_EQ(ResumeThread(thread), 2u);
    EXPECT_TRUE(busy.Still());
    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_TRUE(busy.Advancing());
    EXPECT_EQ(ResumeThread(thread), 0u);

    // Suspend counts end at MAXIMUM_SUSPEND_COUNT.
    for (DWORD i = 0; i < MAXIMUM_SUSPEND_COUNT; ++i) ASSERT_EQ(SuspendThread(thread), i);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(SuspendThread(thread), DWORD(-1));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SIGNAL_REFUSED));
    for (DWORD i = MAXIMUM_SUSPEND_COUNT; i > 0; --i) ASSERT_EQ(ResumeThread(thread), i);
    EXPECT_TRUE(busy.Advancing());

    busy.stop = true;
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCodeOf(thread), 77u);
    // A thread that has ended can no longer be suspended; resuming it
    // reports its count.
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(SuspendThread(thread), DWORD(-1));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(ResumeThread(thread), 0u);
    EXPECT_TRUE(CloseHandle(thread));
}

TEST(PlatformThreads, SuspendAThreadBlockedInAWait) {
    zvtest::Watchdog watchdog(60);
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int> passed{0};
    struct Arg {
        HANDLE event;
        std::atomic<int>* passed;
    } arg{event, &passed};
    HANDLE thread = Begin(
        [](void* p) -> unsigned {
            auto* a = static_cast<Arg*>(p);
            EXPECT_EQ(WaitForSingleObject(a->event, INFINITE), WAIT_OBJECT_0);
            ++*a->passed;
            return 0;
        },
        &arg);
    ASSERT_TRUE(WaitUntil([&] { return zvp::WaitingThreads(event) == 1; }));
    EXPECT_EQ(SuspendThread(thread), 0u);
    // The wake is handed to the waiter, which cannot run until resumed.
    EXPECT_TRUE(SetEvent(event));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(passed, 0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(passed, 1);
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_TRUE(CloseHandle(event));
}

TEST(PlatformThreads, CreatedSuspendedWaitsForTheFirstResume) {
    zvtest::Watchdog watchdog(60);
    std::atomic<bool> ran{false};
    HANDLE thread = Begin(
        [](void* p) -> unsigned {
            static_cast<std::atomic<bool>*>(p)->store(true);
            return 5;
        },
        &ran, CREATE_SUSPENDED);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 50), WAIT_TIMEOUT);
    EXPECT_FALSE(ran);
    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(ran);
    EXPECT_EQ(ExitCodeOf(thread), 5u);
    EXPECT_TRUE(CloseHandle(thread));
}

TEST(PlatformThreads, SelfSuspensionThroughThePseudoHandle) {
    zvtest::Watchdog watchdog(60);
    std::atomic<int> stage{0};
    HANDLE thread = Begin(
        [](void* p) -> unsigned {
            auto* s = static_cast<std::atomic<int>*>(p);
            DWORD code = 0;
            EXPECT_TRUE(GetExitCodeThread(GetCurrentThread(), &code));
            EXPECT_EQ(code, DWORD(STILL_ACTIVE));
            s->store(1);
            EXPECT_EQ(SuspendThread(GetCurrentThread()), 0u);
            s->store(2);
            return 0;
        },
        &stage);
    ASSERT_TRUE(WaitUntil([&] { return stage == 1; }));
    // Parked in its own SuspendThread: the count shows it.
    ASSERT_TRUE(WaitUntil([&] {
        DWORD count = SuspendThread(thread);
        if (count == 0) ResumeThread(thread);  // not parked yet: undo
        else EXPECT_EQ(ResumeThread(thread), count + 1);
        return count == 1;
    }));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(stage, 1);
    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(stage, 2);
    EXPECT_TRUE(CloseHandle(thread));

    // The pseudo-handle of a thread not started here: it is running, but
    // there is nothing to suspend or wait for, and nothing to close.
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(GetCurrentThread(), &code));
    EXPECT_EQ(code, DWORD(STILL_ACTIVE));
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(SuspendThread(GetCurrentThread()), DWORD(-1));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_EQ(ResumeThread(GetCurrentThread()), DWORD(-1));
    EXPECT_FALSE(TerminateThread(GetCurrentThread(), 1));
    EXPECT_EQ(WaitForSingleObject(GetCurrentThread(), 0), WAIT_FAILED);
    EXPECT_FALSE(CloseHandle(GetCurrentThread()));
    EXPECT_FALSE(CloseHandle(GetCurrentProcess()));
}

TEST(PlatformThreads, TerminateRunsNoCodeOfTheThread) {
    zvtest::Watchdog watchdog(60);
    // A busy thread.
    Busy busy;
    HANDLE thread = Begin(Busy::Run, &busy);
    ASSERT_TRUE(busy.Advancing());
    EXPECT_TRUE(TerminateThread(thread, 31));
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCodeOf(thread), 31u);
    EXPECT_TRUE(busy.Still());
    EXPECT_FALSE(busy.cleanedUp);  // no unwinding
    // Terminating again changes nothing.
    EXPECT_TRUE(TerminateThread(thread, 99));
    EXPECT_EQ(ExitCodeOf(thread), 31u);
    EXPECT_TRUE(CloseHandle(thread));

    // A suspended thread.
    Busy parked;
    thread = Begin(Busy::Run, &parked);
    ASSERT_TRUE(parked.Advancing());
    EXPECT_EQ(SuspendThread(thread), 0u);
    EXPECT_TRUE(TerminateThread(thread, 32));
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCodeOf(thread), 32u);
    EXPECT_FALSE(parked.cleanedUp);
    EXPECT_TRUE(CloseHandle(thread));

    // A thread blocked in a wait leaves the wait's queue: the next set of
    // an automatic-reset event is not lost to it.
    HANDLE never = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    thread = Begin([](void* e) -> unsigned { return WaitForSingleObject(e, INFINITE); }, never);
    ASSERT_TRUE(WaitUntil([&] { return zvp::WaitingThreads(never) == 1; }));
    EXPECT_TRUE(TerminateThread(thread, 33));
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCodeOf(thread), 33u);
    EXPECT_EQ(zvp::WaitingThreads(never), 0u);
    EXPECT_TRUE(SetEvent(never));
    EXPECT_EQ(WaitForSingleObject(never, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(thread));
    // The same for a thread suspended while it waits.
    thread = Begin([](void* e) -> unsigned { return WaitForSingleObject(e, INFINITE); }, never);
    ASSERT_TRUE(WaitUntil([&] { return zvp::WaitingThreads(never) == 1; }));
    EXPECT_EQ(SuspendThread(thread), 0u);
    EXPECT_TRUE(TerminateThread(thread, 36));
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCodeOf(thread), 36u);
    EXPECT_TRUE(SetEvent(never));
    EXPECT_EQ(WaitForSingleObject(never, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(thread));
    // One created suspended.
    thread = Begin([](void*) -> unsigned { return 1; }, nullptr, CREATE_SUSPENDED);
    EXPECT_TRUE(TerminateThread(thread, 34));
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCodeOf(thread), 34u);
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_TRUE(CloseHandle(never));

    // A thread ending itself.
    static std::atomic<bool> unwound{false};
    thread = Begin(
        [](void*) -> unsigned {
            struct Local {
                ~Local() { unwound = true; }
            } local;
            TerminateThread(GetCurrentThread(), 35);
            return 0;
        },
        nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCodeOf(thread), 35u);
    EXPECT_FALSE(unwound);
    EXPECT_TRUE(CloseHandle(thread));

    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(TerminateThread(reinterpret_cast<HANDLE>(uintptr_t(0x1230)), 1));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST(PlatformThreads, ControlCallsRejectHandlesOfOtherKinds) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    for (HANDLE h : {event, HANDLE(nullptr), INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(uintptr_t(0x5550))}) {
        DWORD code = 0;
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(SuspendThread(h), DWORD(-1));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(ResumeThread(h), DWORD(-1));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(GetExitCodeThread(h, &code));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(TerminateThread(h, 0));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    }
    EXPECT_TRUE(CloseHandle(event));
}

TEST(PlatformThreads, ManyControllersSuspendAndResumeOneThread) {
    zvtest::Watchdog watchdog(120);
    Busy busy;
    HANDLE thread = Begin(Busy::Run, &busy);
    ASSERT_NE(thread, nullptr);
    const int kRounds = zvtest::kThreadSanitizer ? 100 : 500;
    std::vector<std::thread> controllers;
    for (int c = 0; c < 4; ++c)
        controllers.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                DWORD before = SuspendThread(thread);
                ASSERT_NE(before, DWORD(-1));
                // While any suspension stands the count is at least 1.
                DWORD count = ResumeThread(thread);
                ASSERT_GE(count, 1u);
                ASSERT_LE(count, 4u);
            }
        });
    for (auto& t : controllers) t.join();
    EXPECT_EQ(ResumeThread(thread), 0u);
    EXPECT_TRUE(busy.Advancing());
    busy.stop = true;
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(busy.cleanedUp);
    EXPECT_TRUE(CloseHandle(thread));
}

TEST(PlatformThreads, ManyThreadsStartAndEndConcurrently) {
    zvtest::Watchdog watchdog(120);
    size_t openBefore = zvp::OpenHandleCount();
    const int kThreads = zvtest::kThreadSanitizer ? 50 : 400;
    std::vector<HANDLE> threads;
    for (int i = 0; i < kThreads; ++i) {
        HANDLE t = Begin([](void* p) -> unsigned { return unsigned(reinterpret_cast<uintptr_t>(p)); },
                         reinterpret_cast<void*>(uintptr_t(i)));
        ASSERT_NE(t, nullptr);
        threads.push_back(t);
        // Close every other handle while the thread may still run.
        if (i % 2) {
            EXPECT_TRUE(CloseHandle(t));
            threads.back() = nullptr;
        }
    }
    for (int i = 0; i < kThreads; ++i) {
        if (!threads[i]) continue;
        EXPECT_EQ(WaitForSingleObject(threads[i], INFINITE), WAIT_OBJECT_0);
        EXPECT_EQ(ExitCodeOf(threads[i]), DWORD(i));
        EXPECT_TRUE(CloseHandle(threads[i]));
    }
    EXPECT_EQ(zvp::OpenHandleCount(), openBefore);
}

TEST(PlatformThreads, SleepWaitsAtLeastItsTime) {
    auto start = std::chrono::steady_clock::now();
    Sleep(40);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
    Sleep(0);
}

TEST(PlatformThreads, TerminateProcess) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(TerminateProcess(reinterpret_cast<HANDLE>(uintptr_t(0x40)), 1));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_EXIT(TerminateProcess(GetCurrentProcess(), 3), ::testing::ExitedWithCode(3), "");
}

}  // namespace
