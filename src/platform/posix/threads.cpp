// threads.cpp - threads of the emulated machine: identity, creation and
// exit, waitable thread handles, suspension, termination, sleeping and the
// end of the process.
//
// Suspension: a thread created by _beginthreadex is stopped by a real-time
// signal sent to it alone (pthread_sigqueue), carrying a pointer to the
// thread's control block.  The handler parks the thread on a futex until it
// is resumed; SuspendThread returns only after the handler has reported the
// thread parked, so a suspended thread runs no further code of its own.  The
// handler uses nothing but atomics and futex system calls.
//
// Termination, like Win32's, runs none of the thread's code: the handler
// reports the thread dead and ends the kernel thread directly.  Its stack
// and anything it held stay behind, exactly the hazards TerminateThread has.
#include <errno.h>
#include <limits.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <iterator>
#include <mutex>
#include <new>
#include <unordered_map>

#include "platform/posix/fork.h"
#include "platform/posix/waitable.h"

namespace zvp {

// The kernel's thread id, asked once per thread: a gettid system call costs
// about a microsecond here, a thread-local read about a nanosecond, and
// every critical section and mutex asks on its fast path.
__thread DWORD t_threadId __attribute__((tls_model("initial-exec"))) = 0;

DWORD FetchCurrentThreadId(void) {
    t_threadId = DWORD(syscall(SYS_gettid));
    return t_threadId;
}

namespace {


// ---- Futex words shared with the signal handler -------------------------

void FutexWait(uint32_t* word, uint32_t expected) {
    syscall(SYS_futex, word, FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
}

void FutexWakeAll(uint32_t* word) { syscall(SYS_futex, word, FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0); }

uint32_t Load(const uint32_t* word) { return __atomic_load_n(word, __ATOMIC_ACQUIRE); }

// The part of a thread that its own signal handler touches.
struct Control {
    // Odd while a stop is requested.  Every suspend that stops the thread
    // and every resume that lets it go advances it by one; termination
    // advances it by two, which wakes a parked thread and keeps the parity.
    uint32_t request = 0;
    // The request value the thread last parked for: the suspender waits to
    // see its own value here.
    uint32_t parked = 0;
    uint32_t terminate = 0;  // 1: end the thread at once
    uint32_t dead = 0;       // 1: the thread has run its last instruction of ours
    uint32_t tid = 0;        // the kernel id, published when the thread starts
};

// The signal that stops and ends threads; chosen high in the real-time range,
// away from the low numbers other libraries tend to take.
int ControlSignal() { return SIGRTMAX - 3; }

[[noreturn]] void EndKernelThread(Control* control) {
    __atomic_store_n(&control->dead, 1, __ATOMIC_RELEASE);
    FutexWakeAll(&control->dead);
    // Only this thread ends; no unwinding, no destructors, no thread exit
    // handlers, as TerminateThread.
    for (;;) syscall(SYS_exit, 0);
}

// Runs on the thread being stopped, in the signal handler or inline when a
// thread suspends itself or starts suspended.  Returns once resumed.
void ParkWhileSuspended(Control* control) {
    for (;;) {
        // The request word first: reading it pairs with the suspender's
        // change of it, which the block's making comes before.
        uint32_t request = Load(&control->request);
        if (Load(&control->terminate)) EndKernelThread(control);
        if ((request & 1) == 0) return;
        // Woken every time, even when `parked` already holds the request:
        // the signal may arrive between an inline park's store and its
        // wake, and the handler's park would then wait for a resume that
        // the suspender, never woken, cannot give.
        __atomic_store_n(&control->parked, request, __ATOMIC_RELEASE);
        FutexWakeAll(&control->parked);
        FutexWait(&control->request, request);
    }
}

void OnControlSignal(int, siginfo_t* info, void*) {
    // Only our own pthread_sigqueue carries a control block; anything else
    // sending this signal is ignored.
    if (info->si_code != SI_QUEUE || info->si_pid != getpid() || !info->si_value.sival_ptr) return;
    int savedErrno = errno;
    ParkWhileSuspended(static_cast<Control*>(info->si_value.sival_ptr));
    errno = savedErrno;
}

void InstallControlHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action = {};
        action.sa_sigaction = OnControlSignal;
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        // A parked thread runs no other handler either.
        sigfillset(&action.sa_mask);
        sigaction(ControlSignal(), &action, nullptr);
    });
}

// ---- The thread object ---------------------------------------------------

class ThreadObject final : public Waitable {
  public:
    ThreadObject(unsigned(ZV_STDCALL* start)(void*), void* arg)
        : Waitable(ObjectKind::Thread), start(start), arg(arg) {}

    // Signals the handle and records the exit code; the handle's waiters go.
    void Finish(DWORD code) {
        std::lock_guard<std::mutex> guard(lock_);
        exitCode_ = code;
        exited_ = true;
        WakeAllLocked();
    }

    DWORD ExitCode() {
        std::lock_guard<std::mutex> guard(lock_);
        return exited_ ? exitCode_ : DWORD(STILL_ACTIVE);
    }

    Control control;
    // Serialises suspend, resume, terminate and the thread's own exit.
    std::mutex controlLock;
    DWORD suspendCount = 0;  // under controlLock
    bool ending = false;     // under controlLock: leaving or gone, send it nothing
    bool started = false;    // under controlLock: `thread` is valid
    pthread_t thread{};      // under controlLock
    // Where the thread is blocked in a wait, if it is; under controlLock.
    Waitable* waitObject = nullptr;
    Waitable::Waiter* waiter = nullptr;
    // A thread the library did not start and that has not yet called into
    // the layer: no pthread_t is known, signals go to its kernel id.
    bool byIdOnly = false;  // under controlLock

    void AfterForkInChild() override;

    // The running thread's own reference, dropped by whoever finishes it.
    std::shared_ptr<ThreadObject> self;
    unsigned(ZV_STDCALL* const start)(void*);
    void* const arg;
    unsigned result = 0;  // the thread's own: its routine's result or _endthreadex's code

  protected:
    bool TryTakeLocked() override { return exited_; }

  private:
    bool exited_ = false;
    DWORD exitCode_ = 0;
};

thread_local ThreadObject* t_self = nullptr;

void ThreadObject::AfterForkInChild() {
    Waitable::AfterForkInChild();
    new (&controlLock) std::mutex;
    // Only the forking thread lives on; the others cannot be reached.
    if (this != t_self) ending = true;
}

// Every thread object by kernel id, so that OpenThread finds the one a
// thread already has (one suspend count per thread).
struct ThreadIds {
    std::mutex lock;
    std::unordered_map<DWORD, std::weak_ptr<ThreadObject>> threads;
    // Objects of threads known by id only: their end is never seen, and a
    // signal may still be parked on their control block after the last
    // handle goes, so they are kept (one per such thread).
    std::unordered_map<DWORD, std::shared_ptr<ThreadObject>> byIdOnly;
};
ThreadIds& Ids() {
    static ThreadIds* ids = new ThreadIds;  // never destroyed, like the handle table
    return *ids;
}

void RecordThreadId(const std::shared_ptr<ThreadObject>& object, DWORD tid) {
    ThreadIds& ids = Ids();
    std::lock_guard<std::mutex> guard(ids.lock);
    for (auto it = ids.threads.begin(); it != ids.threads.end();)
        it = it->second.expired() ? ids.threads.erase(it) : std::next(it);
    ids.threads[tid] = object;
}

// The object of a running thread by its id, made (for a thread the library
// did not start) when it has none yet.  Null when out of memory.
std::shared_ptr<ThreadObject> ObjectOfThreadId(DWORD tid, bool byIdOnly) {
    ThreadIds& ids = Ids();
    std::lock_guard<std::mutex> guard(ids.lock);
    auto it = ids.threads.find(tid);
    if (it != ids.threads.end()) {
        if (auto existing = it->second.lock()) {
            std::lock_guard<std::mutex> control(existing->controlLock);
            if (!existing->ending) return existing;  // else the id was reused
        }
    }
    std::shared_ptr<ThreadObject> object(new (std::nothrow) ThreadObject(nullptr, nullptr));
    if (!object) return nullptr;
    object->control.tid = tid;
    object->byIdOnly = byIdOnly;
    object->started = byIdOnly;
    ids.threads[tid] = object;
    if (byIdOnly) ids.byIdOnly[tid] = object;
    return object;
}
// The thread has announced a blocking wait that SettleAfterWait still has to
// close.
thread_local bool t_waitAnnounced = false;

void SetControlSignalBlocked(bool blocked) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, ControlSignal());
    pthread_sigmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

void StartLeaving(ThreadObject* self);

// A thread the library did not start gets its object the first time it
// needs one; the object is finished when the thread's thread-locals go.
struct AdoptedThread {
    ThreadObject* object = nullptr;
    ~AdoptedThread() {
        if (!object) return;
        StartLeaving(object);
        t_self = nullptr;
        object->Finish(0);
        std::shared_ptr<ThreadObject> last = std::move(object->self);
    }
};
thread_local AdoptedThread t_adopted;

std::shared_ptr<ThreadObject> AdoptCurrentThread() {
    InstallControlHandler();
    std::shared_ptr<ThreadObject> object = ObjectOfThreadId(GetCurrentThreadId(), false);
    if (!object) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    {
        std::lock_guard<std::mutex> guard(object->controlLock);
        object->thread = pthread_self();
        object->started = true;
        object->byIdOnly = false;
    }
    object->self = object;
    t_self = object.get();
    t_adopted.object = object.get();
    return object;
}

// The calling thread's pseudo-handle stands for its object, made on first
// use for a thread the library did not start.
std::shared_ptr<ThreadObject> ResolveThread(HANDLE handle) {
    if (handle == GetCurrentThread()) return t_self ? t_self->self : AdoptCurrentThread();
    return LookupHandleAs<ThreadObject>(handle, ObjectKind::Thread);
}

// Sends the control signal to a thread; 0 or an errno value.
int SendControl(ThreadObject* object) {
    union sigval value;
    value.sival_ptr = &object->control;
    if (!object->byIdOnly) return pthread_sigqueue(object->thread, ControlSignal(), value);
    siginfo_t info = {};
    info.si_signo = ControlSignal();
    info.si_code = SI_QUEUE;
    info.si_pid = getpid();
    info.si_uid = getuid();
    info.si_value = value;
    if (syscall(SYS_rt_tgsigqueueinfo, getpid(), Load(&object->control.tid), ControlSignal(), &info) == 0)
        return 0;
    return errno;
}

// Takes a thread's controlLock.  A thread taking its own polls rather than
// blocks: a suspender may hold the lock while it waits for this thread to
// take its signal, and a sanitizer may defer signals during a blocking lock
// call.
std::unique_lock<std::mutex> LockControl(ThreadObject* object) {
    if (object != t_self) return std::unique_lock<std::mutex>(object->controlLock);
    std::unique_lock<std::mutex> guard(object->controlLock, std::try_to_lock);
    while (!guard.owns_lock()) {
        sched_yield();
        guard.try_lock();
    }
    return guard;
}

// Marks the thread as leaving, so no suspension or termination starts on
// it any more, and stops signals reaching it.  If a termination got there
// first, the thread ends here as that termination asks.
void StartLeaving(ThreadObject* self) {
    bool terminated;
    {
        auto guard = LockControl(self);
        terminated = self->ending;
        self->ending = true;
    }
    if (terminated) EndKernelThread(&self->control);
    SetControlSignalBlocked(true);
}

// The thread's normal end: its routine returned or it called _endthreadex.
void Leave(ThreadObject* self) {
    StartLeaving(self);
    t_self = nullptr;
    self->Finish(self->result);
    std::shared_ptr<ThreadObject> last = std::move(self->self);
}  // `self` may be gone from here on

struct LeaveOnExit {
    ThreadObject* self;
    ~LeaveOnExit() { Leave(self); }
};

void* ThreadMain(void* argument) {
    auto* self = static_cast<ThreadObject*>(argument);
    t_self = self;
    {
        // Known from here on even if the creator has not yet recorded it, so
        // that the thread can suspend itself at once.
        auto guard = LockControl(self);
        self->thread = pthread_self();
        self->started = true;
    }
    __atomic_store_n(&self->control.tid, GetCurrentThreadId(), __ATOMIC_RELEASE);
    FutexWakeAll(&self->control.tid);
    RecordThreadId(self->self, GetCurrentThreadId());
    // Created suspended: wait here for the first resume.
    ParkWhileSuspended(&self->control);
    // Runs on a normal return and on _endthreadex's unwinding alike.
    LeaveOnExit leave{self};
    self->result = self->start(self->arg);
    return nullptr;
}

}  // namespace

bool StartedThread() { return t_self != nullptr; }

void ThreadsPrepareFork() {
    InstallControlHandler();
    Ids().lock.lock();
}

void ThreadsParentAfterFork() { Ids().lock.unlock(); }

void ThreadsChildAfterFork() {
    // The forking thread runs on under a new kernel id.
    t_threadId = 0;
    Ids().threads.clear();
    Ids().byIdOnly.clear();
    Ids().lock.unlock();
    if (ThreadObject* self = t_self) {
        __atomic_store_n(&self->control.tid, GetCurrentThreadId(), __ATOMIC_RELEASE);
        RecordThreadId(self->self, GetCurrentThreadId());
    }
}

bool BeginBlockingWait(Waitable* object, Waitable::Waiter* waiter) {
    ThreadObject* self = t_self;
    if (!self) return false;
    // The control lock first, with the signal still let in: a suspender
    // holds the lock until this thread has taken its signal.  Then no signal
    // may stop or end the thread while it holds the object's lock.
    auto guard = LockControl(self);
    SetControlSignalBlocked(true);
    t_waitAnnounced = true;
    self->waitObject = object;
    self->waiter = waiter;
    // Terminated meanwhile: the wait must not begin.
    if (self->ending && Load(&self->control.terminate))
        __atomic_store_n(&waiter->state, Waitable::kTerminated, __ATOMIC_RELEASE);
    return true;
}

void EndBlockingWait() {
    ThreadObject* self = t_self;
    auto guard = LockControl(self);
    self->waitObject = nullptr;
    self->waiter = nullptr;
}

void SettleAfterWait() {
    if (!t_waitAnnounced) return;
    t_waitAnnounced = false;
    SetControlSignalBlocked(false);
    // Suspended or terminated while it was blocked: stop or end here.
    if (ThreadObject* self = t_self) ParkWhileSuspended(&self->control);
}

namespace {

size_t StackSizeFor(unsigned requested) {
    // As on Win32, a request never shrinks the stack below the default.
    pthread_attr_t attr;
    size_t standard = 0;
    if (pthread_attr_init(&attr) == 0) {
        pthread_attr_getstacksize(&attr, &standard);
        pthread_attr_destroy(&attr);
    }
    if (requested <= standard) return 0;
    size_t page = size_t(sysconf(_SC_PAGESIZE));
    return (size_t(requested) + page - 1) / page * page;
}

uintptr_t FailCreation(int error) {
    errno = error;
    SetLastError(Win32ErrorFromErrno(error));
    return 0;
}

}  // namespace
}  // namespace zvp

HANDLE GetCurrentThread(void) { return reinterpret_cast<HANDLE>(intptr_t(-2)); }

HANDLE GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(intptr_t(-1)); }

DWORD GetCurrentProcessId(void) { return DWORD(getpid()); }

uintptr_t _beginthreadex(void*, unsigned stackSize, unsigned(ZV_STDCALL* start)(void*), void* arg,
                         unsigned initFlag, unsigned* threadId) {
    using namespace zvp;
    if (!start) return FailCreation(EINVAL);
    InstallControlHandler();

    std::shared_ptr<ThreadObject> object(new (std::nothrow) ThreadObject(start, arg));
    if (!object) return FailCreation(ENOMEM);
    if (initFlag & CREATE_SUSPENDED) {
        object->suspendCount = 1;
        object->control.request = 1;
    }
    HANDLE handle = InsertHandle(object);
    if (!handle) return FailCreation(EAGAIN);
    object->self = object;

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    int error = 0;
    if (size_t size = StackSizeFor(stackSize)) error = pthread_attr_setstacksize(&attr, size);
    pthread_t thread{};
    if (error == 0) error = pthread_create(&thread, &attr, ThreadMain, object.get());
    pthread_attr_destroy(&attr);
    if (error != 0) {
        object->self.reset();
        RemoveHandle(handle);
        return FailCreation(error == EINVAL ? ENOMEM : error);
    }
    {
        std::lock_guard<std::mutex> guard(object->controlLock);
        object->thread = thread;
        object->started = true;
    }
    if (threadId) {
        uint32_t id;
        while ((id = Load(&object->control.tid)) == 0) FutexWait(&object->control.tid, 0);
        *threadId = id;
    }
    return reinterpret_cast<uintptr_t>(handle);
}

void _endthreadex(unsigned exitCode) {
    if (zvp::t_self) zvp::t_self->result = exitCode;
    // Unwinds the thread's frames to ThreadMain, which signals the handle.
    pthread_exit(nullptr);
}

HANDLE OpenThread(DWORD, BOOL, DWORD threadId) {
    using namespace zvp;
    std::shared_ptr<ThreadObject> object;
    if (threadId == GetCurrentThreadId()) {
        object = ResolveThread(GetCurrentThread());
    } else {
        // A thread of this process, whoever started it.
        if (threadId == 0 || syscall(SYS_tgkill, getpid(), pid_t(threadId), 0) != 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        InstallControlHandler();
        object = ObjectOfThreadId(threadId, true);
        if (!object) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return object ? InsertHandle(object) : nullptr;
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
    // The calling thread is running, whoever started it.
    if (thread == GetCurrentThread() && !zvp::t_self) {
        if (!exitCode) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        *exitCode = STILL_ACTIVE;
        return TRUE;
    }
    auto object = zvp::ResolveThread(thread);
    if (!object) return FALSE;
    if (!exitCode) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *exitCode = object->ExitCode();
    return TRUE;
}

DWORD SuspendThread(HANDLE thread) {
    using namespace zvp;
    auto object = ResolveThread(thread);
    if (!object) return DWORD(-1);
    auto guard = LockControl(object.get());
    if (object->ending || !object->started) {
        SetLastError(ERROR_ACCESS_DENIED);
        return DWORD(-1);
    }
    DWORD previous = object->suspendCount;
    if (previous >= MAXIMUM_SUSPEND_COUNT) {
        SetLastError(ERROR_SIGNAL_REFUSED);
        return DWORD(-1);
    }
    ++object->suspendCount;
    if (previous > 0) return previous;

    uint32_t request = __atomic_add_fetch(&object->control.request, 1, __ATOMIC_ACQ_REL);
    // Blocked in a wait, the thread runs none of its code; it parks on its
    // way out of the wait.
    if (object->waitObject) return previous;
    if (object.get() == t_self) {
        // Suspending oneself: park here until another thread resumes us.
        guard.unlock();
        ParkWhileSuspended(&object->control);
        return previous;
    }
    int error = SendControl(object.get());
    if (error != 0) {
        --object->suspendCount;
        __atomic_add_fetch(&object->control.request, 1, __ATOMIC_ACQ_REL);
        SetLastError(error == ESRCH ? ERROR_ACCESS_DENIED : ERROR_NOT_ENOUGH_MEMORY);
        return DWORD(-1);
    }
    uint32_t parked;
    while ((parked = Load(&object->control.parked)) != request) FutexWait(&object->control.parked, parked);
    return previous;
}

DWORD ResumeThread(HANDLE thread) {
    auto object = zvp::ResolveThread(thread);
    if (!object) return DWORD(-1);
    // As on Win32, a thread that has ended can still be resumed: its count
    // is reported (0 unless it ended while suspended) and counts down.
    auto guard = zvp::LockControl(object.get());
    DWORD previous = object->suspendCount;
    if (previous == 0) return 0;
    if (--object->suspendCount == 0) {
        __atomic_add_fetch(&object->control.request, 1, __ATOMIC_ACQ_REL);
        zvp::FutexWakeAll(&object->control.request);
    }
    return previous;
}

BOOL TerminateThread(HANDLE thread, DWORD exitCode) {
    using namespace zvp;
    auto object = ResolveThread(thread);
    if (!object) return FALSE;
    if (object.get() == t_self) {
        // Ending oneself: no unwinding, no destructors.
        StartLeaving(object.get());
        t_self = nullptr;
        object->Finish(exitCode);
        object->self.reset();
        object.reset();  // the handle may keep it alive; nothing here touches it again
        for (;;) syscall(SYS_exit, 0);
    }
    {
        std::lock_guard<std::mutex> guard(object->controlLock);
        if (!object->started) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        // Already gone or going: it keeps the exit code it leaves with.
        if (object->ending) return TRUE;
        __atomic_store_n(&object->control.terminate, 1, __ATOMIC_RELEASE);
        if (object->waitObject) {
            // Blocked in a wait: woken out of it, it ends once it has let go
            // of the object.
            object->waitObject->TerminateWaiter(object->waiter);
        } else if (object->suspendCount > 0) {
            // Parked: wake it, and it ends instead of running on.
            __atomic_add_fetch(&object->control.request, 2, __ATOMIC_ACQ_REL);
            FutexWakeAll(&object->control.request);
        } else {
            int error = SendControl(object.get());
            if (error != 0) {
                __atomic_store_n(&object->control.terminate, 0, __ATOMIC_RELEASE);
                SetLastError(error == ESRCH ? ERROR_ACCESS_DENIED : ERROR_NOT_ENOUGH_MEMORY);
                return FALSE;
            }
        }
        object->ending = true;
    }
    while (Load(&object->control.dead) == 0) FutexWait(&object->control.dead, 0);
    object->Finish(exitCode);
    object->self.reset();
    return TRUE;
}

BOOL TerminateProcess(HANDLE process, UINT exitCode) {
    if (process != GetCurrentProcess()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // No atexit handlers, no static destructors, no unload, no stream flush.
    _exit(int(exitCode));
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    if (milliseconds == INFINITE) {
        for (;;) pause();
    }
    // Against a deadline, so that time spent suspended counts, as on Win32.
    const timespec deadline = zvp::DeadlineAfter(milliseconds);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}
