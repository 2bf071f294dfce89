// process.cpp - questions about other processes of the emulated machine.
#include <errno.h>
#include <signal.h>

#include "platform/posix/handles.h"

// Every process here runs the same subsystem version, 4.0; a process that
// exists but belongs to another user counts as existing.  0 asks about the
// calling process.
DWORD GetProcessVersion(DWORD processId) {
    if (processId == 0) return 0x00040000;
    if (processId > DWORD(INT32_MAX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (kill(pid_t(processId), 0) == 0 || errno == EPERM) return 0x00040000;
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}
