// shared_events.cpp - named events, shared by every process of the machine.
//
// A named event lives in the machine's segment (machine.h): its flags, its
// own robust lock and the set of processes holding handles to it.  A thread
// that blocks claims a waiter slot, locks the slot's owner mutex for the
// whole wait and sleeps on the slot's futex word (a process-shared futex).
// The waiters of an event are the slots that name it, in ticket order; a
// wake hands the event to the oldest one whose owner mutex is still held,
// so the wake of a dead waiter is never lost and its slot is reclaimed.
// In this process an event is a local object per segment index (briefly
// two, while the old one is destroyed); the last of them drops the
// process's hold, and the last hold frees the name.
#include <errno.h>
#include <limits.h>
#include <linux/futex.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <new>
#include <unordered_map>

#include "platform/posix/machine.h"
#include "platform/posix/waitable.h"

namespace zvp {
namespace {

using namespace machine;

// A sleeping waiter looks at its word again this often, in case the process
// that handed it the event died before waking it.
const timespec kRecheck = {1, 0};

uint32_t LoadWord(const uint32_t* word) { return __atomic_load_n(word, __ATOMIC_ACQUIRE); }

void WakeWord(uint32_t* word) { syscall(SYS_futex, word, FUTEX_WAKE, 1, nullptr, nullptr, 0); }

bool Holds(const Object& object, uint32_t process) {
    return process < kProcesses && (object.holders[process / 64] >> (process % 64) & 1);
}

uint64_t NameHash(const std::string& name) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : name) hash = (hash ^ c) * 0x100000001b3ull;
    return hash ? hash : 1;
}

// The local objects of each segment index this process holds.  A new local
// object can be made for an index while the last one is being destroyed, so
// they are counted: the hold goes with the last of them.  (Asking the weak
// pointer whether it expired would not do: that read orders nothing, so the
// slot could be freed and made anew before another thread's last use of
// the event is visibly over.)
class SharedEvent;
struct Local {
    std::weak_ptr<SharedEvent> event;  // the newest local object
    uint32_t alive = 0;                // local objects not yet destroyed
};
struct Mapped {
    std::mutex lock;
    std::unordered_map<uint32_t, Local> events;
};
Mapped& TheMapped() {
    static Mapped* mapped = new Mapped;  // never destroyed, like the handle table
    return *mapped;
}

struct SlotWaiter : Waitable::Waiter {
    uint32_t slot = kWaiters;  // the machine's waiter slot, once published
};

class SharedEvent final : public EventObject {
  public:
    SharedEvent(Segment* segment, uint32_t index) : segment_(segment), index_(index) {}

    ~SharedEvent() override {
        Mapped& mapped = TheMapped();
        std::lock_guard<std::mutex> guard(mapped.lock);
        auto it = mapped.events.find(index_);
        if (it == mapped.events.end() || --it->second.alive > 0) return;
        mapped.events.erase(it);
        LockMachine(segment_);
        const uint32_t self = CurrentSlot();
        if (Holds(object(), self)) DropHoldLocked(segment_, index_, self);
        UnlockMachine(segment_);
    }

    void Set() override {
        LockObject();
        machine::Waiter* woken = nullptr;
        if (object().manual) {
            object().signalled = 1;
            WakeAllLocked();
        } else if (!(woken = WakeOneLocked())) {
            object().signalled = 1;  // kept for the next waiter
        }
        UnlockObject();
        if (woken) WakeWord(&woken->state);
    }

    void Reset() override {
        LockObject();
        object().signalled = 0;
        UnlockObject();
    }

    void Pulse() override {
        LockObject();
        machine::Waiter* woken = nullptr;
        if (object().manual) WakeAllLocked();
        else woken = WakeOneLocked();
        object().signalled = 0;
        UnlockObject();
        if (woken) WakeWord(&woken->state);
    }

    DWORD Wait(DWORD milliseconds) override;
    void TerminateWaiter(Waiter* waiter) override;

    size_t WaitingThreads() override {
        size_t count = 0;
        LockObject();
        ForEachWaiter([&](machine::Waiter&) { ++count; });
        UnlockObject();
        return count;
    }

    void AfterForkInChild() override {}
    void LockForTesting() { LockObject(); }

  protected:
    bool TryTakeLocked() override { return false; }  // not used: Wait is its own

  private:
    Object& object() { return segment_->objects[index_]; }
    void LockObject() { Lock(&object().lock, RepairObject, segment_, index_); }
    void UnlockObject() { pthread_mutex_unlock(&object().lock); }

    // Takes the event if it is signalled; object lock held.
    bool TakeLocked() {
        if (!object().signalled) return false;
        if (!object().manual) object().signalled = 0;
        return true;
    }

    template <class Fn>
    void ForEachWaiter(Fn fn) {
        const uint32_t high = LoadWord(&segment_->waiterHigh);
        for (uint32_t i = 0; i < high && i < kWaiters; ++i) {
            machine::Waiter& waiter = segment_->waiters[i];
            if (LoadWord(&waiter.state) == kWaiting && LoadWord(&waiter.object) == index_ + 1) fn(waiter);
        }
    }

    // Whether a waiting slot's thread is alive; a dead one's slot is freed.
    static bool Alive(machine::Waiter& waiter) {
        const int rc = pthread_mutex_trylock(&waiter.owner);
        if (rc == EBUSY) return true;
        // We hold it now: its thread died (or never took it).
        if (rc == EOWNERDEAD) pthread_mutex_consistent(&waiter.owner);
        pthread_mutex_unlock(&waiter.owner);
        __atomic_store_n(&waiter.state, kIdle, __ATOMIC_RELAXED);
        __atomic_store_n(&waiter.object, 0, __ATOMIC_RELAXED);
        __atomic_store_n(&waiter.busy, 0, __ATOMIC_RELEASE);
        return false;
    }

    static void Hand(machine::Waiter& waiter, uint32_t state) {
        __atomic_store_n(&waiter.state, state, __ATOMIC_RELEASE);
        WakeWord(&waiter.state);
    }

    // Hands the event to the oldest live waiter and returns it, to be woken
    // once the lock is let go (woken under it, the waiter would run into
    // the lock at once).  A waker that dies before that wake costs the
    // waiter at most kRecheck of sleep.
    machine::Waiter* WakeOneLocked() {
        for (;;) {
            machine::Waiter* oldest = nullptr;
            ForEachWaiter([&](machine::Waiter& waiter) {
                if (!oldest || waiter.ticket < oldest->ticket) oldest = &waiter;
            });
            if (!oldest) return nullptr;
            if (Alive(*oldest)) {
                __atomic_store_n(&oldest->state, kReleased, __ATOMIC_RELEASE);
                return oldest;
            }
        }
    }

    void WakeAllLocked() {
        ForEachWaiter([&](machine::Waiter& waiter) {
            if (Alive(waiter)) Hand(waiter, kReleased);
        });
    }

    uint32_t ClaimWaiterSlot();
    DWORD Block(machine::Waiter& slot, DWORD milliseconds);

    Segment* const segment_;
    const uint32_t index_;
};

uint32_t SharedEvent::ClaimWaiterSlot() {
    for (;;) {
        const uint32_t high = LoadWord(&segment_->waiterHigh);
        for (uint32_t i = 0; i < high && i < kWaiters; ++i) {
            uint32_t expected = 0;
            if (__atomic_compare_exchange_n(&segment_->waiters[i].busy, &expected, 1, false,
                                            __ATOMIC_ACQ_REL, __ATOMIC_RELAXED))
                return i;
        }
        if (high >= kWaiters) return kWaiters;
        uint32_t expected = high;
        __atomic_compare_exchange_n(&segment_->waiterHigh, &expected, high + 1, false, __ATOMIC_ACQ_REL,
                                    __ATOMIC_RELAXED);
    }
}

DWORD SharedEvent::Block(machine::Waiter& slot, DWORD milliseconds) {
    const timespec deadline = DeadlineAfter(milliseconds == INFINITE ? 0 : milliseconds);
    for (;;) {
        const uint32_t state = LoadWord(&slot.state);
        if (state != kWaiting) return state == kReleased ? WAIT_OBJECT_0 : kWaitTerminated;
        if (milliseconds == INFINITE) {
            syscall(SYS_futex, &slot.state, FUTEX_WAIT, kWaiting, &kRecheck, nullptr, 0);
            continue;
        }
        timespec left;
        if (!TimeLeft(deadline, &left)) break;
        if (left.tv_sec >= kRecheck.tv_sec) left = kRecheck;
        syscall(SYS_futex, &slot.state, FUTEX_WAIT, kWaiting, &left, nullptr, 0);
    }
    // Timed out, unless a wake got here first.
    LockObject();
    uint32_t state = LoadWord(&slot.state);
    if (state == kWaiting) __atomic_store_n(&slot.state, kIdle, __ATOMIC_RELEASE);
    UnlockObject();
    if (state == kWaiting) return WAIT_TIMEOUT;
    return state == kReleased ? WAIT_OBJECT_0 : kWaitTerminated;
}

DWORD SharedEvent::Wait(DWORD milliseconds) {
    // A thread started here announces a blocking wait with system calls:
    // not when the event is there to take.
    if (milliseconds == 0 || StartedThread()) {
        LockObject();
        const bool taken = TakeLocked();
        UnlockObject();
        if (taken) return WAIT_OBJECT_0;
        if (milliseconds == 0) return WAIT_TIMEOUT;
    }
    // The slot is made ready before the event's lock is taken, so one hold
    // of that lock either takes the event or publishes the wait.
    const uint32_t index = ClaimWaiterSlot();
    if (index == kWaiters) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return WAIT_FAILED;
    }
    machine::Waiter& slot = segment_->waiters[index];
    if (pthread_mutex_lock(&slot.owner) == EOWNERDEAD) pthread_mutex_consistent(&slot.owner);
    slot.process = CurrentSlot();
    SlotWaiter self;
    const bool announced = StartedThread() && BeginBlockingWait(this, &self);

    DWORD result = WAIT_TIMEOUT;
    bool published = false;
    LockObject();
    if (LoadWord(&self.state) == Waitable::kTerminated) {
        result = kWaitTerminated;  // terminated before the wait began
    } else if (TakeLocked()) {
        result = WAIT_OBJECT_0;
    } else {
        __atomic_store_n(&slot.object, index_ + 1, __ATOMIC_RELAXED);
        slot.ticket = __atomic_fetch_add(&segment_->ticket, 1, __ATOMIC_RELAXED);
        self.slot = index;
        __atomic_store_n(&slot.state, kWaiting, __ATOMIC_RELEASE);
        published = true;
    }
    UnlockObject();
    if (published) result = Block(slot, milliseconds);

    __atomic_store_n(&slot.object, 0, __ATOMIC_RELAXED);
    pthread_mutex_unlock(&slot.owner);
    __atomic_store_n(&slot.state, kIdle, __ATOMIC_RELAXED);
    __atomic_store_n(&slot.busy, 0, __ATOMIC_RELEASE);
    if (announced) EndBlockingWait();
    return result;
}

void SharedEvent::TerminateWaiter(Waiter* waiter) {
    auto* self = static_cast<SlotWaiter*>(waiter);
    LockObject();
    __atomic_store_n(&self->state, Waitable::kTerminated, __ATOMIC_RELEASE);
    if (self->slot < kWaiters) {
        machine::Waiter& slot = segment_->waiters[self->slot];
        if (LoadWord(&slot.state) == kWaiting && LoadWord(&slot.object) == index_ + 1) Hand(slot, kTerminated);
    }
    UnlockObject();
}

// The live object of a name; machine lock held.  kObjects when none.
uint32_t FindLocked(Segment* segment, uint64_t hash, const std::string& name) {
    for (uint32_t i = 0; i < segment->objectHigh; ++i) {
        if (segment->hashes[i] != hash) continue;
        const Object& object = segment->objects[i];
        if (object.state == kLive && object.nameLength == name.size() &&
            memcmp(object.name, name.data(), name.size()) == 0)
            return i;
    }
    return kObjects;
}

// Whether any process other than `self` that holds the object is alive.
bool OthersAliveLocked(Segment* segment, uint32_t index, uint32_t self) {
    for (uint32_t p = 0; p < kProcesses; ++p) {
        if (p == self || !Holds(segment->objects[index], p)) continue;
        const ProcessSlot& slot = segment->processes[p];
        if (slot.state == kPending || (slot.state == kLive && ProcessAlive(slot))) return true;
    }
    return false;
}

uint32_t NewObjectLocked(Segment* segment) {
    for (uint32_t i = 0; i < segment->objectHigh; ++i)
        if (segment->hashes[i] == 0 && segment->objects[i].state == kFree) return i;
    if (segment->objectHigh < kObjects) return segment->objectHigh++;
    return kObjects;
}

enum class Mode { Create, Open, Probe };

// Creates, opens or looks for a name.  Returns the local object, or null
// with the last error set (for Probe, null without an error when absent).
std::shared_ptr<SharedEvent> Find(Mode mode, bool manual, bool initial, const std::string& name,
                                  bool* existed) {
    if (name.size() + 1 > kNameBytes) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    Segment* segment = Attach();
    if (!segment) return nullptr;
    const uint64_t hash = NameHash(name);
    Mapped& mapped = TheMapped();
    std::lock_guard<std::mutex> guard(mapped.lock);
    LockMachine(segment);
    std::shared_ptr<SharedEvent> result;
    const uint32_t self = SelfSlotLocked(segment);
    uint32_t index = self < kProcesses ? FindLocked(segment, hash, name) : kObjects;
    // A name whose holders all died is gone.
    if (index < kObjects && !Holds(segment->objects[index], self) && !OthersAliveLocked(segment, index, self)) {
        SweepDeadLocked(segment);
        index = FindLocked(segment, hash, name);
    }
    *existed = index < kObjects;
    if (self == kProcesses) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    } else if (index < kObjects && mode != Mode::Probe) {
        Local& local = mapped.events[index];
        result = local.event.lock();
        if (!result) {
            segment->objects[index].holders[self / 64] |= uint64_t(1) << (self % 64);
            result = std::make_shared<SharedEvent>(segment, index);
            local.event = result;
            ++local.alive;
        }
    } else if (index == kObjects && mode == Mode::Open) {
        SetLastError(ERROR_FILE_NOT_FOUND);
    } else if (index == kObjects && mode == Mode::Create) {
        index = NewObjectLocked(segment);
        if (index == kObjects) {
            SweepDeadLocked(segment);
            index = NewObjectLocked(segment);
        }
        if (index == kObjects) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        } else {
            Object& object = segment->objects[index];
            object.state = kCreating;
            machine::InitSharedMutex(&object.lock);
            object.manual = manual;
            object.signalled = initial;
            memset(object.holders, 0, sizeof(object.holders));
            object.holders[self / 64] = uint64_t(1) << (self % 64);
            memcpy(object.name, name.data(), name.size());
            object.name[name.size()] = 0;
            object.nameLength = uint32_t(name.size());
            segment->hashes[index] = hash;
            __atomic_store_n(&object.state, kLive, __ATOMIC_RELEASE);
            result = std::make_shared<SharedEvent>(segment, index);
            mapped.events[index] = Local{result, 1};
        }
    }
    UnlockMachine(segment);
    return result;
}

HANDLE HandOut(std::shared_ptr<SharedEvent> event) {
    return event ? InsertHandle(std::move(event)) : nullptr;
}

}  // namespace

HANDLE CreateSharedEvent(bool manualReset, bool initialState, const std::string& name) {
    bool existed = false;
    HANDLE handle = HandOut(Find(Mode::Create, manualReset, initialState, name, &existed));
    if (handle) SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

HANDLE OpenSharedEvent(const std::string& name) {
    bool existed = false;
    return HandOut(Find(Mode::Open, false, false, name, &existed));
}

bool SharedEventExists(const std::string& name) {
    bool existed = false;
    Find(Mode::Probe, false, false, name, &existed);
    return existed;
}

bool LockSharedEventForTesting(HANDLE handle) {
    auto event = std::dynamic_pointer_cast<SharedEvent>(LookupHandle(handle, ObjectKind::Event));
    if (event) event->LockForTesting();
    return event != nullptr;
}

bool LockMachineForTesting() {
    Segment* segment = Attach();
    if (segment) LockMachine(segment);
    return segment != nullptr;
}

void SharedEventsPrepareFork() {
    TheMapped().lock.lock();
    PrepareFork();
}

void SharedEventsParentAfterFork() {
    ParentAfterFork();
    TheMapped().lock.unlock();
}

void SharedEventsChildAfterFork() {
    ChildAfterFork();
    TheMapped().lock.unlock();
}

}  // namespace zvp
