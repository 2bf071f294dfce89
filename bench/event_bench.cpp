// Event ping-pong: a round trip is one set and one wait on each side.
// Named automatic-reset events between two processes, against unnamed ones
// between two threads, and against a bare futex between two processes (the
// floor: two wakes and two sleeps per round trip, nothing else).  Last, the
// handle table's lock under contention: threads that share nothing else.
//
//   ZV_REGISTRY is set to a file of this run's own, so the two processes
//   are one machine of their own.
//
//   build/bench/event_bench --benchmark_repetitions=5
//       --benchmark_report_aggregates_only=true
#include <linux/futex.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "bench_support.h"
#include "zv.h"

namespace {

// Words shared with the forked partner.
struct Shared {
    uint32_t ping;
    uint32_t pong;
    uint32_t stop;
};

Shared* MapShared() {
    void* memory = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    return memory == MAP_FAILED ? nullptr : new (memory) Shared{0, 0, 0};
}

// The registry file is never made (only its path names the machine); the
// folder goes at exit.
char g_dir[] = "/tmp/zv-event-bench-XXXXXX";

void UseOwnMachine() {
    static const std::string path = [] {
        std::string made = std::string(mkdtemp(g_dir)) + "/registry.db";
        atexit([] { rmdir(g_dir); });
        return made;
    }();
    setenv("ZV_REGISTRY", path.c_str(), 1);
}

void Reap(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
}

// ---- named events, two processes ------------------------------------------

void NamedEventsTwoProcesses(benchmark::State& state) {
    UseOwnMachine();
    Shared* shared = MapShared();
    ZVHANDLE ping = ZVCreateEvent(0, 0, ZV_W("zv-bench-ping"));
    ZVHANDLE pong = ZVCreateEvent(0, 0, ZV_W("zv-bench-pong"));
    pid_t pid = fork();
    if (pid == 0) {
        ZVHANDLE childPing = ZVOpenEvent(ZV_W("zv-bench-ping"));
        ZVHANDLE childPong = ZVOpenEvent(ZV_W("zv-bench-pong"));
        for (;;) {
            ZVWaitForEvent(childPing);
            if (__atomic_load_n(&shared->stop, __ATOMIC_ACQUIRE)) _exit(0);
            ZVSetEvent(childPong);
        }
    }
    for (auto _ : state) {
        ZVSetEvent(ping);
        ZVWaitForEvent(pong);
    }
    __atomic_store_n(&shared->stop, 1, __ATOMIC_RELEASE);
    ZVSetEvent(ping);
    Reap(pid);
    ZVCloseEvent(ping);
    ZVCloseEvent(pong);
    munmap(shared, sizeof(Shared));
}
BENCHMARK(NamedEventsTwoProcesses)->UseRealTime();

// ---- unnamed events, two threads ------------------------------------------

BENCHMARK(zvbench::EventPingPongTwoThreads)->Name("UnnamedEventsTwoThreads")->UseRealTime();

// ---- bare futex, two processes (the floor) --------------------------------

void Post(uint32_t* word) {
    __atomic_store_n(word, 1, __ATOMIC_RELEASE);
    syscall(SYS_futex, word, FUTEX_WAKE, 1, nullptr, nullptr, 0);
}

void Take(uint32_t* word) {
    while (__atomic_exchange_n(word, 0, __ATOMIC_ACQUIRE) == 0)
        syscall(SYS_futex, word, FUTEX_WAIT, 0, nullptr, nullptr, 0);
}

void BareFutexTwoProcesses(benchmark::State& state) {
    Shared* shared = MapShared();
    pid_t pid = fork();
    if (pid == 0) {
        for (;;) {
            Take(&shared->ping);
            if (__atomic_load_n(&shared->stop, __ATOMIC_ACQUIRE)) _exit(0);
            Post(&shared->pong);
        }
    }
    for (auto _ : state) {
        Post(&shared->ping);
        Take(&shared->pong);
    }
    __atomic_store_n(&shared->stop, 1, __ATOMIC_RELEASE);
    Post(&shared->ping);
    Reap(pid);
    munmap(shared, sizeof(Shared));
}
BENCHMARK(BareFutexTwoProcesses)->UseRealTime();

// ---- the handle table under contention ------------------------------------

// Each thread sets and resets an event of its own: nothing is shared but the
// handle table, whose one lock every call takes for its lookup.
void OwnEventSetReset(benchmark::State& state) {
    ZVHANDLE event = ZVCreateEvent(1, 0, nullptr);
    for (auto _ : state) {
        ZVSetEvent(event);
        ZVResetEvent(event);
    }
    ZVCloseEvent(event);
}
BENCHMARK(OwnEventSetReset)->Threads(1)->Threads(2)->Threads(4)->UseRealTime();

// The baseline: a flag of each thread's own, set and reset under one lock
// that every thread shares (two holds per round, as above).
std::mutex g_sharedLock;
void SharedLockFlagSetReset(benchmark::State& state) {
    bool flag = false;
    for (auto _ : state) {
        {
            std::lock_guard<std::mutex> guard(g_sharedLock);
            flag = true;
        }
        std::lock_guard<std::mutex> guard(g_sharedLock);
        flag = false;
        benchmark::DoNotOptimize(flag);
    }
}
BENCHMARK(SharedLockFlagSetReset)->Threads(1)->Threads(2)->Threads(4)->UseRealTime();

}  // namespace

ZV_BENCHMARK_MAIN();
