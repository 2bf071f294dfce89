// machine.h - the memory that every process of one emulated machine shares:
// the table of named events, the processes that hold them and the slots of
// the threads that wait on them.
//
// One machine is one user with one registry: the segment's name is made of
// the user id and a hash of the registry's path, so processes with private
// registries (tests) are private machines.  ZV_REGISTRY=:memory: gives a
// machine of this process alone (and of the children it forks).
//
// Locks are robust, process-shared mutexes: a process killed while it holds
// one leaves it to the next locker, who repairs what it guarded.
#ifndef ZV_POSIX_MACHINE_H
#define ZV_POSIX_MACHINE_H

#include <pthread.h>
#include <stdint.h>

#include <string>

#include "platform/win32.h"

namespace zvp {
namespace machine {

constexpr uint32_t kProcesses = 128;  // processes attached at once
constexpr uint32_t kObjects = 8192;   // named events alive at once
constexpr uint32_t kWaiters = 1024;   // threads blocked on named events at once
constexpr uint32_t kNameBytes = 800;  // 260 UTF-16 units as UTF-8, with the end

struct ProcessSlot {
    uint32_t state;  // kFree, kLive, or kPending: claimed for a child being forked
    uint32_t pid;
    uint64_t start;    // the process's start time, against pid reuse
    uint64_t claimed;  // CLOCK_BOOTTIME seconds when claimed (pending slots age out)
};
constexpr uint32_t kFree = 0;
constexpr uint32_t kLive = 1;
constexpr uint32_t kPending = 2;
constexpr uint32_t kCreating = 3;  // objects: being filled in under the machine lock

struct Object {
    pthread_mutex_t lock;  // the event's own state and its waiters
    uint32_t state;        // kFree, kCreating, kLive (under the machine lock)
    uint32_t manual;
    uint32_t signalled;  // under `lock`
    uint32_t nameLength;
    uint64_t holders[kProcesses / 64];  // process slots holding a handle
    char name[kNameBytes];
};

// A thread blocked on an event.  `owner` is locked by the waiting thread for
// the whole wait: a waker that finds it abandoned knows the waiter died.
struct Waiter {
    pthread_mutex_t owner;
    uint32_t busy;     // claimed by a thread (atomic)
    uint32_t state;    // futex word: kIdle, kWaiting, kReleased, kTerminated
    uint32_t object;   // index + 1 of the event waited on; under its lock
    uint32_t process;  // slot of the waiting process
    uint64_t ticket;   // arrival order
};
constexpr uint32_t kIdle = 0;
constexpr uint32_t kWaiting = 1;
constexpr uint32_t kReleased = 2;
constexpr uint32_t kTerminated = 3;

struct Segment {
    uint64_t magic;  // written last by the creator
    uint32_t creator;
    uint32_t waiterHigh;  // slots in use lie below (atomic)
    pthread_mutex_t lock;  // names, holders and process slots
    uint32_t objectHigh;   // under `lock`
    uint32_t pad;
    uint64_t ticket;  // atomic
    ProcessSlot processes[kProcesses];
    uint64_t hashes[kObjects];  // 0: slot free; compact, for the name search
    Object objects[kObjects];
    Waiter waiters[kWaiters];
};

// The machine's segment, attached on first use; null (last error set) when
// it cannot be.
Segment* Attach();

// This process's slot, claimed on first use (after a fork, a new one); the
// machine lock must be held.  kProcesses when the table is full.
uint32_t SelfSlotLocked(Segment* segment);

// This process's slot, or kProcesses when it has none (yet).
uint32_t CurrentSlot();

// Robust locking: a lock whose holder died is repaired by `repair` (called
// with the lock held) and made consistent.
// Makes a process-shared, robust mutex in the segment.
void InitSharedMutex(pthread_mutex_t* mutex);

void Lock(pthread_mutex_t* mutex, void (*repair)(Segment*, uint32_t), Segment* segment,
          uint32_t index);
void LockMachine(Segment* segment);
void UnlockMachine(Segment* segment);

// Whether the process in a slot is still alive.
bool ProcessAlive(const ProcessSlot& slot);

// Frees the slots of dead processes: their holds are dropped (objects with
// no holder left go) and their abandoned waiter slots reclaimed.  Machine
// lock held.
void SweepDeadLocked(Segment* segment);

// Drops a process's hold on an object; the object goes with its last
// holder.  Machine lock held.
void DropHoldLocked(Segment* segment, uint32_t object, uint32_t process);

// Lock repair of an object: wakes waiters a dead waker released.
void RepairObject(Segment* segment, uint32_t index);

// Reclaims a waiter slot whose thread died; the lock of the object it
// waited on must be held.
void ReclaimDeadWaiter(Waiter* waiter);

// The segment's name in /dev/shm for this user and registry, or empty for
// a machine of this process alone.
std::string SegmentName();

// Fork handling: the parent claims a slot for the child and gives it the
// parent's holds, so that no object goes while the child still has handles.
void PrepareFork();
void ParentAfterFork();
void ChildAfterFork();

}  // namespace machine
}  // namespace zvp

#endif  // ZV_POSIX_MACHINE_H
