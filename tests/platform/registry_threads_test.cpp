// Many threads of one process on one registry: each works keys of its own,
// and all of them race on a shared key, walking its values through one
// handle while one thread keeps making and deleting its subkey.  Bounded in time; a watchdog ends a hung run.
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "registry_util.h"
#include "watchdog.h"

TEST(RegistryThreads, ManyThreadsShareOneStore) {
    zvtest::TempDir dir;
    UseRegistry(dir.file("registry.db"));
    zvtest::Watchdog watchdog(120, "registry stress test");
    const HKEY shared = CreateKey(kMachine, "Software\\Shared");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    std::atomic<int> errors{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; std::chrono::steady_clock::now() < deadline; ++round) {
                const std::string tag = std::to_string(round), name = "t" + std::to_string(t);
                // Thread 0 churns the shared subkey; the others each make, fill,
                // read back and delete a key of their own.
                const std::string path = t ? "Software\\" + name + "\\K" + tag : "Churn";
                HKEY key = nullptr, root = t ? kMachine : shared;
                DWORD made = 0;
                errors += RegCreateKeyExA(root, path.c_str(), 0, 0, 0, KEY_ALL_ACCESS, 0, &key,
                                          &made) || made != REG_CREATED_NEW_KEY;
                errors += SetString(key, "v", "churn" + tag) ||
                          QueryString(key, "v") != "churn" + tag;
                errors += (RegCloseKey(key) | RegDeleteKeyA(root, path.c_str())) != 0;
                if (t == 0) continue;
                errors += OpenKey(kMachine, path) != ERROR_FILE_NOT_FOUND;
                // The shared key: a value per thread, and the churning subkey
                // seen whole or not at all.
                errors += SetString(shared, name.c_str(), tag) != ERROR_SUCCESS;
                // Walks of the shared handle's values from every thread at
                // once: each answer a whole name of the moment.
                for (const std::string& value : Names(shared, true)) errors += value[0] != 't';
                LSTATUS status = OpenKey(shared, "Churn", &key);
                std::string value = status ? "" : QueryString(key, "v", &status);
                errors += status ? status != ERROR_KEY_DELETED && status != ERROR_FILE_NOT_FOUND
                                 : value.compare(0, 5, "churn") != 0;
                RegCloseKey(key);
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(0, errors.load());
    EXPECT_EQ(7u, Names(shared, true).size());  // each thread's last value
}

// The exit status of the child below, set just before it exits.
static int s_exitCode = 0;

// A process that exits while another of its threads is suspended inside a
// registry call, holding the store, does not hang in the store's exit
// handler: it waits a bounded time and leaves the file to SQLite's recovery.
// The child's own handler, registered before the store's and so run after
// it, ends the process there: what runs later (a sanitizer's leak check)
// may need locks the suspended thread holds, as on Windows.
TEST(RegistryThreads, ExitWithAThreadSuspendedInsideACallDoesNotHang) {
    zvtest::TempDir dir;
    int inside = 0;
    for (int round = 0; round < 40 && inside < 3; ++round) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            atexit([] { _exit(s_exitCode); });
            UseRegistry(dir.file("registry.db"));  // the store's first use in this process
            const HKEY key = CreateKey(kMachine, "Software\\Busy");
            auto writer = [](void* key) -> unsigned {
                for (int i = 0;; ++i) SetString(static_cast<HKEY>(key), "v", std::to_string(i));
            };
            HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, writer, key, 0, nullptr));
            Sleep(5 + round % 10);
            SuspendThread(thread);
            s_exitCode = zvp::reg::InsideACallForTesting() ? 10 : 11;
            exit(s_exitCode);
        }
        int status = -1;
        for (int waited = 0; waited < 10000 && waitpid(child, &status, WNOHANG) == 0; waited += 10) Sleep(10);
        if (status == -1) kill(child, SIGKILL), waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status)) << "the process hung at exit (status " << status << ")";
        inside += WEXITSTATUS(status) == 10;
    }
    EXPECT_GE(inside, 1) << "the thread was never suspended inside a call";
    // The file is whole for the next process.
    UseRegistry(dir.file("registry.db"));
    EXPECT_EQ(ERROR_SUCCESS, OpenKey(kMachine, "Software\\Busy"));
}
