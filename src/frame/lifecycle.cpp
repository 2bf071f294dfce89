// lifecycle.cpp - counted start-up and shut-down, and platform identity.
#include "frame/frame.h"

#include "components/components.h"
#include "zv.h"

namespace zv {

uint16_t g_wideCalls = 0;
int32_t g_spinCount = 0;
CRITICAL_SECTION g_traceLock;
CRITICAL_SECTION g_zcomLock;
uint32_t g_initCount = 0;

namespace {

bool g_zcomLockAlive = false;

// The size Windows expects in dwOSVersionInfoSize of an OSVERSIONINFOW.
constexpr DWORD kVersionInfoSize = 276;
static_assert(sizeof(OSVERSIONINFOW) == kVersionInfoSize, "OSVERSIONINFOW has Win32's size");

constexpr int32_t kSpinsPerProcessor = 5;

uint16_t WideCallsForThisSystem() {
    OSVERSIONINFOW info;
    ZVZeroMemory(&info, sizeof(info));
    info.dwOSVersionInfoSize = kVersionInfoSize;
    // A failed query counts as "not NT": the narrow calls exist everywhere.
    if (!GetVersionExW(&info)) return 0;
    return info.dwPlatformId == VER_PLATFORM_WIN32_NT ? 1 : 0;
}

int32_t SpinCountForThisMachine() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    if (info.dwNumberOfProcessors <= 1) return 0;
    return kSpinsPerProcessor * int32_t(info.dwNumberOfProcessors);
}

}  // namespace

bool ZComLockAlive() { return g_zcomLockAlive; }

}  // namespace zv

extern "C" {

ZV_API uint16_t ZVInit(void) {
    if (++zv::g_initCount != 1) return 1;
    zv::g_wideCalls = zv::WideCallsForThisSystem();
    InitializeCriticalSection(&zv::g_traceLock);
    zv::g_spinCount = zv::SpinCountForThisMachine();
    // A failing hook leaves the count raised and the steps so far in place:
    // a later ZVInit then reports success without retrying.
    if (zv::ComponentStartupHook() < 0) return 0;
    InitializeCriticalSection(&zv::g_zcomLock);
    zv::g_zcomLockAlive = true;
    return 1;
}

ZV_API void ZVDeInit(void) {
    if (--zv::g_initCount == 0 && zv::g_zcomLockAlive) {
        DeleteCriticalSection(&zv::g_zcomLock);
        zv::g_zcomLockAlive = false;
    }
}

// The build's identity: one value for compiler, hardware and platform.
ZV_API int32_t ZVCompilerType(void) { return 1; }
ZV_API int32_t ZVHardwareType(void) ZV_ALIAS_OF(ZVCompilerType);
ZV_API int32_t ZVPlatformType(void) ZV_ALIAS_OF(ZVCompilerType);

ZV_API const ZVWCHAR* ZVCompilerTypeString(void) { return ZV_W("ZV_COMPILER_MSVC"); }

ZV_API const ZVWCHAR* ZVHardwareTypeString(void) { return ZV_W("ZV_HARDWARE_PC"); }

ZV_API const ZVWCHAR* ZVPlatformTypeString(void) { return ZV_W("ZV_PLATFORM_WIN32"); }

// Little-endian.
ZV_API int32_t ZVHWEndian(void) { return 2; }

// No alignment adjustment: the records are packed and sizes pass unchanged.
ZV_API uint32_t ZVAlignSize(uint32_t size) { return size; }

}  // extern "C"
