// watchdog.h - ends a test process that runs past its time limit, so that a
// lost wake-up or a deadlock shows as a failure instead of a hang.
#ifndef ZV_TEST_WATCHDOG_H
#define ZV_TEST_WATCHDOG_H

#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace zvtest {

class Watchdog {
  public:
    explicit Watchdog(int seconds, const char* what = "test")
        : thread_([this, seconds, what] {
              std::unique_lock<std::mutex> guard(lock_);
              if (!done_.wait_for(guard, std::chrono::seconds(seconds), [this] { return stopped_; })) {
                  fprintf(stderr, "watchdog: %s did not finish within %d s\n", what, seconds);
                  fflush(stderr);
                  abort();
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            stopped_ = true;
        }
        done_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

  private:
    std::mutex lock_;
    std::condition_variable done_;
    bool stopped_ = false;
    std::thread thread_;
};

// Polls `condition` until it holds or `seconds` pass; returns whether it held.
template <class Condition>
bool WaitUntil(Condition condition, int seconds = 20) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// True in a ThreadSanitizer build, where stress loops run shorter.
constexpr bool kThreadSanitizer =
#if defined(__SANITIZE_THREAD__)
    true;
#else
    false;
#endif

}  // namespace zvtest

#endif  // ZV_TEST_WATCHDOG_H
