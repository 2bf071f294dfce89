/*
 * zv.h - the ZV portability library.
 *
 * One flat set of ZV... functions for the operating-system services that a
 * product's components need.  Compiles as C99 and as C++17.
 *
 * Conventions: wide text is ZVWCHAR (16-bit units), narrow text is char.
 * Truth values are 16 bits (1 success, 0 failure); statuses are HRESULTs.
 * Event, mutex, container and object handles fail with ZV_INVALID_HANDLE
 * (all bits set); thread, library and heap results fail with null.
 */
#ifndef ZV_H
#define ZV_H

#include "zv_platform.h"

#if defined(_WIN32)
#if defined(ZV_BUILDING_LIBRARY)
#define ZV_API __declspec(dllexport)
#elif defined(ZV_STATIC) /* linked with the static form of the library */
#define ZV_API
#else
#define ZV_API __declspec(dllimport)
#endif
#else
#define ZV_API __attribute__((visibility("default")))
#endif

#if defined(__cplusplus)
#define ZV_NORETURN [[noreturn]]
#elif defined(__GNUC__)
#define ZV_NORETURN __attribute__((noreturn))
#elif defined(_MSC_VER)
#define ZV_NORETURN __declspec(noreturn)
#else
#define ZV_NORETURN
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Handles and callbacks ------------------------------------------- */

typedef void* ZVHANDLE;
#define ZV_INVALID_HANDLE ((ZVHANDLE)(intptr_t)-1)

typedef uint16_t (*ZVMatchFn)(void* data, void* key);
typedef int32_t (*ZVOrderFn)(void* existing, void* added);
typedef void (*ZVReleaseFn)(void* p);
typedef uint32_t(ZV_STDCALL* ZVThreadProc)(void* arg);

/* ---- Records (packed to 1 byte: their layout is part of the interface) - */

#pragma pack(push, 1)

typedef struct ZVContainerObj {
    struct ZVContainerObj* next;
    struct ZVContainerObj* prev;
    void* data;
    uint8_t blockHead;
    uint8_t lockMode;
    uint8_t lockCount;
} ZVContainerObj;

typedef struct ZVContainer {
    CRITICAL_SECTION listLock;
    CRITICAL_SECTION containerLock;
    ZVHANDLE releaseEvent;
    int32_t waiterCount;
    ZVHANDLE passEvent;
    uint32_t reserved;
    ZVContainerObj* head;
    ZVContainerObj* tail;
    ZVContainerObj* cursor;
    ZVMatchFn matchFn;
    ZVOrderFn orderFn;
    uint32_t count;
    ZVReleaseFn releaseFn;
    ZVContainerObj* freeList;
    uint32_t slotSize;
    uint32_t blockSlots;
    uint32_t maxCount;
    uint16_t kind;
} ZVContainer;

typedef struct ParsedURI {
    ZVWCHAR* scheme;
    ZVWCHAR* host;
    ZVWCHAR* port;
    ZVWCHAR* path;
    ZVWCHAR* link;
    ZVWCHAR* transport;
    ZVWCHAR* attributes[8];
} ParsedURI;

typedef struct ZVMutex {
    int32_t lockCount;
    uint32_t recursionCount;
    uint32_t ownerThreadId;
    ZVHANDLE semaphore;
} ZVMutex;

#pragma pack(pop)

/* Position codes of the container family. */
#define ZV_CONTAINER_MATCH 1u
#define ZV_CONTAINER_OBJECT 2u
#define ZV_CONTAINER_DATA 3u
#define ZV_CONTAINER_SORTED 4u
#define ZV_CONTAINER_FIRST 5u
#define ZV_CONTAINER_NEXT 6u
#define ZV_CONTAINER_PREV 7u
#define ZV_CONTAINER_NEXT_OF 8u
#define ZV_CONTAINER_PREV_OF 9u
#define ZV_CONTAINER_LAST 10u

/* Object lock modes. */
#define ZV_OBJLOCK_NONE 0u
#define ZV_OBJLOCK_SHARED 1u
#define ZV_OBJLOCK_EXCLUSIVE 2u

/* ---- Library lifecycle and platform identity -------------------------- */

ZV_API uint16_t ZVInit(void);
ZV_API void ZVDeInit(void);
ZV_API int32_t ZVCompilerType(void);
ZV_API int32_t ZVHardwareType(void);
ZV_API int32_t ZVPlatformType(void);
ZV_API const ZVWCHAR* ZVCompilerTypeString(void);
ZV_API const ZVWCHAR* ZVHardwareTypeString(void);
ZV_API const ZVWCHAR* ZVPlatformTypeString(void);
ZV_API int32_t ZVHWEndian(void);
ZV_API uint32_t ZVAlignSize(uint32_t size);

/* ---- Assertions and trace output -------------------------------------- */

ZV_API void ZVTraceA(const char* format, ...);
ZV_API void ZVTraceW(const ZVWCHAR* format, ...);
ZV_API void ZVAssertA(const char* expression, const char* file, int32_t line);
ZV_API void ZVAssertW(const ZVWCHAR* expression, const char* file, int32_t line);

/* ---- Memory ----------------------------------------------------------- */

ZV_API void* ZVMalloc(uint32_t size);
ZV_API void* ZVCalloc(uint32_t count, uint32_t size);
ZV_API void* ZVReAlloc(void* block, uint32_t size);
ZV_API void ZVFree(void* block);
ZV_API void ZVZeroMemory(void* dest, uint32_t length);
ZV_API void ZVFillMemory(void* dest, uint32_t length, int32_t fill);
ZV_API void ZVCopyMemory(void* dest, const void* source, uint32_t length);
ZV_API void* ZVMoveMemory(void* dest, const void* source, uint32_t length);
ZV_API int32_t ZVCompareMemory(const void* first, const void* second, uint32_t length);

/* ---- Strings and characters ------------------------------------------- */

ZV_API uint32_t ZVStrLenA(const char* s);
ZV_API uint32_t ZVStrLenW(const ZVWCHAR* s);
ZV_API uint32_t ZVStrNLenA(const char* s, uint32_t n);
ZV_API uint32_t ZVStrNLenW(const ZVWCHAR* s, uint32_t n);
ZV_API char* ZVStrUprA(char* s);
ZV_API ZVWCHAR* ZVStrUprW(ZVWCHAR* s);

ZV_API int32_t ZVStrCmpA(const char* a, const char* b);
ZV_API int32_t ZVStrCmpW(const ZVWCHAR* a, const ZVWCHAR* b);
ZV_API int32_t ZVStrNCmpA(const char* a, const char* b, uint32_t n);
ZV_API int32_t ZVStrNCmpW(const ZVWCHAR* a, const ZVWCHAR* b, uint32_t n);
ZV_API int32_t ZVStrICmpA(const char* a, const char* b);
ZV_API int32_t ZVStrICmpW(const ZVWCHAR* a, const ZVWCHAR* b);
ZV_API int32_t ZVStrNICmpA(const char* a, const char* b, uint32_t n);
ZV_API int32_t ZVStrNICmpW(const ZVWCHAR* a, const ZVWCHAR* b, uint32_t n);

ZV_API char* ZVStrChrA(const char* s, char c);
ZV_API ZVWCHAR* ZVStrChrW(const ZVWCHAR* s, ZVWCHAR c);
ZV_API char* ZVStrRChrA(const char* s, char c);
ZV_API ZVWCHAR* ZVStrRChrW(const ZVWCHAR* s, ZVWCHAR c);
ZV_API char* ZVStrStrA(const char* s, const char* sought);
ZV_API ZVWCHAR* ZVStrStrW(const ZVWCHAR* s, const ZVWCHAR* sought);

ZV_API char* ZVStrCpyA(char* dest, const char* s);
ZV_API ZVWCHAR* ZVStrCpyW(ZVWCHAR* dest, const ZVWCHAR* s);
ZV_API char* ZVStrNCpyA(char* dest, const char* s, uint32_t n);
ZV_API ZVWCHAR* ZVStrNCpyW(ZVWCHAR* dest, const ZVWCHAR* s, uint32_t n);
ZV_API char* ZVStrCatA(char* dest, const char* s);
ZV_API ZVWCHAR* ZVStrCatW(ZVWCHAR* dest, const ZVWCHAR* s);
ZV_API char* ZVStrNCatA(char* dest, const char* s, uint32_t n);
ZV_API ZVWCHAR* ZVStrNCatW(ZVWCHAR* dest, const ZVWCHAR* s, uint32_t n);

ZV_API char* ZVStrTokA(char* s, const char* delimiters, char** position);
ZV_API ZVWCHAR* ZVStrTokW(ZVWCHAR* s, const ZVWCHAR* delimiters, ZVWCHAR** position);

ZV_API int32_t ZVStrToIA(const char* s);
ZV_API int32_t ZVStrToIW(const ZVWCHAR* s);
ZV_API int32_t ZVStrToLA(const char* s);
ZV_API int32_t ZVStrToLW(const ZVWCHAR* s);
ZV_API uint32_t ZVStrToULA(const char* s);
ZV_API uint32_t ZVStrToULW(const ZVWCHAR* s);
ZV_API char* ZVLToStrA(int32_t value, char* dest, int32_t radix);
ZV_API ZVWCHAR* ZVLToStrW(int32_t value, ZVWCHAR* dest, int32_t radix);

ZV_API int32_t ZVIsDigitA(char c);
ZV_API int32_t ZVIsDigitW(ZVWCHAR c);
ZV_API int32_t ZVIsAlphaA(char c);
ZV_API int32_t ZVIsAlphaW(ZVWCHAR c);

/* ---- Character-set conversion ----------------------------------------- */

ZV_API void ZVToAnsi(char* dest, const ZVWCHAR* source);
ZV_API void ZVUnicodeToAnsi(char* dest, const ZVWCHAR* source);
ZV_API void ZVFromAnsi(ZVWCHAR* dest, const char* source);
ZV_API void ZVAnsiToUnicode(ZVWCHAR* dest, const char* source);
ZV_API ZVWCHAR* ZVToUnicode(ZVWCHAR* dest, const ZVWCHAR* source);
ZV_API ZVWCHAR* ZVFromUnicode(ZVWCHAR* dest, const ZVWCHAR* source);

/* ---- Threads and process ---------------------------------------------- */

ZV_API ZVHANDLE ZVCreateThread(uint32_t stackSize, ZVThreadProc start, void* arg);
ZV_API int32_t ZVTerminateThread(ZVHANDLE thread, uint32_t exitCode);
ZV_API int32_t ZVCloseThreadHandle(ZVHANDLE thread);
ZV_NORETURN ZV_API void ZVExitThread(uint32_t exitCode);
ZV_API ZVHANDLE ZVGetCurrentThread(void);
ZV_API uint32_t ZVGetCurrentThreadId(void);
ZV_API uint32_t ZVSuspendThread(ZVHANDLE thread);
ZV_API uint32_t ZVResumeThread(ZVHANDLE thread);
ZV_API void ZVSleep(uint32_t milliseconds);
ZV_NORETURN ZV_API void ZVExitProcess(void);

/* ---- Critical sections, events and interlocked counters --------------- */

ZV_API void ZVCreateCriticalSection(CRITICAL_SECTION* section);
ZV_API void ZVDeleteCriticalSection(CRITICAL_SECTION* section);
ZV_API void ZVEnterCriticalSection(CRITICAL_SECTION* section);
ZV_API void ZVLeaveCriticalSection(CRITICAL_SECTION* section);

ZV_API ZVHANDLE ZVCreateEvent(uint16_t manualReset, uint16_t initiallySet, const ZVWCHAR* name);
ZV_API ZVHANDLE ZVOpenEvent(const ZVWCHAR* name);
ZV_API int32_t ZVCloseEvent(ZVHANDLE event);
ZV_API int32_t ZVSetEvent(ZVHANDLE event);
ZV_API int32_t ZVResetEvent(ZVHANDLE event);
ZV_API int32_t ZVPulseEvent(ZVHANDLE event);
ZV_API uint32_t ZVWaitForEvent(ZVHANDLE event);

ZV_API int32_t ZVInterlockedIncrement(int32_t* counter);
ZV_API int32_t ZVInterlockedDecrement(int32_t* counter);
ZV_API int32_t ZVInterlockedExchange(int32_t* counter, int32_t value);

/* ---- Recursive mutex -------------------------------------------------- */

ZV_API ZVHANDLE ZVCreateMutex(uint16_t initiallyOwned);
ZV_API ZVHANDLE ZVOpenMutex(const ZVWCHAR* unused);
ZV_API uint16_t ZVCloseMutex(ZVHANDLE mutex);
ZV_API uint16_t ZVAcquireMutex(ZVHANDLE mutex, uint32_t timeout);
ZV_API uint16_t ZVTryAcquireMutex(ZVHANDLE mutex);
ZV_API uint16_t ZVReleaseMutex(ZVHANDLE mutex);

/* ---- Files, directories, time and dynamic libraries ------------------- */

ZV_API int32_t ZVCreateDirectory(const ZVWCHAR* path);
ZV_API int32_t ZVRemoveDirectory(const ZVWCHAR* path);
ZV_API ZVWCHAR* ZVGetFullPath(ZVWCHAR* dest, const ZVWCHAR* relativePath, uint32_t capacity);
ZV_API uint32_t ZVGetTickCount(void);
ZV_API void ZVGetLocalTime(SYSTEMTIME* time);
ZV_API ZVHANDLE ZVOpenLibrary(const ZVWCHAR* fileName);
ZV_API void* ZVGetSymbol(ZVHANDLE library, const ZVWCHAR* name);
ZV_API HRESULT ZVCloseLibrary(ZVHANDLE library);

/* ---- Object containers ------------------------------------------------ */

ZV_API ZVContainer* ZVCreateContainer(void* storage, ZVMatchFn match, ZVOrderFn order,
                                      ZVReleaseFn release);
ZV_API ZVContainer* ZVCreateContainerEx(ZVMatchFn match, ZVOrderFn order, uint32_t objectSize,
                                        uint32_t initialCount, uint32_t maxCount);
ZV_API uint16_t ZVDestroyContainer(ZVContainer* container);
ZV_API uint16_t ZVContainerLock(ZVContainer* container, uint32_t* token);
ZV_API uint16_t ZVContainerUnlock(ZVContainer* container, uint32_t token);
ZV_API uint32_t ZVContainerObjCount(ZVContainer* container);
ZV_API ZVContainerObj* ZVContainerNewObj(ZVContainer* container, void* data);
ZV_API ZVContainerObj* ZVContainerNewObjEx(ZVContainer* container, void* data, void** dataOut);

ZV_API ZVContainerObj* ZVContainerInsertObjCCL(ZVContainer* container, uint32_t token,
                                               ZVContainerObj* obj, uint32_t position);
ZV_API ZVContainerObj* ZVContainerInsertObjLC(ZVContainer* container, ZVContainerObj* obj,
                                              uint32_t position);
ZV_API ZVContainerObj* ZVContainerLockAndInsertObjCCL(ZVContainer* container, uint32_t token,
                                                      ZVContainerObj* obj, uint32_t position,
                                                      uint32_t lockMode);
ZV_API ZVContainerObj* ZVContainerLockAndInsertObjLC(ZVContainer* container, ZVContainerObj* obj,
                                                     uint32_t position, uint32_t lockMode);
ZV_API void* ZVContainerRemoveObjCCL(ZVContainer* container, uint32_t token, uint32_t position,
                                     void* keyOrObj);
ZV_API void* ZVContainerRemoveObjLC(ZVContainer* container, uint32_t position, void* keyOrObj);

ZV_API uint16_t ZVContainerContainsData(ZVContainer* container, void* data);
ZV_API uint16_t ZVContainerContainsObj(ZVContainer* container, ZVContainerObj* obj);
ZV_API ZVContainerObj* ZVContainerFindObjEx(ZVContainer* container, uint32_t position,
                                            ZVMatchFn search, void* key);
ZV_API ZVContainerObj* ZVContainerFindObjAndLockEx(ZVContainer* container, uint32_t position,
                                                   void* keyOrObj, uint32_t lockMode,
                                                   ZVMatchFn search);
ZV_API void* ZVContainerGetObjPtr(ZVContainer* container, ZVContainerObj* obj);
ZV_API void* ZVContainerLockObj(ZVContainer* container, ZVContainerObj* obj);
ZV_API uint16_t ZVContainerUnlockObj(ZVContainer* container, ZVContainerObj* obj);

/* ---- URI parser (0 parsed, 1 refused) --------------------------------- */

ZV_API int32_t ParseURI(ZVWCHAR* text, ParsedURI* parsed);

/* ---- Registry entries ------------------------------------------------- */

ZV_API HRESULT ZVAddRegistryEntry(HKEY root, const ZVWCHAR* keyPath, const ZVWCHAR* valueName,
                                  const ZVWCHAR* value);
ZV_API HRESULT ZVGetRegistryEntry(HKEY root, const ZVWCHAR* keyPath, const ZVWCHAR* valueName,
                                  ZVWCHAR* buffer);
ZV_API HRESULT ZVDeleteRegistryEntry(HKEY root, const ZVWCHAR* keyPath);

/* ---- Component objects ------------------------------------------------ */

ZV_API HRESULT ZVInitializeZCom(void);
ZV_API HRESULT ZVUninitializeZCom(void);
ZV_API void* ZVComMalloc(uint32_t size);
ZV_API void ZVComFree(void* block);
ZV_API HRESULT ZVRegisterComponent(const ZVWCHAR* serverPath, const ZVWCHAR* progId,
                                   const ZVWCHAR* description, const ZVWCHAR* clsidText);
ZV_API HRESULT ZVUnregisterComponent(const ZVWCHAR* progId, const ZVWCHAR* clsidText);
ZV_API HRESULT ZVClsidFromProgId(const ZVWCHAR* progId, CLSID* clsid);
ZV_API HRESULT ZVCreateObject(uint32_t unused, const CLSID* clsid, IUnknown* outer,
                              const IID* iid, void** out);

/* ---- Registry export and import --------------------------------------- */

ZV_API HRESULT ZVExportRegistryEntry(HKEY root, const ZVWCHAR* keyPath, const ZVWCHAR* fileName);
ZV_API HRESULT ZVImportRegistryEntry(const ZVWCHAR* fileName, uint16_t undo);

#ifdef __cplusplus
}
#endif

#endif /* ZV_H */
