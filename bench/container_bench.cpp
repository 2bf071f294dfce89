// container_bench.cpp - a pooled container in steady state against
// std::list<void*> under std::mutex, and find-and-lock/unlock in a container
// of 1,000 objects.
//
// This program defines malloc, calloc, realloc and free itself (forwarding
// to the C library's own) so that every heap allocation of the process,
// those of the library and of the standard containers included, is counted:
// the `allocs/iter` counter shows how many each iteration makes.
//
// A second thread stays alive (asleep) for the whole run: with one thread
// only, the C library drops the bus lock of its mutexes and the mutex
// baseline would look faster than it is with threads around.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <list>
#include <mutex>
#include <thread>

#include "bench_support.h"
#include "zv.h"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void __libc_free(void* block);
}

namespace {

std::atomic<uint64_t> g_allocations{0};

}  // namespace

extern "C" {

void* malloc(size_t size) noexcept {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) noexcept {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}

void* realloc(void* block, size_t size) noexcept {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(block, size);
}

void free(void* block) noexcept { __libc_free(block); }

}  // extern "C"

namespace {

constexpr uint32_t kObjectSize = 16;
constexpr int kQueueDepth = 16;  // objects in the list during the steady state

ZVContainerObj* const kNoObj = static_cast<ZVContainerObj*>(ZV_INVALID_HANDLE);

// Counts the allocations made while it lives, per iteration.
class AllocationCounter {
  public:
    explicit AllocationCounter(benchmark::State& state) : state_(state), start_(g_allocations.load()) {}
    ~AllocationCounter() {
        const double made = double(g_allocations.load() - start_);
        state_.counters["allocs/iter"] = state_.iterations() ? made / double(state_.iterations()) : 0;
    }

  private:
    benchmark::State& state_;
    uint64_t start_;
};

// The pooled container: a new object (its data area written), inserted at
// the tail, the head removed.  CCL calls take only the list lock; LC calls
// take the container lock around each call as well.  With kShared, another
// thread has used the container once before the run, which takes its locks
// out of the reservation of a single user (see docs/platform-layer.md).
template <bool kLC, bool kShared = false>
void BM_PooledContainer(benchmark::State& state) {
    ZVContainer* c = ZVCreateContainerEx(nullptr, nullptr, kObjectSize, 64, 1024);
    for (int i = 0; i < kQueueDepth; ++i) ZVContainerInsertObjCCL(c, 0, ZVContainerNewObj(c, nullptr), ZV_CONTAINER_LAST);
    if (kShared) {
        std::thread([c] {
            uint32_t token = 0;
            ZVContainerLock(c, &token);  // both the container and the list lock
            benchmark::DoNotOptimize(ZVContainerObjCount(c));
            ZVContainerUnlock(c, token);
        }).join();
    }
    uint64_t payload = 0;
    {
        AllocationCounter count(state);
        for (auto _ : state) {
            void* area = nullptr;
            ZVContainerObj* obj = ZVContainerNewObjEx(c, nullptr, &area);
            ++payload;
            memcpy(area, &payload, sizeof(payload));
            if (kLC) {
                ZVContainerInsertObjLC(c, obj, ZV_CONTAINER_LAST);
                benchmark::DoNotOptimize(ZVContainerRemoveObjLC(c, ZV_CONTAINER_FIRST, nullptr));
            } else {
                ZVContainerInsertObjCCL(c, 0, obj, ZV_CONTAINER_LAST);
                benchmark::DoNotOptimize(ZVContainerRemoveObjCCL(c, 0, ZV_CONTAINER_FIRST, nullptr));
            }
        }
    }
    if (ZVContainerObjCount(c) != uint32_t(kQueueDepth)) state.SkipWithError("count drifted");
    ZVDestroyContainer(c);
}

// The baseline: a list of pointers under a mutex.  With a payload, each new
// object also gets its own 16-byte block, as the container's slot gives it
// a data area; without, the list carries a pointer to existing storage.
template <bool kPayload>
void BM_StdListMutex(benchmark::State& state) {
    std::list<void*> list;
    std::mutex lock;
    static uint64_t fixed[kQueueDepth + 1];
    for (int i = 0; i < kQueueDepth; ++i) list.push_back(kPayload ? malloc(kObjectSize) : &fixed[i]);
    uint64_t payload = 0;
    {
        AllocationCounter count(state);
        for (auto _ : state) {
            void* area = kPayload ? malloc(kObjectSize) : &fixed[kQueueDepth];
            ++payload;
            memcpy(area, &payload, sizeof(payload));
            {
                std::lock_guard<std::mutex> guard(lock);
                list.push_back(area);
            }
            void* head;
            {
                std::lock_guard<std::mutex> guard(lock);
                head = list.front();
                list.pop_front();
            }
            benchmark::DoNotOptimize(head);
            if (kPayload) free(head);
        }
    }
    if (kPayload) {
        for (void* p : list) free(p);
    }
}

// Find-and-lock by match and unlock, in a pooled container of 1,000 objects;
// the key is drawn over the whole list, so a search walks 500 on average.
uint16_t MatchValue(void* data, void* key) {
    uint32_t value;
    memcpy(&value, data, sizeof(value));
    return value == uint32_t(reinterpret_cast<uintptr_t>(key)) ? 0 : 1;
}

constexpr uint32_t kLookupObjects = 1000;

void BM_FindAndLockUnlock(benchmark::State& state) {
    ZVContainer* c = ZVCreateContainerEx(MatchValue, nullptr, sizeof(uint32_t), kLookupObjects, kLookupObjects);
    for (uint32_t i = 0; i < kLookupObjects; ++i) {
        void* area = nullptr;
        ZVContainerObj* obj = ZVContainerNewObjEx(c, nullptr, &area);
        memcpy(area, &i, sizeof(i));
        ZVContainerInsertObjCCL(c, 0, obj, ZV_CONTAINER_LAST);
    }
    uint32_t key = 0;
    {
        AllocationCounter count(state);
        for (auto _ : state) {
            key = (key + 617) % kLookupObjects;
            ZVContainerObj* obj = ZVContainerFindObjAndLockEx(c, ZV_CONTAINER_MATCH, reinterpret_cast<void*>(uintptr_t(key)),
                                                              ZV_OBJLOCK_EXCLUSIVE, nullptr);
            if (obj == kNoObj) {
                state.SkipWithError("object not found");
                break;
            }
            ZVContainerUnlockObj(c, obj);
        }
    }
    ZVDestroyContainer(c);
}

// The same by the object handle (no match function, a walk comparing
// handles), the usual way back to an object found before.
void BM_FindByHandleAndLockUnlock(benchmark::State& state) {
    ZVContainer* c = ZVCreateContainerEx(nullptr, nullptr, sizeof(uint32_t), kLookupObjects, kLookupObjects);
    ZVContainerObj* objs[kLookupObjects];
    for (uint32_t i = 0; i < kLookupObjects; ++i) {
        objs[i] = ZVContainerNewObj(c, nullptr);
        ZVContainerInsertObjCCL(c, 0, objs[i], ZV_CONTAINER_LAST);
    }
    uint32_t index = 0;
    for (auto _ : state) {
        index = (index + 617) % kLookupObjects;
        ZVContainerObj* obj = ZVContainerFindObjAndLockEx(c, ZV_CONTAINER_OBJECT, objs[index], ZV_OBJLOCK_EXCLUSIVE, nullptr);
        benchmark::DoNotOptimize(obj);
        ZVContainerUnlockObj(c, obj);
    }
    ZVDestroyContainer(c);
}

}  // namespace

BENCHMARK(BM_PooledContainer<false>)->Name("Steady/PooledContainer_CCL");
BENCHMARK(BM_PooledContainer<true>)->Name("Steady/PooledContainer_LC");
BENCHMARK(BM_PooledContainer<false, true>)->Name("Steady/PooledContainer_CCL_AfterSecondUser");
BENCHMARK(BM_StdListMutex<true>)->Name("Steady/StdListMutex_PayloadBlock");
BENCHMARK(BM_StdListMutex<false>)->Name("Steady/StdListMutex_PointerOnly");
BENCHMARK(BM_FindAndLockUnlock)->Name("Lookup1000/FindAndLockUnlock_Match");
BENCHMARK(BM_FindByHandleAndLockUnlock)->Name("Lookup1000/FindAndLockUnlock_Handle");

ZV_BENCHMARK_MAIN();
