// sync.cpp - critical sections, events and interlocked counters.
//
// Events are picked by the wide-call switch: the wide name goes to the W
// functions; otherwise it is narrowed into a 256-byte staging buffer for
// the A functions.  A failed create or open returns -1, never null.
#include "frame/frame.h"
#include "platform/win32.h"
#include "zv.h"

namespace {

// The narrow staging buffer for event names, terminator included.
constexpr uint32_t kNarrowNameSize = 256;

// Whether a wide name fits the staging buffer with its terminator; looks no
// further than the buffer's size.
bool FitsNarrowStaging(const ZVWCHAR* name) {
    for (uint32_t i = 0; i < kNarrowNameSize; ++i)
        if (name[i] == 0) return true;
    return false;
}

ZVHANDLE HandleOrInvalid(HANDLE handle) { return handle ? handle : ZV_INVALID_HANDLE; }

// -1 stands for no event.  It is refused here, not passed on: on Windows it
// is also the current process's own handle, which a wait would wait on until
// the process ends, and which closes without complaint.
bool NoEvent(ZVHANDLE event) {
    if (event != ZV_INVALID_HANDLE) return false;
    SetLastError(ERROR_INVALID_HANDLE);
    return true;
}

}  // namespace

extern "C" {

ZV_API void ZVCreateCriticalSection(CRITICAL_SECTION* section) { InitializeCriticalSection(section); }

ZV_API void ZVDeleteCriticalSection(CRITICAL_SECTION* section) { DeleteCriticalSection(section); }

ZV_API void ZVEnterCriticalSection(CRITICAL_SECTION* section) { EnterCriticalSection(section); }

ZV_API void ZVLeaveCriticalSection(CRITICAL_SECTION* section) { LeaveCriticalSection(section); }

ZV_API ZVHANDLE ZVCreateEvent(uint16_t manualReset, uint16_t initiallySet, const ZVWCHAR* name) {
    BOOL manual = manualReset != 0 ? TRUE : FALSE;
    BOOL initial = initiallySet != 0 ? TRUE : FALSE;
    if (zv::g_wideCalls) return HandleOrInvalid(CreateEventW(nullptr, manual, initial, name));
    if (!name) return HandleOrInvalid(CreateEventA(nullptr, manual, initial, nullptr));
    if (!FitsNarrowStaging(name)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return ZV_INVALID_HANDLE;
    }
    char narrow[kNarrowNameSize];
    ZVToAnsi(narrow, name);
    return HandleOrInvalid(CreateEventA(nullptr, manual, initial, narrow));
}

ZV_API ZVHANDLE ZVOpenEvent(const ZVWCHAR* name) {
    if (zv::g_wideCalls) return HandleOrInvalid(OpenEventW(EVENT_ALL_ACCESS, FALSE, name));
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ZV_INVALID_HANDLE;
    }
    if (!FitsNarrowStaging(name)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return ZV_INVALID_HANDLE;
    }
    char narrow[kNarrowNameSize];
    ZVToAnsi(narrow, name);
    return HandleOrInvalid(OpenEventA(EVENT_ALL_ACCESS, FALSE, narrow));
}

ZV_API int32_t ZVCloseEvent(ZVHANDLE event) { return !NoEvent(event) && CloseHandle(event) ? 1 : 0; }

ZV_API int32_t ZVSetEvent(ZVHANDLE event) { return !NoEvent(event) && SetEvent(event) ? 1 : 0; }

ZV_API int32_t ZVResetEvent(ZVHANDLE event) { return !NoEvent(event) && ResetEvent(event) ? 1 : 0; }

ZV_API int32_t ZVPulseEvent(ZVHANDLE event) { return !NoEvent(event) && PulseEvent(event) ? 1 : 0; }

ZV_API uint32_t ZVWaitForEvent(ZVHANDLE event) {
    return NoEvent(event) ? WAIT_FAILED : WaitForSingleObject(event, INFINITE);
}

ZV_API int32_t ZVInterlockedIncrement(int32_t* counter) {
    return InterlockedIncrement(reinterpret_cast<LONG volatile*>(counter));
}

ZV_API int32_t ZVInterlockedDecrement(int32_t* counter) {
    return InterlockedDecrement(reinterpret_cast<LONG volatile*>(counter));
}

ZV_API int32_t ZVInterlockedExchange(int32_t* counter, int32_t value) {
    return InterlockedExchange(reinterpret_cast<LONG volatile*>(counter), value);
}

}  // extern "C"
