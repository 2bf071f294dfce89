// config_util.h - helpers of the configuration-file tests.
#ifndef ZV_TESTS_CONFIG_UTIL_H
#define ZV_TESTS_CONFIG_UTIL_H

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>

#include "config/document.h"
#include "support.h"

namespace cfgtest {

// The tests hold their text in char16_t (ZVWCHAR), the internal calls take
// WCHAR (see zvtest::SystemText).
using zvtest::SystemText;

// zv::ConfigDocument with the operations the tests call taking the tests'
// wide text.
class Document : public zv::ConfigDocument {
  public:
    int32_t Load(const ZVWCHAR* fileName) { return ConfigDocument::Load(SystemText(fileName)); }
    int32_t Save(const ZVWCHAR* fileName) { return ConfigDocument::Save(SystemText(fileName)); }
    zv::SaveResult SaveFile(const ZVWCHAR* fileName) { return ConfigDocument::SaveFile(SystemText(fileName)); }
    uint16_t SectionExists(const ZVWCHAR* section) const { return ConfigDocument::SectionExists(SystemText(section)); }
    uint16_t KeyExists(const ZVWCHAR* section, const ZVWCHAR* key) const {
        return ConfigDocument::KeyExists(SystemText(section), SystemText(key));
    }
    int32_t AddSection(const ZVWCHAR* section) { return ConfigDocument::AddSection(SystemText(section)); }
    int32_t SetValue(const ZVWCHAR* section, const ZVWCHAR* key, const ZVWCHAR* value, uint16_t overwrite) {
        return ConfigDocument::SetValue(SystemText(section), SystemText(key), SystemText(value), overwrite);
    }
    int32_t GetValue(const ZVWCHAR* section, const ZVWCHAR* key, ZVWCHAR* out) const {
        return ConfigDocument::GetValue(SystemText(section), SystemText(key), SystemText(out));
    }
    zv::NameList GetKeyNames(const ZVWCHAR* section) const { return ConfigDocument::GetKeyNames(SystemText(section)); }
    const ZVWCHAR* FileName() const { return reinterpret_cast<const ZVWCHAR*>(ConfigDocument::FileName()); }
};

// A text as the library's writes leave it on disk: it writes its files in
// the runtime library's text mode, which ends lines with CR LF on Windows.
inline std::string OnDisk(const std::string& text) {
#if defined(_WIN32)
    std::string out;
    for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
#else
    return text;
#endif
}

inline void WriteBytes(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// The file's bytes, or "<none>" when it cannot be read.
inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()) : "<none>";
}

inline long FileCount(const std::string& dir) { return long(std::distance(std::filesystem::directory_iterator(dir), {})); }

// A wide string as the library takes it, from ASCII/Latin-1 text.
inline std::u16string W(const std::string& text) { return zvtest::W(text.c_str()); }

// The whole document as "[section]{key=value,...}" lines, for comparisons.
inline std::string Dump(const zv::ConfigDocument& doc) {
    std::ostringstream out;
    for (const auto& section : doc.Sections()) {
        out << '[' << section.first << "]{";
        for (const auto& entry : section.second)
            out << (&entry == &*section.second.begin() ? "" : ",") << entry.first << '=' << entry.second;
        out << "}\n";
    }
    return out.str();
}

// A REG_SZ value (with its terminator) or another type's bytes, through the
// narrow calls that work on both families.
inline bool Set(HKEY root, const std::string& path, const char* name, const std::string& data,
                DWORD type = REG_SZ) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const std::string bytes = type == REG_SZ ? std::string(data.c_str(), data.size() + 1) : data;
    LONG status = RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()), DWORD(bytes.size()));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

// The text of a REG_SZ value, "<missing>" or "<type N>" otherwise.
inline std::string Sz(HKEY root, const std::string& path, const char* name) {
    HKEY key = nullptr;
    char buffer[1024] = {};
    DWORD size = sizeof(buffer) - 1, type = 0;
    LONG status = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key);
    if (status == ERROR_SUCCESS) status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    if (key) RegCloseKey(key);
    return status != ERROR_SUCCESS ? "<missing>" : type == REG_SZ ? buffer : "<type " + std::to_string(type) + ">";
}

#if defined(_WIN32)
// Runs body where file permissions are enforced: everywhere on Windows,
// where the tests close files by sharing modes, which hold for every user.
inline void RunWithPermissions(const zvtest::TempDir&, const std::function<void()>& body) { body(); }
#else  // users and groups of POSIX
// Runs body where file permissions are enforced.  As root (who may write
// anything) it runs in a child process that has become the unprivileged
// user 65534 and owns dir; the child's failures fail the calling test.
inline void RunWithPermissions(const zvtest::TempDir& dir, const std::function<void()>& body) {
    if (geteuid() != 0) return body();
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
#endif

}  // namespace cfgtest

#endif  // ZV_TESTS_CONFIG_UTIL_H
