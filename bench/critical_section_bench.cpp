// Critical sections against a recursive pthread mutex, uncontended.
//
//   build/bench/critical_section_bench --benchmark_repetitions=5
//       --benchmark_report_aggregates_only=true
#include <pthread.h>

#include "bench_support.h"
#include "platform/win32.h"
#include "zv.h"

namespace {

void CriticalSectionEnterLeave(benchmark::State& state) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    for (auto _ : state) {
        EnterCriticalSection(&section);
        LeaveCriticalSection(&section);
    }
    DeleteCriticalSection(&section);
}
BENCHMARK(CriticalSectionEnterLeave);

// Through the library's exported wrappers.
void ZVCriticalSectionEnterLeave(benchmark::State& state) {
    CRITICAL_SECTION section;
    ZVCreateCriticalSection(&section);
    for (auto _ : state) {
        ZVEnterCriticalSection(&section);
        ZVLeaveCriticalSection(&section);
    }
    ZVDeleteCriticalSection(&section);
}
BENCHMARK(ZVCriticalSectionEnterLeave);

void PthreadRecursiveLockUnlock(benchmark::State& state) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_t mutex;
    pthread_mutex_init(&mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    for (auto _ : state) {
        pthread_mutex_lock(&mutex);
        pthread_mutex_unlock(&mutex);
    }
    pthread_mutex_destroy(&mutex);
}
BENCHMARK(PthreadRecursiveLockUnlock);

}  // namespace

ZV_BENCHMARK_MAIN();
