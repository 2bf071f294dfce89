// module_entry.cpp - the module's load and unload notifications.
//
// Loading the module performs the one working start-up; the loader is always
// answered with success, whatever ZVInit reports.  This file is linked last,
// so the library's static objects are constructed before the load-time
// ZVInit and destroyed after the unload-time ZVDeInit.  The static form of
// the library on Windows (ZV_STATIC) has no DLL load: like the POSIX module,
// it starts with the program and ends with it.
#include "platform/win32.h"
#include "zv.h"

#if defined(_WIN32) && !defined(ZV_STATIC)

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    switch (reason) {
        case DLL_PROCESS_ATTACH: ZVInit(); break;
        case DLL_PROCESS_DETACH: ZVDeInit(); break;
        default: break;
    }
    return TRUE;
}

#else

#include <pthread.h>

#include "frame/frame.h"

namespace {

#ifndef _WIN32
// fork(): a child of a multi-threaded process must find the library's locks
// free.  These handlers are registered after the platform layer's, so their
// prepare step runs first and the library's locks are taken outside the
// layer's, as they nest (the ZCom lock is held while a server library is
// loaded, the trace lock while trace output is written).
bool g_zcomHeldForFork = false;

void PrepareFork() {
    g_zcomHeldForFork = zv::ZComLockAlive();
    if (g_zcomHeldForFork) EnterCriticalSection(&zv::g_zcomLock);
    EnterCriticalSection(&zv::g_traceLock);
}

void ParentAfterFork() {
    LeaveCriticalSection(&zv::g_traceLock);
    if (g_zcomHeldForFork) LeaveCriticalSection(&zv::g_zcomLock);
}

void ChildAfterFork() {
    // The child's thread has a new id, so it cannot leave sections taken
    // under the old one; made anew, they are free.
    InitializeCriticalSection(&zv::g_traceLock);
    if (g_zcomHeldForFork) InitializeCriticalSection(&zv::g_zcomLock);
}
#endif

__attribute__((constructor)) void ModuleLoad() {
    ZVInit();
#ifndef _WIN32
    pthread_atfork(PrepareFork, ParentAfterFork, ChildAfterFork);
#endif
}

__attribute__((destructor)) void ModuleUnload() { ZVDeInit(); }

}  // namespace

#endif
