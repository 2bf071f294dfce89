// threads.cpp - thread creation and control, and the immediate end of the
// process.  Threads start through the runtime library, so that its
// per-thread state is set up and released with them.
#include "platform/win32.h"
#include "zv.h"

extern "C" {

ZV_API ZVHANDLE ZVCreateThread(uint32_t stackSize, ZVThreadProc start, void* arg) {
    // Runs at once; the new thread asks for its own id if it needs it.
    return reinterpret_cast<ZVHANDLE>(_beginthreadex(nullptr, stackSize, start, arg, 0, nullptr));
}

ZV_API int32_t ZVTerminateThread(ZVHANDLE thread, uint32_t exitCode) {
    return TerminateThread(thread, exitCode);
}

// Gives up the handle only; the thread runs on.
ZV_API int32_t ZVCloseThreadHandle(ZVHANDLE thread) { return CloseHandle(thread); }

ZV_API void ZVExitThread(uint32_t exitCode) { _endthreadex(exitCode); }

ZV_API ZVHANDLE ZVGetCurrentThread(void) { return GetCurrentThread(); }

ZV_API uint32_t ZVGetCurrentThreadId(void) { return GetCurrentThreadId(); }

ZV_API uint32_t ZVSuspendThread(ZVHANDLE thread) { return SuspendThread(thread); }

ZV_API uint32_t ZVResumeThread(ZVHANDLE thread) { return ResumeThread(thread); }

ZV_API void ZVSleep(uint32_t milliseconds) { Sleep(milliseconds); }

ZV_API void ZVExitProcess(void) {
    // Exit code 0, with no unload notifications, atexit functions or
    // stream flushing.  TerminateProcess on the calling process does not
    // return; _Exit stands behind it all the same.
    TerminateProcess(GetCurrentProcess(), 0);
    _Exit(0);
}

}  // extern "C"
