// bench_support.h - what every lock benchmark here needs: a second thread
// kept alive for the whole run.  glibc drops the lock prefix of its own
// locks while a process has a single thread, which would flatter the
// pthread baselines.
#ifndef ZV_BENCH_SUPPORT_H
#define ZV_BENCH_SUPPORT_H

#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "zv.h"

namespace zvbench {

class SecondThread {
  public:
    SecondThread()
        : thread_([this] {
              std::unique_lock<std::mutex> guard(lock_);
              done_.wait(guard, [this] { return stop_; });
          }) {}
    ~SecondThread() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            stop_ = true;
        }
        done_.notify_all();
        thread_.join();
    }

  private:
    std::mutex lock_;
    std::condition_variable done_;
    bool stop_ = false;
    std::thread thread_;
};

// Unnamed automatic-reset events between two threads: the benchmark thread
// sets "ping" and waits for "pong"; a partner thread answers each ping.  One
// iteration is one full round trip.
inline void EventPingPongTwoThreads(benchmark::State& state) {
    ZVHANDLE ping = ZVCreateEvent(0, 0, nullptr);
    ZVHANDLE pong = ZVCreateEvent(0, 0, nullptr);
    std::atomic<bool> stop{false};
    std::thread partner([&] {
        for (;;) {
            ZVWaitForEvent(ping);
            if (stop) return;
            ZVSetEvent(pong);
        }
    });
    for (auto _ : state) {
        ZVSetEvent(ping);
        ZVWaitForEvent(pong);
    }
    stop = true;
    ZVSetEvent(ping);
    partner.join();
    ZVCloseEvent(ping);
    ZVCloseEvent(pong);
}

}  // namespace zvbench

// The benchmark program's main, with the second thread alive throughout.
#define ZV_BENCHMARK_MAIN()                                                   \
    int main(int argc, char** argv) {                                         \
        zvbench::SecondThread second;                                         \
        benchmark::Initialize(&argc, argv);                                   \
        if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;     \
        benchmark::RunSpecifiedBenchmarks();                                  \
        benchmark::Shutdown();                                                \
        return 0;                                                             \
    }

#endif  // ZV_BENCH_SUPPORT_H
