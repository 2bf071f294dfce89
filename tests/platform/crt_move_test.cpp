// The runtime library's narrow-name file opening (_fsopen) and the file
// moves (MoveFileA, MoveFileExA) of the emulated machine.
#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <string>

#include "platform/win32.h"
#include "support.h"

namespace {

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

bool Exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

}  // namespace

TEST(CrtFiles, FsopenTakesLatin1NamesAndWindowsModes) {
    zvtest::TempDir dir;
    // "caf\xE9" in the ANSI code page is "café" on the host, in UTF-8.
    const std::string narrow = dir.path() + "/caf\xE9.txt";
    FILE* file = _fsopen(narrow.c_str(), "wt", _SH_DENYNO);
    ASSERT_NE(file, nullptr);
    fputs("one\n", file);
    fclose(file);
    EXPECT_EQ(Read(dir.path() + "/caf\xC3\xA9.txt"), "one\n");

    file = _fsopen(narrow.c_str(), "a+b", _SH_DENYNO);  // appends, also reads
    ASSERT_NE(file, nullptr);
    fputs("two\n", file);
    fseek(file, 0, SEEK_SET);
    char line[8] = {};
    EXPECT_NE(fgets(line, sizeof(line), file), nullptr);
    EXPECT_STREQ(line, "one\n");
    fclose(file);
    EXPECT_EQ(Read(dir.path() + "/caf\xC3\xA9.txt"), "one\ntwo\n");

    file = _fsopen(narrow.c_str(), "r", _SH_DENYNO);
    ASSERT_NE(file, nullptr);
    fclose(file);
}

TEST(CrtFiles, FsopenRefusesDirectoriesMissingFilesAndBadModes) {
    zvtest::TempDir dir;
    errno = 0;
    EXPECT_EQ(_fsopen(dir.path().c_str(), "r", _SH_DENYNO), nullptr);
    EXPECT_EQ(errno, EACCES);  // a directory is no file, as on Windows
    errno = 0;
    EXPECT_EQ(_fsopen(dir.path().c_str(), "a", _SH_DENYNO), nullptr);
    EXPECT_NE(errno, 0);
    errno = 0;
    EXPECT_EQ(_fsopen((dir.path() + "/missing").c_str(), "r", _SH_DENYNO), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(_fsopen((dir.path() + "/no/dir/x").c_str(), "w", _SH_DENYNO), nullptr);
    errno = 0;
    EXPECT_EQ(_fsopen("", "r", _SH_DENYNO), nullptr);
    EXPECT_EQ(errno, ENOENT);
    errno = 0;
    EXPECT_EQ(_fsopen((dir.path() + "/x").c_str(), "x", _SH_DENYNO), nullptr);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(_fsopen(nullptr, "r", _SH_DENYNO), nullptr);
    EXPECT_EQ(_fsopen((dir.path() + "/x").c_str(), nullptr, _SH_DENYNO), nullptr);
    EXPECT_FALSE(Exists(dir.path() + "/x"));
}

TEST(CrtFiles, MoveFileRenamesButNeverReplaces) {
    zvtest::TempDir dir;
    const std::string a = dir.path() + "/a", b = dir.path() + "/b";
    Write(a, "A");
    EXPECT_TRUE(MoveFileA(a.c_str(), b.c_str()));
    EXPECT_FALSE(Exists(a));
    EXPECT_EQ(Read(b), "A");

    Write(a, "A2");
    SetLastError(0);
    EXPECT_FALSE(MoveFileA(a.c_str(), b.c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(Read(b), "A");

    SetLastError(0);
    EXPECT_FALSE(MoveFileA((dir.path() + "/missing").c_str(), (dir.path() + "/c").c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    SetLastError(0);
    EXPECT_FALSE(MoveFileA(a.c_str(), (dir.path() + "/no/dir/c").c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    SetLastError(0);
    EXPECT_FALSE(MoveFileA(nullptr, b.c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    SetLastError(0);
    EXPECT_FALSE(MoveFileA("", b.c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));

    // Latin-1 names reach the host as UTF-8.
    EXPECT_TRUE(MoveFileA(a.c_str(), (dir.path() + "/\xE9").c_str()));
    EXPECT_EQ(Read(dir.path() + "/\xC3\xA9"), "A2");
}

TEST(CrtFiles, MoveFileExReplacesFilesButNotDirectoriesOnNtOnly) {
    zvtest::TempDir dir;
    const std::string a = dir.path() + "/a", b = dir.path() + "/b";
    Write(a, "new");
    Write(b, "old");
    if (zvtest::Family9x()) {
        SetLastError(0);
        EXPECT_FALSE(MoveFileExA(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_CALL_NOT_IMPLEMENTED));
        EXPECT_EQ(Read(b), "old");
        return;
    }
    SetLastError(0);
    EXPECT_FALSE(MoveFileExA(a.c_str(), b.c_str(), 0));  // no flag: as MoveFileA
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(MoveFileExA(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_FALSE(Exists(a));
    EXPECT_EQ(Read(b), "new");

    // An empty directory in the way is not replaced.
    ASSERT_EQ(mkdir((dir.path() + "/d").c_str(), 0755), 0);
    SetLastError(0);
    EXPECT_FALSE(MoveFileExA(b.c_str(), (dir.path() + "/d").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(Read(b), "new");

    SetLastError(0);
    EXPECT_FALSE(MoveFileExA(b.c_str(), a.c_str(), 0x8 /* MOVEFILE_WRITE_THROUGH */));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}
