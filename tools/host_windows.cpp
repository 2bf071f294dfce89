// host_windows.cpp - the zv tool's host calls on Windows.
#include "tools/host.h"

#include <windows.h>

#include "tools/text.h"

namespace zvtool {

std::string ExecutablePath() {
    WCHAR self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return "";
    return Utf8(WString(self, length));
}

std::string RegistryLocation() { return "the Windows registry"; }

bool MakePrivateDirectory(std::string* path) {
    WCHAR base[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, base);
    if (length == 0 || length >= MAX_PATH) return false;
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = Utf8(WString(base, length)) + "zv-demo-" +
                                std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt);
        if (CreateDirectoryW(Wide(candidate).c_str(), nullptr)) {
            *path = candidate;
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

}  // namespace zvtool
