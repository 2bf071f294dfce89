// The emulated file calls: the Win32 error of every way deletion and the
// directory calls can fail, in both widths, and full paths.
#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/win32.h"
#include "support.h"

namespace {

using zvtest::W;

enum Call { kCreateDirectory, kRemoveDirectory, kDeleteFile };

// One of the calls in the narrow or the wide form; a null name stays null.
BOOL Attempt(Call call, const char* path, bool wide) {
    const std::u16string widePath = W(path ? path : "");
    const char16_t* w = path ? widePath.c_str() : nullptr;
    switch (call) {
        case kCreateDirectory: return wide ? CreateDirectoryW(w, nullptr) : CreateDirectoryA(path, nullptr);
        case kRemoveDirectory: return wide ? RemoveDirectoryW(w) : RemoveDirectoryA(path);
        default: return wide ? DeleteFileW(w) : DeleteFileA(path);
    }
}

}  // namespace

TEST(PlatformFiles, EveryFailureHasItsWin32ErrorAndChangesNothing) {
    zvtest::TempDir dir;
    ASSERT_EQ(mkdir(dir.file("full").c_str(), 0700), 0);
    std::ofstream(dir.file("full/inside")) << "x";
    std::ofstream(dir.file("file")) << "x";
    const std::string file = dir.file("file"), full = dir.file("full"), missing = dir.file("missing");
    const struct {
        Call call;
        std::string path;
        DWORD error;
    } cases[] = {
        {kCreateDirectory, full, ERROR_ALREADY_EXISTS},
        {kCreateDirectory, file, ERROR_ALREADY_EXISTS},
        {kCreateDirectory, missing + "/child", ERROR_PATH_NOT_FOUND},
        {kCreateDirectory, file + "/child", ERROR_PATH_NOT_FOUND},
        {kRemoveDirectory, full, ERROR_DIR_NOT_EMPTY},
        {kRemoveDirectory, missing, ERROR_FILE_NOT_FOUND},
        {kRemoveDirectory, missing + "/child", ERROR_PATH_NOT_FOUND},
        {kRemoveDirectory, file, ERROR_DIRECTORY},
        {kRemoveDirectory, file + "/x", ERROR_PATH_NOT_FOUND},
        {kDeleteFile, missing, ERROR_FILE_NOT_FOUND},
        {kDeleteFile, missing + "/a", ERROR_PATH_NOT_FOUND},
        {kDeleteFile, full, ERROR_ACCESS_DENIED},
    };
    for (bool wide : {false, true}) {
        for (Call call : {kCreateDirectory, kRemoveDirectory, kDeleteFile}) {
            // Null names nothing, as the empty name does.
            for (const char* path : {"", static_cast<const char*>(nullptr)}) {
                SetLastError(0);
                EXPECT_FALSE(Attempt(call, path, wide)) << call << " " << wide;
                EXPECT_EQ(GetLastError(), DWORD(wide && zvtest::Family9x() ? ERROR_CALL_NOT_IMPLEMENTED : ERROR_PATH_NOT_FOUND)) << call;
            }
        }
        for (const auto& c : cases) {
            SetLastError(0);
            EXPECT_FALSE(Attempt(c.call, c.path.c_str(), wide)) << c.call << " " << c.path;
            EXPECT_EQ(GetLastError(), DWORD(wide && zvtest::Family9x() ? ERROR_CALL_NOT_IMPLEMENTED : c.error)) << c.path;
        }
    }
    EXPECT_TRUE(std::filesystem::exists(dir.file("full/inside")));
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_FALSE(std::filesystem::exists(missing));

    // Wide names with characters beyond the BMP reach the host as UTF-8.
    if (!zvtest::Family9x()) {
        EXPECT_TRUE(CreateDirectoryW((W(dir.file("").c_str()) + u"\U0001F600").c_str(), nullptr));
        EXPECT_TRUE(std::filesystem::exists(dir.file("\xF0\x9F\x98\x80")));
    }
}

TEST(PlatformFullPath, JoinsTheCurrentDirectoryAndResolvesDotsAsText) {
    const std::string here = std::filesystem::current_path().string(), parent = here.substr(0, here.rfind('/'));
    char out[1024];
    const struct {
        const char* relative;
        std::string expected;
    } cases[] = {
        {"./a/./b", here + "/a/b"}, {"a/../b", here + "/b"}, {"../x", parent + "/x"}, {"a//b///c", here + "/a/b/c"},
        {"sub/", here + "/sub/"}, {".", here}, {"..", parent}, {"", here},
        {nullptr, here},            {"/usr/./lib/../bin", "/usr/bin"}, {"/../../etc", "/etc"}, {"/..", "/"},
        {"no/such/../thing", here + "/no/thing"},  // nothing needs to exist
    };
    for (const auto& c : cases) {
        ASSERT_EQ(_fullpath(out, c.relative, sizeof(out)), out) << c.relative;
        EXPECT_EQ(std::string(out), c.expected) << c.relative;
    }
}

// How the capacity counts is checked through the library on both paths;
// here the runtime's own error and the block it allocates.
TEST(PlatformFullPath, TooSmallIsERangeAndNullAllocates) {
    const std::string expected = std::filesystem::current_path().string() + "/abc";
    const size_t length = expected.size();
    std::string out(length + 8, '#');
    std::u16string wout(length + 8, u'#');
    for (size_t capacity : {length, size_t(0)}) {
        errno = 0;
        EXPECT_EQ(_fullpath(&out[0], "abc", capacity), nullptr);
        EXPECT_EQ(errno, ERANGE);
        if (zvtest::Family9x()) continue;
        errno = 0;
        EXPECT_EQ(_wfullpath(&wout[0], u"abc", capacity), nullptr);
        EXPECT_EQ(errno, ERANGE);
    }
    EXPECT_EQ(out[length], '#');  // nothing is written past the capacity
    EXPECT_EQ(wout[length], u'#');
    // A null destination: a malloc block sized to fit, capacity ignored.
    char* allocated = _fullpath(nullptr, "abc", 1);
    ASSERT_NE(allocated, nullptr);
    EXPECT_EQ(std::string(allocated), expected);
    free(allocated);
    if (zvtest::Family9x()) {
        SetLastError(0);
        EXPECT_EQ(_wfullpath(nullptr, u"abc", 100), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_CALL_NOT_IMPLEMENTED));
    }
}

TEST(PlatformFullPath, NarrowResultIsLatin1AndWideKeepsItsUnits) {
    zvtest::TempDir dir;
    // U+20AC has no ISO-8859-1 form; U+00E9 in the narrow input has one.
    ASSERT_EQ(mkdir(dir.file("\xE2\x82\xAC").c_str(), 0700), 0);
    const std::filesystem::path saved = std::filesystem::current_path();
    ASSERT_EQ(chdir(dir.file("\xE2\x82\xAC").c_str()), 0);
    const std::string host = std::filesystem::current_path().string();
    const std::string base = host.substr(0, host.size() - strlen("/\xE2\x82\xAC"));
    char out[1024];
    ASSERT_NE(_fullpath(out, "f\xE9", sizeof(out)), nullptr);
    EXPECT_EQ(std::string(out), base + "/?/f\xE9");
    if (!zvtest::Family9x()) {
        char16_t wout[1024];
        // Units that are no valid UTF-16 come back as they went in.
        const char16_t relative[] = {u'g', 0xD800, 0};
        ASSERT_NE(_wfullpath(wout, relative, 1024), nullptr);
        EXPECT_EQ(std::u16string(wout), W(base.c_str()) + u"/\u20AC/g\xD800");
    }
    std::filesystem::current_path(saved);
}

// Listing a directory by a wildcard name: "*" and "?" in the last
// component, every match once, directories marked, names up to the host's
// longest; a missing directory or no match is an error, and a finished or
// closed find handle is refused.
TEST(PlatformFind, ListsTheMatchingNamesOfADirectory) {
    zvtest::TempDir dir;
    const std::string longest(255, 'l');
    // Made under their ANSI (Latin-1) names, which reach the host as UTF-8.
    for (std::string name : {"a.cfg", "a.cfg.1-2.zvtmp", "ab.cfg", "b.cfg", "\xE9t\xE9.cfg", longest.c_str()})
        fclose(_fsopen((dir.path() + "/" + name).c_str(), "w", _SH_DENYNO));
    std::filesystem::create_directory(dir.file("a.dir"));
    auto list = [&](const std::string& pattern) {
        std::vector<std::string> names;
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA((dir.path() + "/" + pattern).c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) return std::vector<std::string>{std::to_string(GetLastError())};
        do names.push_back(std::string(data.cFileName) + (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? "/" : ""));
        while (FindNextFileA(find, &data));
        EXPECT_EQ(DWORD(ERROR_NO_MORE_FILES), GetLastError());
        EXPECT_FALSE(FindNextFileA(find, &data));
        EXPECT_TRUE(FindClose(find));
        EXPECT_FALSE(FindClose(find));
        std::sort(names.begin(), names.end());
        return names;
    };
    using Names = std::vector<std::string>;
    EXPECT_EQ(list("a.*"), (Names{"a.cfg", "a.cfg.1-2.zvtmp", "a.dir/"}));
    EXPECT_EQ(list("?.cfg"), (Names{"a.cfg", "b.cfg"}));
    EXPECT_EQ(list("*t\xE9.cfg"), (Names{"\xE9t\xE9.cfg"}));
    EXPECT_EQ(list("l*"), (Names{longest}));
    EXPECT_EQ(list("*.zvtmp*"), (Names{"a.cfg.1-2.zvtmp"}));
    // A file past 4 GiB (sparse: it takes no room) is listed with both
    // halves of its size; a 32-bit build without the 64-bit file calls
    // could not stat it and left it out.
    ASSERT_EQ(0, truncate((dir.path() + "/" + longest).c_str(), (off_t(5) << 30) + 7));
    WIN32_FIND_DATAA big;
    HANDLE find = FindFirstFileA((dir.path() + "/l*").c_str(), &big);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    EXPECT_EQ(std::make_pair(DWORD(1), DWORD((1u << 30) + 7)), std::make_pair(big.nFileSizeHigh, big.nFileSizeLow));
    EXPECT_TRUE(FindClose(find));
    EXPECT_EQ(list("nothing*"), (Names{"2"}));  // ERROR_FILE_NOT_FOUND
    EXPECT_EQ(list("no/such/*"), (Names{"3"}));  // ERROR_PATH_NOT_FOUND
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA(nullptr, nullptr));
}

TEST(PlatformProcess, GetProcessVersionTellsWhetherAProcessExists) {
    EXPECT_NE(0u, GetProcessVersion(0));
    EXPECT_NE(0u, GetProcessVersion(GetCurrentProcessId()));
    EXPECT_NE(0u, GetProcessVersion(1));  // another user's process exists too
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(0u, GetProcessVersion(DWORD(child)));
    EXPECT_EQ(0u, GetProcessVersion(0xFFFFFFFFu));
}
