// Threads and the end of the process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/win32.h"
#include "support.h"
#include "watchdog.h"
#include "zv.h"

namespace {

// Count moves g_count until g_run is cleared; Exit ends itself with a code.
std::atomic<long> g_count{0};
std::atomic<bool> g_run{true};
uint32_t ZV_STDCALL Count(void*) {
    while (g_run) ++g_count;
    return 0;
}
uint32_t ZV_STDCALL Exit(void*) { ZVExitThread(0xABCD); }

// Whether g_count moves: within 10 s when it should, in 50 ms when it should not.
bool Moves(bool expected) {
    const long before = g_count;
    if (expected) return zvtest::WaitUntil([&] { return g_count != before; }, 10);
    usleep(50000);
    return g_count != before;
}

DWORD ExitCodeOf(ZVHANDLE thread) {
    DWORD code = 0;
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    return code;
}

TEST(Threads, RunSuspendResumeExitAndTerminate) {
    zvtest::Watchdog watchdog(60);
    ZVHANDLE thread = ZVCreateThread(64 * 1024, Count, nullptr), exiting = ZVCreateThread(0, Exit, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(ZVResumeThread(thread), 0u);  // it runs without any resume
    ASSERT_TRUE(Moves(true));
    EXPECT_EQ(ZVSuspendThread(thread), 0u);
    EXPECT_EQ(ZVSuspendThread(thread), 1u);
    EXPECT_FALSE(Moves(false));
    EXPECT_EQ(ZVResumeThread(thread), 2u);
    EXPECT_FALSE(Moves(false));
    EXPECT_EQ(ZVResumeThread(thread), 1u);
    EXPECT_TRUE(Moves(true));
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
    EXPECT_TRUE(Moves(true));
    g_run = false;
    EXPECT_TRUE(zvtest::WaitUntil([] { return !Moves(false); }));
}

// What ZVExitProcess must skip, armed only in the dying child: atexit
// functions, the unload step and the flushing of streams.
char g_markerDir[256];
bool g_armed = false;
void Mark(const char* name) {
    if (g_armed) close(open((std::string(g_markerDir) + "/" + name).c_str(), O_CREAT | O_WRONLY, 0600));
}
__attribute__((destructor)) void UnloadProbe() { Mark("unload"); }

TEST(Threads, ExitProcessSkipsAtexitUnloadAndFlushing) {
    zvtest::TempDir dir;
    snprintf(g_markerDir, sizeof g_markerDir, "%s", dir.path().c_str());
    static char buffer[4096];
    EXPECT_EXIT(
        {
            g_armed = true;
            atexit([] { Mark("atexit"); });
            FILE* file = fopen(dir.file("buffered").c_str(), "w");
            setvbuf(file, buffer, _IOFBF, sizeof buffer);
            fputs("never flushed", file);
            std::thread([] { ZVSleep(INFINITE); }).detach();  // another thread keeps nothing alive
            ZVExitProcess();
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_FALSE(std::filesystem::exists(dir.file("atexit")) || std::filesystem::exists(dir.file("unload")));
    EXPECT_EQ(std::filesystem::file_size(dir.file("buffered")), 0u);
}

}  // namespace
