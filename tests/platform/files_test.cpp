// The emulated file calls: deletion, directories, full paths, both widths.
#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "platform/win32.h"
#include "support.h"

namespace {

using zvtest::TempDir;

bool IsDir(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool Exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

void Touch(const std::string& path) { std::ofstream(path) << "x"; }

// Wide form of a narrow ASCII path.
std::u16string Wide(const std::string& path) { return zvtest::W(path.c_str()); }

// The result of a call and the last error it left.
struct Outcome {
    BOOL result;
    DWORD error;
};

template <class F>
Outcome Call(F call) {
    SetLastError(0xDEAD);
    BOOL result = call();
    return {result, GetLastError()};
}

// Changes the current directory for one test and changes it back.
class InDirectory {
  public:
    explicit InDirectory(const std::string& path) {
        char* old = getcwd(nullptr, 0);
        old_ = old;
        free(old);
        EXPECT_EQ(chdir(path.c_str()), 0);
    }
    ~InDirectory() { EXPECT_EQ(chdir(old_.c_str()), 0); }

  private:
    std::string old_;
};

}  // namespace

TEST(PlatformDirectories, NarrowCreateAndRemoveReportWin32Errors) {
    TempDir dir;
    const std::string sub = dir.file("sub");
    EXPECT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
    EXPECT_TRUE(IsDir(sub));

    Outcome again = Call([&] { return CreateDirectoryA(sub.c_str(), nullptr); });
    EXPECT_EQ(again.result, FALSE);
    EXPECT_EQ(again.error, DWORD(ERROR_ALREADY_EXISTS));

    Touch(dir.file("file"));
    Outcome overFile = Call([&] { return CreateDirectoryA(dir.file("file").c_str(), nullptr); });
    EXPECT_EQ(overFile.error, DWORD(ERROR_ALREADY_EXISTS));

    Outcome noParent = Call([&] { return CreateDirectoryA(dir.file("missing/child").c_str(), nullptr); });
    EXPECT_EQ(noParent.result, FALSE);
    EXPECT_EQ(noParent.error, DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(Exists(dir.file("missing")));

    Outcome underFile = Call([&] { return CreateDirectoryA(dir.file("file/child").c_str(), nullptr); });
    EXPECT_EQ(underFile.error, DWORD(ERROR_PATH_NOT_FOUND));

    Outcome empty = Call([&] { return CreateDirectoryA("", nullptr); });
    EXPECT_EQ(empty.result, FALSE);
    EXPECT_EQ(empty.error, DWORD(ERROR_PATH_NOT_FOUND));
    Outcome null = Call([&] { return CreateDirectoryA(nullptr, nullptr); });
    EXPECT_EQ(null.error, DWORD(ERROR_INVALID_PARAMETER));

    // A directory that still holds a file stays.
    Touch(sub + "/inside");
    Outcome full = Call([&] { return RemoveDirectoryA(sub.c_str()); });
    EXPECT_EQ(full.result, FALSE);
    EXPECT_EQ(full.error, DWORD(ERROR_DIR_NOT_EMPTY));
    EXPECT_TRUE(Exists(sub + "/inside"));

    ASSERT_EQ(unlink((sub + "/inside").c_str()), 0);
    EXPECT_TRUE(RemoveDirectoryA(sub.c_str()));
    EXPECT_FALSE(Exists(sub));

    Outcome gone = Call([&] { return RemoveDirectoryA(sub.c_str()); });
    EXPECT_EQ(gone.error, DWORD(ERROR_FILE_NOT_FOUND));
    Outcome goneParent = Call([&] { return RemoveDirectoryA(dir.file("missing/child").c_str()); });
    EXPECT_EQ(goneParent.error, DWORD(ERROR_PATH_NOT_FOUND));
    Outcome notDir = Call([&] { return RemoveDirectoryA(dir.file("file").c_str()); });
    EXPECT_EQ(notDir.error, DWORD(ERROR_DIRECTORY));
    EXPECT_TRUE(Exists(dir.file("file")));
    Outcome throughFile = Call([&] { return RemoveDirectoryA(dir.file("file/x").c_str()); });
    EXPECT_EQ(throughFile.error, DWORD(ERROR_PATH_NOT_FOUND));
    Outcome emptyRemove = Call([&] { return RemoveDirectoryA(""); });
    EXPECT_EQ(emptyRemove.error, DWORD(ERROR_PATH_NOT_FOUND));
    Outcome nullRemove = Call([&] { return RemoveDirectoryA(nullptr); });
    EXPECT_EQ(nullRemove.error, DWORD(ERROR_INVALID_PARAMETER));
}

TEST(PlatformFiles, NarrowDeleteReportsWin32Errors) {
    TempDir dir;
    Touch(dir.file("a"));
    EXPECT_TRUE(DeleteFileA(dir.file("a").c_str()));
    EXPECT_FALSE(Exists(dir.file("a")));

    Outcome missing = Call([&] { return DeleteFileA(dir.file("a").c_str()); });
    EXPECT_EQ(missing.result, FALSE);
    EXPECT_EQ(missing.error, DWORD(ERROR_FILE_NOT_FOUND));
    Outcome missingDir = Call([&] { return DeleteFileA(dir.file("nodir/a").c_str()); });
    EXPECT_EQ(missingDir.error, DWORD(ERROR_PATH_NOT_FOUND));

    // A directory is not deleted as a file.
    ASSERT_EQ(mkdir(dir.file("d").c_str(), 0700), 0);
    Outcome directory = Call([&] { return DeleteFileA(dir.file("d").c_str()); });
    EXPECT_EQ(directory.error, DWORD(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(IsDir(dir.file("d")));

    Outcome empty = Call([&] { return DeleteFileA(""); });
    EXPECT_EQ(empty.error, DWORD(ERROR_PATH_NOT_FOUND));
    Outcome null = Call([&] { return DeleteFileA(nullptr); });
    EXPECT_EQ(null.error, DWORD(ERROR_INVALID_PARAMETER));
}

TEST(PlatformFiles, WideFormsWorkOnNtAndAreMissingOn9x) {
    TempDir dir;
    const std::u16string sub = Wide(dir.file("wsub"));
    const std::u16string file = Wide(dir.file("wfile"));
    Touch(dir.file("wfile"));
    if (zvtest::Family9x()) {
        for (Outcome outcome : {Call([&] { return CreateDirectoryW(sub.c_str(), nullptr); }),
                                Call([&] { return RemoveDirectoryW(sub.c_str()); }),
                                Call([&] { return DeleteFileW(file.c_str()); })}) {
            EXPECT_EQ(outcome.result, FALSE);
            EXPECT_EQ(outcome.error, DWORD(ERROR_CALL_NOT_IMPLEMENTED));
        }
        EXPECT_FALSE(Exists(dir.file("wsub")));
        EXPECT_TRUE(Exists(dir.file("wfile")));
        return;
    }
    EXPECT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
    EXPECT_EQ(Call([&] { return CreateDirectoryW(sub.c_str(), nullptr); }).error, DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(Call([&] { return CreateDirectoryW(u"", nullptr); }).error, DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(Call([&] { return CreateDirectoryW(nullptr, nullptr); }).error, DWORD(ERROR_INVALID_PARAMETER));
    Touch(dir.file("wsub/x"));
    EXPECT_EQ(Call([&] { return RemoveDirectoryW(sub.c_str()); }).error, DWORD(ERROR_DIR_NOT_EMPTY));
    EXPECT_TRUE(DeleteFileW(Wide(dir.file("wsub/x")).c_str()));
    EXPECT_EQ(Call([&] { return DeleteFileW(Wide(dir.file("wsub/x")).c_str()); }).error,
              DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(RemoveDirectoryW(sub.c_str()));
    EXPECT_EQ(Call([&] { return RemoveDirectoryW(sub.c_str()); }).error, DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Call([&] { return DeleteFileW(nullptr); }).error, DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(DeleteFileW(file.c_str()));
}

TEST(PlatformFiles, WideAndNarrowNamesReachTheHostAsUtf8) {
    TempDir dir;
    // Narrow names are ISO-8859-1: the byte 0xE9 is U+00E9.
    const std::string narrow = dir.file("caf\xE9");
    ASSERT_TRUE(CreateDirectoryA(narrow.c_str(), nullptr));
    EXPECT_TRUE(IsDir(dir.file("caf\xC3\xA9")));
    if (!zvtest::Family9x()) {
        // The wide name with the same character names the same directory,
        // and a character beyond the BMP comes through its surrogate pair.
        std::u16string wide = Wide(dir.file("caf")) + u"\u00E9";
        EXPECT_TRUE(RemoveDirectoryW(wide.c_str()));
        std::u16string emoji = Wide(dir.file("")) + u"\U0001F600";
        ASSERT_TRUE(CreateDirectoryW(emoji.c_str(), nullptr));
        EXPECT_TRUE(IsDir(dir.file("\xF0\x9F\x98\x80")));
    } else {
        EXPECT_TRUE(RemoveDirectoryA(narrow.c_str()));
    }
    EXPECT_FALSE(Exists(dir.file("caf\xC3\xA9")));
}

TEST(PlatformFullPath, JoinsTheCurrentDirectoryAndResolvesDots) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("work").c_str(), 0700), 0);
    InDirectory in(dir.file("work"));
    char* cwd = getcwd(nullptr, 0);
    const std::string here = cwd;
    free(cwd);
    const std::string parent = here.substr(0, here.rfind('/'));

    char out[1024];
    struct Case {
        const char* relative;
        std::string expected;
    } cases[] = {
        {"name", here + "/name"},
        {"./a/./b", here + "/a/b"},
        {"a/../b", here + "/b"},
        {"../x", parent + "/x"},
        {"a//b///c", here + "/a/b/c"},
        {"sub/", here + "/sub/"},
        {".", here},
        {"..", parent},
        {"", here},
        {"/usr/./lib/../bin", "/usr/bin"},
        {"/../../etc", "/etc"},
        {"/", "/"},
        {"/..", "/"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(_fullpath(out, c.relative, sizeof(out)), out) << c.relative;
        EXPECT_EQ(std::string(out), c.expected) << c.relative;
    }
    ASSERT_EQ(_fullpath(out, nullptr, sizeof(out)), out);
    EXPECT_EQ(std::string(out), here);
    // Nothing needs to exist and no link is followed: it is text.
    ASSERT_EQ(_fullpath(out, "no/such/../thing", sizeof(out)), out);
    EXPECT_EQ(std::string(out), here + "/no/thing");
}

TEST(PlatformFullPath, CapacityCountsTheTerminatorAndNullAllocates) {
    TempDir dir;
    InDirectory in(dir.path());
    char* cwd = getcwd(nullptr, 0);
    const std::string expected = std::string(cwd) + "/abc";
    free(cwd);
    const size_t length = expected.size();

    std::string out(length + 8, '#');
    EXPECT_EQ(_fullpath(&out[0], "abc", length + 1), &out[0]);
    EXPECT_EQ(std::string(out.c_str()), expected);

    out.assign(length + 8, '#');
    errno = 0;
    EXPECT_EQ(_fullpath(&out[0], "abc", length), nullptr);
    EXPECT_EQ(errno, ERANGE);
    // Nothing is written past the capacity it was given.
    EXPECT_EQ(out[length], '#');
    errno = 0;
    EXPECT_EQ(_fullpath(&out[0], "abc", 0), nullptr);
    EXPECT_EQ(errno, ERANGE);

    // A null destination: a malloc block sized to fit, capacity ignored.
    char* allocated = _fullpath(nullptr, "abc", 1);
    ASSERT_NE(allocated, nullptr);
    EXPECT_EQ(std::string(allocated), expected);
    free(allocated);

    if (zvtest::Family9x()) {
        errno = 0;
        SetLastError(0);
        EXPECT_EQ(_wfullpath(nullptr, u"abc", 100), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_CALL_NOT_IMPLEMENTED));
        return;
    }
    std::u16string wexpected = Wide(expected);
    std::u16string wout(length + 8, u'#');
    EXPECT_EQ(_wfullpath(&wout[0], u"abc", length + 1), &wout[0]);
    EXPECT_EQ(std::u16string(wout.c_str()), wexpected);
    wout.assign(length + 8, u'#');
    errno = 0;
    EXPECT_EQ(_wfullpath(&wout[0], u"abc", length), nullptr);
    EXPECT_EQ(errno, ERANGE);
    EXPECT_EQ(wout[length], u'#');
    char16_t* wallocated = _wfullpath(nullptr, u"abc", 0);
    ASSERT_NE(wallocated, nullptr);
    EXPECT_EQ(std::u16string(wallocated), wexpected);
    free(wallocated);
}

TEST(PlatformFullPath, NarrowResultIsLatin1AndWideKeepsItsUnits) {
    TempDir dir;
    // U+00E9 fits ISO-8859-1; U+20AC does not.
    ASSERT_EQ(mkdir(dir.file("\xC3\xA9").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.file("\xC3\xA9/\xE2\x82\xAC").c_str(), 0700), 0);
    InDirectory in(dir.file("\xC3\xA9/\xE2\x82\xAC"));
    char* cwd = getcwd(nullptr, 0);
    std::string host = cwd;
    free(cwd);
    const std::string base = host.substr(0, host.size() - strlen("/\xC3\xA9/\xE2\x82\xAC"));

    char out[1024];
    ASSERT_NE(_fullpath(out, "f\xFF", sizeof(out)), nullptr);
    EXPECT_EQ(std::string(out), base + "/\xE9/?/f\xFF");

    if (zvtest::Family9x()) return;
    char16_t wout[1024];
    // Units that are no valid UTF-16 come back as they went in.
    const char16_t relative[] = {u'g', 0xD800, 0};
    ASSERT_NE(_wfullpath(wout, relative, 1024), nullptr);
    EXPECT_EQ(std::u16string(wout), Wide(base) + u"/\u00E9/\u20AC/g\xD800");
}
