/*
 * win32.h - the subset of Win32, the component-object runtime and the C
 * runtime that the library calls.
 *
 * Library code includes this and nothing else of the operating system.  On
 * Windows it is the real headers; elsewhere the declarations below are
 * implemented by src/platform/posix/, one file per service, with Win32's
 * semantics (error codes, capacities, handle validity, both widths).
 */
#ifndef ZV_PLATFORM_WIN32_H
#define ZV_PLATFORM_WIN32_H

#include "zv_platform.h"

/* An export under a second name that is the same function at the same
 * address.  In zv.dll the module definition file (src/zv.def) maps the
 * second name onto the first; GCC also defines the name itself, which the
 * static form of the library needs (a compiler without aliases only names
 * it). */
#if defined(_WIN32) && !defined(__GNUC__)
#define ZV_ALIAS_OF(target)
#elif defined(_WIN32)
/* The target's attributes too (nothrow is inferred for small functions). */
#define ZV_ALIAS_OF(target) __attribute__((alias(#target), copy(target)))
#else
#define ZV_ALIAS_OF(target) __attribute__((alias(#target)))
#endif

/* Hot loops that gain from wider vectors than the baseline instruction set:
 * the loader picks the best variant for the processor at start-up.  Not
 * under ThreadSanitizer: its instrumented variant chooser runs during
 * relocation, before the sanitizer's runtime is up, and crashes there. */
#if !defined(_WIN32) && defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && \
    !defined(__SANITIZE_THREAD__)
#define ZV_VECTOR_VARIANTS __attribute__((target_clones("default", "avx2", "arch=x86-64-v4")))
#else
#define ZV_VECTOR_VARIANTS
#endif

/* A scan that reads whole aligned blocks, possibly past the terminator but
 * never past the aligned block holding it, so never onto another page.  The
 * address checker would take those bytes for an overrun. */
#if defined(__GNUC__) || defined(__clang__)
#define ZV_READS_ALIGNED_BLOCKS __attribute__((no_sanitize_address, no_sanitize_thread))
#else
#define ZV_READS_ALIGNED_BLOCKS
#endif

#if defined(_WIN32)

#include <process.h>
#include <share.h>
#include <stdio.h>
#include <stdlib.h>
#include <signal.h>

#else /* !_WIN32 */

#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#define WINAPI
#define CALLBACK
#define TRUE 1
#define FALSE 0

typedef char CHAR;
typedef int32_t INT;
typedef uint32_t UINT;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef size_t SIZE_T;
typedef intptr_t LONG_PTR;
typedef DWORD* LPDWORD;
typedef BYTE* LPBYTE;
typedef const BYTE* LPCBYTE;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef HANDLE HMODULE;
typedef HANDLE HINSTANCE;
typedef HANDLE HWND;
typedef LONG LSTATUS;
typedef DWORD REGSAM;
typedef HKEY* PHKEY;
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;
typedef void (*FARPROC)(void);

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *PFILETIME;

typedef SYSTEMTIME* LPSYSTEMTIME;

/* ---- Errors (handles.cpp keeps the per-thread last error) -------------- */

#define ERROR_SUCCESS 0L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_NOT_SAME_DEVICE 17L
#define ERROR_WRITE_FAULT 29L
#define ERROR_GEN_FAILURE 31L
#define ERROR_NO_MORE_FILES 18L
#define ERROR_LOCK_VIOLATION 33L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_DISK_FULL 112L
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_DIR_NOT_EMPTY 145L
#define ERROR_SIGNAL_REFUSED 156L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_BUSY 170L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_BAD_EXE_FORMAT 193L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_DIRECTORY 267L
#define ERROR_TOO_MANY_POSTS 298L
#define ERROR_NOACCESS 998L
#define ERROR_BADDB 1009L
#define ERROR_BADKEY 1010L
#define ERROR_CANTOPEN 1011L
#define ERROR_CANTREAD 1012L
#define ERROR_CANTWRITE 1013L
#define ERROR_REGISTRY_CORRUPT 1015L
#define ERROR_REGISTRY_IO_FAILED 1016L
#define ERROR_KEY_DELETED 1018L
#define ERROR_KEY_HAS_CHILDREN 1020L
#define ERROR_CHILD_MUST_BE_VOLATILE 1021L
#define ERROR_NO_SYSTEM_RESOURCES 1450L

DWORD GetLastError(void);
void SetLastError(DWORD error);

/* ---- Version and system information (system.cpp) ---------------------- */

#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

typedef struct _OSVERSIONINFOW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
} OSVERSIONINFOW, *LPOSVERSIONINFOW;

typedef struct _SYSTEM_INFO {
    WORD wProcessorArchitecture;
    WORD wReserved;
    DWORD dwPageSize;
    LPVOID lpMinimumApplicationAddress;
    LPVOID lpMaximumApplicationAddress;
    ULONG_PTR dwActiveProcessorMask;
    DWORD dwNumberOfProcessors;
    DWORD dwProcessorType;
    DWORD dwAllocationGranularity;
    WORD wProcessorLevel;
    WORD wProcessorRevision;
} SYSTEM_INFO, *LPSYSTEM_INFO;

#define PROCESSOR_ARCHITECTURE_INTEL 0
#define PROCESSOR_ARCHITECTURE_AMD64 9
#define PROCESSOR_ARCHITECTURE_ARM64 12

BOOL GetVersionExW(LPOSVERSIONINFOW info);
void GetSystemInfo(LPSYSTEM_INFO info);

/* ---- Critical sections and interlocked operations (sync_core.cpp) ----- */

void InitializeCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section);

LONG InterlockedIncrement(LONG volatile* addend);
LONG InterlockedDecrement(LONG volatile* addend);
LONG InterlockedExchange(LONG volatile* target, LONG value);
LONG InterlockedCompareExchange(LONG volatile* destination, LONG exchange, LONG comparand);
LONG InterlockedExchangeAdd(LONG volatile* addend, LONG value);

/* ---- Handles, events, semaphores and waits (events.cpp) --------------- */

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define SYNCHRONIZE 0x00100000L
#define EVENT_MODIFY_STATE 0x0002
#define EVENT_ALL_ACCESS 0x1F0003
#define SEMAPHORE_ALL_ACCESS 0x1F0003
#define WAIT_ABANDONED ((DWORD)0x00000080u)

BOOL CloseHandle(HANDLE handle);
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                    LPCWSTR name);
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                    LPCSTR name);
HANDLE OpenEventW(DWORD access, BOOL inheritHandle, LPCWSTR name);
HANDLE OpenEventA(DWORD access, BOOL inheritHandle, LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
BOOL PulseEvent(HANDLE event);
HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES attributes, LONG initialCount, LONG maximumCount,
                        LPCSTR name);
BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LONG* previousCount);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

/* ---- Threads and process (threads.cpp) -------------------------------- */

#define STILL_ACTIVE 259
#define CREATE_SUSPENDED 0x00000004
#define MAXIMUM_SUSPEND_COUNT 127

uintptr_t _beginthreadex(void* security, unsigned stackSize,
                         unsigned(ZV_STDCALL* start)(void*), void* arg, unsigned initFlag,
                         unsigned* threadId);
[[noreturn]] void _endthreadex(unsigned exitCode);
BOOL TerminateThread(HANDLE thread, DWORD exitCode);
DWORD SuspendThread(HANDLE thread);
DWORD ResumeThread(HANDLE thread);
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
HANDLE GetCurrentThread(void);
#define THREAD_SUSPEND_RESUME 0x0002
#define THREAD_ALL_ACCESS 0x1FFFFF
/* Any thread of this process by its id, whoever started it. */
HANDLE OpenThread(DWORD desiredAccess, BOOL inheritHandle, DWORD threadId);
/* Inline, as it sits on the fast path of every lock: a read of the id that
 * threads.cpp caches per thread, asking the kernel only the first time.  The
 * initial-exec model makes that read one instruction in the shared library
 * too, instead of a call into the dynamic linker; four bytes of static TLS
 * are there even for a library that is opened late. */
namespace zvp {
extern __thread DWORD t_threadId __attribute__((tls_model("initial-exec")));
DWORD FetchCurrentThreadId(void);
}  // namespace zvp
inline DWORD GetCurrentThreadId(void) {
    DWORD id = zvp::t_threadId;
    return id != 0 ? id : zvp::FetchCurrentThreadId();
}
HANDLE GetCurrentProcess(void);
DWORD GetCurrentProcessId(void);
BOOL TerminateProcess(HANDLE process, UINT exitCode);
void Sleep(DWORD milliseconds);

/* ---- Files and directories (files.cpp) -------------------------------- */

BOOL DeleteFileW(LPCWSTR path);
BOOL DeleteFileA(LPCSTR path);
BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes);
BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES attributes);
BOOL RemoveDirectoryW(LPCWSTR path);
BOOL RemoveDirectoryA(LPCSTR path);
WCHAR* _wfullpath(WCHAR* absolutePath, const WCHAR* relativePath, size_t maxLength);
char* _fullpath(char* absolutePath, const char* relativePath, size_t maxLength);

/* ---- Renaming and replacing files (files_move.cpp) -------------------- */

#define MOVEFILE_REPLACE_EXISTING 0x00000001

BOOL MoveFileA(LPCSTR existingFileName, LPCSTR newFileName);
/* Only MOVEFILE_REPLACE_EXISTING is known.  The 9x family lacks the call. */
BOOL MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags);

/* ---- Listing a directory (files_find.cpp) ----------------------------- */

#define MAX_PATH 260
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_NORMAL 0x00000080

typedef struct _WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
} WIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;

/* The last component of the name may hold the wildcards "*" and "?". */
HANDLE FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData);
BOOL FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA findData);
BOOL FindClose(HANDLE find);

/* ---- Other processes (process.cpp) ------------------------------------ */

/* 0 when no process has that id (or it cannot be looked at). */
DWORD GetProcessVersion(DWORD processId);

/* ---- Runtime library file streams under narrow names (crt.cpp) -------- */

#define _SH_DENYNO 0x40

/* fopen with a share flag; the name is in the ANSI code page. */
FILE* _fsopen(const char* fileName, const char* mode, int shareFlag);

/* ---- Time (time.cpp) -------------------------------------------------- */

DWORD GetTickCount(void);
void GetLocalTime(LPSYSTEMTIME time);

/* ---- Modules (modules.cpp) -------------------------------------------- */

HMODULE LoadLibraryW(LPCWSTR fileName);
HMODULE LoadLibraryA(LPCSTR fileName);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);

/* ---- Debug output, debug break and the message box (debug.cpp) -------- */

#define MB_ABORTRETRYIGNORE 0x00000002L
#define MB_ICONHAND 0x00000010L
#define MB_TASKMODAL 0x00002000L
#define MB_SETFOREGROUND 0x00010000L
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5

void OutputDebugStringA(LPCSTR text);
void OutputDebugStringW(LPCWSTR text);
void DebugBreak(void);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

/* The runtime library's wide formatter over 16-bit units; %s takes a wide
 * string, %hs a narrow one.  Returns the count written, or -1 when the
 * output did not fit (the buffer is then cut, not terminated); with no
 * buffer and a count of 0, the length the output needs. */
int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args);
int _snwprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...);

/* ---- Registry (registry.cpp) ------------------------------------------ */

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#define REG_OPTION_NON_VOLATILE 0x00000000L
#define REG_OPTION_VOLATILE 0x00000001L
#define REG_CREATED_NEW_KEY 0x00000001L
#define REG_OPENED_EXISTING_KEY 0x00000002L

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F

LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                        REGSAM access, LPSECURITY_ATTRIBUTES attributes, PHKEY result,
                        LPDWORD disposition);
LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                        REGSAM access, LPSECURITY_ATTRIBUTES attributes, PHKEY result,
                        LPDWORD disposition);
LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result);
LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD size);
LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD size);
LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD size);
LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD size);
LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                      LPWSTR keyClass, LPDWORD classLength, PFILETIME lastWriteTime);
LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD reserved,
                      LPSTR keyClass, LPDWORD classLength, PFILETIME lastWriteTime);
LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR valueName, LPDWORD valueNameLength,
                      LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize);
LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameLength,
                      LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize);
LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey);
LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey);
LSTATUS RegCloseKey(HKEY key);

/* ---- Component-object runtime (ole.cpp) ------------------------------- */

#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2
#define MEMCTX_TASK 1

struct IMalloc : public IUnknown {
    virtual void* Alloc(SIZE_T size) = 0;
    virtual void* Realloc(void* block, SIZE_T size) = 0;
    virtual void Free(void* block) = 0;
    virtual SIZE_T GetSize(void* block) = 0;
    virtual int DidAlloc(void* block) = 0;
    virtual void HeapMinimize() = 0;
};
typedef IMalloc* LPMALLOC;

extern const IID IID_IUnknown;
extern const IID IID_IClassFactory;
extern const IID IID_IMalloc;

HRESULT CoInitialize(LPVOID reserved);
HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
void CoUninitialize(void);
HRESULT CoGetMalloc(DWORD memoryContext, LPMALLOC* malloc);

#endif /* _WIN32 */

#endif /* ZV_PLATFORM_WIN32_H */
