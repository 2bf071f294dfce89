// registry_view.h - the zv tool's reading of the registry through the Win32
// calls: the platform family, values of any length, the tree view.
#ifndef ZV_TOOLS_REGISTRY_VIEW_H
#define ZV_TOOLS_REGISTRY_VIEW_H

#include <string>
#include <vector>

#include "tools/support.h"

namespace zvtool {

// Whether the system takes the wide (W) registry calls: the NT family does,
// the 9x family only the narrow ones, as the library decides.
bool WideCalls();

LONG OpenKey(HKEY root, const WString& path, REGSAM access, HKEY* key);

struct Value {
    WString name;
    DWORD type = REG_NONE;
    DWORD size = 0;  // of the data, in bytes
    WString text;    // string types only
};

// One value (the default value when name is null), whatever its length.
LONG ReadValue(HKEY key, const WString* name, Value* value);
// Every value and subkey name of a key, in the registry's order; *ended
// (when given) receives the error that ended the enumeration,
// ERROR_NO_MORE_ITEMS when it went through.
std::vector<Value> Values(HKEY key, LONG* ended = nullptr);
std::vector<WString> Subkeys(HKEY key, LONG* ended = nullptr);

// "REG_SZ", "REG_DWORD", ..., or "type N".
std::string TypeName(DWORD type);

// Whether writes reach the registry: makes and removes a probe key below
// HKEY_LOCAL_MACHINE\Software.  ERROR_SUCCESS, ERROR_ACCESS_DENIED when the
// registry is read-only, or the error of the attempt.
LONG ProbeWrite();

// The registry-wide cause of a failed registry call, in words ("registry is
// read-only: PATH"), or "" when the error says nothing about the registry.
std::string RegistryCause(LONG error);

// Why `key` did not open with `error`, in words ("key not found: ...").
std::string OpenFailure(const KeyName& key, LONG error);
// Why `key` cannot be opened with `access`, with the error in *error; ""
// when it opens.
std::string KeyCause(const KeyName& key, REGSAM access, LONG* error);

bool IsText(DWORD type);

// The tool's walks go no deeper below the key they start from than the
// registry lets keys be made (Windows' limit): the stack stays bounded even
// for a file written before the registry kept to it.
constexpr int kDeepestWalk = 512;

// The subtree below a key, one line per key and value.
LONG DrawTree(const KeyName& key, const std::string& title, std::string* drawing);

}  // namespace zvtool

#endif  // ZV_TOOLS_REGISTRY_VIEW_H
