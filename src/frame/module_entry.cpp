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

namespace {

__attribute__((constructor)) void ModuleLoad() { ZVInit(); }

__attribute__((destructor)) void ModuleUnload() { ZVDeInit(); }

}  // namespace

#endif
