// registry_util.h - helpers of the registry tests.
#ifndef ZV_TEST_REGISTRY_UTIL_H
#define ZV_TEST_REGISTRY_UTIL_H

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "platform/posix/registry_store.h"
#include "platform/win32.h"

namespace regtest {

using Strings = std::vector<std::string>;

// Points the store at another registry file (":memory:" for a private one).
inline void UseRegistry(const std::string& path) {
    setenv("ZV_REGISTRY", path.c_str(), 1);
    zvp::reg::ReopenForTesting();
}

// Opens a key, or without `key` only tells whether it could be opened.
inline LSTATUS OpenKey(HKEY root, const std::string& path, HKEY* key = nullptr,
                       REGSAM access = KEY_READ) {
    HKEY own = nullptr;
    LSTATUS status = RegOpenKeyExA(root, path.c_str(), 0, access, key ? key : &own);
    RegCloseKey(own);
    return status;
}

inline HKEY CreateKey(HKEY root, const std::string& path, DWORD* disposition = nullptr) {
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, disposition)) << path;
    return key;
}

inline LSTATUS SetString(HKEY key, const char* name, const std::string& text) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          DWORD(text.size() + 1));
}

// The value's data through the narrow form, terminator dropped.
inline std::string QueryString(HKEY key, const char* name, LSTATUS* status = nullptr) {
    char buffer[4096];
    DWORD size = sizeof(buffer);
    LSTATUS result =
        RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    if (status) *status = result;
    if (result != ERROR_SUCCESS) return std::string();
    std::string text(buffer, size);
    if (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

// The names of a key's subkeys, or of its values, in enumeration order.
inline Strings Names(HKEY key, bool values) {
    Strings names;
    std::vector<char> name(16384);
    for (DWORD index = 0;; ++index) {
        DWORD length = DWORD(name.size());
        LSTATUS status = values ? RegEnumValueA(key, index, name.data(), &length, nullptr,
                                                nullptr, nullptr, nullptr)
                                : RegEnumKeyExA(key, index, name.data(), &length, nullptr,
                                                nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            EXPECT_EQ(ERROR_NO_MORE_ITEMS, status);
            return names;
        }
        names.emplace_back(name.data(), length);
    }
}
inline Strings Subkeys(HKEY key) { return Names(key, false); }
inline Strings ValueNames(HKEY key) { return Names(key, true); }

}  // namespace regtest

#endif  // ZV_TEST_REGISTRY_UTIL_H
