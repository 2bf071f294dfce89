// host_posix.cpp - the zv tool's host calls on POSIX systems.
#include "tools/host.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

namespace zvtool {

std::vector<std::string> Arguments(int argc, char** argv) { return std::vector<std::string>(argv + 1, argv + argc); }

void UseUtf8Console() {}  // terminals take the bytes as they come

std::string ExecutablePath() {
    char self[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (length <= 0) return "";
    return std::string(self, size_t(length));
}

std::string RegistryLocation() {
    const char* configured = getenv("ZV_REGISTRY");
    if (configured && *configured) return configured;
    const char* data = getenv("XDG_DATA_HOME");
    if (data && *data) return std::string(data) + "/zv/registry.db";
    const char* home = getenv("HOME");
    return std::string(home ? home : "") + "/.local/share/zv/registry.db";
}

FILE* OpenFile(const std::string& path, const char* mode) { return fopen(path.c_str(), mode); }

bool MakePrivateDirectory(std::string* path) {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zv-demo-XXXXXX";
    if (!mkdtemp(&pattern[0])) return false;
    *path = pattern;
    return true;
}

// The emulated machine opens its registry at the first registry call, from
// ZV_REGISTRY.
bool ServedBySystem(HKEY) { return false; }

bool UsePrivateRegistry(const std::string& directory, std::string* where) {
    *where = directory + "/registry.db";
    return setenv("ZV_REGISTRY", where->c_str(), 1) == 0;
}

void DropPrivateRegistry() {}

}  // namespace zvtool
