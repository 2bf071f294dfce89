// registry_store.h - the emulated machine's registry store: keys and values
// in an SQLite database shared by every process that names the same file.
//
// The Win32 registry calls (registry.cpp) sit on top of this.  Every
// function takes the store's lock, opens the database on first use, and
// answers with a Win32 error code; the store never throws and never leaves
// a write half done.
#ifndef ZV_POSIX_REGISTRY_STORE_H
#define ZV_POSIX_REGISTRY_STORE_H

#include <string>

#include "platform/win32.h"

namespace zvp {
namespace reg {

// A key's identity in the store.  Ids are never reused, so a handle that
// names a deleted key can never come to name another one.
typedef int64_t KeyId;

// A name as the store receives it: UTF-16 units, not terminated.
struct NameRef {
    const char16_t* text;
    size_t length;
};

// The predefined keys that the store keeps as roots or views of roots.
enum class Root { LocalMachine, Users, ClassesRoot, CurrentUser };

// One value as the store hands it out; the pointers are valid only during
// the visitor's call.
struct ValueView {
    const char16_t* name;
    size_t nameLength;
    DWORD type;
    const BYTE* data;
    size_t size;
};
typedef DWORD (*ValueVisitor)(void* context, const ValueView& value);

// The case rule of key and value names: the upper-case form of one unit,
// and a name's comparison form (upper case, big-endian bytes).
char16_t UpcaseUnit(char16_t unit);
void FoldName(const char16_t* name, size_t length, std::string* out);

// The key behind a predefined key, and whether the store may only be read.
DWORD RootKey(Root root, KeyId* id, bool* readOnly);

// The key at base\parts[0]\...\parts[count-1] (base itself when count is
// 0): ERROR_FILE_NOT_FOUND when a part is missing, ERROR_KEY_DELETED when
// base is gone, ERROR_ACCESS_DENIED when wantWrite and the store is
// read-only.
DWORD OpenKey(KeyId base, const NameRef* parts, size_t count, bool wantWrite, KeyId* id);

// As OpenKey, creating the missing keys when mayCreate (else
// ERROR_ACCESS_DENIED).  *created tells whether the last key is new.  Keys
// made with isVolatile live until the machine restarts and never reach the
// store's file; a key that is not volatile cannot be made below one that
// is (ERROR_CHILD_MUST_BE_VOLATILE).
DWORD CreateKey(KeyId base, const NameRef* parts, size_t count, bool wantWrite, bool mayCreate,
                KeyId* id, bool* created, bool isVolatile = false);

// Sets a value: its type and exact bytes; a new name goes after the key's
// other values, an existing one keeps its place and its first spelling.
DWORD SetValue(KeyId key, NameRef name, DWORD type, const BYTE* data, size_t size);

// Hands a value to the visitor (ERROR_FILE_NOT_FOUND when there is none)
// and returns what the visitor returns.
DWORD QueryValue(KeyId key, NameRef name, ValueVisitor visitor, void* context);

// Where the last enumeration through one handle stopped, so that asking for
// the same or the next index costs one index step instead of a scan from
// the start.  It holds only while the database is unchanged (the data
// version and the connection it was read on); otherwise the index is
// counted from the start again.  Used under the store's lock only.
struct EnumCursor {
    uint64_t connection = 0;  // 0: nothing remembered
    uint64_t version = 0;  // both databases' data versions
    KeyId key = 0;
    DWORD index = 0;
    std::string fold;  // subkeys: the fold of the index-th name
    int64_t seq = 0;   // values: the seq of the index-th value
};

// The index-th subkey in case-insensitive name order, or the index-th value
// in creation order; ERROR_NO_MORE_ITEMS past the end.  cursor may be null.
DWORD EnumKey(KeyId key, DWORD index, EnumCursor* cursor, std::u16string* name);
DWORD EnumValue(KeyId key, DWORD index, EnumCursor* cursor, ValueVisitor visitor, void* context);

// How many levels a key may lie below HKEY_LOCAL_MACHINE or HKEY_USERS, as
// on Windows; creating a deeper one fails with ERROR_NO_SYSTEM_RESOURCES.
constexpr size_t kMaxKeyDepth = 512;

// Deletes base\parts...: with subtree, with everything below it; without,
// only a key that has no subkeys (else ERROR_ACCESS_DENIED).  The roots of
// the predefined keys cannot be deleted (ERROR_ACCESS_DENIED).
DWORD DeleteKey(KeyId base, const NameRef* parts, size_t count, bool subtree);

// For tests: how long a call waits for another process's lock, in
// milliseconds (10 seconds unless changed).
void SetBusyTimeoutForTesting(int milliseconds);

// For tests: whether a thread is inside a call of the store right now.
bool InsideACallForTesting();

// For tests: the file that the store uses, as it resolves it now.
std::string StorePathForTesting();

// For tests: closes the store, so that the next call opens whatever
// ZV_REGISTRY names by then.  Open key handles keep naming the old store's
// ids; close them first.
void ReopenForTesting();

// The SQL that makes the key and value tables in `database` ("main", or
// "vol" for the volatile keys).
std::string KeyTablesSql(const std::string& database);

}  // namespace reg
}  // namespace zvp

#endif  // ZV_POSIX_REGISTRY_STORE_H
