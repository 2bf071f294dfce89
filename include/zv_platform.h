/**
 * @file zv_platform.h
 * @brief The Win32 and component-object types that zv.h uses.
 *
 * On Windows this is <windows.h>.  Elsewhere ZV carries its own declarations,
 * with Win32's names and widths (DWORD is 32 bits also on LP64), so that a
 * component written against zv.h compiles unchanged on both.  zv.h includes
 * it; there is no need to include it yourself.
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

/** The 16-bit wide character unit (UTF-16).  `char16_t` in C++, so that
 *  `u""` literals fit; `uint16_t` in C; `wchar_t` on Windows. */
#ifdef __cplusplus
typedef char16_t ZVWCHAR;
#else
typedef uint16_t ZVWCHAR;
#endif
#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L)
/** Makes a wide string literal: `ZV_W("text")` (C++ and C11; not in C99). */
#define ZV_W(text) u##text
#endif
/** The calling convention of the component interfaces (`__stdcall` on
 *  Windows, nothing elsewhere). */
#define ZV_STDCALL

typedef uint8_t BYTE;       /**< 8 bits, unsigned. */
typedef uint16_t WORD;      /**< 16 bits, unsigned. */
typedef uint32_t DWORD;     /**< 32 bits, unsigned. */
typedef int32_t LONG;       /**< 32 bits, signed. */
typedef uint32_t ULONG;     /**< 32 bits, unsigned. */
typedef int32_t BOOL;       /**< A 32-bit truth value. */
/** A status: 0 (`S_OK`) or positive for success, negative for failure. */
typedef int32_t HRESULT;
typedef uintptr_t ULONG_PTR; /**< A pointer-sized unsigned integer. */
typedef void* HANDLE;       /**< A system handle. */
typedef ZVWCHAR WCHAR;      /**< The wide character unit. */

/** A registry key handle: a handle of the platform layer's table or one of
 *  the predefined keys below (sign-extended 32-bit values, as on Win64). */
typedef struct HKEY__* HKEY;
/** The classes root: a view of `HKEY_LOCAL_MACHINE\Software\Classes`. */
#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)(intptr_t)(LONG)0x80000000)
/** The current user's root. */
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)(intptr_t)(LONG)0x80000001)
/** The machine's root. */
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)(intptr_t)(LONG)0x80000002)
/** The root of all users. */
#define HKEY_USERS ((HKEY)(ULONG_PTR)(intptr_t)(LONG)0x80000003)

#define S_OK ((HRESULT)0)                             /**< Success. */
#define S_FALSE ((HRESULT)1)                          /**< Success, with nothing to do. */
#define E_FAIL ((HRESULT)0x80004005u)                 /**< Unspecified failure. */
#define E_INVALIDARG ((HRESULT)0x80070057u)           /**< An argument is not acceptable. */
#define E_NOINTERFACE ((HRESULT)0x80004002u)          /**< The interface is not supported. */
#define E_OUTOFMEMORY ((HRESULT)0x8007000Eu)          /**< No memory. */
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110u)  /**< The class cannot be aggregated. */
/** The server does not serve the class. */
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111u)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154u)    /**< The class is not registered. */
/** The thread was initialised for another concurrency model. */
#define RPC_E_CHANGED_MODE ((HRESULT)0x80010106u)
/** True for a success status. */
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
/** True for a failure status. */
#define FAILED(hr) (((HRESULT)(hr)) < 0)

#define WAIT_OBJECT_0 ((DWORD)0x00000000u) /**< A wait ended because the object was set. */
#define WAIT_TIMEOUT ((DWORD)0x00000102u)  /**< A wait timed out. */
#define WAIT_FAILED ((DWORD)0xFFFFFFFFu)   /**< A wait failed. */
#define INFINITE ((DWORD)0xFFFFFFFFu)      /**< No time limit. */

/** A globally unique identifier; a class (`CLSID`) or interface (`IID`)
 *  identifier.  Text form: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}". */
typedef struct _GUID {
    uint32_t Data1;   /**< The first 8 hexadecimal digits. */
    uint16_t Data2;   /**< The next 4. */
    uint16_t Data3;   /**< The next 4. */
    uint8_t Data4[8]; /**< The last 16, two digits per byte, in order. */
} GUID;
typedef GUID CLSID; /**< A class identifier. */
typedef GUID IID;   /**< An interface identifier. */

/** A date and time, as ::ZVGetLocalTime fills it. */
typedef struct _SYSTEMTIME {
    WORD wYear;         /**< The year, e.g. 2026. */
    WORD wMonth;        /**< 1 (January) to 12. */
    WORD wDayOfWeek;    /**< 0 (Sunday) to 6. */
    WORD wDay;          /**< 1 to 31. */
    WORD wHour;         /**< 0 to 23. */
    WORD wMinute;       /**< 0 to 59. */
    WORD wSecond;       /**< 0 to 59. */
    WORD wMilliseconds; /**< 0 to 999. */
} SYSTEMTIME;

/** A critical section, in Win32's layout; the storage belongs to the caller
 *  (see ::ZVCreateCriticalSection), who never touches the fields. */
typedef struct _RTL_CRITICAL_SECTION {
    void* DebugInfo;        /**< Not used. */
    LONG LockCount;         /**< The lock word: 0 free, 1 held, 2 held with sleepers. */
    LONG RecursionCount;    /**< The owner's depth. */
    HANDLE OwningThread;    /**< The owner's thread id. */
    HANDLE LockSemaphore;   /**< Not used. */
    ULONG_PTR SpinCount;    /**< Not used. */
} CRITICAL_SECTION;

#ifdef __cplusplus
/* Standard vtable order, so that a server library built against these
 * declarations is called correctly through the pointers it hands out. */
/** The base of every component interface: reference counting and
 *  interface lookup (C++ only). */
struct IUnknown {
    /** Asks for another interface of the object.
     *  @param riid the interface wanted.  @param object receives it (with a
     *  reference), or null.  @return `S_OK`, or `E_NOINTERFACE`. */
    virtual HRESULT QueryInterface(const IID& riid, void** object) = 0;
    /** Adds a reference.  @return the new count (for information only). */
    virtual ULONG AddRef() = 0;
    /** Gives back a reference; the last one destroys the object.
     *  @return the new count (for information only). */
    virtual ULONG Release() = 0;
};

/** The factory an in-process server hands out for a class (C++ only). */
struct IClassFactory : public IUnknown {
    /** Creates an object.  @param outer the controlling object for
     *  aggregation, or null.  @param riid the interface wanted.
     *  @param object receives the interface.  @return `S_OK`, or a failure. */
    virtual HRESULT CreateInstance(IUnknown* outer, const IID& riid, void** object) = 0;
    /** Keeps the server loaded (@p lock non-zero) or lets it go (0).
     *  @param lock whether to lock.  @return `S_OK`. */
    virtual HRESULT LockServer(int32_t lock) = 0;
};
#else
typedef struct IUnknown IUnknown;
typedef struct IClassFactory IClassFactory;
#endif

#endif /* _WIN32 */

#endif /* ZV_PLATFORM_H */
