// The recursive mutex against a recursive pthread mutex and
// std::recursive_mutex, uncontended and with two threads contending, and an
// event round trip between two threads.
//
//   build/bench/mutex_bench --benchmark_repetitions=5
//       --benchmark_report_aggregates_only=true
#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "bench_support.h"
#include "zv.h"

namespace {

// ---- Uncontended: one thread acquires and releases ----------------------

void ZVMutexUncontended(benchmark::State& state) {
    ZVHANDLE mutex = ZVCreateMutex(0);
    for (auto _ : state) {
        ZVAcquireMutex(mutex, 0xFFFFFFFF);
        ZVReleaseMutex(mutex);
    }
    ZVCloseMutex(mutex);
}
BENCHMARK(ZVMutexUncontended);

struct RecursivePthreadMutex {
    pthread_mutex_t mutex;
    RecursivePthreadMutex() {
        pthread_mutexattr_t attr;
        pthread_mutexattr_init(&attr);
        pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
        pthread_mutex_init(&mutex, &attr);
        pthread_mutexattr_destroy(&attr);
    }
    ~RecursivePthreadMutex() { pthread_mutex_destroy(&mutex); }
};

void PthreadRecursiveUncontended(benchmark::State& state) {
    RecursivePthreadMutex m;
    for (auto _ : state) {
        pthread_mutex_lock(&m.mutex);
        pthread_mutex_unlock(&m.mutex);
    }
}
BENCHMARK(PthreadRecursiveUncontended);

void StdRecursiveUncontended(benchmark::State& state) {
    std::recursive_mutex m;
    for (auto _ : state) {
        m.lock();
        m.unlock();
    }
}
BENCHMARK(StdRecursiveUncontended);

// ---- Two threads contending for one lock ---------------------------------
// Each iteration takes the lock, bumps a shared counter and lets go; the
// items-per-second figure is the throughput of the pair.

ZVHANDLE g_zvMutex;
RecursivePthreadMutex* g_pthreadMutex;
std::recursive_mutex g_stdMutex;
long g_counter;

void ZVMutexContended(benchmark::State& state) {
    if (state.thread_index() == 0) g_zvMutex = ZVCreateMutex(0);
    for (auto _ : state) {
        ZVAcquireMutex(g_zvMutex, 0xFFFFFFFF);
        benchmark::DoNotOptimize(++g_counter);
        ZVReleaseMutex(g_zvMutex);
    }
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() == 0) ZVCloseMutex(g_zvMutex);
}
BENCHMARK(ZVMutexContended)->Threads(2)->UseRealTime();

void PthreadRecursiveContended(benchmark::State& state) {
    if (state.thread_index() == 0) g_pthreadMutex = new RecursivePthreadMutex;
    for (auto _ : state) {
        pthread_mutex_lock(&g_pthreadMutex->mutex);
        benchmark::DoNotOptimize(++g_counter);
        pthread_mutex_unlock(&g_pthreadMutex->mutex);
    }
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() == 0) delete g_pthreadMutex;
}
BENCHMARK(PthreadRecursiveContended)->Threads(2)->UseRealTime();

void StdRecursiveContended(benchmark::State& state) {
    for (auto _ : state) {
        g_stdMutex.lock();
        benchmark::DoNotOptimize(++g_counter);
        g_stdMutex.unlock();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(StdRecursiveContended)->Threads(2)->UseRealTime();

// ---- Event round trip ----------------------------------------------------
// The round trip of two threads on events, against the same hand-shake on
// a mutex and condition variables below.
BENCHMARK(zvbench::EventPingPongTwoThreads)->Name("ZVEventRoundTrip")->UseRealTime();

// The same hand-shake on a mutex and condition variables, for scale.
struct Flag {
    std::mutex lock;
    std::condition_variable changed;
    bool set = false;
    void Set() {
        {
            std::lock_guard<std::mutex> guard(lock);
            set = true;
        }
        changed.notify_one();
    }
    void Wait() {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [this] { return set; });
        set = false;
    }
};

void CondVarRoundTrip(benchmark::State& state) {
    Flag ping, pong;
    std::atomic<bool> stop{false};
    std::thread partner([&] {
        for (;;) {
            ping.Wait();
            if (stop.load()) return;
            pong.Set();
        }
    });
    for (auto _ : state) {
        ping.Set();
        pong.Wait();
    }
    stop = true;
    ping.Set();
    partner.join();
}
BENCHMARK(CondVarRoundTrip)->UseRealTime();

}  // namespace

ZV_BENCHMARK_MAIN();
