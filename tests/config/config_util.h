// config_util.h - helpers of the configuration-file tests.
#ifndef ZV_TESTS_CONFIG_UTIL_H
#define ZV_TESTS_CONFIG_UTIL_H

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdlib.h>

#include <fstream>
#include <functional>
#include <utility>
#include <vector>
#include <iterator>
#include <sstream>
#include <string>

#include "config/document.h"
#include "support.h"

namespace cfgtest {

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool FileExists(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return in.good();
}

// A wide string as the library takes it, from ASCII/Latin-1 text.
inline std::u16string W(const std::string& text) { return zvtest::W(text.c_str()); }

// The whole document as "[section]{key=value,...}" lines, for comparisons.
inline std::string Dump(const zv::ConfigDocument& doc) {
    std::ostringstream out;
    for (const auto& section : doc.Sections()) {
        out << '[' << section.first << "]{";
        bool first = true;
        for (const auto& entry : section.second) {
            out << (first ? "" : ",") << entry.first << '=' << entry.second;
            first = false;
        }
        out << "}\n";
    }
    return out.str();
}

// Loads a file with the given bytes and returns Load's result.
inline int32_t LoadBytes(zv::ConfigDocument& doc, const zvtest::TempDir& dir,
                         const std::string& bytes, const std::string& name = "in.cfg") {
    WriteBytes(dir.file(name), bytes);
    return doc.Load(W(dir.file(name)).c_str());
}

// ---- The registry, through the narrow calls that work on both families ----

struct RegValue {
    DWORD type = REG_NONE;
    std::string data;  // the stored bytes
};

inline bool SetRaw(HKEY root, const std::string& path, const char* name, DWORD type,
                   const std::string& bytes) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                 DWORD(bytes.size()));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

// A REG_SZ value with its terminator.
inline bool SetSz(HKEY root, const std::string& path, const char* name, const std::string& value) {
    return SetRaw(root, path, name, REG_SZ, std::string(value.c_str(), value.size() + 1));
}

inline bool SetDword(HKEY root, const std::string& path, const char* name, DWORD value) {
    return SetRaw(root, path, name, REG_DWORD, std::string(reinterpret_cast<char*>(&value), 4));
}

inline bool CreateKey(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

inline bool KeyExists(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// The value's type and bytes, or false when it cannot be read.
inline bool Query(HKEY root, const std::string& path, const char* name, RegValue* out) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    std::string buffer(8192, '\0');
    DWORD size = DWORD(buffer.size());
    LONG status = RegQueryValueExA(key, name, nullptr, &out->type,
                                   reinterpret_cast<BYTE*>(&buffer[0]), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return false;
    out->data = buffer.substr(0, size);
    return true;
}

// The text of a REG_SZ value, "<missing>" or "<type N>" otherwise.
inline std::string Sz(HKEY root, const std::string& path, const char* name) {
    RegValue value;
    if (!Query(root, path, name, &value)) return "<missing>";
    if (value.type != REG_SZ) return "<type " + std::to_string(value.type) + ">";
    return std::string(value.data.c_str());
}

// Every key below and including path, with every value, in enumeration
// order: "path|name|type|data" lines.
inline void Walk(HKEY root, const std::string& path, std::vector<std::string>* out) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    for (DWORD i = 0;; ++i) {
        char name[512];
        DWORD nameLength = sizeof(name);
        std::string data(8192, '\0');
        DWORD size = DWORD(data.size());
        DWORD type = 0;
        if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type,
                          reinterpret_cast<BYTE*>(&data[0]), &size) != ERROR_SUCCESS)
            break;
        out->push_back(path + "|" + name + "|" + std::to_string(type) + "|" + data.substr(0, size));
    }
    std::vector<std::string> children;
    for (DWORD i = 0;; ++i) {
        char name[512];
        DWORD nameLength = sizeof(name);
        if (RegEnumKeyExA(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        children.push_back(name);
    }
    RegCloseKey(key);
    for (const std::string& child : children) Walk(root, path + "\\" + child, out);
}

// Uses a registry of the test's own: an in-memory one unless the test
// environment names another.
inline void UsePrivateRegistry() {
    const char* registry = getenv("ZV_REGISTRY");
    if (!registry || !registry[0]) setenv("ZV_REGISTRY", ":memory:", 1);
}

// Runs body where file permissions are enforced.  As root (who may write
// anything) it runs in a child process that has become the unprivileged
// user 65534 and owns dir; the child's failures fail the calling test.
inline void RunWithPermissions(const zvtest::TempDir& dir, const std::function<void()>& body) {
    if (geteuid() != 0) {
        body();
        return;
    }
    if (chown(dir.path().c_str(), 65534, 65534) != 0) GTEST_SKIP() << "cannot hand the directory over";
    fflush(stdout);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
        body();
        fflush(stdout);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

}  // namespace cfgtest

#endif  // ZV_TESTS_CONFIG_UTIL_H
