// frame.h - the library's process-wide state, set by the first ZVInit.
#ifndef ZV_FRAME_H
#define ZV_FRAME_H

#include "platform/win32.h"

namespace zv {

// 1 on the NT family: name-taking calls use the wide Win32 functions.
// 0 otherwise: names are narrowed into stack buffers for the A functions.
extern uint16_t g_wideCalls;

// Non-blocking attempts a contended mutex acquisition makes before it
// sleeps: 0 on one processor, 5 per processor otherwise.
extern int32_t g_spinCount;

// Serialises trace output; created by the first ZVInit, never deleted.
extern CRITICAL_SECTION g_traceLock;

// Serialises the component runtime and its server cache; created by the
// first ZVInit, deleted by the ZVDeInit that brings the count to 0.
extern CRITICAL_SECTION g_zcomLock;

// Calls of ZVInit not yet matched by ZVDeInit.  Not atomic: ZVInit and
// ZVDeInit must not run in two threads at once.
extern uint32_t g_initCount;

// True while g_zcomLock is initialised; for tests and the tool.
bool ZComLockAlive();

}  // namespace zv

#endif  // ZV_FRAME_H
