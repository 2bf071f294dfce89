/*
 * zv_platform.h - the Win32 and component-object types that the public
 * interface of ZV uses.
 *
 * On Windows this is <windows.h>.  Elsewhere ZV carries its own declarations,
 * with Win32's names and widths (DWORD is 32 bits also on LP64), so that a
 * component written against zv.h compiles unchanged on both.
 */
#ifndef ZV_PLATFORM_H
#define ZV_PLATFORM_H

#include <stdint.h>
#include <stddef.h>

#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <objbase.h>
#include <unknwn.h>

#if defined(ZV_WCHAR_IS_CHAR16) && defined(__cplusplus)
/* C++ sources shared with other platforms may keep their text in char16_t
 * (u"" literals): the same 16-bit unit, so the same C interface. */
typedef char16_t ZVWCHAR;
#define ZV_W(text) u##text
#else
typedef wchar_t ZVWCHAR;
#define ZV_W(text) L##text
#endif
#define ZV_STDCALL __stdcall

#else /* !_WIN32 */

/* The 16-bit wide unit. C++ uses char16_t so that u"" literals fit. */
#ifdef __cplusplus
typedef char16_t ZVWCHAR;
#else
typedef uint16_t ZVWCHAR;
#endif
#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L)
#define ZV_W(text) u##text
#endif
#define ZV_STDCALL

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int32_t BOOL;
typedef int32_t HRESULT;
typedef uintptr_t ULONG_PTR;
typedef void* HANDLE;
typedef ZVWCHAR WCHAR;

/* A registry key handle: a handle of the platform layer's table or one of
 * the predefined keys below (sign-extended 32-bit values, as on Win64). */
typedef struct HKEY__* HKEY;
#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)(intptr_t)(LONG)0x80000000)
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)(intptr_t)(LONG)0x80000001)
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)(intptr_t)(LONG)0x80000002)
#define HKEY_USERS ((HKEY)(ULONG_PTR)(intptr_t)(LONG)0x80000003)

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_FAIL ((HRESULT)0x80004005u)
#define E_INVALIDARG ((HRESULT)0x80070057u)
#define E_NOINTERFACE ((HRESULT)0x80004002u)
#define E_OUTOFMEMORY ((HRESULT)0x8007000Eu)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110u)
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111u)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154u)
#define RPC_E_CHANGED_MODE ((HRESULT)0x80010106u)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

#define WAIT_OBJECT_0 ((DWORD)0x00000000u)
#define WAIT_TIMEOUT ((DWORD)0x00000102u)
#define WAIT_FAILED ((DWORD)0xFFFFFFFFu)
#define INFINITE ((DWORD)0xFFFFFFFFu)

typedef struct _GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;
typedef GUID CLSID;
typedef GUID IID;

typedef struct _SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
} SYSTEMTIME;

/* Win32's layout.  LockCount is the lock word (0 free, 1 held, 2 held with
 * sleepers), OwningThread the owner's thread id, RecursionCount the owner's
 * depth; the storage belongs to the caller. */
typedef struct _RTL_CRITICAL_SECTION {
    void* DebugInfo;
    LONG LockCount;
    LONG RecursionCount;
    HANDLE OwningThread;
    HANDLE LockSemaphore;
    ULONG_PTR SpinCount;
} CRITICAL_SECTION;

#ifdef __cplusplus
/* Standard vtable order, so that a server library built against these
 * declarations is called correctly through the pointers it hands out. */
struct IUnknown {
    virtual HRESULT QueryInterface(const IID& riid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
};

struct IClassFactory : public IUnknown {
    virtual HRESULT CreateInstance(IUnknown* outer, const IID& riid, void** object) = 0;
    virtual HRESULT LockServer(int32_t lock) = 0;
};
#else
typedef struct IUnknown IUnknown;
typedef struct IClassFactory IClassFactory;
#endif

#endif /* _WIN32 */

#endif /* ZV_PLATFORM_H */
