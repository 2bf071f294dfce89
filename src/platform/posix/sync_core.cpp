// sync_core.cpp - critical sections and interlocked operations.
//
// A critical section is a futex lock word with an owner and a depth kept in
// the caller's CRITICAL_SECTION.  Uncontended enter and leave are one atomic
// operation each and no system call; only a thread that finds the section
// held by another sleeps in the kernel.
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/win32.h"

namespace {

// Lock word states.
constexpr LONG kFree = 0;
constexpr LONG kHeld = 1;
constexpr LONG kHeldWithSleepers = 2;

// A short spin before sleeping pays off when the holder runs on another
// processor and leaves soon, which is the common case for these sections.
constexpr int kSpinBeforeSleep = 100;

LONG* LockWord(LPCRITICAL_SECTION section) { return &section->LockCount; }

void FutexWait(LONG* word, LONG expected) {
    syscall(SYS_futex, word, FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
}

void FutexWakeOne(LONG* word) { syscall(SYS_futex, word, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0); }

DWORD Owner(LPCRITICAL_SECTION section) {
    return DWORD(__atomic_load_n(reinterpret_cast<uintptr_t*>(&section->OwningThread), __ATOMIC_RELAXED));
}

void SetOwner(LPCRITICAL_SECTION section, DWORD thread) {
    __atomic_store_n(reinterpret_cast<uintptr_t*>(&section->OwningThread), uintptr_t(thread),
                     __ATOMIC_RELAXED);
}

bool TryTake(LONG* word) {
    LONG expected = kFree;
    return __atomic_compare_exchange_n(word, &expected, kHeld, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED);
}

void TakeSlow(LONG* word) {
    for (int i = 0; i < kSpinBeforeSleep; ++i) {
        if (__atomic_load_n(word, __ATOMIC_RELAXED) == kFree && TryTake(word)) return;
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }
    // Mark the word as having sleepers before sleeping, so the leaver knows
    // to wake one; whoever takes it this way keeps the mark (it may have
    // company), which costs at most one needless wake.
    while (__atomic_exchange_n(word, kHeldWithSleepers, __ATOMIC_ACQUIRE) != kFree)
        FutexWait(word, kHeldWithSleepers);
}

}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
    section->DebugInfo = nullptr;
    section->LockCount = kFree;
    section->RecursionCount = 0;
    section->OwningThread = nullptr;
    section->LockSemaphore = nullptr;
    section->SpinCount = kSpinBeforeSleep;
}

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
    // Nothing was allocated; leave the storage recognisably dead.
    section->LockCount = kFree;
    section->RecursionCount = 0;
    section->OwningThread = nullptr;
}

void EnterCriticalSection(LPCRITICAL_SECTION section) {
    DWORD self = GetCurrentThreadId();
    if (Owner(section) == self) {
        ++section->RecursionCount;
        return;
    }
    if (!TryTake(LockWord(section))) TakeSlow(LockWord(section));
    SetOwner(section, self);
    section->RecursionCount = 1;
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) {
    DWORD self = GetCurrentThreadId();
    if (Owner(section) == self) {
        ++section->RecursionCount;
        return TRUE;
    }
    if (!TryTake(LockWord(section))) return FALSE;
    SetOwner(section, self);
    section->RecursionCount = 1;
    return TRUE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
    // Win32 leaves the behaviour of an unbalanced leave undefined; here a
    // leave by a thread that does not own the section is ignored rather
    // than corrupting the owner's lock.
    if (Owner(section) != GetCurrentThreadId() || section->RecursionCount <= 0) return;
    if (--section->RecursionCount > 0) return;
    SetOwner(section, 0);
    if (__atomic_exchange_n(LockWord(section), kFree, __ATOMIC_RELEASE) == kHeldWithSleepers)
        FutexWakeOne(LockWord(section));
}

LONG InterlockedIncrement(LONG volatile* addend) { return __atomic_add_fetch(addend, 1, __ATOMIC_SEQ_CST); }

LONG InterlockedDecrement(LONG volatile* addend) { return __atomic_sub_fetch(addend, 1, __ATOMIC_SEQ_CST); }

LONG InterlockedExchange(LONG volatile* target, LONG value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

LONG InterlockedCompareExchange(LONG volatile* destination, LONG exchange, LONG comparand) {
    __atomic_compare_exchange_n(destination, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return comparand;
}

LONG InterlockedExchangeAdd(LONG volatile* addend, LONG value) {
    return __atomic_fetch_add(addend, value, __ATOMIC_SEQ_CST);
}
