// registry_volatile.h - where the registry store keeps its volatile keys.
//
// Volatile keys (REG_OPTION_VOLATILE) live in a second database, attached
// to the store's connection as "vol", that never lies on a disk: a file in
// the user's runtime directory (a memory file system, emptied when the
// machine boots), or a private in-memory database.  Its keys have ids from
// kVolatileBase up, so an id tells which database holds a key.
#ifndef ZV_POSIX_REGISTRY_VOLATILE_H
#define ZV_POSIX_REGISTRY_VOLATILE_H

#include <sqlite3.h>

#include <string>

#include "platform/posix/registry_store.h"

namespace zvp {
namespace reg {

constexpr KeyId kVolatileBase = KeyId(1) << 62;

inline bool IsVolatileKey(KeyId id) { return id >= kVolatileBase; }

// Attaches the volatile database of the store at `storePath` to `db` and
// sets it up.  Its keys are forgotten when the machine has restarted since
// they were made (another boot id) or the store is another file than the one
// they were made for.  The store in memory, or one that may only be read,
// gets a private database in memory.
int AttachVolatile(sqlite3* db, const std::string& storePath, bool memory, bool readOnly);

// The SQL of a statement on one key, addressed to the volatile database.
std::string VolatileSql(const char* sql);

// For tests: the file that holds the volatile keys of the store at `storePath`.
std::string VolatilePathForTesting(const std::string& storePath);

}  // namespace reg
}  // namespace zvp

#endif  // ZV_POSIX_REGISTRY_VOLATILE_H
