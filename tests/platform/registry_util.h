// registry_util.h - helpers of the registry tests.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "platform/posix/registry_store.h"
#include "platform/win32.h"
#include "support.h"

using Strings = std::vector<std::string>;
const HKEY kMachine = HKEY_LOCAL_MACHINE;

// Points the store at another registry file (":memory:" for a private one).
inline void UseRegistry(const std::string& path) {
    setenv("ZV_REGISTRY", path.c_str(), 1);
    zvp::reg::ReopenForTesting();
}

// Opens a key, or without `key` only tells whether it could be opened.
inline LSTATUS OpenKey(HKEY root, const std::string& path, HKEY* key = nullptr) {
    HKEY own = nullptr;
    const LSTATUS status = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key ? key : &own);
    return RegCloseKey(own), status;
}

inline HKEY CreateKey(HKEY root, const std::string& path, DWORD* made = nullptr,
                      REGSAM access = KEY_ALL_ACCESS) {
    HKEY key = nullptr;
    EXPECT_EQ(0, RegCreateKeyExA(root, path.c_str(), 0, 0, 0, access, 0, &key, made)) << path;
    return key;
}

inline LSTATUS SetString(HKEY key, const char* name, const std::string& text) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          DWORD(text.size() + 1));
}

inline std::string QueryString(HKEY key, const char* name, LSTATUS* status = nullptr) {
    char text[4096] = {};
    DWORD size = sizeof(text) - 1;
    LSTATUS own, &result = status ? *status : own;
    result = RegQueryValueExA(key, name, 0, 0, reinterpret_cast<BYTE*>(text), &size);
    return result == ERROR_SUCCESS ? text : "";
}

// The names of a key's subkeys, or of its values, in enumeration order; a
// failure other than the end of the list comes last as its code.
inline Strings Names(HKEY key, bool values = false) {
    Strings names;
    char name[16384];
    for (DWORD length = sizeof(name);; names.emplace_back(name, length), length = sizeof(name)) {
        const DWORD i = DWORD(names.size());
        const LSTATUS status = values ? RegEnumValueA(key, i, name, &length, 0, 0, 0, 0)
                                      : RegEnumKeyExA(key, i, name, &length, 0, 0, 0, 0);
        if (status) return status == ERROR_NO_MORE_ITEMS ? names : Strings{std::to_string(status)};
    }
}
