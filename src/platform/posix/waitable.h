// waitable.h - the objects a thread can wait for: events, semaphores and
// threads.  Each keeps its own lock and a queue of blocked waiters; a wake
// hands the object directly to the waiter it picks, so a wake-up can never
// be taken by a thread that arrives later, and none is lost.
#ifndef ZV_POSIX_WAITABLE_H
#define ZV_POSIX_WAITABLE_H

#include <time.h>

#include <mutex>
#include <string>

#include "platform/posix/handles.h"

namespace zvp {

class Waitable : public KernelObject {
  public:
    explicit Waitable(ObjectKind kind) : KernelObject(kind) {}

    // A thread blocked on the object; lives on that thread's stack.  It
    // sleeps on `state` without the object's lock; a wake sets the state
    // and then wakes the futex, so the woken thread needs no lock to go on.
    struct Waiter {
        Waiter* next = nullptr;  // next, prev and linked: under the object's lock
        Waiter* prev = nullptr;
        bool linked = false;
        uint32_t state = kWaiting;  // atomic
    };
    static constexpr uint32_t kWaiting = 0;
    static constexpr uint32_t kReleased = 1;    // the object was handed to this waiter
    static constexpr uint32_t kTerminated = 2;  // the waiting thread is being terminated

    // WaitForSingleObject's core: WAIT_OBJECT_0, WAIT_TIMEOUT, or
    // kWaitTerminated when the waiting thread is to end.
    virtual DWORD Wait(DWORD milliseconds);
    static constexpr DWORD kWaitTerminated = 0xFFFFFFFEu;

    // Wakes a blocked thread that TerminateThread is ending.
    virtual void TerminateWaiter(Waiter* waiter);

    // Whether a handle's kind is one of the waitable objects.
    static bool IsWaitableKind(ObjectKind kind);

    // How many threads are blocked waiting for the object right now.
    virtual size_t WaitingThreads();

    // In a forked child only the forking thread lives on: the lock may be
    // held and the queue may hold waiters that do not exist there.
    void AfterForkInChild() override;

  protected:
    // Called with lock_ held: takes the object if it is signalled (an
    // automatic-reset event resets, a semaphore counts down).
    virtual bool TryTakeLocked() = 0;

    // Called with lock_ held: release the longest-waiting thread, or every
    // waiting thread.  WakeOneLocked returns false when none was waiting.
    bool WakeOneLocked();
    void WakeAllLocked();

    std::mutex lock_;

  private:
    DWORD Block(Waiter* self, DWORD milliseconds);
    void Link(Waiter* waiter);
    void Unlink(Waiter* waiter);
    // Hands the object to a waiter already taken off the queue.
    static void Release(Waiter* waiter, uint32_t state);

    // FIFO of blocked waiters.
    Waiter* head_ = nullptr;
    Waiter* tail_ = nullptr;
};

// An event, kept in this process (unnamed) or in the machine's shared
// segment (named, shared_events.cpp).
class EventObject : public Waitable {
  public:
    EventObject() : Waitable(ObjectKind::Event) {}
    virtual void Set() = 0;
    virtual void Reset() = 0;
    // Releases the threads waiting at this moment (all, or one for an
    // automatic-reset event) and leaves the event reset.
    virtual void Pulse() = 0;
};

// Named events: create (or, with ERROR_ALREADY_EXISTS, open) the machine's
// event of a UTF-8 name, or open it (ERROR_FILE_NOT_FOUND when there is
// none).  Null with the last error on failure.
HANDLE CreateSharedEvent(bool manualReset, bool initialState, const std::string& name);
HANDLE OpenSharedEvent(const std::string& name);
// Whether the machine has a live event of this name.
bool SharedEventExists(const std::string& name);

// For tests of dying processes: takes a named event's internal lock, or
// the machine's lock, and keeps it.
bool LockSharedEventForTesting(HANDLE event);
bool LockMachineForTesting();

// Fork handling of the shared events (called in this order by fork.cpp).
void SharedEventsPrepareFork();
void SharedEventsParentAfterFork();
void SharedEventsChildAfterFork();

// The monotonic clock's time `milliseconds` from now (timed waits, Sleep).
timespec DeadlineAfter(DWORD milliseconds);

// The time from now to `deadline` in `left`; false once it has passed.
bool TimeLeft(const timespec& deadline, timespec* left);

// Hooks for the threads started by _beginthreadex (threads.cpp).  While
// such a thread is blocked in a wait it keeps its control signal blocked
// and records where it waits: a suspension then counts it as stopped at
// once, and a termination wakes it out of the wait, so that it never dies
// holding the object's lock or leaves its waiter queued.
//
// StartedThread tells whether the calling thread is one of them;
// BeginBlockingWait returns false (and does nothing) for other threads.
bool StartedThread();
bool BeginBlockingWait(Waitable* object, Waitable::Waiter* waiter);
void EndBlockingWait();
// After the wait's references are dropped: lets the control signal in
// again, parks while suspended and ends the thread if it was terminated.
void SettleAfterWait();

// The number of threads blocked on the object a handle names (0 for a handle
// that names no waitable object); lets tests see that a waiter has really
// gone to sleep before they wake it.
size_t WaitingThreads(HANDLE handle);

}  // namespace zvp

#endif  // ZV_POSIX_WAITABLE_H
