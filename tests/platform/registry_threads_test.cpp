// Many threads of one process on one registry: each works keys of its own,
// and all of them race on a shared key whose subkey one thread keeps making
// and deleting.  Bounded in time; a watchdog ends a hung run.
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
