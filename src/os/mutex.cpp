// mutex.cpp - the library's recursive mutex.
//
// A lock count, a recursion count, an owner and a semaphore.  The lock count
// is -1 when the mutex is free; while it is owned, lock count + 1 equals the
// owner's recursion count plus the number of threads waiting or about to
// wait.  An uncontended acquire or release is one locked operation on the
// lock count and one on the owner, with no kernel call.  A contended
// acquire first retries zv::g_spinCount times (0 on one processor), then
// blocks on the semaphore; a release that sees waiters counted hands the
// mutex to exactly one of them through the semaphore, so a newcomer cannot
// take it between the release and the waiter's wake-up.
#include <stddef.h>
#include <stdlib.h>

#include "frame/frame.h"
#include "platform/win32.h"
#include "zv.h"

namespace {

constexpr LONG kSemaphoreMaximum = 32767;

ZVMutex* Record(ZVHANDLE handle) { return static_cast<ZVMutex*>(handle); }

// The record is packed; its 32-bit fields sit at 4-byte offsets of a heap
// block and are therefore aligned for the atomic operations.
int32_t* LockCount(ZVMutex* m) {
    return reinterpret_cast<int32_t*>(reinterpret_cast<char*>(m) + offsetof(ZVMutex, lockCount));
}

uint32_t* Owner(ZVMutex* m) {
    return reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(m) + offsetof(ZVMutex, ownerThreadId));
}

uint32_t CurrentOwner(ZVMutex* m) { return __atomic_load_n(Owner(m), __ATOMIC_RELAXED); }

// The owner is written with an atomic store rather than a locked exchange:
// nobody uses the old value, readers other than the owner only compare it
// with their own id, and the locked operation on the lock count that
// follows a release's store orders it before the next owner's.  This keeps
// an uncontended acquire-release pair at two locked operations.
void SetOwner(ZVMutex* m, uint32_t owner) { __atomic_store_n(Owner(m), owner, __ATOMIC_RELAXED); }

void TakeOwnership(ZVMutex* m, uint32_t self) {
    SetOwner(m, self);
    m->recursionCount = 1;
}

// One attempt that never blocks.
bool TryAcquire(ZVMutex* m, uint32_t self) {
    int32_t expected = -1;
    if (__atomic_compare_exchange_n(LockCount(m), &expected, 0, false, __ATOMIC_SEQ_CST,
                                    __ATOMIC_RELAXED)) {
        TakeOwnership(m, self);
        return true;
    }
    // Only this thread ever writes its own id there.
    if (CurrentOwner(m) == self) {
        __atomic_add_fetch(LockCount(m), 1, __ATOMIC_SEQ_CST);
        m->recursionCount += 1;
        return true;
    }
    return false;
}

}  // namespace

extern "C" {

ZV_API ZVHANDLE ZVCreateMutex(uint16_t initiallyOwned) {
    ZVMutex* m = static_cast<ZVMutex*>(malloc(sizeof(ZVMutex)));
    if (!m) return ZV_INVALID_HANDLE;
    m->lockCount = -1;
    m->recursionCount = 0;
    m->ownerThreadId = 0;
    HANDLE semaphore = CreateSemaphoreA(nullptr, 0, kSemaphoreMaximum, nullptr);
    if (!semaphore) {
        free(m);
        return ZV_INVALID_HANDLE;
    }
    m->semaphore = semaphore;
    if (initiallyOwned) ZVAcquireMutex(m, 0xFFFFFFFFu);
    return m;
}

// These mutexes have no names: there is nothing to open.
ZV_API ZVHANDLE ZVOpenMutex(const ZVWCHAR*) { return ZV_INVALID_HANDLE; }

ZV_API uint16_t ZVCloseMutex(ZVHANDLE mutex) {
    // The failure value of ZVCreateMutex is accepted and ignored, so that a
    // caller's clean-up need not test it.
    if (!mutex || mutex == ZV_INVALID_HANDLE) return 1;
    ZVMutex* m = Record(mutex);
    CloseHandle(m->semaphore);
    m->lockCount = 0;
    m->recursionCount = 0;
    m->ownerThreadId = 0;
    m->semaphore = nullptr;
    free(m);
    return 1;
}

// The time-out is accepted for the interface's sake and not used: the
// acquisition waits as long as it takes.
ZV_API uint16_t ZVAcquireMutex(ZVHANDLE mutex, uint32_t) {
    ZVMutex* m = Record(mutex);
    uint32_t self = GetCurrentThreadId();
    for (int32_t i = 0; i < zv::g_spinCount; ++i)
        if (TryAcquire(m, self)) return 1;

    if (__atomic_add_fetch(LockCount(m), 1, __ATOMIC_SEQ_CST) == 0) {
        TakeOwnership(m, self);
        return 1;
    }
    if (CurrentOwner(m) == self) {
        m->recursionCount += 1;
        return 1;
    }
    // Counted as a waiter: the release that sees us hands the mutex over by
    // one semaphore count, which waits for us even if we are not asleep yet.
    WaitForSingleObject(m->semaphore, INFINITE);
    TakeOwnership(m, self);
    return 1;
}

ZV_API uint16_t ZVTryAcquireMutex(ZVHANDLE mutex) {
    return TryAcquire(Record(mutex), GetCurrentThreadId()) ? 1 : 0;
}

ZV_API uint16_t ZVReleaseMutex(ZVHANDLE mutex) {
    ZVMutex* m = Record(mutex);
    if (CurrentOwner(m) != GetCurrentThreadId()) return 0;
    if (--m->recursionCount > 0) {
        __atomic_sub_fetch(LockCount(m), 1, __ATOMIC_SEQ_CST);
        return 1;
    }
    SetOwner(m, 0);
    if (__atomic_sub_fetch(LockCount(m), 1, __ATOMIC_SEQ_CST) >= 0)
        ReleaseSemaphore(m->semaphore, 1, nullptr);
    return 1;
}

}  // extern "C"
