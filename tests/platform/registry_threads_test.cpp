// Many threads of one process on one registry: each works a subtree of its
// own, all of them race on a shared key that one thread keeps deleting and
// making again.  Bounded in time; a watchdog ends a hung run.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "registry_util.h"
#include "support.h"

using regtest::KeyExists;
using regtest::QueryString;
using regtest::SetString;

namespace {

class Watchdog {
  public:
    explicit Watchdog(std::chrono::seconds limit)
        : thread_([this, limit] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!done_.wait_for(lock, limit, [this] { return finished_; })) {
                  fprintf(stderr, "registry stress test hung\n");
                  abort();
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finished_ = true;
        }
        done_.notify_all();
        thread_.join();
    }

  private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};

TEST(RegistryThreads, ManyThreadsShareOneStore) {
    zvtest::TempDir dir;
    regtest::UseRegistry(dir.file("registry.db"));
    Watchdog watchdog(std::chrono::seconds(120));
    HKEY shared = regtest::CreateKey(HKEY_LOCAL_MACHINE, "Software\\Shared");
    const int kThreads = 8;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    std::atomic<int> errors{0};
    std::atomic<long> operations{0};
    std::mutex reportLock;
    std::string firstError;
    auto fail = [&](const std::string& what) {
        if (errors++ == 0) {
            std::lock_guard<std::mutex> lock(reportLock);
            firstError = what;
        }
    };

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const std::string own = "Software\\T" + std::to_string(t);
            for (int round = 0; std::chrono::steady_clock::now() < deadline; ++round) {
                const std::string tag = std::to_string(round);
                if (t == 0) {
                    // Churn: make the shared subkey, fill it, take it away.
                    HKEY churn = nullptr;
                    LSTATUS status = RegCreateKeyExA(shared, "Churn", 0, nullptr, 0,
                                                     KEY_ALL_ACCESS, nullptr, &churn, nullptr);
                    if (status != ERROR_SUCCESS) fail("create churn " + std::to_string(status));
                    if (churn) {
                        status = SetString(churn, "v", "churn" + tag);
                        if (status != ERROR_SUCCESS) fail("set churn " + std::to_string(status));
                        RegCloseKey(churn);
                    }
                    status = RegDeleteKeyA(shared, "Churn");
                    if (status != ERROR_SUCCESS)
                        fail("delete churn " + std::to_string(status));
                    ++operations;
                    continue;
                }
                // A key of this thread's own: everything must succeed and read back.
                const std::string path = own + "\\K" + tag;
                HKEY key = nullptr;
                DWORD disposition = 0;
                LSTATUS status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &key, &disposition);
                if (status != ERROR_SUCCESS || disposition != REG_CREATED_NEW_KEY) {
                    fail("create own " + std::to_string(status));
                    continue;
                }
                if (SetString(key, "v", tag) != ERROR_SUCCESS) fail("set own");
                if (QueryString(key, "v") != tag) fail("read own");
                RegCloseKey(key);
                if (RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str()) != ERROR_SUCCESS)
                    fail("delete own");
                if (KeyExists(HKEY_LOCAL_MACHINE, path)) fail("own key still there");
                // The shared key: a value per thread, and the churning subkey
                // seen whole or not at all.
                if (SetString(shared, ("t" + std::to_string(t)).c_str(), tag) != ERROR_SUCCESS)
                    fail("set shared");
                HKEY churn = nullptr;
                status = RegOpenKeyExA(shared, "Churn", 0, KEY_READ, &churn);
                if (status == ERROR_SUCCESS) {
                    std::string value = QueryString(churn, "v", &status);
                    if (status == ERROR_SUCCESS && value.compare(0, 5, "churn") != 0)
                        fail("churn value " + value);
                    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND &&
                        status != ERROR_KEY_DELETED)
                        fail("query churn " + std::to_string(status));
                    RegCloseKey(churn);
                } else if (status != ERROR_FILE_NOT_FOUND) {
                    fail("open churn " + std::to_string(status));
                }
                ++operations;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(0, errors.load()) << firstError;
    EXPECT_GT(operations.load(), kThreads);
    // Every thread's last value is there, and nothing of their own keys.
    std::vector<std::string> names = regtest::ValueNames(shared);
    EXPECT_EQ(size_t(kThreads - 1), names.size());
    for (int t = 1; t < kThreads; ++t) {
        HKEY own = nullptr;
        if (regtest::OpenKey(HKEY_LOCAL_MACHINE, "Software\\T" + std::to_string(t), &own) ==
            ERROR_SUCCESS) {
            EXPECT_TRUE(regtest::Subkeys(own).empty());
            RegCloseKey(own);
        }
    }
    RegCloseKey(shared);
}

}  // namespace
