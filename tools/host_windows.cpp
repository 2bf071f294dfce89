// host_windows.cpp - the zv tool's host calls on Windows.
#include "tools/host.h"

#include <windows.h>
#include <shellapi.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "tools/text.h"

namespace zvtool {

std::vector<std::string> Arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return std::vector<std::string>(argv + 1, argv + argc);
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) args.push_back(Utf8(WString(wide[i])));
    LocalFree(wide);
    return args;
}

namespace {
UINT g_consoleCodePage;
void RestoreConsole() { SetConsoleOutputCP(g_consoleCodePage); }
}  // namespace

void UseUtf8Console() {
    DWORD mode;
    if (!GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) &&
        !GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode))
        return;  // files and pipes take the UTF-8 bytes as they are
    g_consoleCodePage = GetConsoleOutputCP();
    if (g_consoleCodePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) atexit(RestoreConsole);
}

std::string ExecutablePath() {
    WCHAR self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return "";
    return Utf8(WString(self, length));
}

std::string RegistryLocation() { return "the Windows registry"; }

// The performance counters' text is served under ...\Perflib\009 and the
// like by keys of the system's own, which take value queries only (Wine
// hands one out when that key is opened, and refuses to enumerate it).
bool ServedBySystem(HKEY key) {
    return key == HKEY_PERFORMANCE_DATA || key == HKEY_PERFORMANCE_TEXT || key == HKEY_PERFORMANCE_NLSTEXT;
}

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
const wchar_t kPrivatePrefix[] = L"ZV demo ";

// Removes the keys that demos which ended without cleaning up (killed, or
// the machine went down) left under HKEY_CURRENT_USER\Software: those whose
// process is gone, and one of this process's own id.
void RemoveLeftKeys(HKEY software) {
    const size_t prefix = wcslen(kPrivatePrefix);
    std::vector<std::wstring> left;
    WCHAR name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (RegEnumKeyExW(software, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (wcsncmp(name, kPrivatePrefix, prefix) != 0) continue;
        const DWORD id = wcstoul(name + prefix, nullptr, 10);
        HANDLE process = id == GetCurrentProcessId() ? nullptr : OpenProcess(SYNCHRONIZE, FALSE, id);
        // A process this user may not open (an elevated one) is taken as running.
        bool running = process ? WaitForSingleObject(process, 0) == WAIT_TIMEOUT
                               : id != GetCurrentProcessId() && GetLastError() == ERROR_ACCESS_DENIED;
        if (process) CloseHandle(process);
        if (!running) left.push_back(name);
    }
    for (const std::wstring& key : left) RegDeleteTreeW(software, key.c_str());
}
}  // namespace

// Windows has one registry per user: the process's HKEY_CLASSES_ROOT and
// HKEY_LOCAL_MACHINE are mapped onto a key of its own instead.  The key is
// not volatile: the library makes its keys non-volatile, and Windows makes
// no such key below a volatile one (ERROR_CHILD_MUST_BE_VOLATILE).  So the
// key is removed at the end, and a key left by a demo that was killed is
// removed by the next one.
bool UsePrivateRegistry(const std::string&, std::string* where) {
    HKEY software;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_ALL_ACCESS, &software) != ERROR_SUCCESS) return false;
    RemoveLeftKeys(software);
    g_privatePath = kPrivatePrefix + std::to_wstring(GetCurrentProcessId());
    const LONG made = RegCreateKeyExW(software, g_privatePath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      KEY_ALL_ACCESS, nullptr, &g_private, nullptr);
    RegCloseKey(software);
    g_privatePath = L"Software\\" + g_privatePath;
    if (made != ERROR_SUCCESS) {
        g_private = nullptr;
        return false;
    }
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
