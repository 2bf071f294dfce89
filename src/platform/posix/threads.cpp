// threads.cpp - thread identity of the emulated machine.
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/win32.h"

namespace {

// The kernel's thread id, asked once per thread: a gettid system call costs
// about a microsecond here, a thread-local read about a nanosecond, and
// every critical section and mutex asks on its fast path.
thread_local DWORD t_threadId = 0;

// A forked child runs the forking thread under a new kernel id.
void ForgetThreadIdInChild() { t_threadId = 0; }

[[maybe_unused]] const int g_atforkRegistered = pthread_atfork(nullptr, nullptr, ForgetThreadIdInChild);

}  // namespace

DWORD GetCurrentThreadId(void) {
    DWORD id = t_threadId;
    if (id == 0) {
        id = DWORD(syscall(SYS_gettid));
        t_threadId = id;
    }
    return id;
}

HANDLE GetCurrentThread(void) { return reinterpret_cast<HANDLE>(intptr_t(-2)); }

HANDLE GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(intptr_t(-1)); }

DWORD GetCurrentProcessId(void) { return DWORD(getpid()); }
