// events.cpp - events, semaphores, waits and CloseHandle.
//
// Names are compared as UTF-8, so the narrow (ISO-8859-1) and the wide
// spelling of the same characters name the same object; names are
// case-sensitive, as Win32 object names are.  Named events belong to the
// whole machine (shared_events.cpp); named semaphores to this process.  A
// name lives as long as any handle to its object.
#include <linux/futex.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <new>
#include <unordered_map>

#include "platform/posix/waitable.h"

namespace zvp {

// ---- Waitable ------------------------------------------------------------

bool Waitable::IsWaitableKind(ObjectKind kind) {
    return kind == ObjectKind::Event || kind == ObjectKind::Semaphore || kind == ObjectKind::Thread;
}

namespace {

uint32_t LoadState(const uint32_t* state) { return __atomic_load_n(state, __ATOMIC_ACQUIRE); }

DWORD ResultOf(uint32_t state) {
    return state == Waitable::kReleased ? WAIT_OBJECT_0 : Waitable::kWaitTerminated;
}

}  // namespace

DWORD Waitable::Wait(DWORD milliseconds) {
    std::unique_lock<std::mutex> guard(lock_);
    if (TryTakeLocked()) return WAIT_OBJECT_0;
    if (milliseconds == 0) return WAIT_TIMEOUT;
    Waiter self;
    bool announced = false;
    if (StartedThread()) {
        // Announced without the object's lock: termination takes the
        // thread's control lock first and the object's lock second.
        guard.unlock();
        announced = BeginBlockingWait(this, &self);
        guard.lock();
    }
    DWORD result;
    if (LoadState(&self.state) == kTerminated) {
        result = kWaitTerminated;  // terminated before the wait began
    } else if (TryTakeLocked()) {
        result = WAIT_OBJECT_0;
    } else {
        Link(&self);
        guard.unlock();
        result = Block(&self, milliseconds);
    }
    if (guard.owns_lock()) guard.unlock();
    if (announced) EndBlockingWait();
    return result;
}

timespec DeadlineAfter(DWORD milliseconds) {
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += milliseconds / 1000;
    deadline.tv_nsec += long(milliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_nsec -= 1000000000L;
        ++deadline.tv_sec;
    }
    return deadline;
}

bool TimeLeft(const timespec& deadline, timespec* left) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    left->tv_sec = deadline.tv_sec - now.tv_sec;
    left->tv_nsec = deadline.tv_nsec - now.tv_nsec;
    if (left->tv_nsec < 0) {
        left->tv_nsec += 1000000000L;
        --left->tv_sec;
    }
    return left->tv_sec >= 0;
}

DWORD Waitable::Block(Waiter* self, DWORD milliseconds) {
    if (milliseconds == INFINITE) {
        uint32_t state;
        while ((state = LoadState(&self->state)) == kWaiting)
            syscall(SYS_futex, &self->state, FUTEX_WAIT_PRIVATE, kWaiting, nullptr, nullptr, 0);
        return ResultOf(state);
    }
    const timespec deadline = DeadlineAfter(milliseconds);
    for (;;) {
        uint32_t state = LoadState(&self->state);
        if (state != kWaiting) return ResultOf(state);
        timespec left;
        if (!TimeLeft(deadline, &left)) break;
        syscall(SYS_futex, &self->state, FUTEX_WAIT_PRIVATE, kWaiting, &left, nullptr, 0);
    }
    // Timed out, unless a wake got here first.
    std::lock_guard<std::mutex> guard(lock_);
    uint32_t state = LoadState(&self->state);
    if (state != kWaiting) return ResultOf(state);
    Unlink(self);
    return WAIT_TIMEOUT;
}

void Waitable::Release(Waiter* waiter, uint32_t state) {
    __atomic_store_n(&waiter->state, state, __ATOMIC_RELEASE);
    // The waiter may see its new state and leave before this wake arrives; a
    // wake of a futex nobody sleeps on does no harm, and any later sleeper
    // on that address rechecks its own state.
    syscall(SYS_futex, &waiter->state, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

void Waitable::TerminateWaiter(Waiter* waiter) {
    std::lock_guard<std::mutex> guard(lock_);
    // Already handed the object: it leaves the wait by itself.
    if (LoadState(&waiter->state) != kWaiting) return;
    if (waiter->linked) Unlink(waiter);
    Release(waiter, kTerminated);
}

void Waitable::AfterForkInChild() {
    new (&lock_) std::mutex;
    head_ = tail_ = nullptr;
}

size_t Waitable::WaitingThreads() {
    std::lock_guard<std::mutex> guard(lock_);
    size_t count = 0;
    for (Waiter* waiter = head_; waiter; waiter = waiter->next) ++count;
    return count;
}

size_t WaitingThreads(HANDLE handle) {
    auto object = std::static_pointer_cast<Waitable>(LookupHandleIf(handle, Waitable::IsWaitableKind));
    return object ? object->WaitingThreads() : 0;
}

void Waitable::Link(Waiter* waiter) {
    waiter->prev = tail_;
    if (tail_) tail_->next = waiter;
    else head_ = waiter;
    tail_ = waiter;
    waiter->linked = true;
}

void Waitable::Unlink(Waiter* waiter) {
    if (waiter->prev) waiter->prev->next = waiter->next;
    else head_ = waiter->next;
    if (waiter->next) waiter->next->prev = waiter->prev;
    else tail_ = waiter->prev;
    waiter->next = waiter->prev = nullptr;
    waiter->linked = false;
}

bool Waitable::WakeOneLocked() {
    Waiter* waiter = head_;
    if (!waiter) return false;
    Unlink(waiter);
    Release(waiter, kReleased);
    return true;
}

void Waitable::WakeAllLocked() {
    while (WakeOneLocked()) {
    }
}

namespace {

// ---- The name table ------------------------------------------------------

constexpr size_t kMaxObjectName = 260;  // MAX_PATH, Win32's limit for object names

struct NameTable {
    std::mutex lock;
    std::unordered_map<std::string, std::weak_ptr<Waitable>> names;
};

NameTable& Names() {
    static NameTable* table = new NameTable;  // never destroyed, like the handle table
    return *table;
}

}  // namespace

void NamesPrepareFork() { Names().lock.lock(); }
void NamesParentAfterFork() { Names().lock.unlock(); }
void NamesChildAfterFork() { Names().lock.unlock(); }

namespace {

// Whether a name's length is within the limit; sets the error when not.
bool NameFits(size_t nameLength) {
    if (nameLength <= kMaxObjectName) return true;
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
}

// The live object of a name, or null; called with the table's lock held.
std::shared_ptr<Waitable> FindNamedLocked(NameTable& table, const std::string& name) {
    auto it = table.names.find(name);
    return it == table.names.end() ? nullptr : it->second.lock();
}

// An event or semaphore that may carry a name; the name leaves the table
// when the last reference to the object goes.
class NamedWaitable : public Waitable {
  public:
    NamedWaitable(ObjectKind kind, std::string name) : Waitable(kind), name_(std::move(name)) {}
    ~NamedWaitable() override {
        if (name_.empty()) return;
        NameTable& table = Names();
        std::lock_guard<std::mutex> guard(table.lock);
        // The entry may already name a newer object of the same name.
        auto it = table.names.find(name_);
        if (it != table.names.end() && it->second.expired()) table.names.erase(it);
    }

  private:
    std::string name_;
};

// An unnamed event, private to this process.
class Event final : public EventObject {
  public:
    Event(bool manualReset, bool signalled) : manual_(manualReset), signalled_(signalled) {}

    void Set() override {
        std::lock_guard<std::mutex> guard(lock_);
        if (manual_) {
            signalled_ = true;
            WakeAllLocked();
        } else if (!WakeOneLocked()) {
            // Nobody waits: the event stays set for the next waiter.
            signalled_ = true;
        }
    }

    void Reset() override {
        std::lock_guard<std::mutex> guard(lock_);
        signalled_ = false;
    }

    void Pulse() override {
        std::lock_guard<std::mutex> guard(lock_);
        if (manual_) WakeAllLocked();
        else WakeOneLocked();
        signalled_ = false;
    }

  protected:
    bool TryTakeLocked() override {
        if (!signalled_) return false;
        if (!manual_) signalled_ = false;
        return true;
    }

  private:
    const bool manual_;
    bool signalled_;
};

class Semaphore final : public NamedWaitable {
  public:
    Semaphore(LONG initial, LONG maximum, std::string name)
        : NamedWaitable(ObjectKind::Semaphore, std::move(name)), count_(initial), maximum_(maximum) {}

    BOOL Release(LONG count, LONG* previous) {
        std::lock_guard<std::mutex> guard(lock_);
        if (count > maximum_ - count_) {
            SetLastError(ERROR_TOO_MANY_POSTS);
            return FALSE;
        }
        if (previous) *previous = count_;
        // Waiters exist only while the count is 0; each takes one unit.
        while (count > 0 && WakeOneLocked()) --count;
        count_ += count;
        return TRUE;
    }

  protected:
    bool TryTakeLocked() override {
        if (count_ == 0) return false;
        --count_;
        return true;
    }

  private:
    LONG count_;
    const LONG maximum_;
};

// Creates the object, or for a name already in the table, opens the object
// that has it (ERROR_ALREADY_EXISTS).  `name` is UTF-8; empty means unnamed.
template <class Make>
HANDLE CreateObject(ObjectKind kind, const std::string& name, size_t nameLength, Make make) {
    if (!NameFits(nameLength)) return nullptr;
    if (name.empty()) {
        std::shared_ptr<Waitable> object(make(std::string()));
        HANDLE handle = InsertHandle(std::move(object));
        if (handle) SetLastError(ERROR_SUCCESS);
        return handle;
    }
    // Declared before the guard so that a last reference dropped here runs
    // the object's destructor, which takes the table lock, after it.
    std::shared_ptr<Waitable> object;
    NameTable& table = Names();
    std::lock_guard<std::mutex> guard(table.lock);
    object = FindNamedLocked(table, name);
    if (object) {
        if (object->kind() != kind) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        HANDLE handle = InsertHandle(object);
        if (handle) SetLastError(ERROR_ALREADY_EXISTS);
        return handle;
    }
    object.reset(make(name));
    table.names[name] = object;
    HANDLE handle = InsertHandle(object);
    if (handle) SetLastError(ERROR_SUCCESS);
    return handle;
}

size_t WideLength(LPCWSTR text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

// Whether this process has a semaphore of the name (the two kinds share
// one namespace).
bool SemaphoreNamed(const std::string& name) {
    NameTable& table = Names();
    std::lock_guard<std::mutex> guard(table.lock);
    return FindNamedLocked(table, name) != nullptr;
}

HANDLE CreateEventUtf8(BOOL manualReset, BOOL initialState, const std::string& name, size_t length) {
    if (!NameFits(length)) return nullptr;
    if (name.empty()) {
        HANDLE handle = InsertHandle(std::make_shared<Event>(manualReset != FALSE, initialState != FALSE));
        if (handle) SetLastError(ERROR_SUCCESS);
        return handle;
    }
    if (SemaphoreNamed(name)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return CreateSharedEvent(manualReset != FALSE, initialState != FALSE, name);
}

HANDLE OpenEventUtf8(const std::string& name, size_t length) {
    if (!NameFits(length)) return nullptr;
    if (SemaphoreNamed(name)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return OpenSharedEvent(name);
}

std::shared_ptr<EventObject> LookupEvent(HANDLE handle) {
    return LookupHandleAs<EventObject>(handle, ObjectKind::Event);
}

bool IsClosableKind(ObjectKind kind) {
    // Modules and registry keys are closed by their own calls, as on Win32.
    return Waitable::IsWaitableKind(kind);
}

}  // namespace
}  // namespace zvp

using zvp::LookupEvent;

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name) {
    if (zvp::WideCallUnavailable()) return nullptr;
    if (!name) return zvp::CreateEventUtf8(manualReset, initialState, std::string(), 0);
    return zvp::CreateEventUtf8(manualReset, initialState, zvp::Utf16ToUtf8(name), zvp::WideLength(name));
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name) {
    if (!name) return zvp::CreateEventUtf8(manualReset, initialState, std::string(), 0);
    return zvp::CreateEventUtf8(manualReset, initialState, zvp::Latin1ToUtf8(name), strlen(name));
}

HANDLE OpenEventW(DWORD, BOOL, LPCWSTR name) {
    if (zvp::WideCallUnavailable()) return nullptr;
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return zvp::OpenEventUtf8(zvp::Utf16ToUtf8(name), zvp::WideLength(name));
}

HANDLE OpenEventA(DWORD, BOOL, LPCSTR name) {
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return zvp::OpenEventUtf8(zvp::Latin1ToUtf8(name), strlen(name));
}

BOOL SetEvent(HANDLE event) {
    auto object = LookupEvent(event);
    if (!object) return FALSE;
    object->Set();
    return TRUE;
}

BOOL ResetEvent(HANDLE event) {
    auto object = LookupEvent(event);
    if (!object) return FALSE;
    object->Reset();
    return TRUE;
}

BOOL PulseEvent(HANDLE event) {
    auto object = LookupEvent(event);
    if (!object) return FALSE;
    object->Pulse();
    return TRUE;
}

HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES, LONG initialCount, LONG maximumCount, LPCSTR name) {
    if (maximumCount <= 0 || initialCount < 0 || initialCount > maximumCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string utf8 = name ? zvp::Latin1ToUtf8(name) : std::string();
    if (!utf8.empty() && zvp::SharedEventExists(utf8)) {
        SetLastError(ERROR_INVALID_HANDLE);  // an event has the name
        return nullptr;
    }
    return zvp::CreateObject(zvp::ObjectKind::Semaphore, utf8, name ? strlen(name) : 0,
                             [&](std::string objectName) {
                                 return new zvp::Semaphore(initialCount, maximumCount, std::move(objectName));
                             });
}

BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LONG* previousCount) {
    auto object = zvp::LookupHandleAs<zvp::Semaphore>(semaphore, zvp::ObjectKind::Semaphore);
    if (!object) return FALSE;
    if (releaseCount <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return object->Release(releaseCount, previousCount);
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    // Windows ignores the low two bits of a handle value (they are free for
    // the caller's tags); the pseudo-handles, all bits set there, stay invalid.
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (value < (uintptr_t(1) << 31)) handle = reinterpret_cast<HANDLE>(value & ~uintptr_t(3));
    auto object = std::static_pointer_cast<zvp::Waitable>(
        zvp::LookupHandleIf(handle, zvp::Waitable::IsWaitableKind));
    if (!object) return WAIT_FAILED;
    DWORD result = object->Wait(milliseconds);
    // A thread being terminated or suspended in the wait ends or stops
    // here, holding no lock and no reference.
    object.reset();
    zvp::SettleAfterWait();
    return result;
}

BOOL CloseHandle(HANDLE handle) {
    // The object itself goes when its last handle and the last call still
    // using it let go; a thread runs on after its handle is closed.
    return zvp::RemoveHandleIf(handle, zvp::IsClosableKind) ? TRUE : FALSE;
}
