// watchdog.h - ends a test process that runs past its time limit, so that a
// lost wake-up or a deadlock shows as a failure instead of a hang.
#ifndef ZV_TEST_WATCHDOG_H
#define ZV_TEST_WATCHDOG_H

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <chrono>
#include <thread>

namespace zvtest {

#if defined(_WIN32)
// Windows: a timer of the process's timer queue; a nested watchdog's timer
// runs beside the outer one.
class Watchdog {
  public:
    explicit Watchdog(int seconds, const char* what = "test") {
        snprintf(message_, sizeof message_, "watchdog: %s did not finish within %d s\n", what, seconds);
        if (!CreateTimerQueueTimer(&timer_, nullptr, Fire, message_, DWORD(seconds) * 1000, 0,
                                   WT_EXECUTEONLYONCE))
            abort();
    }
    ~Watchdog() { DeleteTimerQueueTimer(nullptr, timer_, INVALID_HANDLE_VALUE); }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

  private:
    static void CALLBACK Fire(void* message, BOOLEAN) {
        fputs(static_cast<const char*>(message), stderr);
        fflush(stderr);
        abort();
    }
    char message_[160];
    HANDLE timer_ = nullptr;
};
#else
// Holds the process's alarm while it lives: when the alarm goes off, the
// process says what did not finish and aborts.  A nested watchdog gives the
// alarm back to the one around it.
class Watchdog {
  public:
    explicit Watchdog(int seconds, const char* what = "test") : outer_(alarm(0)) {
        snprintf(message_, sizeof message_, "watchdog: %s did not finish within %d s\n", what, seconds);
        signal(SIGALRM, [](int) {
            if (write(STDERR_FILENO, message_, strlen(message_)) < 0) _exit(134);
            abort();
        });
        alarm(unsigned(seconds));
    }
    ~Watchdog() { alarm(outer_); }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

  private:
    static inline char message_[160];
    unsigned outer_;
};
#endif

// Polls `condition` until it holds or `seconds` pass; returns whether it held.
template <class Condition>
bool WaitUntil(Condition condition, int seconds = 20) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (; !condition(); std::this_thread::sleep_for(std::chrono::microseconds(200)))
        if (std::chrono::steady_clock::now() > deadline) return false;
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
