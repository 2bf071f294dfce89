// handles.h - the emulated machine's process-wide handle table and the
// helpers that every service file of the POSIX platform layer shares.
#ifndef ZV_POSIX_HANDLES_H
#define ZV_POSIX_HANDLES_H

#include <memory>
#include <string>

#include "platform/win32.h"

namespace zvp {

enum class ObjectKind : uint8_t { Event, Semaphore, Thread, Module, RegistryKey, FileFind };

// Every object that a handle can name.  The table holds shared ownership, so
// an object stays alive while a call that looked it up is still using it,
// even if another thread closes the handle meanwhile.
class KernelObject {
  public:
    explicit KernelObject(ObjectKind kind) : kind_(kind) {}
    virtual ~KernelObject() = default;
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;
    ObjectKind kind() const { return kind_; }

  private:
    ObjectKind kind_;
};

// Puts an object in the table and returns its new handle, or null (with
// ERROR_NOT_ENOUGH_MEMORY) when the table is full.  Handle values are
// multiples of 4, never null and never one of the pseudo-handles.
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);

// The object a handle names, or null (last error ERROR_INVALID_HANDLE) when
// the handle is not in the table or names an object of another kind.
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle, ObjectKind kind);

template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle, ObjectKind kind) {
    return std::static_pointer_cast<T>(LookupHandle(handle, kind));
}

// Takes a handle out of the table.  Returns the object it named (so the
// caller can finish closing it), or null with ERROR_INVALID_HANDLE.
std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle);

// As LookupHandle and RemoveHandle, for calls that accept objects of
// several kinds (waits, CloseHandle): the handle must name an object whose
// kind `accept` approves, else ERROR_INVALID_HANDLE and nothing changes.
std::shared_ptr<KernelObject> LookupHandleIf(HANDLE handle, bool (*accept)(ObjectKind));
std::shared_ptr<KernelObject> RemoveHandleIf(HANDLE handle, bool (*accept)(ObjectKind));

// Number of handles currently open; for tests that look for leaks.
size_t OpenHandleCount();

// The emulated platform family: true when ZV_EMULATE_FAMILY=9x was set at
// start-up.  On the 9x family the wide forms of the name-taking calls fail.
bool IsFamily9x();

// The common first line of a wide call that 9x lacks: sets
// ERROR_CALL_NOT_IMPLEMENTED and returns true when the call must fail.
bool WideCallUnavailable();

// Text conversions for names that reach the host system.  Wide names are
// UTF-16 (unpaired surrogates become U+FFFD); narrow names are the layer's
// "ANSI code page", ISO-8859-1.  Both give UTF-8.
std::string Utf16ToUtf8(const WCHAR* text);
std::string Latin1ToUtf8(const char* text);
// Back again, for names that the host system hands out.
std::u16string Utf8ToUtf16(const std::string& text);
// UTF-8 to the ANSI code page; characters above U+00FF become '?'.
std::string Utf8ToLatin1(const std::string& text);

// Maps an errno value from the host system to the nearest Win32 error.
DWORD Win32ErrorFromErrno(int error);

}  // namespace zvp

#endif  // ZV_POSIX_HANDLES_H
