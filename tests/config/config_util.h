// config_util.h - helpers of the configuration-file tests.
#ifndef ZV_TESTS_CONFIG_UTIL_H
#define ZV_TESTS_CONFIG_UTIL_H

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
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
