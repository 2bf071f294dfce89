// threads_events.cpp - threads, events, interlocked counters, a critical
// section and the recursive mutex.
#include <stdio.h>

#include "zv.h"

namespace {

constexpr int kWorkers = 4;
constexpr int kRounds = 1000;

struct Shared {
    ZVHANDLE start;         // manual-reset: lets every worker go at once
    int32_t hits;           // changed only by the interlocked functions
    CRITICAL_SECTION lock;  // guards total
    int64_t total;
    ZVHANDLE mutex;         // the recursive mutex, guards nested
    int32_t nested;
};

uint32_t ZV_STDCALL Worker(void* arg) {
    Shared* shared = static_cast<Shared*>(arg);
    ZVWaitForEvent(shared->start);
    for (int i = 0; i < kRounds; ++i) {
        ZVInterlockedIncrement(&shared->hits);
        ZVEnterCriticalSection(&shared->lock);
        shared->total += i;
        ZVLeaveCriticalSection(&shared->lock);
    }
    // The owner may acquire again; it releases as often as it acquired.
    ZVAcquireMutex(shared->mutex, INFINITE);
    ZVAcquireMutex(shared->mutex, INFINITE);
    shared->nested += 1;
    ZVReleaseMutex(shared->mutex);
    ZVReleaseMutex(shared->mutex);
    return 0;
}

void Workers() {
    Shared shared = {};
    shared.start = ZVCreateEvent(1, 0, nullptr);
    ZVCreateCriticalSection(&shared.lock);
    shared.mutex = ZVCreateMutex(0);
    if (shared.start == ZV_INVALID_HANDLE || shared.mutex == ZV_INVALID_HANDLE) return;

    ZVHANDLE threads[kWorkers];
    for (ZVHANDLE& thread : threads) thread = ZVCreateThread(0, Worker, &shared);
    ZVSetEvent(shared.start);
    // A thread handle is set when its thread ends.
    for (ZVHANDLE thread : threads) {
        if (thread) {
            ZVWaitForEvent(thread);
            ZVCloseThreadHandle(thread);
        }
    }
    printf("hits %d, total %lld, nested %d\n", int(shared.hits), (long long)shared.total,
           int(shared.nested));

    ZVCloseMutex(shared.mutex);
    ZVDeleteCriticalSection(&shared.lock);
    ZVCloseEvent(shared.start);
}

void NamedEvents() {
    // Creating a name makes the event; opening it gives a second handle to
    // the same event.  An automatic-reset event lets one wait through.
    ZVHANDLE created = ZVCreateEvent(0, 0, ZV_W("zv-example-ready"));
    ZVHANDLE opened = ZVOpenEvent(ZV_W("zv-example-ready"));
    ZVHANDLE missing = ZVOpenEvent(ZV_W("zv-example-nobody"));
    printf("open of an unknown name: %s\n", missing == ZV_INVALID_HANDLE ? "failed" : "opened");
    ZVSetEvent(created);
    printf("wait through the other handle: %s\n",
           ZVWaitForEvent(opened) == WAIT_OBJECT_0 ? "set" : "failed");
    ZVCloseEvent(opened);
    ZVCloseEvent(created);
}

struct Contender {
    ZVHANDLE mutex;
    uint16_t tried;     // ZVTryAcquireMutex while the main thread owns it
    uint16_t released;  // ZVReleaseMutex by a thread that is not the owner
};

uint32_t ZV_STDCALL Contend(void* arg) {
    Contender* c = static_cast<Contender*>(arg);
    c->tried = ZVTryAcquireMutex(c->mutex);
    c->released = ZVReleaseMutex(c->mutex);
    return 0;
}

void MutexOwnership() {
    Contender c = {ZVCreateMutex(1), 0, 0};  // owned by this thread
    if (c.mutex == ZV_INVALID_HANDLE) return;
    ZVHANDLE thread = ZVCreateThread(0, Contend, &c);
    if (!thread) return;
    ZVWaitForEvent(thread);
    ZVCloseThreadHandle(thread);
    printf("another thread: try-acquire %u, release %u\n", unsigned(c.tried), unsigned(c.released));
    // Owned once, so released once: a second release finds no owner.
    uint16_t first = ZVReleaseMutex(c.mutex);
    uint16_t second = ZVReleaseMutex(c.mutex);
    printf("owner: release %u, release again %u\n", unsigned(first), unsigned(second));
    ZVCloseMutex(c.mutex);
}

uint32_t ZV_STDCALL WaitFor(void* event) {
    ZVWaitForEvent(event);
    return 0;
}

void Suspension() {
    // Suspensions are counted: each one needs its own resumption.
    ZVHANDLE go = ZVCreateEvent(1, 0, nullptr);
    ZVHANDLE thread = ZVCreateThread(0, WaitFor, go);
    if (!thread) return;
    uint32_t first = ZVSuspendThread(thread);
    uint32_t second = ZVSuspendThread(thread);
    uint32_t third = ZVResumeThread(thread);
    uint32_t fourth = ZVResumeThread(thread);
    printf("suspend %u, %u; resume %u, %u\n", unsigned(first), unsigned(second), unsigned(third),
           unsigned(fourth));
    ZVSetEvent(go);
    ZVWaitForEvent(thread);
    ZVCloseThreadHandle(thread);
    ZVCloseEvent(go);
}

}  // namespace

int main() {
    Workers();
    NamedEvents();
    MutexOwnership();
    Suspension();
    return 0;
}
