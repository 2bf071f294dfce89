// sync_core.cpp - critical sections and interlocked operations.
//
// A critical section is a futex lock word with an owner and a depth kept in
// the caller's CRITICAL_SECTION.  Uncontended enter and leave are one atomic
// operation each and no system call; only a thread that finds the section
// held by another sleeps in the kernel.
//
// Reservation.  Most sections are entered again and again by one thread
// only (a container that one worker fills and drains, a trace lock).  The
// first thread to hold a section reserves it; from then on that thread
// enters and leaves with plain loads and stores, no locked instruction: it
// announces itself in the hold word, then checks that the reservation is
// still its own.  A second thread that wants the section takes the lock
// word, withdraws the reservation, and issues a process-wide memory barrier
// (membarrier), which makes the reserving thread's announcement visible or
// makes it see the withdrawal; then it waits until the reserving thread is
// out.  After that the section is an ordinary futex lock for good.  The
// withdrawal costs one system call per section lifetime; a section that
// only ever has one user never pays a locked instruction after its first
// enter.
#include <errno.h>
#include <limits.h>
#include <linux/futex.h>
#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "platform/win32.h"

namespace {

// Lock word states.
constexpr LONG kFree = 0;
constexpr LONG kHeld = 1;
constexpr LONG kHeldWithSleepers = 2;

// Reservation word: no reservation yet, a thread id, or withdrawn for good.
constexpr DWORD kUnreserved = 0;
constexpr DWORD kWithdrawn = 0xFFFFFFFFu;

// A short spin before sleeping pays off when the holder runs on another
// processor and leaves soon, which is the common case for these sections.
constexpr int kSpinBeforeSleep = 100;

LONG* LockWord(LPCRITICAL_SECTION section) { return &section->LockCount; }

// One step of a spin: lets a sibling hardware thread run.
void Relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// The reservation and the hold word live in fields that Win32 keeps for its
// debugging record and its wait object, which this lock needs neither of.
DWORD* ReservationWord(LPCRITICAL_SECTION section) {
    return reinterpret_cast<DWORD*>(&section->LockSemaphore);
}

// The reserving thread's id while it is inside (or about to be) on the
// reservation; 0 otherwise.  A 32-bit word, so a withdrawer can sleep on it.
DWORD* HoldWord(LPCRITICAL_SECTION section) { return reinterpret_cast<DWORD*>(&section->DebugInfo); }

void FutexWait(void* word, LONG expected) {
    syscall(SYS_futex, word, FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
}

void FutexWake(void* word, int count) { syscall(SYS_futex, word, FUTEX_WAKE_PRIVATE, count, nullptr, nullptr, 0); }

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
        Relax();
    }
    // Mark the word as having sleepers before sleeping, so the leaver knows
    // to wake one; whoever takes it this way keeps the mark (it may have
    // company), which costs at most one needless wake.
    while (__atomic_exchange_n(word, kHeldWithSleepers, __ATOMIC_ACQUIRE) != kFree)
        FutexWait(word, kHeldWithSleepers);
}

void GiveBack(LONG* word) {
    if (__atomic_exchange_n(word, kFree, __ATOMIC_RELEASE) == kHeldWithSleepers) FutexWake(word, 1);
}

long Membarrier(int command) { return syscall(SYS_membarrier, command, 0, 0); }

// Whether this process may reserve sections: it needs the expedited
// process-wide barrier, which the kernel offers only after registration.
bool ReservationsAvailable() {
    static const bool available = Membarrier(MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED) == 0;
    return available;
}

// Every running thread of the process passes a full memory barrier before
// this returns.  The expedited form needs the registration, which a forked
// child may not have inherited; the global form needs none but waits longer.
void ProcessWideBarrier() {
    if (Membarrier(MEMBARRIER_CMD_PRIVATE_EXPEDITED) == 0) return;
    if (Membarrier(MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED) == 0 &&
        Membarrier(MEMBARRIER_CMD_PRIVATE_EXPEDITED) == 0)
        return;
    if (Membarrier(MEMBARRIER_CMD_GLOBAL) == 0) return;
    // No barrier can be had (the kernel started refusing the call after a
    // reservation was made).  A store buffer drains within microseconds; a
    // millisecond's pause is the best left.
    const timespec pause = {0, 1000000};
    nanosleep(&pause, nullptr);
}

void LeaveReserved(LPCRITICAL_SECTION section, DWORD self) {
    __atomic_store_n(HoldWord(section), 0, __ATOMIC_RELEASE);
    __atomic_signal_fence(__ATOMIC_SEQ_CST);
    // A withdrawer that did not see the store above has already made this
    // load see the withdrawal, and may be asleep on the hold word.
    if (__atomic_load_n(ReservationWord(section), __ATOMIC_RELAXED) != self) FutexWake(HoldWord(section), INT_MAX);
}

// The reserving thread's way in: announce, then check the reservation is
// still ours.  The withdrawer's barrier stands in for a fence between the
// two, so either it sees the announcement or this thread sees the
// withdrawal.  False, with the announcement taken back, when withdrawn.
bool EnterReserved(LPCRITICAL_SECTION section, DWORD self) {
    __atomic_store_n(HoldWord(section), self, __ATOMIC_RELAXED);
    __atomic_signal_fence(__ATOMIC_SEQ_CST);
    if (__atomic_load_n(ReservationWord(section), __ATOMIC_RELAXED) == self) return true;
    LeaveReserved(section, self);  // wakes the withdrawer, who may wait for us
    return false;
}

// Under the lock word: waits until no thread is inside on a withdrawn
// reservation.  Without `wait`, false instead of sleeping while one is.
bool AwaitReservedHolderOut(LPCRITICAL_SECTION section, bool wait) {
    for (int spins = 0;; ++spins) {
        const DWORD holder = __atomic_load_n(HoldWord(section), __ATOMIC_ACQUIRE);
        if (holder == 0) return true;
        if (spins < kSpinBeforeSleep) {
            Relax();
        } else if (!wait) {
            return false;
        } else {
            FutexWait(HoldWord(section), LONG(holder));
        }
    }
}

// Under the lock word, before the caller counts as the owner: reserves a
// section that nobody has reserved yet, or withdraws another thread's
// reservation and makes sure that thread is out.  The hold word is checked
// also when an earlier thread withdrew the reservation, since a try that
// withdrew it does not wait.  False only for a try that would have to wait.
bool SettleReservation(LPCRITICAL_SECTION section, DWORD self, bool wait) {
    const DWORD reserved = __atomic_load_n(ReservationWord(section), __ATOMIC_RELAXED);
    if (reserved == kUnreserved) {
        if (ReservationsAvailable()) __atomic_store_n(ReservationWord(section), self, __ATOMIC_RELAXED);
        return true;
    }
    if (reserved == self) return true;
    if (reserved != kWithdrawn) {
        __atomic_store_n(ReservationWord(section), kWithdrawn, __ATOMIC_RELAXED);
        ProcessWideBarrier();
    }
    return AwaitReservedHolderOut(section, wait);
}

void BecomeOwner(LPCRITICAL_SECTION section, DWORD self) {
    SetOwner(section, self);
    section->RecursionCount = 1;
}

// The two ways in that need no lock word: again for the owner, and on the
// reservation for the reserving thread.
bool EnterWithoutLockWord(LPCRITICAL_SECTION section, DWORD self) {
    if (Owner(section) == self) {
        ++section->RecursionCount;
        return true;
    }
    if (__atomic_load_n(ReservationWord(section), __ATOMIC_RELAXED) != self || !EnterReserved(section, self))
        return false;
    BecomeOwner(section, self);
    return true;
}

// A free, unreserved section.
void Reset(LPCRITICAL_SECTION section) {
    section->DebugInfo = nullptr;
    section->LockCount = kFree;
    section->RecursionCount = 0;
    section->OwningThread = nullptr;
    section->LockSemaphore = nullptr;
}

}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
    Reset(section);
    section->SpinCount = kSpinBeforeSleep;
}

// Nothing was allocated; the storage is left recognisably dead.
void DeleteCriticalSection(LPCRITICAL_SECTION section) { Reset(section); }

void EnterCriticalSection(LPCRITICAL_SECTION section) {
    const DWORD self = GetCurrentThreadId();
    if (EnterWithoutLockWord(section, self)) return;
    if (!TryTake(LockWord(section))) TakeSlow(LockWord(section));
    SettleReservation(section, self, true);
    BecomeOwner(section, self);
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) {
    const DWORD self = GetCurrentThreadId();
    if (EnterWithoutLockWord(section, self)) return TRUE;
    if (!TryTake(LockWord(section))) return FALSE;
    if (!SettleReservation(section, self, false)) {
        GiveBack(LockWord(section));
        return FALSE;
    }
    BecomeOwner(section, self);
    return TRUE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
    // Win32 leaves the behaviour of an unbalanced leave undefined; here a
    // leave by a thread that does not own the section is ignored rather
    // than corrupting the owner's lock.
    const DWORD self = GetCurrentThreadId();
    if (Owner(section) != self || section->RecursionCount <= 0) return;
    if (--section->RecursionCount > 0) return;
    SetOwner(section, 0);
    // Only the reserving thread ever writes its id to the hold word.
    if (__atomic_load_n(HoldWord(section), __ATOMIC_RELAXED) == self) return LeaveReserved(section, self);
    GiveBack(LockWord(section));
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
