// registry_util.h - helpers of the registry tests.
#ifndef ZV_TEST_REGISTRY_UTIL_H
#define ZV_TEST_REGISTRY_UTIL_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "platform/posix/registry_store.h"
#include "platform/win32.h"

namespace regtest {

// Points the store at a registry of the test's own (a private one unless
// the test names a file) before its first call.
inline void UseRegistry(const std::string& path) {
    setenv("ZV_REGISTRY", path.c_str(), 1);
    zvp::reg::ReopenForTesting();
}

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override { UseRegistry(":memory:"); }
};

inline HKEY CreateKey(HKEY root, const std::string& path, DWORD* disposition = nullptr,
                      REGSAM access = KEY_ALL_ACCESS) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     access, nullptr, &key, disposition);
    EXPECT_EQ(ERROR_SUCCESS, status) << path;
    return key;
}

inline LSTATUS OpenKey(HKEY root, const std::string& path, HKEY* key,
                       REGSAM access = KEY_READ) {
    return RegOpenKeyExA(root, path.c_str(), 0, access, key);
}

inline bool KeyExists(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (OpenKey(root, path, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

inline LSTATUS SetString(HKEY key, const char* name, const std::string& text) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          DWORD(text.size() + 1));
}

// The value's data through the narrow form, terminator dropped.
inline std::string QueryString(HKEY key, const char* name, LSTATUS* status = nullptr) {
    char buffer[4096];
    DWORD size = sizeof(buffer);
    DWORD type = 0;
    LSTATUS result =
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    if (status) *status = result;
    if (result != ERROR_SUCCESS) return std::string();
    std::string text(buffer, size);
    if (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

inline std::vector<std::string> Subkeys(HKEY key) {
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        char name[512];
        DWORD length = sizeof(name);
        LSTATUS status =
            RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            EXPECT_EQ(ERROR_NO_MORE_ITEMS, status);
            break;
        }
        names.push_back(std::string(name, length));
    }
    return names;
}

inline std::vector<std::string> ValueNames(HKEY key) {
    std::vector<std::string> names;
    std::vector<char> name(16384);
    for (DWORD index = 0;; ++index) {
        DWORD length = DWORD(name.size());
        LSTATUS status =
            RegEnumValueA(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            EXPECT_EQ(ERROR_NO_MORE_ITEMS, status);
            break;
        }
        names.push_back(std::string(name.data(), length));
    }
    return names;
}

}  // namespace regtest

#endif  // ZV_TEST_REGISTRY_UTIL_H
