// info_command.cpp - `zv info`: the library, the platform, and the state of
// the registry: where it is, whether it takes writes, and whether every key
// and value in it can be read.
#include <stdio.h>

#include "tools/cli.h"
#include "tools/host.h"
#include "tools/registry_view.h"

namespace zvtool {
namespace {

struct Walk {
    unsigned long keys = 0, values = 0;
    unsigned long closed = 0;  // keys whose security does not let this user read them
    unsigned long served = 0;  // keys the system serves itself, not read
    unsigned long gone = 0;    // keys removed by others while the walk went on
    LONG error = ERROR_SUCCESS;  // the first failure met
    std::string where;
    std::string cut;  // the first key whose subkeys lie too deep to walk
};

bool Listed(HKEY key, const WString& name) {
    for (const WString& listed : Subkeys(key))
        if (listed == name) return true;
    return false;
}

// A key path fit for one line: its start and its end.
std::string Shortened(const std::string& path) {
    if (path.size() <= 160) return path;
    return path.substr(0, 100) + "..." + path.substr(path.size() - 40);
}

// Records how an enumeration of `what` ended; false when the key is gone.
// The registry is live: a key that others remove while it is walked ends
// its enumeration with ERROR_KEY_DELETED, which is no fault.
bool EnumerationEnded(LONG ended, const std::string& what, Walk* walk) {
    if (ended == ERROR_KEY_DELETED) {
        ++walk->gone;
        return false;
    }
    if (ended != ERROR_NO_MORE_ITEMS && walk->error == ERROR_SUCCESS) {
        walk->error = ended;
        walk->where = what;
    }
    return true;
}

// Opens, enumerates and reads everything below `key`, recording the first
// failure.
void WalkAll(HKEY key, const std::string& path, int depth, Walk* walk) {
    ++walk->keys;
    LONG ended;
    walk->values += Values(key, &ended).size();
    if (!EnumerationEnded(ended, "the values of " + path, walk)) return;
    const std::vector<WString> names = Subkeys(key, &ended);
    if (!EnumerationEnded(ended, "the subkeys of " + path, walk)) return;
    // Deeper keys come only from a file made before keys were held to this
    // depth; they are left unopened and said, not taken for damage.
    if (depth == kDeepestWalk && !names.empty()) {
        if (walk->cut.empty()) walk->cut = path;
        return;
    }
    for (const WString& name : names) {
        HKEY child;
        const std::string childPath = path + "\\" + Utf8(name);
        LONG error = OpenKey(key, name, KEY_READ, &child);
        // On Windows keys carry access rights: some are closed to all but
        // the system (HKLM\SECURITY, HKLM\SAM\SAM); that is no fault of the
        // registry.  The POSIX layer refuses no read.
        if (error == ERROR_ACCESS_DENIED) {
            ++walk->closed;
            continue;
        }
        // The key itself was removed after it listed this subkey.
        if (error == ERROR_KEY_DELETED) {
            ++walk->gone;
            return;
        }
        // Listed, then not found: removed meanwhile if no longer listed;
        // still listed, the registry contradicts itself.
        if (error == ERROR_FILE_NOT_FOUND && !Listed(key, name)) {
            ++walk->gone;
            continue;
        }
        if (error == ERROR_SUCCESS && ServedBySystem(child)) {
            ++walk->served;
            RegCloseKey(child);
            continue;
        }
        if (error != ERROR_SUCCESS) {
            if (walk->error == ERROR_SUCCESS) {
                walk->error = error;
                walk->where = childPath;
            }
            continue;
        }
        WalkAll(child, childPath, depth + 1, walk);
        RegCloseKey(child);
    }
}

}  // namespace

int InfoCommand(const Args& args) {
    if (!args.empty()) return UsageError("info takes no arguments");
    printf("library:     ZV %s, %s, %s, byte order %d\n", Utf8(ZVCompilerTypeString()).c_str(),
           Utf8(ZVHardwareTypeString()).c_str(), Utf8(ZVPlatformTypeString()).c_str(), ZVHWEndian());
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    printf("platform:    %s family, wide calls %s, %u processors\n", WideCalls() ? "NT" : "9x",
           WideCalls() ? "on" : "off", unsigned(system.dwNumberOfProcessors));
    const std::string location = RegistryLocation();
    printf("registry:    %s\n", location.c_str());

    const LONG probe = ProbeWrite();
    printf("  writes:    %s\n", probe == ERROR_SUCCESS         ? "accepted (a probe key was made and removed)"
                                : probe == ERROR_ACCESS_DENIED ? "refused: the registry is read-only"
                                                               : "failing");
    // HKEY_CLASSES_ROOT is a view of HKEY_LOCAL_MACHINE\Software\Classes.
    Walk walk;
    const struct {
        HKEY root;
        const char* name;
    } roots[] = {{HKEY_LOCAL_MACHINE, "HKLM"}, {HKEY_CURRENT_USER, "HKCU"}, {HKEY_USERS, "HKU"}};
    for (const auto& root : roots) {
        HKEY key;
        LONG error = OpenKey(root.root, WString(), KEY_READ, &key);
        if (error == ERROR_FILE_NOT_FOUND) continue;  // a user part not made yet
        if (error != ERROR_SUCCESS) {
            if (walk.error == ERROR_SUCCESS) walk.error = error, walk.where = root.name;
            continue;
        }
        Walk below;
        WalkAll(key, root.name, 0, &below);
        RegCloseKey(key);
        // The predefined key opens even where its key was never made (the
        // user part of a registry this user may only read): nothing below.
        if (below.error == ERROR_FILE_NOT_FOUND && below.where == std::string("the values of ") + root.name)
            continue;
        walk.keys += below.keys;
        walk.values += below.values;
        walk.closed += below.closed;
        walk.served += below.served;
        walk.gone += below.gone;
        if (walk.cut.empty()) walk.cut = below.cut;
        if (walk.error == ERROR_SUCCESS) walk.error = below.error, walk.where = below.where;
    }
    printf("  integrity: every key and value below HKLM, HKCU and HKU opened and read: %lu keys, %lu values, %s\n",
           walk.keys, walk.values, walk.error != ERROR_SUCCESS ? "FAILED"
                                   : walk.cut.empty()             ? "all readable"
                                                                  : "all readable down to the walk's depth");
    if (!walk.cut.empty())
        printf("  not walked: the subkeys of %s, deeper than %d levels\n", Shortened(walk.cut).c_str(),
               kDeepestWalk);
    if (walk.closed || walk.served || walk.gone)
        printf("  not read:  %lu keys closed to this user, %lu served by the system, %lu removed by others during "
               "the walk\n",
               walk.closed, walk.served, walk.gone);
    if (walk.error != ERROR_SUCCESS) {
        std::string cause = RegistryCause(walk.error);
        return FailWin32((cause.empty() ? "registry cannot be read: " + location : cause) + " (at " +
                             Shortened(walk.where) + ")",
                         walk.error);
    }
    if (probe != ERROR_SUCCESS && probe != ERROR_ACCESS_DENIED) {
        std::string cause = RegistryCause(probe);
        return FailWin32(cause.empty() ? "registry refuses writes: " + location : cause, probe);
    }
    return kExitOk;
}

}  // namespace zvtool
