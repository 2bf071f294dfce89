// Critical sections against a recursive pthread mutex, uncontended.
//
//   build/bench/critical_section_bench --benchmark_repetitions=5
//       --benchmark_report_aggregates_only=true
#include <pthread.h>

#include <thread>

#include "bench_support.h"
#include "platform/win32.h"
#include "zv.h"

namespace {

// The platform layer's calls, and the library's exported wrappers of them.
// With kShared, another thread has entered the section once before the run,
// which ends the reservation of its first user.
template <void (*Create)(CRITICAL_SECTION*), void (*Enter)(CRITICAL_SECTION*), void (*Leave)(CRITICAL_SECTION*),
          void (*Delete)(CRITICAL_SECTION*), bool kShared = false>
void EnterLeave(benchmark::State& state) {
    CRITICAL_SECTION section;
    Create(&section);
    Enter(&section);
    Leave(&section);
    if (kShared) {
        std::thread([&] {
            Enter(&section);
            Leave(&section);
        }).join();
    }
    for (auto _ : state) {
        Enter(&section);
        Leave(&section);
    }
    Delete(&section);
}
BENCHMARK(EnterLeave<InitializeCriticalSection, EnterCriticalSection, LeaveCriticalSection, DeleteCriticalSection>)
    ->Name("CriticalSectionEnterLeave");
BENCHMARK(EnterLeave<ZVCreateCriticalSection, ZVEnterCriticalSection, ZVLeaveCriticalSection, ZVDeleteCriticalSection>)
    ->Name("ZVCriticalSectionEnterLeave");
BENCHMARK(EnterLeave<InitializeCriticalSection, EnterCriticalSection, LeaveCriticalSection, DeleteCriticalSection, true>)
    ->Name("CriticalSectionEnterLeave_AfterSecondUser");

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
