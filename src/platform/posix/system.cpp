// system.cpp - version and system information of the emulated machine.
#include <sched.h>
#include <stdlib.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include "platform/posix/handles.h"

namespace zvp {

bool IsFamily9x() {
    // Read once: the family is a property of the machine, fixed for the
    // life of the process, and this sits on the path of every wide call.
    static const bool family9x = [] {
        const char* value = getenv("ZV_EMULATE_FAMILY");
        if (!value || !*value || strcasecmp(value, "nt") == 0) return false;
        if (strcmp(value, "9x") == 0) return true;
        // A misspelt family must not pass for the NT family unnoticed.
        fprintf(stderr, "zv platform: ZV_EMULATE_FAMILY=%s is neither 9x nor nt: the machine is of the NT family\n",
                value);
        return false;
    }();
    return family9x;
}

bool WideCallUnavailable() {
    if (!IsFamily9x()) return false;
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return true;
}

}  // namespace zvp

BOOL GetVersionExW(LPOSVERSIONINFOW info) {
    if (!info || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memset(&info->dwMajorVersion, 0, sizeof(*info) - sizeof(info->dwOSVersionInfoSize));
    if (zvp::IsFamily9x()) {
        // Windows 98 second edition.
        info->dwMajorVersion = 4;
        info->dwMinorVersion = 10;
        info->dwBuildNumber = 2222;
        info->dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
        info->szCSDVersion[0] = u' ';
        info->szCSDVersion[1] = u'A';
    } else {
        info->dwMajorVersion = 5;
        info->dwMinorVersion = 1;
        info->dwBuildNumber = 2600;
        info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    }
    return TRUE;
}

void GetSystemInfo(LPSYSTEM_INFO info) {
    memset(info, 0, sizeof(*info));
#if defined(__x86_64__)
    info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
#elif defined(__aarch64__)
    info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_ARM64;
#else
    info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
#endif
    long page = sysconf(_SC_PAGESIZE);
    info->dwPageSize = page > 0 ? DWORD(page) : 4096;
    info->dwAllocationGranularity = 65536;
    info->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(uintptr_t(0x10000));
    info->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(~uintptr_t(0) >> 17);

    // The processors this process may run on: `taskset -c 0` makes a
    // one-processor machine, as a one-processor Windows machine would be.
    cpu_set_t set;
    DWORD count = 0;
    ULONG_PTR mask = 0;
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (!CPU_ISSET(cpu, &set)) continue;
            if (cpu < int(sizeof(mask) * 8)) mask |= ULONG_PTR(1) << cpu;
            ++count;
        }
    }
    if (count == 0) {
        long online = sysconf(_SC_NPROCESSORS_ONLN);
        count = online > 0 ? DWORD(online) : 1;
        mask = count >= sizeof(mask) * 8 ? ~ULONG_PTR(0) : (ULONG_PTR(1) << count) - 1;
    }
    info->dwNumberOfProcessors = count;
    info->dwActiveProcessorMask = mask;
    info->dwProcessorType = 8664;
    info->wProcessorLevel = 6;
}
