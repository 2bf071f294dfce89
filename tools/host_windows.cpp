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

FILE* OpenFile(const std::string& path, const char* mode) {
    return _wfopen(Wide(path).c_str(), Wide(mode).c_str());
}

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

namespace {
HKEY g_private = nullptr;
std::wstring g_privatePath;
}  // namespace

// Windows has one registry per user: the process's HKEY_CLASSES_ROOT and
// HKEY_LOCAL_MACHINE are mapped onto a volatile key of its own instead.
bool UsePrivateRegistry(const std::string&, std::string* where) {
    g_privatePath = L"Software\\ZV demo " + std::to_wstring(GetCurrentProcessId());
    if (RegCreateKeyExW(HKEY_CURRENT_USER, g_privatePath.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &g_private, nullptr) != ERROR_SUCCESS)
        return false;
    if (RegOverridePredefKey(HKEY_CLASSES_ROOT, g_private) != ERROR_SUCCESS ||
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, g_private) != ERROR_SUCCESS) {
        DropPrivateRegistry();
        return false;
    }
    *where = "HKEY_CURRENT_USER\\" + Utf8(WString(g_privatePath.begin(), g_privatePath.end()));
    return true;
}

void DropPrivateRegistry() {
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    if (!g_private) return;
    RegCloseKey(g_private);
    g_private = nullptr;
    RegDeleteTreeW(HKEY_CURRENT_USER, g_privatePath.c_str());
}

}  // namespace zvtool
