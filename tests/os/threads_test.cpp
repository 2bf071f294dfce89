// Threads and the end of the process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/win32.h"
#include "support.h"
#include "watchdog.h"
#include "zv.h"

namespace {

using zvtest::WaitUntil;

struct Busy {
    std::atomic<long> counter{0};
    std::atomic<bool> stop{false};
    static uint32_t ZV_STDCALL Run(void* p) {
        auto* self = static_cast<Busy*>(p);
        while (!self->stop.load(std::memory_order_relaxed)) self->counter.fetch_add(1, std::memory_order_relaxed);
        return 0;
    }
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

DWORD ExitCodeOf(ZVHANDLE thread) {
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    return code;
}

TEST(Threads, CreatedThreadRunsAtOnceAndReportsItsResult) {
    zvtest::Watchdog watchdog(60);
    struct Arg {
        std::atomic<uint32_t> id{0};
    } arg;
    ZVHANDLE thread = ZVCreateThread(
        0,
        [](void* p) -> uint32_t {
            static_cast<Arg*>(p)->id = ZVGetCurrentThreadId();
            return 0x1234;
        },
        &arg);
    ASSERT_NE(thread, nullptr);
    // No resume is needed: the thread was never suspended.
    EXPECT_EQ(ZVResumeThread(thread), 0u);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCodeOf(thread), 0x1234u);
    EXPECT_NE(arg.id.load(), 0u);
    EXPECT_NE(arg.id.load(), ZVGetCurrentThreadId());
    EXPECT_NE(ZVCloseThreadHandle(thread), 0);
    EXPECT_EQ(ZVCloseThreadHandle(thread), 0);

    EXPECT_EQ(ZVCreateThread(0, nullptr, nullptr), nullptr);
}

TEST(Threads, ThreadIdsAreTheKernelsAndStable) {
    uint32_t id = ZVGetCurrentThreadId();
    EXPECT_EQ(id, uint32_t(syscall(SYS_gettid)));
    EXPECT_EQ(ZVGetCurrentThreadId(), id);
    std::atomic<uint32_t> other{0};
    std::thread t([&] { other = ZVGetCurrentThreadId(); });
    t.join();
    EXPECT_NE(other.load(), 0u);
    EXPECT_NE(other.load(), id);
}

TEST(Threads, SuspendCountsAndABusyThreadStops) {
    zvtest::Watchdog watchdog(60);
    Busy busy;
    ZVHANDLE thread = ZVCreateThread(0, Busy::Run, &busy);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(busy.Advancing());
    EXPECT_EQ(ZVSuspendThread(thread), 0u);
    EXPECT_EQ(ZVSuspendThread(thread), 1u);
    EXPECT_TRUE(busy.Still());
    EXPECT_EQ(ZVResumeThread(thread), 2u);
    EXPECT_TRUE(busy.Still());
    EXPECT_EQ(ZVResumeThread(thread), 1u);
    EXPECT_TRUE(busy.Advancing());
    busy.stop = true;
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_NE(ZVCloseThreadHandle(thread), 0);

    ZVHANDLE bogus = reinterpret_cast<ZVHANDLE>(uintptr_t(0x7770));
    EXPECT_EQ(ZVSuspendThread(bogus), 0xFFFFFFFFu);
    EXPECT_EQ(ZVResumeThread(bogus), 0xFFFFFFFFu);
    EXPECT_EQ(ZVSuspendThread(thread), 0xFFFFFFFFu);  // closed
    EXPECT_EQ(ZVTerminateThread(bogus, 1), 0);
}

TEST(Threads, ExitAndTerminateCodesAreWhatTheSystemReports) {
    zvtest::Watchdog watchdog(60);
    ZVHANDLE exiting = ZVCreateThread(
        0,
        [](void*) -> uint32_t {
            ZVExitThread(0xABCD);
        },
        nullptr);
    ASSERT_NE(exiting, nullptr);
    EXPECT_EQ(WaitForSingleObject(exiting, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCodeOf(exiting), 0xABCDu);
    EXPECT_NE(ZVCloseThreadHandle(exiting), 0);

    Busy busy;
    ZVHANDLE busyThread = ZVCreateThread(64 * 1024, Busy::Run, &busy);
    ASSERT_NE(busyThread, nullptr);
    ASSERT_TRUE(busy.Advancing());
    EXPECT_NE(ZVTerminateThread(busyThread, 0xFEED), 0);
    EXPECT_EQ(WaitForSingleObject(busyThread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCodeOf(busyThread), 0xFEEDu);
    EXPECT_TRUE(busy.Still());
    EXPECT_NE(ZVCloseThreadHandle(busyThread), 0);
}

TEST(Threads, ClosingTheHandleLeavesTheThreadRunning) {
    zvtest::Watchdog watchdog(60);
    static Busy busy;  // outlives the test: nothing joins the thread
    ZVHANDLE thread = ZVCreateThread(0, Busy::Run, &busy);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(ZVCloseThreadHandle(thread), 0);
    EXPECT_TRUE(busy.Advancing());
    EXPECT_TRUE(busy.Advancing());
    busy.stop = true;
    EXPECT_TRUE(WaitUntil([&] { return busy.Still(); }));
}

TEST(Threads, CurrentThreadPseudoHandle) {
    ZVHANDLE self = ZVGetCurrentThread();
    EXPECT_NE(self, nullptr);
    std::atomic<ZVHANDLE> other{nullptr};
    std::thread t([&] { other = ZVGetCurrentThread(); });
    t.join();
    // The same value in every thread: it means "the calling thread".
    EXPECT_EQ(other.load(), self);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(self, &code));
    EXPECT_EQ(code, DWORD(STILL_ACTIVE));
}

TEST(Threads, SleepWaitsAtLeastItsTime) {
    auto start = std::chrono::steady_clock::now();
    ZVSleep(30);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

// What ZVExitProcess must skip, armed only in the dying child.
std::string g_markerDir;
bool g_armed = false;

void WriteMarker(const char* name) {
    std::string path = g_markerDir + "/" + name;
    int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0600);
    if (fd >= 0) close(fd);
}

struct UnloadProbe {
    ~UnloadProbe() {
        if (g_armed) WriteMarker("static-destructor");
    }
} g_unloadProbe;

__attribute__((destructor)) void ModuleUnloadProbe() {
    if (g_armed) WriteMarker("unload");
}

bool Exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

TEST(Threads, ExitProcessSkipsAtexitUnloadAndFlushing) {
    zvtest::TempDir dir;
    g_markerDir = dir.path();
    std::string buffered = dir.file("buffered.txt");
    EXPECT_EXIT(
        {
            g_armed = true;
            atexit([] { WriteMarker("atexit"); });
            FILE* file = fopen(buffered.c_str(), "w");
            static char buffer[4096];
            setvbuf(file, buffer, _IOFBF, sizeof(buffer));
            fputs("never flushed", file);
            // Another thread running does not keep the process alive.
            std::thread([] {
                for (;;) ZVSleep(1000);
            }).detach();
            ZVExitProcess();
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_FALSE(Exists(dir.file("atexit")));
    EXPECT_FALSE(Exists(dir.file("unload")));
    EXPECT_FALSE(Exists(dir.file("static-destructor")));
    ASSERT_TRUE(Exists(buffered));
    struct stat info;
    ASSERT_EQ(stat(buffered.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 0);
}

}  // namespace
