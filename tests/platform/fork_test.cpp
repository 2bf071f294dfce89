// fork() from a process whose threads keep every service busy: the child's
// first call of each kind returns.  A child that hangs is ended by its own
// alarm and counts as a failure.
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "platform/posix/waitable.h"
#include "platform_util.h"
#include "support.h"
#include "watchdog.h"

namespace {

unsigned ZV_STDCALL Quick(void*) { return 5; }

// One round of every service the layer and the library lock: handles and
// events (named and not), semaphore names, threads, the registry, debug
// output, trace output, the task allocator, modules and the ZCom lock.
// Returns a bit for each kind of call that failed.
int UseEveryService(int round) {
    int failed = 0;
    auto check = [&](bool ok, int bit) { failed |= ok ? 0 : 1 << bit; };
    HANDLE event = CreateEventA(nullptr, round % 2, FALSE, round % 2 ? "zv-fork-event" : nullptr);
    check(event && SetEvent(event) && WaitForSingleObject(event, 1000) == WAIT_OBJECT_0 && CloseHandle(event), 0);
    HANDLE semaphore = CreateSemaphoreA(nullptr, 1, 1, "zv-fork-semaphore");
    check(semaphore && CloseHandle(semaphore), 1);
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Quick, nullptr, 0, nullptr));
    check(thread && WaitForSingleObject(thread, 5000) == WAIT_OBJECT_0 && CloseHandle(thread), 2);
    HKEY key = nullptr;
    check(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Fork", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                          nullptr) == ERROR_SUCCESS &&
              RegSetValueExA(key, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2) == ERROR_SUCCESS &&
              RegCloseKey(key) == ERROR_SUCCESS,
          3);
    OutputDebugStringA("fork test\n");
    ZVTraceA("fork test %d\n", round);
    IMalloc* allocator = nullptr;
    check(CoGetMalloc(MEMCTX_TASK, &allocator) == S_OK, 4);
    if (allocator) {
        void* block = allocator->Alloc(16);
        allocator->Free(block);
        allocator->Release();
    }
    HMODULE module = LoadLibraryA(ZV_TEST_LIBRARY_PATH);
    check(module && FreeLibrary(module), 5);
    check(ZVInitializeZCom() >= 0, 6);
    ZVUninitializeZCom();
    return failed;
}

// The sanitizers' own runtimes are not fork-safe here: a child forked while
// a parent thread refills the address sanitizer's allocator hangs inside
// it, and the thread sanitizer refuses threads in such a child.
constexpr bool kSanitized =
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    true;
#elif defined(__has_feature)
    __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
    false;
#endif

TEST(PlatformFork, ChildCallsWorkWhileThreadsUseEveryService) {
    if (kSanitized) GTEST_SKIP() << "the sanitizer runtimes hang or refuse threads in such a child";
    zvtest::Watchdog watchdog(120);
    zvtest::TempDir dir;
    setenv("ZV_DEBUG_OUTPUT", dir.file("debug.txt").c_str(), 1);
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int round = t; !stop; ++round)
                if (int failed = UseEveryService(round)) {
                    ++failures;
                    ADD_FAILURE() << "calls failed in the parent: " << failed;
                }
        });
    // The handle table's lock is held only for moments: churn it hard.
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([&] {
            while (!stop) CloseHandle(CreateEventA(nullptr, FALSE, FALSE, nullptr));
        });
    const int forks = 300;
    const auto start = std::chrono::steady_clock::now();
    int done = 0, hung = 0, failed = 0;
    for (; done < forks && std::chrono::steady_clock::now() - start < std::chrono::seconds(40); ++done) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            alarm(10);
            _exit(UseEveryService(done) | UseEveryService(done + 1));
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        if (WIFSIGNALED(status)) ++hung;
        else if (WEXITSTATUS(status) != 0) ADD_FAILURE() << "calls failed in a child: " << WEXITSTATUS(status), ++failed;
    }
    stop = true;
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(hung, 0) << "of " << done << " children";
    EXPECT_EQ(failed, 0) << "of " << done << " children";
    EXPECT_EQ(failures, 0);
    EXPECT_GE(done, 20);
}

}  // namespace
