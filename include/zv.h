/**
 * @file zv.h
 * @brief The ZV portability library: every exported function, record and code.
 *
 * One flat set of `ZV...` functions (and `ParseURI`) for the operating-system
 * services that a product's components need.  Compiles as C99 and as C++17;
 * link `libzv` (`zv::zv` with CMake, `pkg-config zv` otherwise).
 *
 * **Conventions that hold for every function unless its entry says otherwise**
 *
 * - *Text.* Wide text is ::ZVWCHAR (16-bit units, `ZV_W("...")` makes a
 *   literal); narrow text is `char`.  Functions ending in `A` take narrow
 *   text, those ending in `W` (and every other function) wide text.  Lengths,
 *   counts and capacities are in characters (bytes for narrow text, 16-bit
 *   units for wide text) and never count the terminator unless the entry says
 *   so.  No function accepts a null string unless its entry says so.
 * - *Buffers.* Every output buffer belongs to the caller.  Most functions do
 *   not know its size: the entry says how much room the result needs, and the
 *   caller must provide it.
 * - *Results.* 16-bit truth values are 1 for success and 0 for failure.
 *   Statuses are HRESULTs: `S_OK` (0) or another non-negative value for
 *   success, a negative value (`E_FAIL`, `E_INVALIDARG`,
 *   `REGDB_E_CLASSNOTREG`, ...) for failure; test them with `SUCCEEDED` /
 *   `FAILED`.  Event, mutex, container and object handles fail with
 *   ::ZV_INVALID_HANDLE (all bits set), never with null; thread, library,
 *   symbol and heap results fail with null.  `ParseURI` returns 0 for success
 *   and 1 for failure.  Failures are reported by results only: the library
 *   writes no message (only the trace lines and the assertion dialog), and
 *   the Win32 last-error value is left as the failing system call set it.
 * - *Ownership.* The caller owns every buffer it passes and every handle it
 *   receives, and gives a handle back through its matching function
 *   (::ZVFree, ::ZVCloseEvent, ::ZVCloseMutex, ::ZVCloseLibrary,
 *   ::ZVCloseThreadHandle, ::ZVDestroyContainer).
 * - *Threads.* Every function runs on its caller's thread; the library starts
 *   no thread of its own.  Functions may be called from any thread at once
 *   unless their entry says otherwise; functions that share state (a
 *   container, a mutex, the component cache) lock it themselves.
 * - *Start-up.* The library starts itself when it is loaded and stops when it
 *   is unloaded; a program need not call ::ZVInit.
 * - *Families.* The library talks to the system through wide (`W`) or narrow
 *   (`A`) system calls, chosen once at start-up: wide on the NT family, narrow
 *   on the 9x family (on Linux, `ZV_EMULATE_FAMILY=9x` selects the 9x family).
 *   On the narrow road names are narrowed by ::ZVToAnsi into fixed buffers;
 *   the entries give the limits that follow.
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
/** Marks a function exported by the shared library. */
#define ZV_API __attribute__((visibility("default")))
#endif

#if defined(__cplusplus)
/** Marks a function that never returns. */
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

/**
 * @defgroup handles Handles and callbacks
 * @brief The handle type, its failure value and the caller functions that
 *        containers and threads call.
 * @{
 */

/** An opaque, pointer-sized handle: an event, thread, library or mutex. */
typedef void* ZVHANDLE;
/** The failure value of event, mutex, container and object handles: all bits
 *  set.  Compare such results with it, not with null. */
#define ZV_INVALID_HANDLE ((ZVHANDLE)(intptr_t)-1)

/**
 * A container's match or search function.
 *
 * Called under the container's list lock; it must not change the container.
 * @param data  the data pointer of an object in the list (under
 *              ::ZV_CONTAINER_OBJECT in ::ZVContainerFindObjEx, the object
 *              handle itself).
 * @param key   the key the caller passed to the search or removal.
 * @return **0 when the object matches**, any other value when it does not
 *         (only the low 16 bits count).  Note the reversal: 0 is the match.
 */
typedef uint16_t (*ZVMatchFn)(void* data, void* key);

/**
 * A container's ordering function, used by ::ZV_CONTAINER_SORTED insertion.
 *
 * Called under the container's list lock; it must not change the container.
 * @param existing  the data pointer of an object already in the list.
 * @param added     the data pointer of the object being inserted.
 * @return greater than 0 when @p added goes before @p existing.  Returning
 *         `existing - added` for numbers keeps the list ascending; equal
 *         objects keep their order of insertion.
 */
typedef int32_t (*ZVOrderFn)(void* existing, void* added);

/**
 * A dynamic container's release function, called by ::ZVDestroyContainer
 * once with the data pointer of every object still in the list (in list
 * order) and finally once with the container's own storage.
 * @param p  a data pointer, or the storage given to ::ZVCreateContainer.
 */
typedef void (*ZVReleaseFn)(void* p);

/**
 * The start routine of a thread made by ::ZVCreateThread.
 * @param arg  the argument given to ::ZVCreateThread.
 * @return the thread's exit code.
 */
typedef uint32_t(ZV_STDCALL* ZVThreadProc)(void* arg);

/** @} */

/* ---- Records (packed to 1 byte: their layout is part of the interface) - */

/**
 * @defgroup records Records
 * @brief Records whose layout is part of the interface (packed to 1 byte).
 * @{
 */

#pragma pack(push, 1)

/**
 * An object of a container; its address is the object handle.
 *
 * The library keeps every field; callers read the data pointer through
 * ::ZVContainerGetObjPtr and change nothing.
 */
typedef struct ZVContainerObj {
    struct ZVContainerObj* next; /**< The following object (or free slot). */
    struct ZVContainerObj* prev; /**< The preceding object. */
    void* data;                  /**< The data pointer; null once removed. */
    uint8_t blockHead;           /**< 1 when the record starts a block of its own. */
    uint8_t lockMode;            /**< The object lock's mode (`ZV_OBJLOCK_...`). */
    uint8_t lockCount;           /**< Holds of the object lock (wraps at 256). */
} ZVContainerObj;

/**
 * A container; its address is the container handle.
 *
 * A caller of ::ZVCreateContainer supplies `sizeof(ZVContainer)` bytes of
 * pointer-aligned storage for it.  The library keeps every field; callers
 * read them only through the container functions.
 */
typedef struct ZVContainer {
    CRITICAL_SECTION listLock;      /**< Held by every list operation. */
    CRITICAL_SECTION containerLock; /**< Held across a sequence of calls (::ZVContainerLock). */
    ZVHANDLE releaseEvent;          /**< Set when an object lock is given back to waiters. */
    int32_t waiterCount;            /**< Threads waiting for an object lock. */
    ZVHANDLE passEvent;             /**< Set by the last waiter to leave a wait. */
    uint32_t reserved;              /**< 10000; not used. */
    ZVContainerObj* head;           /**< The first object, or null. */
    ZVContainerObj* tail;           /**< The last object, or null. */
    ZVContainerObj* cursor;         /**< The object the latest search found, or null. */
    ZVMatchFn matchFn;              /**< The container's match function, or null. */
    ZVOrderFn orderFn;              /**< The container's ordering function, or null. */
    uint32_t count;                 /**< Objects in the list. */
    ZVReleaseFn releaseFn;          /**< Dynamic: the release function, or null. */
    ZVContainerObj* freeList;       /**< Pooled: the first free slot. */
    uint32_t slotSize;              /**< Pooled: bytes per slot; dynamic: all bits set. */
    uint32_t blockSlots;            /**< Pooled: slots per block; dynamic: 1. */
    uint32_t maxCount;              /**< Pooled: the maximum count; dynamic: all bits set. */
    uint16_t kind;                  /**< 1 dynamic, 0 pooled. */
} ZVContainer;

/**
 * The parts of an address text, filled by ::ParseURI.
 *
 * Every field points into the caller's text (which ::ParseURI cuts in place)
 * or is null; the record owns nothing.
 */
typedef struct ParsedURI {
    ZVWCHAR* scheme;    /**< The text before the scheme's ":", or null. */
    ZVWCHAR* host;      /**< The host after "//", or null (also when empty). */
    ZVWCHAR* port;      /**< The text after the host's ":", or null; may be empty. */
    ZVWCHAR* path;      /**< The final path component; never null after success. */
    ZVWCHAR* link;      /**< The value of the attribute "link" (or "l"), or null. */
    ZVWCHAR* transport; /**< The value of the attribute "transport" (or "t"), or null. */
    /** Up to four ordinary attributes: names at even places, each followed
     *  by its value (null for a name without "="); unused places are null. */
    ZVWCHAR* attributes[8];
} ParsedURI;

/**
 * The record behind a mutex handle of ::ZVCreateMutex.  Callers never touch
 * it; it is shown because its layout is part of the interface.
 */
typedef struct ZVMutex {
    int32_t lockCount;      /**< -1 when free; holds plus waiters minus 1 otherwise. */
    uint32_t recursionCount; /**< How many times the owner holds the mutex. */
    uint32_t ownerThreadId; /**< The owning thread's id, 0 when free. */
    ZVHANDLE semaphore;     /**< Hands the mutex to one waiting thread. */
} ZVMutex;

#pragma pack(pop)

/** @} */

/**
 * @defgroup codes Container position codes and object lock modes
 * @brief Where a container operation acts, and how an object is locked.
 *
 * Insertion takes ::ZV_CONTAINER_SORTED, ::ZV_CONTAINER_FIRST and
 * ::ZV_CONTAINER_LAST (an empty list accepts any code).  Removal takes
 * ::ZV_CONTAINER_MATCH, ::ZV_CONTAINER_OBJECT, ::ZV_CONTAINER_FIRST and
 * ::ZV_CONTAINER_LAST.  ::ZVContainerFindObjEx takes ::ZV_CONTAINER_MATCH,
 * ::ZV_CONTAINER_OBJECT and ::ZV_CONTAINER_DATA; ::ZVContainerFindObjAndLockEx
 * takes every code but ::ZV_CONTAINER_SORTED.
 * @{
 */

/** The first object, from the head, that a match function accepts. */
#define ZV_CONTAINER_MATCH 1u
/** The given object handle. */
#define ZV_CONTAINER_OBJECT 2u
/** The first object, from the head, whose data pointer equals the key. */
#define ZV_CONTAINER_DATA 3u
/** The place the ordering function gives (insertion only). */
#define ZV_CONTAINER_SORTED 4u
/** The head of the list. */
#define ZV_CONTAINER_FIRST 5u
/** The object after the cursor; the head when the cursor is null. */
#define ZV_CONTAINER_NEXT 6u
/** The object before the cursor; the tail when the cursor is null. */
#define ZV_CONTAINER_PREV 7u
/** The object after the given object; the head for a null key. */
#define ZV_CONTAINER_NEXT_OF 8u
/** The object before the given object; the head (not the tail) for a null key. */
#define ZV_CONTAINER_PREV_OF 9u
/** The tail of the list. */
#define ZV_CONTAINER_LAST 10u

/** No object lock: a search that only finds. */
#define ZV_OBJLOCK_NONE 0u
/** A shared object lock: any number of holders at once. */
#define ZV_OBJLOCK_SHARED 1u
/** An exclusive object lock: one holder, no other. */
#define ZV_OBJLOCK_EXCLUSIVE 2u

/** @} */

/**
 * @defgroup lifecycle Library lifecycle and platform identity
 * @brief Counted start-up and shut-down, and what the library was built for.
 * @{
 */

/**
 * Raises the library's start-up count; the first call sets the library up.
 *
 * The library calls it itself when it is loaded, so a program's own call only
 * raises the count and must be matched by one ::ZVDeInit.
 * @return 1 when the library is ready; 0 when a start-up step failed (the
 *         count keeps its increment, and a later call returns 1 without
 *         retrying).
 * @note Not thread-safe: ::ZVInit and ::ZVDeInit must not run in two threads
 *       at once.
 */
ZV_API uint16_t ZVInit(void);
/**
 * Lowers the start-up count; the call that brings it to 0 deletes the lock of
 * the component layer, which the layer's functions then cannot use.
 *
 * Call it exactly once for each ::ZVInit of your own, never more often.
 * @note Not thread-safe: see ::ZVInit.
 */
ZV_API void ZVDeInit(void);
/** @return 1, the compiler type ("ZV_COMPILER_MSVC").  ::ZVHardwareType and
 *  ::ZVPlatformType are the same function. */
ZV_API int32_t ZVCompilerType(void);
/** @return 1, the hardware type ("ZV_HARDWARE_PC"); the same function as
 *  ::ZVCompilerType. */
ZV_API int32_t ZVHardwareType(void);
/** @return 1, the platform type ("ZV_PLATFORM_WIN32"); the same function as
 *  ::ZVCompilerType. */
ZV_API int32_t ZVPlatformType(void);
/** @return the wide text "ZV_COMPILER_MSVC", in static storage: do not free
 *  or change it. */
ZV_API const ZVWCHAR* ZVCompilerTypeString(void);
/** @return the wide text "ZV_HARDWARE_PC", in static storage. */
ZV_API const ZVWCHAR* ZVHardwareTypeString(void);
/** @return the wide text "ZV_PLATFORM_WIN32", in static storage. */
ZV_API const ZVWCHAR* ZVPlatformTypeString(void);
/** @return 2: the hardware is little-endian. */
ZV_API int32_t ZVHWEndian(void);
/**
 * The size a record of @p size bytes takes in the library's layouts.
 * @param size  a size in bytes.
 * @return @p size unchanged: the records are packed, nothing is aligned.
 */
ZV_API uint32_t ZVAlignSize(uint32_t size);

/** @} */

/**
 * @defgroup diagnostics Assertions and trace output
 * @brief Trace lines on the debug output, and the assertion dialog.
 *
 * On Linux the debug output goes where `ZV_DEBUG_OUTPUT` says: unset,
 * nowhere (as with no debugger attached); `stderr`; or a file path, appended
 * to.  The assertion dialog takes its answer from `ZV_ASSERT_ANSWER`
 * (`abort`, `retry`, `ignore`), or asks on the terminal when it is unset.
 * @{
 */

/**
 * Writes a trace line to the debug output: first the calling thread's id as
 * `[0x1a4]`, then the formatted text, as two outputs.
 *
 * Nothing is added to the text: line breaks come from the format.  The
 * formatted text is cut after 511 characters.  Thread-safe: traces of
 * different threads never interleave.
 * @param format  a printf format (narrow), followed by its values.
 */
ZV_API void ZVTraceA(const char* format, ...);
/**
 * Writes a wide trace line: as ::ZVTraceA, with a wide format in which `%s`
 * takes a wide string and `%hs` a narrow one.  Cut after 511 characters.
 * @param format  a wide printf format, followed by its values.
 */
ZV_API void ZVTraceW(const ZVWCHAR* format, ...);
/**
 * Reports a failed assertion: traces it, then shows an abort/retry/ignore
 * message box naming the file, the line and the expression (the message is
 * cut after 511 characters).
 *
 * - Abort: raises `SIGABRT`; if a handler returns, the process ends with
 *   exit code 3.
 * - Retry: breaks into an attached debugger (nothing happens without one),
 *   then returns.
 * - Ignore: returns.
 * - The box cannot be shown (no terminal and no `ZV_ASSERT_ANSWER` on
 *   Linux): the process ends through `abort()`.
 *
 * Other threads may go on tracing while the box waits.
 * @param expression  the expression's text (narrow).
 * @param file        the source file name (narrow).
 * @param line        the line number.
 */
ZV_API void ZVAssertA(const char* expression, const char* file, int32_t line);
/**
 * Reports a failed assertion with a wide expression text; otherwise as
 * ::ZVAssertA.
 * @param expression  the expression's text (wide).
 * @param file        the source file name, **narrow**; its first 255
 *                    characters are shown.
 * @param line        the line number.
 */
ZV_API void ZVAssertW(const ZVWCHAR* expression, const char* file, int32_t line);

/** @} */

/**
 * @defgroup memory Memory
 * @brief Heap blocks, and filling, copying and comparing raw memory.
 *
 * The heap is the C runtime's: a block from ::ZVMalloc, ::ZVCalloc or
 * ::ZVReAlloc is released with ::ZVFree and nothing else.  All functions are
 * thread-safe.
 * @{
 */

/**
 * Allocates a block, as `malloc`.
 * @param size  bytes wanted.
 * @return the block (its contents undefined), or null when the heap is
 *         exhausted.  Release it with ::ZVFree.
 */
ZV_API void* ZVMalloc(uint32_t size);
/**
 * Allocates a zeroed block of @p count elements, as `calloc`.
 * @param count  number of elements.
 * @param size   bytes per element.
 * @return the block, or null when the memory cannot be had.
 */
ZV_API void* ZVCalloc(uint32_t count, uint32_t size);
/**
 * Resizes a block, as `realloc`; it may move.
 * @param block  a block of this heap, or null (then it allocates).
 * @param size   the new size in bytes.
 * @return the resized block, or null, in which case @p block is untouched
 *         and still the caller's.
 */
ZV_API void* ZVReAlloc(void* block, uint32_t size);
/**
 * Releases a block of ::ZVMalloc, ::ZVCalloc or ::ZVReAlloc.
 * @param block  the block, or null (nothing happens).
 */
ZV_API void ZVFree(void* block);
/**
 * Sets @p length bytes to 0.
 * @param dest    the memory.
 * @param length  bytes to clear.
 */
ZV_API void ZVZeroMemory(void* dest, uint32_t length);
/**
 * Sets @p length bytes to the low 8 bits of @p fill.  Note the order: the
 * length comes before the value.
 * @param dest    the memory.
 * @param length  bytes to set.
 * @param fill    the value; only its low byte is used (0x1AB writes 0xAB).
 */
ZV_API void ZVFillMemory(void* dest, uint32_t length, int32_t fill);
/**
 * Copies @p length bytes forwards.  The areas must not overlap (use
 * ::ZVMoveMemory).
 * @param dest    where to copy to; @p length bytes.
 * @param source  where to copy from; @p length bytes.
 * @param length  bytes to copy.
 */
ZV_API void ZVCopyMemory(void* dest, const void* source, uint32_t length);
/**
 * Copies @p length bytes, correctly also when the areas overlap (`memmove`).
 * @param dest    where to copy to.
 * @param source  where to copy from.
 * @param length  bytes to copy.
 * @return @p dest.
 */
ZV_API void* ZVMoveMemory(void* dest, const void* source, uint32_t length);
/**
 * Compares two areas byte by byte, as unsigned values.
 * @param first   the first area.
 * @param second  the second area.
 * @param length  bytes to compare; 0 reads nothing.
 * @return exactly -1 when @p first holds the smaller byte at the first
 *         difference, +1 when the larger, 0 when all bytes are equal.
 */
ZV_API int32_t ZVCompareMemory(const void* first, const void* second, uint32_t length);

/** @} */

/**
 * @defgroup strings Strings and characters
 * @brief Narrow (`A`) and wide (`W`) string functions.
 *
 * No function allocates, and none checks a destination's size: every
 * destination must hold the result and its terminator.  No function accepts
 * a null string, except the string argument of the tokenisers.  Case rules
 * know only the ASCII letters: 'A'-'Z' and 'a'-'z' change case, every other
 * character (0x80-0xFF and every wide unit beyond 'z' included) stays as it
 * is.  All functions are thread-safe on different buffers.
 * @{
 */

/** @param s a string.  @return its length in characters. */
ZV_API uint32_t ZVStrLenA(const char* s);
/** @param s a wide string.  @return its length in characters. */
ZV_API uint32_t ZVStrLenW(const ZVWCHAR* s);
/**
 * The length of @p s, but at most @p n; reads no more than @p n characters,
 * so @p s need not be terminated within them.
 * @param s  a string.
 * @param n  the most characters to count.
 * @return the length, or @p n when there is no terminator among the first @p n.
 */
ZV_API uint32_t ZVStrNLenA(const char* s, uint32_t n);
/** The wide form of ::ZVStrNLenA.  @param s a wide string.  @param n the most
 *  characters to count.  @return the length, at most @p n. */
ZV_API uint32_t ZVStrNLenW(const ZVWCHAR* s, uint32_t n);
/** Upper-cases 'a'-'z' in place; every other byte stays.  @param s the string.
 *  @return @p s. */
ZV_API char* ZVStrUprA(char* s);
/** Upper-cases 'a'-'z' in place; every other unit stays.  @param s the wide
 *  string.  @return @p s. */
ZV_API ZVWCHAR* ZVStrUprW(ZVWCHAR* s);

/**
 * Compares two strings byte by byte, as unsigned values.
 * @param a  the first string.
 * @param b  the second string.
 * @return exactly -1, 0 or +1 as @p a sorts before, equal to or after @p b.
 */
ZV_API int32_t ZVStrCmpA(const char* a, const char* b);
/** Compares two wide strings unit by unit, as unsigned values.
 *  @param a the first string.  @param b the second string.
 *  @return exactly -1, 0 or +1. */
ZV_API int32_t ZVStrCmpW(const ZVWCHAR* a, const ZVWCHAR* b);
/** As ::ZVStrCmpA over at most @p n characters.  @param a the first string.
 *  @param b the second string.  @param n the most characters to compare.
 *  @return -1, 0 or +1; 0 when @p n is 0. */
ZV_API int32_t ZVStrNCmpA(const char* a, const char* b, uint32_t n);
/** As ::ZVStrCmpW over at most @p n characters.  @param a the first string.
 *  @param b the second string.  @param n the most characters to compare.
 *  @return -1, 0 or +1; 0 when @p n is 0. */
ZV_API int32_t ZVStrNCmpW(const ZVWCHAR* a, const ZVWCHAR* b, uint32_t n);
/**
 * Compares two strings without regard to the case of 'A'-'Z'.
 *
 * Characters are taken as **signed** bytes and 'A'-'Z' folded to 'a'-'z', so
 * bytes 0x80-0xFF sort before every ASCII character and before the end of a
 * shorter string.
 * @param a  the first string.
 * @param b  the second string.
 * @return the difference of the first differing folded characters (0 when
 *         equal): "ABC" against "abd" gives -1.
 */
ZV_API int32_t ZVStrICmpA(const char* a, const char* b);
/** Compares two wide strings without regard to the case of 'A'-'Z' (units
 *  unsigned).  @param a the first string.  @param b the second string.
 *  @return the difference of the first differing folded units, 0 when equal. */
ZV_API int32_t ZVStrICmpW(const ZVWCHAR* a, const ZVWCHAR* b);
/** As ::ZVStrICmpA over at most @p n characters.  @param a the first string.
 *  @param b the second string.  @param n the most characters to compare.
 *  @return the difference of the last pair compared; 0 when @p n is 0. */
ZV_API int32_t ZVStrNICmpA(const char* a, const char* b, uint32_t n);
/** As ::ZVStrICmpW over at most @p n characters.  @param a the first string.
 *  @param b the second string.  @param n the most characters to compare.
 *  @return the difference of the first differing folded units; 0 when equal
 *  or @p n is 0. */
ZV_API int32_t ZVStrNICmpW(const ZVWCHAR* a, const ZVWCHAR* b, uint32_t n);

/** Finds the first @p c in @p s.  @param s the string.  @param c the
 *  character; 0 finds the terminator.  @return a pointer into @p s, or null. */
ZV_API char* ZVStrChrA(const char* s, char c);
/** Finds the first @p c in a wide string.  @param s the string.  @param c the
 *  unit; 0 finds the terminator.  @return a pointer into @p s, or null. */
ZV_API ZVWCHAR* ZVStrChrW(const ZVWCHAR* s, ZVWCHAR c);
/** Finds the last @p c in @p s.  @param s the string.  @param c the character;
 *  0 finds the terminator.  @return a pointer into @p s, or null. */
ZV_API char* ZVStrRChrA(const char* s, char c);
/** Finds the last @p c in a wide string.  @param s the string.  @param c the
 *  unit; 0 finds the terminator.  @return a pointer into @p s, or null. */
ZV_API ZVWCHAR* ZVStrRChrW(const ZVWCHAR* s, ZVWCHAR c);
/** Finds the first occurrence of @p sought in @p s.  @param s the string.
 *  @param sought the string looked for; an empty one finds @p s itself.
 *  @return a pointer into @p s, or null. */
ZV_API char* ZVStrStrA(const char* s, const char* sought);
/** The wide form of ::ZVStrStrA.  @param s the string.  @param sought the
 *  string looked for.  @return a pointer into @p s, or null. */
ZV_API ZVWCHAR* ZVStrStrW(const ZVWCHAR* s, const ZVWCHAR* sought);

/** Copies @p s and its terminator.  @param dest room for the length of @p s
 *  plus 1.  @param s the source.  @return @p dest. */
ZV_API char* ZVStrCpyA(char* dest, const char* s);
/** Copies a wide string and its terminator.  @param dest room for the length
 *  of @p s plus 1 units.  @param s the source.  @return @p dest. */
ZV_API ZVWCHAR* ZVStrCpyW(ZVWCHAR* dest, const ZVWCHAR* s);
/**
 * Writes exactly @p n characters, as `strncpy`: @p s, then zeros.  When @p s
 * has @p n or more characters **no terminator is written**.
 * @param dest  room for @p n characters.
 * @param s     the source.
 * @param n     characters to write.
 * @return @p dest.
 */
ZV_API char* ZVStrNCpyA(char* dest, const char* s, uint32_t n);
/** The wide form of ::ZVStrNCpyA (no terminator when @p s has @p n or more
 *  units).  @param dest room for @p n units.  @param s the source.
 *  @param n units to write.  @return @p dest. */
ZV_API ZVWCHAR* ZVStrNCpyW(ZVWCHAR* dest, const ZVWCHAR* s, uint32_t n);
/** Appends @p s and a terminator.  @param dest a string with room for both
 *  lengths plus 1.  @param s the text to append.  @return @p dest. */
ZV_API char* ZVStrCatA(char* dest, const char* s);
/** Appends a wide string and a terminator.  @param dest a wide string with
 *  room for both lengths plus 1.  @param s the text to append.
 *  @return @p dest. */
ZV_API ZVWCHAR* ZVStrCatW(ZVWCHAR* dest, const ZVWCHAR* s);
/** Appends at most @p n characters of @p s, then always a terminator.
 *  @param dest a string with room for its length plus @p n plus 1.
 *  @param s the text to append.  @param n the most characters appended.
 *  @return @p dest. */
ZV_API char* ZVStrNCatA(char* dest, const char* s, uint32_t n);
/** The wide form of ::ZVStrNCatA.  @param dest a wide string with room for
 *  its length plus @p n plus 1.  @param s the text to append.  @param n the
 *  most units appended.  @return @p dest. */
ZV_API ZVWCHAR* ZVStrNCatW(ZVWCHAR* dest, const ZVWCHAR* s, uint32_t n);

/**
 * Returns the next token of a string, as `strtok`, but keeps its place in a
 * variable of the caller's, so several tokenisations can run at once.
 *
 * Cuts the string in place: the delimiter after a token is overwritten with
 * a terminator.
 * @param s           the string to start on, or null to go on from
 *                    @p position (null with a null position returns null).
 * @param delimiters  the characters that separate tokens; an empty set makes
 *                    the rest of the string one token.
 * @param position    the caller's place variable; set to the character after
 *                    the token's delimiter, or to null at the end.
 * @return the token, inside @p s; null when none is left.
 */
ZV_API char* ZVStrTokA(char* s, const char* delimiters, char** position);
/** The wide form of ::ZVStrTokA.  @param s the string, or null to go on.
 *  @param delimiters the separating units.  @param position the caller's
 *  place variable.  @return the token, or null. */
ZV_API ZVWCHAR* ZVStrTokW(ZVWCHAR* s, const ZVWCHAR* delimiters, ZVWCHAR** position);

/**
 * Reads a decimal number, as `atoi`: leading white space, an optional sign,
 * then digits up to the first other character.
 * @param s  the text.
 * @return the value; 0 when there are no digits; `INT32_MAX` or `INT32_MIN`
 *         when it does not fit.
 */
ZV_API int32_t ZVStrToIA(const char* s);
/** The wide form of ::ZVStrToIA.  @param s the text.  @return the value. */
ZV_API int32_t ZVStrToIW(const ZVWCHAR* s);
/** The same as ::ZVStrToIA (as `atol`, 32 bits).  @param s the text.
 *  @return the value. */
ZV_API int32_t ZVStrToLA(const char* s);
/** The wide form of ::ZVStrToLA.  @param s the text.  @return the value. */
ZV_API int32_t ZVStrToLW(const ZVWCHAR* s);
/**
 * Reads an unsigned number, as `strtoul` with base 0: "0x" selects
 * hexadecimal, a leading 0 octal, anything else decimal; a '-' negates in
 * unsigned arithmetic ("-1" gives 4294967295).
 * @param s  the text.
 * @return the value; 4294967295 when it is too large; 0 without digits.
 */
ZV_API uint32_t ZVStrToULA(const char* s);
/** The wide form of ::ZVStrToULA.  @param s the text.  @return the value. */
ZV_API uint32_t ZVStrToULW(const ZVWCHAR* s);
/**
 * Writes @p value in @p radix with lower-case digits and a terminator.  In
 * radix 10 a negative value gets a '-'; in any other radix the 32 bits are
 * written as an unsigned number (-1 in radix 16 is "ffffffff").
 * @param value  the number.
 * @param dest   room for 33 characters (radix 2) or 12 (radix 10).
 * @param radix  2 to 36; any other radix writes the empty string.
 * @return @p dest.
 */
ZV_API char* ZVLToStrA(int32_t value, char* dest, int32_t radix);
/** The wide form of ::ZVLToStrA.  @param value the number.  @param dest room
 *  for 33 units (radix 2) or 12 (radix 10).  @param radix 2 to 36.
 *  @return @p dest. */
ZV_API ZVWCHAR* ZVLToStrW(int32_t value, ZVWCHAR* dest, int32_t radix);

/** @param c a character.  @return 1 for '0'-'9', else 0. */
ZV_API int32_t ZVIsDigitA(char c);
/** @param c a wide character.  @return 1 for '0'-'9' (other scripts' digits
 *  are not digits), else 0. */
ZV_API int32_t ZVIsDigitW(ZVWCHAR c);
/** @param c a character.  @return 1 for 'A'-'Z' and 'a'-'z', else 0 (0x80-0xFF
 *  included). */
ZV_API int32_t ZVIsAlphaA(char c);
/** @param c a wide character.  @return 1 for 'A'-'Z' and 'a'-'z', else 0. */
ZV_API int32_t ZVIsAlphaW(ZVWCHAR c);

/** @} */

/**
 * @defgroup conversion Character-set conversion
 * @brief The library's fixed mapping between wide and narrow text.
 *
 * No code page is consulted, so the result never depends on the system's
 * language: narrowing keeps each unit's low 8 bits, widening sign-extends
 * each byte (0xE9 becomes 0xFFE9).  Narrow text survives a trip through wide
 * form unchanged; wide text survives a trip through narrow form only for
 * units 0x0000-0x007F and 0xFF80-0xFFFF.  The conversions cannot fail, take
 * no null pointer and never test the destination's size.  Thread-safe.
 *
 * @note The narrowing scan reads the source in aligned blocks that may reach
 *       past its terminator (never past its page).  Memory checkers that do
 *       not know this report it: run Valgrind with
 *       `--suppressions=docs/valgrind.supp` (installed as
 *       `share/zv/valgrind.supp`).
 * @{
 */

/**
 * Narrows wide text: one byte per unit, the unit's low 8 bits, terminator
 * included (0x0141 becomes 0x41).  ::ZVUnicodeToAnsi is the same function.
 * @param dest    room for the length of @p source plus 1 bytes.
 * @param source  the wide text.
 */
ZV_API void ZVToAnsi(char* dest, const ZVWCHAR* source);
/** The same function as ::ZVToAnsi.  @param dest room for the length of
 *  @p source plus 1 bytes.  @param source the wide text. */
ZV_API void ZVUnicodeToAnsi(char* dest, const ZVWCHAR* source);
/**
 * Widens narrow text: one unit per byte, sign-extended, terminator included
 * (0x41 becomes 0x0041, 0xE9 becomes 0xFFE9).  ::ZVAnsiToUnicode is the same
 * function.
 * @param dest    room for the length of @p source plus 1 wide characters.
 * @param source  the narrow text.
 */
ZV_API void ZVFromAnsi(ZVWCHAR* dest, const char* source);
/** The same function as ::ZVFromAnsi.  @param dest room for the length of
 *  @p source plus 1 units.  @param source the narrow text. */
ZV_API void ZVAnsiToUnicode(ZVWCHAR* dest, const char* source);
/** Copies wide text (the library's text is already Unicode), as
 *  ::ZVStrCpyW.  ::ZVFromUnicode is the same function.
 *  @param dest room for the length of @p source plus 1 units.
 *  @param source the wide text.  @return @p dest. */
ZV_API ZVWCHAR* ZVToUnicode(ZVWCHAR* dest, const ZVWCHAR* source);
/** The same function as ::ZVToUnicode.  @param dest room for the length of
 *  @p source plus 1 units.  @param source the wide text.  @return @p dest. */
ZV_API ZVWCHAR* ZVFromUnicode(ZVWCHAR* dest, const ZVWCHAR* source);

/** @} */

/**
 * @defgroup threads Threads and process
 * @brief Starting, suspending and ending threads; ending the process.
 * @{
 */

/**
 * Starts a thread running @p start(@p arg) at once.
 * @param stackSize  the stack size in bytes; 0 (or less than the system's
 *                   default) gives the default.
 * @param start      the start routine; its result is the exit code.
 * @param arg        passed to @p start; the caller keeps it alive as long as
 *                   the thread uses it.
 * @return the thread handle, or null on failure.  The handle is signalled
 *         when the thread ends (wait for it with ::ZVWaitForEvent); release
 *         it with ::ZVCloseThreadHandle.
 */
ZV_API ZVHANDLE ZVCreateThread(uint32_t stackSize, ZVThreadProc start, void* arg);
/**
 * Ends a thread at once, running none of its code: nothing it holds (locks,
 * memory) is released.  A last resort.
 * @param thread    a thread handle.
 * @param exitCode  the exit code the thread reports.
 * @return non-zero on success, 0 on failure.
 */
ZV_API int32_t ZVTerminateThread(ZVHANDLE thread, uint32_t exitCode);
/**
 * Gives up a thread handle; the thread runs on.
 * @param thread  a handle of ::ZVCreateThread.
 * @return non-zero on success, 0 on failure (for instance for the
 *         pseudo-handle of ::ZVGetCurrentThread).
 */
ZV_API int32_t ZVCloseThreadHandle(ZVHANDLE thread);
/**
 * Ends the calling thread, started by ::ZVCreateThread, as if its start
 * routine returned @p exitCode.
 * @param exitCode  the exit code its handle reports.
 */
ZV_NORETURN ZV_API void ZVExitThread(uint32_t exitCode);
/** @return a pseudo-handle that stands for the calling thread inside that
 *  thread only; it needs no closing and cannot be closed. */
ZV_API ZVHANDLE ZVGetCurrentThread(void);
/** @return the calling thread's id (the id the trace lines show). */
ZV_API uint32_t ZVGetCurrentThreadId(void);
/**
 * Suspends a thread (counted: each suspension needs one resumption).  A
 * thread suspended while it holds a lock blocks every thread that needs it.
 * @param thread  a thread handle.
 * @return the previous suspend count, or 0xFFFFFFFF on failure.
 */
ZV_API uint32_t ZVSuspendThread(ZVHANDLE thread);
/**
 * Lowers a thread's suspend count; at 0 the thread runs again.
 * @param thread  a thread handle.
 * @return the previous suspend count (0 for a running thread), or
 *         0xFFFFFFFF on failure.
 */
ZV_API uint32_t ZVResumeThread(ZVHANDLE thread);
/** Sleeps the calling thread.  @param milliseconds how long; 0 yields the
 *  processor, 0xFFFFFFFF sleeps for ever. */
ZV_API void ZVSleep(uint32_t milliseconds);
/** Ends the process at once with exit code 0: no unload steps, no `atexit`
 *  functions, no flushing of output streams. */
ZV_NORETURN ZV_API void ZVExitProcess(void);

/** @} */

/**
 * @defgroup sync Critical sections, events and interlocked counters
 * @brief In-process locks, events and atomic counters.
 * @{
 */

/**
 * Initialises a critical section: a re-entrant lock for the threads of one
 * process.
 * @param section  the caller's storage; the library never allocates or
 *                 frees it.
 */
ZV_API void ZVCreateCriticalSection(CRITICAL_SECTION* section);
/** Deletes a critical section that no thread holds or waits for.
 *  @param section a section of ::ZVCreateCriticalSection. */
ZV_API void ZVDeleteCriticalSection(CRITICAL_SECTION* section);
/** Enters a critical section, waiting while another thread holds it; the
 *  holder may enter again.  @param section the section. */
ZV_API void ZVEnterCriticalSection(CRITICAL_SECTION* section);
/** Leaves a critical section once; a thread leaves as often as it entered.
 *  @param section a section the calling thread holds. */
ZV_API void ZVLeaveCriticalSection(CRITICAL_SECTION* section);

/**
 * Creates an event, or opens the existing event of that name (the flags are
 * then ignored).
 * @param manualReset   non-zero: stays set until ::ZVResetEvent and releases
 *                      every waiter; 0: releases one waiter and resets itself.
 * @param initiallySet  non-zero: created set.
 * @param name          a name, or null for an unnamed event.  At most 260
 *                      characters (255 on the 9x family).  Names are
 *                      case-sensitive and seen by every process of the
 *                      machine (on Linux: of the user, with the same
 *                      registry).
 * @return the event handle, or ::ZV_INVALID_HANDLE on failure (also for a
 *         name too long).  Release it with ::ZVCloseEvent.
 */
ZV_API ZVHANDLE ZVCreateEvent(uint16_t manualReset, uint16_t initiallySet, const ZVWCHAR* name);
/**
 * Opens an existing named event.
 * @param name  the name (not null); limits as in ::ZVCreateEvent.
 * @return a new handle to the event, or ::ZV_INVALID_HANDLE when no event
 *         has the name.  Release it with ::ZVCloseEvent.
 */
ZV_API ZVHANDLE ZVOpenEvent(const ZVWCHAR* name);
/** Closes an event handle; the event goes when its last handle does.
 *  @param event the handle.  @return 1 on success, 0 on failure. */
ZV_API int32_t ZVCloseEvent(ZVHANDLE event);
/** Sets an event.  @param event the handle.  @return 1 on success, 0 on
 *  failure. */
ZV_API int32_t ZVSetEvent(ZVHANDLE event);
/** Resets an event.  @param event the handle.  @return 1 on success, 0 on
 *  failure. */
ZV_API int32_t ZVResetEvent(ZVHANDLE event);
/** Releases the threads waiting at this moment (all of them for a
 *  manual-reset event, one for an automatic one) and leaves the event reset.
 *  @param event the handle.  @return 1 on success, 0 on failure. */
ZV_API int32_t ZVPulseEvent(ZVHANDLE event);
/**
 * Waits, without a time limit, until the event is set (or the thread of a
 * thread handle ends).
 * @param event  an event or thread handle.
 * @return `WAIT_OBJECT_0` (0) when set; `WAIT_FAILED` (0xFFFFFFFF) for a
 *         handle that cannot be waited on.
 */
ZV_API uint32_t ZVWaitForEvent(ZVHANDLE event);

/** Adds 1 atomically.  @param counter a 4-byte-aligned counter.
 *  @return the new value. */
ZV_API int32_t ZVInterlockedIncrement(int32_t* counter);
/** Subtracts 1 atomically.  @param counter a 4-byte-aligned counter.
 *  @return the new value. */
ZV_API int32_t ZVInterlockedDecrement(int32_t* counter);
/** Stores a value atomically.  @param counter a 4-byte-aligned counter.
 *  @param value the new value.  @return the previous value. */
ZV_API int32_t ZVInterlockedExchange(int32_t* counter, int32_t value);

/** @} */

/**
 * @defgroup mutex Recursive mutex
 * @brief A recursive mutex for the threads of one process.
 *
 * An acquisition or release without contention makes no system call.  A
 * contended acquisition retries a few times on a multi-processor machine,
 * then blocks; a release hands the mutex to one waiting thread.  The owner
 * may acquire again and must release as often as it acquired.
 * @{
 */

/**
 * Creates a mutex.
 * @param initiallyOwned  non-zero: the calling thread owns it once.
 * @return the mutex handle, or ::ZV_INVALID_HANDLE when no memory or
 *         semaphore could be had.  Release it with ::ZVCloseMutex.
 */
ZV_API ZVHANDLE ZVCreateMutex(uint16_t initiallyOwned);
/** These mutexes have no names and cannot be opened.  @param unused not
 *  read.  @return always ::ZV_INVALID_HANDLE. */
ZV_API ZVHANDLE ZVOpenMutex(const ZVWCHAR* unused);
/**
 * Frees a mutex.  No thread may own it or wait for it, and the handle is
 * dead afterwards.
 * @param mutex  a handle of ::ZVCreateMutex (::ZV_INVALID_HANDLE and null
 *               are accepted and ignored).
 * @return 1.
 */
ZV_API uint16_t ZVCloseMutex(ZVHANDLE mutex);
/**
 * Acquires a mutex, waiting as long as it takes.
 * @param mutex    the handle.
 * @param timeout  not used: the wait has no limit.
 * @return 1.
 */
ZV_API uint16_t ZVAcquireMutex(ZVHANDLE mutex, uint32_t timeout);
/**
 * Acquires a mutex without waiting.
 * @param mutex  the handle.
 * @return 1 when acquired (or acquired again by its owner); 0 when another
 *         thread holds it or it is being handed to a waiting thread.
 */
ZV_API uint16_t ZVTryAcquireMutex(ZVHANDLE mutex);
/**
 * Releases one level of a mutex the calling thread owns; the last level
 * frees it or hands it to a waiting thread.
 * @param mutex  the handle.
 * @return 1 when released; 0, changing nothing, when the caller is not the
 *         owner (a free mutex included).
 */
ZV_API uint16_t ZVReleaseMutex(ZVHANDLE mutex);

/** @} */

/**
 * @defgroup files Files, directories, time and dynamic libraries
 * @brief Directories, full paths, the clock, and loading libraries.
 *
 * Paths are native paths; on Linux wide names reach the file system as
 * UTF-8.  On the 9x family a path is narrowed into a 512-byte buffer, so it
 * may have at most 511 characters (a library name 259); a longer name fails
 * with `ERROR_FILENAME_EXCED_RANGE` rather than being cut.  Thread-safe.
 * @{
 */

/**
 * Creates one directory; its parent must exist.
 * @param path  the directory's path.
 * @return non-zero on success; 0 on failure (it exists, the parent is
 *         missing, ...), with the system's last error set.
 */
ZV_API int32_t ZVCreateDirectory(const ZVWCHAR* path);
/**
 * Removes an empty directory.
 * @param path  the directory's path.
 * @return non-zero on success; 0 on failure (not empty, missing, ...).
 */
ZV_API int32_t ZVRemoveDirectory(const ZVWCHAR* path);
/**
 * Makes a path absolute: joins it to the current directory and resolves "."
 * and ".." by the text alone (nothing needs to exist).
 * @param dest          the result's buffer, or null to get a new block of
 *                      the library's heap, sized to fit, that the caller
 *                      releases with ::ZVFree.
 * @param relativePath  the path; null or empty gives the current directory.
 * @param capacity      the size of @p dest in wide characters, terminator
 *                      included (not used when @p dest is null).  On the 9x
 *                      family the result must also fit 511 characters.
 * @return @p dest (or the new block), or null when the result does not fit or
 *         the path cannot be made absolute.
 */
ZV_API ZVWCHAR* ZVGetFullPath(ZVWCHAR* dest, const ZVWCHAR* relativePath, uint32_t capacity);
/** @return the milliseconds since the system started; wraps to 0 after about
 *  49.7 days. */
ZV_API uint32_t ZVGetTickCount(void);
/** Reads the local date and time.  @param time the caller's record; all
 *  eight fields are filled. */
ZV_API void ZVGetLocalTime(SYSTEMTIME* time);
/**
 * Loads a dynamic library (on Linux, `dlopen` with every symbol resolved).
 * Loading a library that is loaded already returns the same handle and
 * counts the load.
 * @param fileName  the library's path.
 * @return the library handle, or null on failure.  Release it with
 *         ::ZVCloseLibrary, once per load.
 */
ZV_API ZVHANDLE ZVOpenLibrary(const ZVWCHAR* fileName);
/**
 * Finds an exported symbol of a library (its own exports only).
 * @param library  a handle of ::ZVOpenLibrary.
 * @param name     the symbol's name, wide; narrowed on both families, so at
 *                 most 511 characters.
 * @return the symbol's address, or null when it is not exported or the
 *         handle is not a library.
 */
ZV_API void* ZVGetSymbol(ZVHANDLE library, const ZVWCHAR* name);
/**
 * Gives back one load of a library; the last one unloads it.
 * @param library  a handle of ::ZVOpenLibrary.
 * @return `S_OK` on success; `E_FAIL` for a handle that is not a library.
 */
ZV_API HRESULT ZVCloseLibrary(ZVHANDLE library);

/** @} */

/**
 * @defgroup containers Object containers
 * @brief Thread-safe doubly linked lists of objects, with per-object locks.
 *
 * A container comes in two kinds:
 *
 * - *dynamic* (::ZVCreateContainer): in the caller's storage; each object
 *   carries a data pointer of the caller's, which stays the caller's.
 * - *pooled* (::ZVCreateContainerEx): the library allocates fixed-size slots
 *   in blocks; each object's data is its slot's own data area (the data
 *   pointer given to ::ZVContainerNewObj is ignored), whose bytes are never
 *   cleared and are not aligned.
 *
 * An object is made with ::ZVContainerNewObj, put in the list by an insertion,
 * taken out by a removal (which returns its data pointer; a pooled slot goes
 * back to the free list, a dynamic record is freed).
 *
 * *Locks.* Every function takes the container's list lock for its own work,
 * so single calls are safe from any thread.  The container lock
 * (::ZVContainerLock) makes a sequence of calls one unit: the `CCL` functions
 * are called while holding it and take the token it gave; the `LC` functions
 * take it themselves for one call.  Both locks are re-entrant.
 *
 * *Cursor.* ::ZVContainerFindObjEx and ::ZVContainerFindObjAndLockEx leave the
 * object they found (null for none) in the container's one cursor, which
 * ::ZV_CONTAINER_NEXT and ::ZV_CONTAINER_PREV move from.  The cursor is
 * shared by all threads: walk the list while holding the container lock.
 *
 * *Object locks.* Each object has a lock of its own, shared
 * (::ZV_OBJLOCK_SHARED) or exclusive (::ZV_OBJLOCK_EXCLUSIVE), with a count of
 * holds.  Holds are not tied to threads.  ::ZVContainerFindObjAndLockEx and
 * the lock-and-insert functions wait for a conflicting lock; the wait releases
 * the list lock but **not** a container lock the waiter holds, so the holder
 * must give its hold back with ::ZVContainerUnlockObj (which never takes the
 * container lock), not from inside a ::ZVContainerLock sequence or an `LC`
 * call.
 *
 * Handles that are null or ::ZV_INVALID_HANDLE are refused with the
 * function's failure value.  A container must not be used by any other
 * thread once ::ZVDestroyContainer has begun.
 * @{
 */

/**
 * Makes a dynamic container in the caller's storage.
 * @param storage  `sizeof(ZVContainer)` bytes, pointer-aligned, that the
 *                 caller owns; they must stay valid until destruction.
 * @param match    the container's match function (used by removal and by
 *                 ::ZVContainerFindObjAndLockEx with ::ZV_CONTAINER_MATCH),
 *                 or null.
 * @param order    the ordering function for ::ZV_CONTAINER_SORTED, or null.
 * @param release  called at destruction with each remaining data pointer and
 *                 then with @p storage, or null.
 * @return the container handle, equal to @p storage; ::ZV_INVALID_HANDLE
 *         when @p storage is null.
 */
ZV_API ZVContainer* ZVCreateContainer(void* storage, ZVMatchFn match, ZVOrderFn order,
                                      ZVReleaseFn release);
/**
 * Makes a pooled container, its first block of slots allocated with it.
 * @param match         the container's match function, or null.
 * @param order         the ordering function, or null.
 * @param objectSize    bytes of data per object.
 * @param initialCount  slots per block (at most @p maxCount); not 0.
 * @param maxCount      the count of listed objects at which making a new one
 *                      fails once the free list is empty; not 0.  (The list
 *                      can outgrow it by part of a block when @p initialCount
 *                      does not divide it.)
 * @return the container handle; ::ZV_INVALID_HANDLE when a count is 0 or
 *         the memory cannot be had.  Free it with ::ZVDestroyContainer.
 */
ZV_API ZVContainer* ZVCreateContainerEx(ZVMatchFn match, ZVOrderFn order, uint32_t objectSize,
                                        uint32_t initialCount, uint32_t maxCount);
/**
 * Destroys a container.  Dynamic: calls the release function with every
 * listed object's data pointer, in list order, frees the object records, then
 * calls the release function with the storage.  Pooled: frees every block.
 *
 * Objects made but not inserted are not seen (their records, and a pooled
 * block whose first slot is one, are not freed).  No other thread may use or
 * wait in the container from the moment this begins.
 * @param container  the handle; dead afterwards.
 * @return 1; 0 for a null handle.
 */
ZV_API uint16_t ZVDestroyContainer(ZVContainer* container);
/**
 * Takes the container lock, waiting while another thread holds it, so that a
 * sequence of `CCL` calls, searches and cursor moves runs as one unit.
 * @param container  the handle.
 * @param token      receives the lock token (0) to pass to the `CCL`
 *                   functions and ::ZVContainerUnlock.
 * @return 1; 0, doing nothing, for a null handle.
 */
ZV_API uint16_t ZVContainerLock(ZVContainer* container, uint32_t* token);
/**
 * Gives back the container lock once.
 * @param container  the handle.
 * @param token      the token of ::ZVContainerLock (not read).
 * @return 1; 0 for a null handle.
 */
ZV_API uint16_t ZVContainerUnlock(ZVContainer* container, uint32_t token);
/** @param container the handle.  @return the number of objects in the list;
 *  0 for a null handle. */
ZV_API uint32_t ZVContainerObjCount(ZVContainer* container);
/**
 * Makes a new object, not yet in the list; its object lock is free.
 * @param container  the handle.
 * @param data       dynamic: the object's data pointer, not null (it stays
 *                   the caller's).  Pooled: **ignored**; the object's data is
 *                   its slot's data area (read it with
 *                   ::ZVContainerGetObjPtr; it keeps the bytes of the slot's
 *                   previous object).
 * @return the object handle; ::ZV_INVALID_HANDLE for a null data pointer
 *         (dynamic), a full pooled container, or no memory.  Insert it with
 *         an insertion function of the same container.
 */
ZV_API ZVContainerObj* ZVContainerNewObj(ZVContainer* container, void* data);
/**
 * As ::ZVContainerNewObj, also giving the new object's data pointer.
 * @param container  the handle.
 * @param data       as for ::ZVContainerNewObj.
 * @param dataOut    receives the object's data pointer (for a pooled
 *                   container, its slot's data area), or null on failure;
 *                   may be null.
 * @return as ::ZVContainerNewObj.
 */
ZV_API ZVContainerObj* ZVContainerNewObjEx(ZVContainer* container, void* data, void** dataOut);

/**
 * Inserts an object, for a caller holding the container lock.
 * @param container  the handle.
 * @param token      the token of ::ZVContainerLock (not read).
 * @param obj        an object of ::ZVContainerNewObj of this container, not
 *                   in the list (not checked).
 * @param position   ::ZV_CONTAINER_FIRST, ::ZV_CONTAINER_LAST or
 *                   ::ZV_CONTAINER_SORTED (after the objects that compare
 *                   equal); into an empty list any code.
 * @return @p obj; ::ZV_INVALID_HANDLE for another code on a non-empty list,
 *         ::ZV_CONTAINER_SORTED without an ordering function, or a null
 *         handle (the list unchanged).
 */
ZV_API ZVContainerObj* ZVContainerInsertObjCCL(ZVContainer* container, uint32_t token,
                                               ZVContainerObj* obj, uint32_t position);
/** As ::ZVContainerInsertObjCCL, taking the container lock for the call.
 *  @param container the handle.  @param obj the new object.
 *  @param position where to insert.  @return @p obj, or ::ZV_INVALID_HANDLE. */
ZV_API ZVContainerObj* ZVContainerInsertObjLC(ZVContainer* container, ZVContainerObj* obj,
                                              uint32_t position);
/**
 * Takes an object lock on a new object, waiting while it conflicts, then
 * inserts it as ::ZVContainerInsertObjCCL.  If the insertion fails, the hold
 * is given back.
 * @param container  the handle.
 * @param token      the token of ::ZVContainerLock (not read).
 * @param obj        the new object.
 * @param position   where to insert.
 * @param lockMode   ::ZV_OBJLOCK_SHARED or ::ZV_OBJLOCK_EXCLUSIVE;
 *                   ::ZV_OBJLOCK_NONE inserts without locking.
 * @return @p obj, holding the lock; ::ZV_INVALID_HANDLE when the insertion
 *         failed.
 */
ZV_API ZVContainerObj* ZVContainerLockAndInsertObjCCL(ZVContainer* container, uint32_t token,
                                                      ZVContainerObj* obj, uint32_t position,
                                                      uint32_t lockMode);
/** As ::ZVContainerLockAndInsertObjCCL, holding the container lock for the
 *  whole call, waits included.  @param container the handle.  @param obj the
 *  new object.  @param position where to insert.  @param lockMode the lock
 *  mode.  @return @p obj, or ::ZV_INVALID_HANDLE. */
ZV_API ZVContainerObj* ZVContainerLockAndInsertObjLC(ZVContainer* container, ZVContainerObj* obj,
                                                     uint32_t position, uint32_t lockMode);
/**
 * Removes an object, for a caller holding the container lock.  A removed
 * object that was locked wakes the threads waiting for a lock.
 * @param container  the handle.
 * @param token      the token of ::ZVContainerLock (not read).
 * @param position   ::ZV_CONTAINER_MATCH (the container's match function with
 *                   @p keyOrObj as key), ::ZV_CONTAINER_OBJECT (@p keyOrObj is
 *                   an object handle of this list), ::ZV_CONTAINER_FIRST or
 *                   ::ZV_CONTAINER_LAST.
 * @param keyOrObj   the key or the object handle, as @p position says.
 * @return the removed object's data pointer (dynamic: the caller's pointer,
 *         now the caller's alone; pooled: the slot's data area, valid until
 *         the next ::ZVContainerNewObj).  Null when nothing was removed: another
 *         code (::ZV_CONTAINER_DATA included), no match function, no match, an
 *         empty list or a null handle.  The object handle is dead afterwards.
 */
ZV_API void* ZVContainerRemoveObjCCL(ZVContainer* container, uint32_t token, uint32_t position,
                                     void* keyOrObj);
/** As ::ZVContainerRemoveObjCCL, taking the container lock for the call.
 *  @param container the handle.  @param position what to remove.
 *  @param keyOrObj the key or object handle.  @return the removed object's
 *  data pointer, or null. */
ZV_API void* ZVContainerRemoveObjLC(ZVContainer* container, uint32_t position, void* keyOrObj);

/**
 * Tells whether an object in the list has a data pointer.
 * @param container  the handle.
 * @param data       the data pointer.
 * @return 1 when one has; 0 otherwise or for a null handle.
 */
ZV_API uint16_t ZVContainerContainsData(ZVContainer* container, void* data);
/**
 * Tells whether an object is in the list.
 * @param container  the handle.
 * @param obj        the object handle.
 * @return 1 when it is; 0 otherwise or for a null handle.
 */
ZV_API uint16_t ZVContainerContainsObj(ZVContainer* container, ZVContainerObj* obj);
/**
 * Finds an object and sets the cursor to it (to null when none is found).
 * Takes no object lock and accepts no cursor move: to walk the list use
 * ::ZVContainerFindObjAndLockEx with ::ZV_OBJLOCK_NONE.
 * @param container  the handle.
 * @param position   ::ZV_CONTAINER_MATCH (the first object whose data
 *                   @p search accepts), ::ZV_CONTAINER_OBJECT (the first
 *                   object whose *handle* @p search accepts) or
 *                   ::ZV_CONTAINER_DATA (the first object whose data pointer
 *                   is @p key).  Any other code finds nothing.
 * @param search     the search function; the container's own match function
 *                   is not used.  Without one, MATCH and OBJECT find nothing.
 * @param key        passed to @p search, or the data pointer sought.
 * @return the object handle, or ::ZV_INVALID_HANDLE when none is found.
 */
ZV_API ZVContainerObj* ZVContainerFindObjEx(ZVContainer* container, uint32_t position,
                                            ZVMatchFn search, void* key);
/**
 * Finds an object, takes its object lock (waiting while it conflicts, then
 * choosing anew) and sets the cursor to it.
 *
 * Walk forwards with ::ZV_CONTAINER_FIRST then ::ZV_CONTAINER_NEXT until
 * ::ZV_INVALID_HANDLE; backwards with ::ZV_CONTAINER_LAST and
 * ::ZV_CONTAINER_PREV.  After the end the cursor is null, so a further NEXT
 * starts at the head again.
 * @param container  the handle.
 * @param position   any code but ::ZV_CONTAINER_SORTED: MATCH (with
 *                   @p search, or else the container's match function),
 *                   OBJECT (@p keyOrObj itself, when in the list), DATA,
 *                   FIRST, NEXT, PREV, NEXT_OF and PREV_OF (of the object
 *                   @p keyOrObj), LAST.
 * @param keyOrObj   the key, the data pointer or the object handle.
 * @param lockMode   ::ZV_OBJLOCK_NONE (find only), ::ZV_OBJLOCK_SHARED or
 *                   ::ZV_OBJLOCK_EXCLUSIVE.
 * @param search     the search function for MATCH, or null.
 * @return the object handle, holding the lock (give it back with
 *         ::ZVContainerUnlockObj); ::ZV_INVALID_HANDLE when none is found or
 *         a wait failed (the cursor then unchanged).
 */
ZV_API ZVContainerObj* ZVContainerFindObjAndLockEx(ZVContainer* container, uint32_t position,
                                                   void* keyOrObj, uint32_t lockMode,
                                                   ZVMatchFn search);
/**
 * Reads an object's data pointer, without a lock or a test.
 * @param container  not used.
 * @param obj        the object handle.
 * @return the data pointer (pooled: the slot's data area); null for a null
 *         handle or a removed object.
 */
ZV_API void* ZVContainerGetObjPtr(ZVContainer* container, ZVContainerObj* obj);
/**
 * Takes an object's lock exclusively if it is free; never waits.
 * @param container  the handle.
 * @param obj        the object handle (need not be in the list).
 * @return the object's data pointer when the lock was taken; null when the
 *         object is locked in any mode, or for a null handle.
 */
ZV_API void* ZVContainerLockObj(ZVContainer* container, ZVContainerObj* obj);
/**
 * Gives back one hold of an object's lock; the last hold frees it and wakes
 * the threads waiting for a lock.  Any thread may give back any hold.
 * @param container  the handle.
 * @param obj        the object handle; an object not in the list is left as
 *                   it is.
 * @return 1, in every case.
 */
ZV_API uint16_t ZVContainerUnlockObj(ZVContainer* container, ZVContainerObj* obj);

/** @} */

/**
 * @defgroup uri URI parser
 * @brief Splitting an address text into its parts.
 * @{
 */

/**
 * Splits an address text in place, writing terminators into it, and points
 * the fields of @p parsed into it.  Allocates nothing; thread-safe on
 * different texts.
 *
 * Accepted forms: a bare path (`dbname`); a scheme and a path
 * (`proto:dbname`); or `[scheme:]//host[:port][,name[=value]]... /path`, the
 * path being one component.  Attributes `transport` (or `t`) and `link` (or
 * `l`) go to their own fields; up to four others go to `attributes`.  A text
 * containing ",," is refused.
 *
 * Example: `proto://server:99,t=a1,mode=r/dbname` gives scheme `proto`, host
 * `server`, port `99`, transport `a1`, attributes `mode`, `r`, path `dbname`.
 * @param text    the address, writable; cut in place, so keep it as long as
 *                @p parsed is used.
 * @param parsed  the record to fill; cleared first.
 * @return **0 when parsed, 1 when refused** (the reverse of the library's
 *         truth values) or when an argument is null.  After a refusal the
 *         record and the text carry no meaning.
 */
ZV_API int32_t ParseURI(ZVWCHAR* text, ParsedURI* parsed);

/** @} */

/**
 * @defgroup registry Registry entries
 * @brief String values in the registry.
 *
 * Values are written as `REG_SZ` under a root key (`HKEY_LOCAL_MACHINE`,
 * `HKEY_CLASSES_ROOT`, which is a view of `HKEY_LOCAL_MACHINE\Software\Classes`,
 * `HKEY_CURRENT_USER` or `HKEY_USERS`) and a key path whose components are
 * separated by "\".  Names are case-insensitive.  A null or empty value name
 * names the key's default value.
 *
 * On Linux the registry is an SQLite database shared by the processes of the
 * user, at `$ZV_REGISTRY` (`:memory:` gives a private one), by default
 * `~/.local/share/zv/registry.db`.  Every failure gives `E_FAIL`; the system
 * error is not kept.  On the 9x family the key path, value name and value
 * are each limited to 255 characters (longer ones fail before anything is
 * written).  The functions keep no state and may be called from any thread.
 * @{
 */

/**
 * Writes a string value, creating the key and its missing parents.
 * @param root       the root key.
 * @param keyPath    the key's path below @p root (not null).
 * @param valueName  the value's name; null or empty for the default value.
 * @param value      the text (not null); stored with its terminator.
 * @return `S_OK`; `E_FAIL` when the key cannot be created or the value
 *         written (a key created on the way stays).
 */
ZV_API HRESULT ZVAddRegistryEntry(HKEY root, const ZVWCHAR* keyPath, const ZVWCHAR* valueName,
                                  const ZVWCHAR* value);
/**
 * Reads a value into the caller's buffer.  The read is limited: on the NT
 * family a value of up to **126 characters**, on the 9x family up to 254; a
 * longer value fails.
 * @param root       the root key.
 * @param keyPath    the key's path (not null).
 * @param valueName  the value's name; null or empty for the default value.
 * @param buffer     room for 256 wide characters, which holds the longest
 *                   result on either family.
 * @return `S_OK`; `E_FAIL` when the key or value is missing, the value is too
 *         long, or the key cannot be read (the buffer's contents are then
 *         undefined).  The value's type is not checked.
 */
ZV_API HRESULT ZVGetRegistryEntry(HKEY root, const ZVWCHAR* keyPath, const ZVWCHAR* valueName,
                                  ZVWCHAR* buffer);
/**
 * Deletes a key with all its subkeys and values.  Not undone on failure:
 * what could be deleted stays deleted.
 * @warning An empty @p keyPath names the root key itself: on the NT family
 *          everything below the root is deleted, and the call then fails
 *          because a root cannot be deleted.  Never pass an empty path.
 * @param root     the root key.
 * @param keyPath  the key's path (not null, not empty).
 * @return `S_OK`; `E_FAIL` when the key does not exist or could not be
 *         deleted whole.
 */
ZV_API HRESULT ZVDeleteRegistryEntry(HKEY root, const ZVWCHAR* keyPath);

/** @} */

/**
 * @defgroup components Component objects
 * @brief Registering in-process servers and creating their objects.
 *
 * An in-process server is a dynamic library exporting
 * `HRESULT DllGetClassObject(const CLSID&, const IID&, void**)` that hands out
 * an `IClassFactory`.  ::ZVRegisterComponent records it under
 * `HKEY_CLASSES_ROOT`; ::ZVClsidFromProgId finds a class by its programmatic
 * identifier; ::ZVCreateObject loads the server and creates an object.
 * Loaded servers and their factories are cached for the whole process until
 * the last ::ZVUninitializeZCom.  The functions may be called from any thread.
 * @{
 */

/**
 * Initialises component objects on the calling thread and raises the
 * process-wide count.  Match each call with ::ZVUninitializeZCom on the same
 * thread.
 * @return `S_OK`; `S_FALSE` when the thread was initialised already (still
 *         to be matched); or a failure status such as `RPC_E_CHANGED_MODE`
 *         (the count is raised all the same, and must be matched too).
 */
ZV_API HRESULT ZVInitializeZCom(void);
/**
 * Undoes one ::ZVInitializeZCom on the calling thread.  The call that brings
 * the process-wide count to 0 releases every cached class factory and closes
 * every server library, so no other thread may then still be inside
 * ::ZVCreateObject or use an object of a server.
 * @return `S_OK`, always.
 */
ZV_API HRESULT ZVUninitializeZCom(void);
/**
 * Allocates from the component task allocator.  Use only between
 * ::ZVInitializeZCom and its matching ::ZVUninitializeZCom.
 * @param size  bytes wanted.
 * @return the block, or null (also when no ::ZVInitializeZCom is in force).
 *         Release it with ::ZVComFree.
 */
ZV_API void* ZVComMalloc(uint32_t size);
/** Releases a block of ::ZVComMalloc.  @param block the block (null, or a
 *  block the allocator does not know, is ignored). */
ZV_API void ZVComFree(void* block);
/**
 * Records an in-process server under `HKEY_CLASSES_ROOT`: the programmatic
 * identifier's key with the description and "\CLSID" = class, and the
 * class's key "CLSID\{...}" with the identifier, "InprocServer32" = server
 * path and "ThreadingModel" = "Both".  Registering again overwrites.
 * @param serverPath   the server library's path; for ::ZVCreateObject to
 *                     read it back it may have at most 126 characters on the
 *                     NT family.
 * @param progId       the programmatic identifier (1 to 505 characters).
 * @param description  the description.
 * @param clsidText    the class identifier in braced form,
 *                     "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (not checked;
 *                     1 to 490 characters).
 * @return `S_OK`; `E_FAIL` for a missing or too long argument (nothing
 *         written) or a failed write (the values written before it stay).
 */
ZV_API HRESULT ZVRegisterComponent(const ZVWCHAR* serverPath, const ZVWCHAR* progId,
                                   const ZVWCHAR* description, const ZVWCHAR* clsidText);
/**
 * Deletes a registration: the programmatic identifier's key and the class's
 * key, each with everything below it.  Note the argument order, unlike
 * ::ZVRegisterComponent.  Neither name is checked against the other: a wrong
 * class text deletes that class, not the one the identifier names.
 * @param progId     the programmatic identifier (empty or null: skipped).
 * @param clsidText  the class identifier text (empty, null or longer than 255
 *                   characters: skipped).
 * @return `S_OK`, always, also when nothing was there.
 */
ZV_API HRESULT ZVUnregisterComponent(const ZVWCHAR* progId, const ZVWCHAR* clsidText);
/**
 * Finds the class a programmatic identifier names.
 * @param progId  the programmatic identifier (at most 503 characters).
 * @param clsid   receives the class identifier.  Upper- and lower-case
 *                digits are accepted; fields of a malformed text that could
 *                not be read keep their previous contents.
 * @return `S_OK` when the identifier's "\CLSID" value was read; `E_FAIL`
 *         when it is not registered (@p clsid untouched).
 */
ZV_API HRESULT ZVClsidFromProgId(const ZVWCHAR* progId, CLSID* clsid);
/**
 * Creates an object of a registered class: loads the server library named
 * under "CLSID\{...}\InprocServer32" (once per process, then cached), gets
 * its class factory and lets it create the object.  Does not check that
 * ::ZVInitializeZCom was called.
 * @param unused  not read.
 * @param clsid   the class.
 * @param outer   the controlling object for aggregation, or null; passed to
 *                the factory.
 * @param iid     the interface wanted.
 * @param out     receives the interface pointer, which the caller releases
 *                with its `Release`.
 * @return the factory's status (`S_OK` on success); `REGDB_E_CLASSNOTREG`
 *         when the class is not registered, its server path cannot be read
 *         or loaded, or the server exports no `DllGetClassObject`;
 *         `DllGetClassObject`'s own failure status (`E_FAIL` when it hands
 *         out no factory); `E_OUTOFMEMORY`.
 */
ZV_API HRESULT ZVCreateObject(uint32_t unused, const CLSID* clsid, IUnknown* outer,
                              const IID* iid, void** out);

/** @} */

/**
 * @defgroup config Registry export and import
 * @brief Registry trees to sectioned text files and back.
 *
 * The file format: a line `[name]` opens a section, `key=value` lines follow
 * (spaces around key and value are dropped), an empty line (or a line
 * starting with white space) closes it.  Outside a section every line not
 * starting with "[" is ignored, so `;`, `#` or `:` comments go between
 * sections.  A section names a registry key as `ZV_HKEY_CONFIG\path`
 * (`HKEY_LOCAL_MACHINE`) or `ZV_HKEY_CLASSES\path` (`HKEY_CLASSES_ROOT`); the
 * key `default` is the key's default value.  Lines hold at most 510
 * characters.  Text is narrowed by ::ZVToAnsi (8 bits per character): text
 * beyond ISO-8859-1 does not come back as it was.  Both functions run on the
 * caller's thread and take no lock.
 *
 * Example:
 * @code{.unparsed}
 * [ZV_HKEY_CONFIG\Software\Demo]
 * Path=/opt/demo
 * default=on
 * @endcode
 * @{
 */

/**
 * Writes the string values of a key and of every key below it to a new
 * file, one section per key that has string values.  Other value types, and
 * keys without string values, are left out; a value of more than 255
 * characters ends the export of its key's values.
 * @param root      `HKEY_LOCAL_MACHINE` or `HKEY_CLASSES_ROOT`.
 * @param keyPath   the key's path below @p root.
 * @param fileName  the file to create (at most 510 characters); it must not
 *                  exist.
 * @return `S_OK` (the file written; empty when nothing was exported);
 *         `E_FAIL` when the file exists (left untouched), the key cannot be
 *         opened, or the name is too long; `E_INVALIDARG` for a null argument
 *         or, when the key exists, a root key other than the two.  No file is
 *         created on failure.
 */
ZV_API HRESULT ZVExportRegistryEntry(HKEY root, const ZVWCHAR* keyPath, const ZVWCHAR* fileName);
/**
 * Writes every key line of a file into the registry as a string value,
 * creating keys as needed.
 *
 * Sections are taken in case-insensitive order of their names.  A section
 * with keys whose name starts with neither root text stops the import with
 * `E_FAIL` (what was written before stays).  A format error (a key line
 * without "=", a header without "]", or a header directly after a key line
 * with no empty line between) ends the reading there, silently: the sections
 * before the one holding the error are imported and the result is `S_OK`.
 * Key lines with a section name, key or value of more than 255 characters
 * are skipped.  A value that cannot be written is skipped.
 *
 * The undo file's name is @p fileName with its first character replaced by
 * "~": `demo.cfg` gives `~emo.cfg` beside it, but `/tmp/demo.cfg` gives
 * `~tmp/demo.cfg`, relative to the current directory, which usually does not
 * exist, and then no undo file is written.  To keep one, import a plain file
 * name from the current directory.  A file of the undo name is deleted on
 * every call, whatever @p undo says.
 * @param fileName  the file (1 to 509 characters); it must exist.
 * @param undo      non-zero: record the values about to be overwritten in
 *                  the undo file; importing that file later (with @p undo 0,
 *                  since its name starts with "~") puts them back.  Values
 *                  that did not exist before are not removed by it.  0: no
 *                  undo file.
 * @return `S_OK` when every section was processed; `E_FAIL` when the file
 *         cannot be read, a section has no root text, or the name is empty
 *         or too long, or starts with "~" while @p undo is set.
 */
ZV_API HRESULT ZVImportRegistryEntry(const ZVWCHAR* fileName, uint16_t undo);

/** @} */

#ifdef __cplusplus
}
#endif

#endif /* ZV_H */
