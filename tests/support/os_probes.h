// os_probes.h - what the thread and synchronisation tests observe of the
// system from outside the library: the kernel's thread ids, the process's
// open handles, a thread asleep on a semaphore.  On Linux they look into the
// POSIX layer and the kernel, on Windows they ask Windows.
#ifndef ZV_TEST_OS_PROBES_H
#define ZV_TEST_OS_PROBES_H

#include <stddef.h>
#include <stdint.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#include <winternl.h>
#else
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/posix/handles.h"
#include "platform/posix/waitable.h"
#endif

#include "support.h"
#include "watchdog.h"

namespace zvtest {

// The calling thread's id as the kernel knows it: Linux's thread id; on
// Windows the id the kernel reports for the thread's handle (GetThreadId
// asks the kernel, where GetCurrentThreadId reads the thread's own block).
inline uint32_t KernelThreadId() {
#if defined(_WIN32)
    return GetThreadId(GetCurrentThread());
#else
    return uint32_t(syscall(SYS_gettid));
#endif
}

#if defined(_WIN32)
namespace detail {

// One query of ntdll's NtQuerySystemInformation, grown until it fits;
// empty when it fails.
inline std::vector<char> SystemInformation(ULONG infoClass) {
    typedef NTSTATUS(NTAPI * QueryFn)(ULONG, void*, ULONG, ULONG*);
    const auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<char> buffer(1 << 16);
    for (int attempt = 0; query && attempt < 16; ++attempt) {
        ULONG needed = 0;
        const NTSTATUS status = query(infoClass, buffer.data(), ULONG(buffer.size()), &needed);
        if (status == 0) return buffer;
        if (status != NTSTATUS(0xC0000004L)) break;  // anything but "too small" is final
        buffer.resize(buffer.size() * 2 > needed ? buffer.size() * 2 : needed + 4096);
    }
    return std::vector<char>();
}

// SystemExtendedHandleInformation's record of one handle.
struct HandleEntry {
    void* object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG access;
    USHORT creatorBackTraceIndex;
    USHORT typeIndex;
    ULONG attributes;
    ULONG reserved;
};

}  // namespace detail
#endif

// The number of handles this process has open: the entries of the POSIX
// layer's handle table; on Windows, of the process's handle table.
inline size_t OpenHandleCount() {
#if defined(_WIN32)
    if (!UnderWine()) {
        DWORD count = 0;
        return GetProcessHandleCount(GetCurrentProcess(), &count) ? count : SIZE_MAX;
    }
    // Wine answers GetProcessHandleCount with 0 whatever is open: the count
    // is taken from the system's list of handles instead
    // (SystemExtendedHandleInformation), which Wine keeps.
    const std::vector<char> list = detail::SystemInformation(64);
    if (list.empty()) return SIZE_MAX;
    const ULONG_PTR entries = *reinterpret_cast<const ULONG_PTR*>(list.data());
    const auto* entry = reinterpret_cast<const detail::HandleEntry*>(list.data() + 2 * sizeof(ULONG_PTR));
    size_t count = 0;
    for (ULONG_PTR i = 0; i < entries; ++i) count += entry[i].processId == GetCurrentProcessId();
    return count;
#else
    return zvp::OpenHandleCount();
#endif
}

// Waits, up to 20 s, until `thread` sleeps in a wait on `semaphore`; call
// it when the thread has nothing left to wait for but the semaphore.
//
// Linux: the POSIX layer's semaphore lists its sleeping waiters.
// Windows: nothing tells who waits on a semaphore, but the system's list of
// threads gives each thread's state: "waiting" (5) for a user's request (6)
// is a thread asleep in WaitForSingleObject, and with no other wait left,
// that wait is the semaphore's.  Wine lists every thread as state 0 with
// reason 0, so there the thread is given 200 ms to reach its wait, far more
// than the few instructions it has left take.  A test that uses this must
// hold whether or not the thread has fallen asleep yet, so that a thread
// late beyond that time costs the scenario, never a false failure.
inline bool WaitUntilAsleepOnSemaphore(ZVHANDLE semaphore, ZVHANDLE thread) {
#if defined(_WIN32)
    (void)semaphore;
    if (UnderWine()) {
        Sleep(200);
        return true;
    }
    struct ThreadEntry {  // SystemProcessInformation's record of one thread
        LARGE_INTEGER times[3];
        ULONG waitTime;
        void* startAddress;
        CLIENT_ID clientId;
        LONG priority, basePriority;
        ULONG contextSwitches, state, waitReason;
    };
    const DWORD processId = GetCurrentProcessId(), threadId = GetThreadId(thread);
    return WaitUntil([&] {
        const std::vector<char> list = detail::SystemInformation(5);  // SystemProcessInformation
        for (size_t offset = 0; !list.empty();) {
            const auto* process = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(list.data() + offset);
            if (uintptr_t(process->UniqueProcessId) == processId) {
                const auto* threads = reinterpret_cast<const ThreadEntry*>(process + 1);
                for (ULONG i = 0; i < process->NumberOfThreads; ++i)
                    if (uintptr_t(threads[i].clientId.UniqueThread) == threadId)
                        return threads[i].state == 5 && threads[i].waitReason == 6;
                return false;
            }
            if (process->NextEntryOffset == 0) return false;
            offset += process->NextEntryOffset;
        }
        return false;
    });
#else
    (void)thread;
    return WaitUntil([&] { return zvp::WaitingThreads(semaphore) == 1; });
#endif
}

// Creates an empty file (or leaves one there) with the operating system's
// own calls, which hold no buffers and run even while the process ends.
inline void TouchFile(const std::string& path) {
#if defined(_WIN32)
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
#else
    const int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0600);
    if (fd >= 0) close(fd);
#endif
}

}  // namespace zvtest

#endif  // ZV_TEST_OS_PROBES_H
