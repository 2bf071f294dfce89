// The runtime library's narrow-name file opening (_fsopen) and the file
// moves (MoveFileA, MoveFileExA) of the emulated machine.
#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <string>

#include "platform/win32.h"
#include "platform_util.h"
#include "support.h"

namespace {

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(CrtFiles, FsopenTakesLatin1NamesAndWindowsModes) {
    zvtest::TempDir dir;
    // "caf\xE9" in the ANSI code page is "café" on the host, in UTF-8.
    const std::string narrow = dir.path() + "/caf\xE9.txt";
    for (const char* mode : {"wt", "a+b"}) {  // the second appends, and also reads
        FILE* file = _fsopen(narrow.c_str(), mode, _SH_DENYNO);
        ASSERT_NE(file, nullptr) << mode;
        fputs(mode, file);
        fseek(file, 0, SEEK_SET);
        EXPECT_EQ(fgetc(file), mode[1] == 't' ? EOF : 'w') << mode;
        fclose(file);
    }
    EXPECT_EQ(Read(dir.path() + "/caf\xC3\xA9.txt"), "wta+b");

    const std::string missing = dir.path() + "/missing", nested = missing + "/x", x = dir.path() + "/x";
    for (auto [name, mode, error] :
         {std::tuple<const char*, const char*, int>{dir.path().c_str(), "r", EACCES},  // a directory, as on Windows
          {missing.c_str(), "r", ENOENT}, {"", "r", ENOENT}, {nested.c_str(), "w", ENOENT},
          {x.c_str(), "x", EINVAL}, {nullptr, "r", EINVAL}, {x.c_str(), nullptr, EINVAL}}) {
        errno = 0;
        EXPECT_EQ(_fsopen(name, mode, _SH_DENYNO), nullptr) << name << " " << mode;
        EXPECT_EQ(errno, error) << name << " " << mode;
    }
    struct stat info;
    EXPECT_NE(lstat(x.c_str(), &info), 0);
}

TEST(CrtFiles, MovesRenameButReplaceOnlyFilesAndOnlyOnNt) {
    zvtest::TempDir dir;
    const std::string a = dir.file("a"), b = dir.file("b"), missing = dir.file("missing");
    std::ofstream(a) << "new";
    std::ofstream(b) << "old";
    ASSERT_EQ(mkdir(dir.file("d").c_str(), 0700), 0);
    struct {
        const char* from;
        std::string to;
        DWORD flags, error;
    } failures[] = {
        {a.c_str(), b, 0, ERROR_ALREADY_EXISTS},  // never replaces without the flag
        {missing.c_str(), dir.file("c"), 0, ERROR_FILE_NOT_FOUND},
        {a.c_str(), dir.file("no/dir/c"), 0, ERROR_PATH_NOT_FOUND},
        {nullptr, b, 0, ERROR_INVALID_PARAMETER},
        {"", b, 0, ERROR_PATH_NOT_FOUND},
        {a.c_str(), dir.file("d"), MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED},  // an empty directory stays
        {a.c_str(), b, 0x8 /* MOVEFILE_WRITE_THROUGH */, ERROR_INVALID_PARAMETER},
    };
    for (const auto& f : failures) {
        SCOPED_TRACE(f.to);
        EXPECT_FAILS(f.flags ? MoveFileExA(f.from, f.to.c_str(), f.flags) : MoveFileA(f.from, f.to.c_str()),
                     zvtest::Family9x() && f.flags ? DWORD(ERROR_CALL_NOT_IMPLEMENTED) : f.error);
        EXPECT_FAILS(MoveFileExA(f.from, f.to.c_str(), f.flags), zvtest::Family9x() ? DWORD(ERROR_CALL_NOT_IMPLEMENTED) : f.error);
    }
    EXPECT_EQ(Read(a), "new");
    EXPECT_EQ(Read(b), "old");
    if (!zvtest::Family9x()) {
        EXPECT_TRUE(MoveFileExA(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING));
        EXPECT_EQ(Read(b), "new");
    }
    // Latin-1 names reach the host as UTF-8.
    EXPECT_TRUE(MoveFileA(b.c_str(), dir.file("\xE9").c_str()));
    EXPECT_EQ(Read(dir.file("\xC3\xA9")), zvtest::Family9x() ? "old" : "new");
}
