// Files, directories, full paths, time and dynamic libraries, on the wide
// and on the narrow path (the wide-call switch is flipped where the family
// has both; on the 9x family only the narrow path exists).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "frame/frame.h"
#include "os/os.h"
#include "platform/posix/handles.h"
#include "support.h"
#include "zv.h"

namespace {

using zvtest::TempDir;
using zvtest::W;

bool Exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

bool IsDir(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void Touch(const std::string& path) { std::ofstream(path) << "x"; }

// Sets the wide-call switch for one scope.
class PathChoice {
  public:
    explicit PathChoice(uint16_t wide) : saved_(zv::g_wideCalls) { zv::g_wideCalls = wide; }
    ~PathChoice() { zv::g_wideCalls = saved_; }

  private:
    uint16_t saved_;
};

// The paths this family has: narrow always, wide on the NT family.
std::vector<uint16_t> Paths() {
    if (zvtest::Family9x()) return {0};
    return {0, 1};
}

const char* Name(uint16_t wide) { return wide ? "wide path" : "narrow path"; }

// A path of exactly `length` characters under `base` whose parent exists:
// components of at most 200 characters, the directories on the way made.
std::string PathOfLength(const std::string& base, size_t length) {
    std::string path = base;
    char fill = 'a';
    while (length - path.size() - 1 > 200) {
        path += "/" + std::string(200, fill++);
        EXPECT_EQ(mkdir(path.c_str(), 0700), 0) << path;
    }
    path += "/" + std::string(length - path.size() - 1, 'z');
    EXPECT_EQ(path.size(), length);
    return path;
}

std::string CurrentDirectory() {
    char* cwd = getcwd(nullptr, 0);
    std::string result = cwd;
    free(cwd);
    return result;
}

class InDirectory {
  public:
    explicit InDirectory(const std::string& path) : old_(CurrentDirectory()) {
        EXPECT_EQ(chdir(path.c_str()), 0);
    }
    ~InDirectory() { EXPECT_EQ(chdir(old_.c_str()), 0); }

  private:
    std::string old_;
};

}  // namespace

TEST(Files, WideCallSwitchMatchesTheFamily) { EXPECT_EQ(zv::g_wideCalls, zvtest::Family9x() ? 0 : 1); }

TEST(Files, DirectoriesAndDeletionOnBothPaths) {
    for (uint16_t wide : Paths()) {
        PathChoice choice(wide);
        TempDir dir;
        const std::string sub = dir.file("sub");
        EXPECT_NE(ZVCreateDirectory(W(sub.c_str()).c_str()), 0) << Name(wide);
        EXPECT_TRUE(IsDir(sub));

        SetLastError(0);
        EXPECT_EQ(ZVCreateDirectory(W(sub.c_str()).c_str()), 0) << Name(wide);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
        SetLastError(0);
        EXPECT_EQ(ZVCreateDirectory(W(dir.file("no/parent").c_str()).c_str()), 0);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
        EXPECT_FALSE(Exists(dir.file("no")));

        // A directory holding a file stays, and so does the file.
        Touch(sub + "/file");
        SetLastError(0);
        EXPECT_EQ(ZVRemoveDirectory(W(sub.c_str()).c_str()), 0) << Name(wide);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_DIR_NOT_EMPTY));
        EXPECT_TRUE(Exists(sub + "/file"));

        // ZVDeleteFile removes the file and nothing else.
        EXPECT_NE(zv::ZVDeleteFile(W((sub + "/file").c_str()).c_str()), 0) << Name(wide);
        EXPECT_FALSE(Exists(sub + "/file"));
        SetLastError(0);
        EXPECT_EQ(zv::ZVDeleteFile(W((sub + "/file").c_str()).c_str()), 0);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
        SetLastError(0);
        EXPECT_EQ(zv::ZVDeleteFile(W(sub.c_str()).c_str()), 0);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
        EXPECT_TRUE(IsDir(sub));

        EXPECT_NE(ZVRemoveDirectory(W(sub.c_str()).c_str()), 0) << Name(wide);
        EXPECT_FALSE(Exists(sub));
        SetLastError(0);
        EXPECT_EQ(ZVRemoveDirectory(W(sub.c_str()).c_str()), 0);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    }
}

TEST(Files, OnTheNinexFamilyTheWidePathFails) {
    if (!zvtest::Family9x()) GTEST_SKIP() << "the NT family has the wide calls";
    // Forcing the switch on shows the wide calls are really missing here.
    PathChoice choice(1);
    TempDir dir;
    SetLastError(0);
    EXPECT_EQ(ZVCreateDirectory(W(dir.file("x").c_str()).c_str()), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CALL_NOT_IMPLEMENTED));
    EXPECT_EQ(ZVOpenLibrary(W(ZV_TEST_LIBRARY_PATH).c_str()), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CALL_NOT_IMPLEMENTED));
}

TEST(Files, NarrowPathTakesNamesOf511CharactersAndRefuses512) {
    PathChoice choice(0);
    TempDir dir;
    const std::string fits = PathOfLength(dir.path(), 511);
    const std::string tooLong = fits + "z";
    EXPECT_NE(ZVCreateDirectory(W(fits.c_str()).c_str()), 0);
    EXPECT_TRUE(IsDir(fits));
    EXPECT_NE(ZVRemoveDirectory(W(fits.c_str()).c_str()), 0);
    Touch(fits);
    EXPECT_NE(zv::ZVDeleteFile(W(fits.c_str()).c_str()), 0);
    EXPECT_FALSE(Exists(fits));

    // One more character does not fit the staging buffer: refused, and
    // nothing reaches the file system.
    SetLastError(0);
    EXPECT_EQ(ZVCreateDirectory(W(tooLong.c_str()).c_str()), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_FALSE(Exists(tooLong));
    ASSERT_EQ(mkdir(tooLong.c_str(), 0700), 0);
    SetLastError(0);
    EXPECT_EQ(ZVRemoveDirectory(W(tooLong.c_str()).c_str()), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_TRUE(IsDir(tooLong));
    ASSERT_EQ(rmdir(tooLong.c_str()), 0);
    Touch(tooLong);
    SetLastError(0);
    EXPECT_EQ(zv::ZVDeleteFile(W(tooLong.c_str()).c_str()), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_TRUE(Exists(tooLong));

    // The wide path has no such buffer.
    if (!zvtest::Family9x()) {
        PathChoice wide(1);
        EXPECT_NE(zv::ZVDeleteFile(W(tooLong.c_str()).c_str()), 0);
        EXPECT_FALSE(Exists(tooLong));
    }
}

TEST(Files, NonAsciiNamesNameTheSameFileOnBothPaths) {
    TempDir dir;
    // U+00E9: narrowed to the byte 0xE9, which the narrow calls read as
    // ISO-8859-1; the wide calls see U+00E9 itself.
    std::u16string name = W(dir.file("caf").c_str()) + u"\u00E9";
    for (uint16_t wide : Paths()) {
        PathChoice choice(wide);
        EXPECT_NE(ZVCreateDirectory(name.c_str()), 0) << Name(wide);
        EXPECT_TRUE(IsDir(dir.file("caf\xC3\xA9"))) << Name(wide);
        EXPECT_NE(ZVRemoveDirectory(name.c_str()), 0) << Name(wide);
    }
}

TEST(FullPath, JoinsTheCurrentDirectoryOnBothPaths) {
    TempDir dir;
    InDirectory in(dir.path());
    const std::u16string here = W(CurrentDirectory().c_str());
    const std::u16string expected = here + u"/name";
    for (uint16_t wide : Paths()) {
        PathChoice choice(wide);
        ZVWCHAR out[600];
        std::fill(out, out + 600, u'#');
        EXPECT_EQ(ZVGetFullPath(out, u"name", 600), out) << Name(wide);
        EXPECT_EQ(std::u16string(out), expected) << Name(wide);
        EXPECT_EQ(ZVGetFullPath(out, u"a/./b/../c", 600), out);
        EXPECT_EQ(std::u16string(out), here + u"/a/c");

        // The capacity counts the terminator.
        const uint32_t exact = uint32_t(expected.size() + 1);
        std::fill(out, out + 600, u'#');
        EXPECT_EQ(ZVGetFullPath(out, u"name", exact), out) << Name(wide);
        EXPECT_EQ(std::u16string(out), expected);
        std::fill(out, out + 600, u'#');
        EXPECT_EQ(ZVGetFullPath(out, u"name", exact - 1), nullptr) << Name(wide);
        EXPECT_EQ(out[exact - 1], u'#');
        EXPECT_EQ(ZVGetFullPath(out, u"name", 0), nullptr);

        // A null destination: a heap block sized to fit, freed with ZVFree.
        ZVWCHAR* allocated = ZVGetFullPath(nullptr, u"name", 1);
        ASSERT_NE(allocated, nullptr) << Name(wide);
        EXPECT_EQ(std::u16string(allocated), expected);
        ZVFree(allocated);
    }
}

TEST(FullPath, NarrowPathIsBoundedByItsTwoBuffers) {
    PathChoice choice(0);
    ZVWCHAR out[1100];
    // An absolute path of 511 characters fits both buffers.
    std::string fits = "/" + std::string(200, 'a') + "/" + std::string(200, 'b') + "/" + std::string(108, 'c');
    ASSERT_EQ(fits.size(), 511u);
    EXPECT_EQ(ZVGetFullPath(out, W(fits.c_str()).c_str(), 1100), out);
    EXPECT_EQ(std::u16string(out), W(fits.c_str()));
    // 512 characters do not fit the buffer of the relative path.
    SetLastError(0);
    EXPECT_EQ(ZVGetFullPath(out, W((fits + "c").c_str()).c_str(), 1100), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILENAME_EXCED_RANGE));
    // From the root a relative input of 511 characters, which fits its
    // buffer, makes a result of 512, which does not fit the output buffer
    // whatever the caller's capacity.
    InDirectory in("/");
    std::string relative = fits.substr(1) + "c";
    ASSERT_EQ(relative.size(), 511u);
    EXPECT_EQ(ZVGetFullPath(out, W(relative.c_str()).c_str(), 1100), nullptr);
    EXPECT_EQ(ZVGetFullPath(nullptr, W(relative.c_str()).c_str(), 0), nullptr);
    relative.pop_back();
    EXPECT_EQ(ZVGetFullPath(out, W(relative.c_str()).c_str(), 1100), out);
    EXPECT_EQ(std::u16string(out), W(("/" + relative).c_str()));
}

TEST(FullPath, NonAsciiDirectoryOnEachPath) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("\xC3\xA9").c_str(), 0700), 0);  // é
    InDirectory in(dir.file("\xC3\xA9"));
    const std::string base = CurrentDirectory();
    const std::u16string asciiPart = W(base.substr(0, base.size() - 2).c_str());
    ZVWCHAR out[600];
    if (!zvtest::Family9x()) {
        PathChoice choice(1);
        ASSERT_EQ(ZVGetFullPath(out, u"x", 600), out);
        EXPECT_EQ(std::u16string(out), asciiPart + u"\u00E9/x");
    }
    PathChoice choice(0);
    ASSERT_EQ(ZVGetFullPath(out, u"x", 600), out);
    // The narrow result is widened by sign extension: 0xE9 becomes 0xFFE9,
    // which narrows back to 0xE9 and so still names the directory.
    EXPECT_EQ(std::u16string(out), asciiPart + u"\uFFE9/x");
    EXPECT_NE(ZVCreateDirectory(out), 0);
    EXPECT_TRUE(IsDir(base + "/x"));
}

TEST(Time, TickCountAndLocalTime) {
    uint32_t tick = ZVGetTickCount();
    uint32_t platform = GetTickCount();
    EXPECT_LT(platform - tick, 1000u);

    setenv("TZ", "UTC0", 1);
    tzset();
    SYSTEMTIME st;
    memset(&st, 0xFF, sizeof(st));
    time_t before = time(nullptr);
    ZVGetLocalTime(&st);
    time_t after = time(nullptr);
    // All eight fields are written and in range.
    EXPECT_GE(st.wYear, 2020);
    EXPECT_TRUE(st.wMonth >= 1 && st.wMonth <= 12);
    EXPECT_LE(st.wDayOfWeek, 6);
    EXPECT_TRUE(st.wDay >= 1 && st.wDay <= 31);
    EXPECT_LE(st.wHour, 23);
    EXPECT_LE(st.wMinute, 59);
    EXPECT_LE(st.wSecond, 59);
    EXPECT_LE(st.wMilliseconds, 999);
    struct tm fields = {};
    fields.tm_year = st.wYear - 1900;
    fields.tm_mon = st.wMonth - 1;
    fields.tm_mday = st.wDay;
    fields.tm_hour = st.wHour;
    fields.tm_min = st.wMinute;
    fields.tm_sec = st.wSecond;
    time_t when = timegm(&fields);
    EXPECT_GE(when, before);
    EXPECT_LE(when, after);
    struct tm check;
    gmtime_r(&when, &check);
    EXPECT_EQ(st.wDayOfWeek, check.tm_wday);
}

TEST(Libraries, OpenFindAndCloseOnBothPaths) {
    for (uint16_t wide : Paths()) {
        PathChoice choice(wide);
        ZVHANDLE library = ZVOpenLibrary(W(ZV_TEST_LIBRARY_PATH).c_str());
        ASSERT_NE(library, nullptr) << Name(wide);

        using Add = int (*)(int, int);
        Add add = reinterpret_cast<Add>(ZVGetSymbol(library, u"ZvTestAdd"));
        ASSERT_NE(add, nullptr) << Name(wide);
        EXPECT_EQ(add(40, 2), 42);
        int* counter = static_cast<int*>(ZVGetSymbol(library, u"zv_test_counter"));
        ASSERT_NE(counter, nullptr);
        EXPECT_EQ(*counter, 42);
        SetLastError(0);
        EXPECT_EQ(ZVGetSymbol(library, u"NoSuchExport"), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));

        // A second open is the same module, closed once per open.
        ZVHANDLE again = ZVOpenLibrary(W(ZV_TEST_LIBRARY_PATH).c_str());
        EXPECT_EQ(again, library);
        EXPECT_EQ(ZVCloseLibrary(again), S_OK);
        EXPECT_EQ(ZVCloseLibrary(library), S_OK) << Name(wide);
        EXPECT_EQ(ZVCloseLibrary(library), E_FAIL) << Name(wide);

        SetLastError(0);
        EXPECT_EQ(ZVOpenLibrary(u"/no/such/library.so"), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
    }
}

TEST(Libraries, HandlesThatAreNoModuleFail) {
    class Event : public zvp::KernelObject {
      public:
        Event() : KernelObject(zvp::ObjectKind::Event) {}
    };
    HANDLE event = zvp::InsertHandle(std::make_shared<Event>());
    int local = 0;
    for (ZVHANDLE bogus : {ZVHANDLE(nullptr), ZV_INVALID_HANDLE, ZVHANDLE(event), ZVHANDLE(&local),
                           reinterpret_cast<ZVHANDLE>(uintptr_t(0x10000))}) {
        EXPECT_EQ(ZVCloseLibrary(bogus), E_FAIL);
        EXPECT_EQ(ZVGetSymbol(bogus, u"ZvTestAdd"), nullptr);
    }
    EXPECT_NE(zvp::LookupHandle(event, zvp::ObjectKind::Event), nullptr);
    zvp::RemoveHandle(event);
}

TEST(Libraries, NarrowNameLimitsAndSymbolNameLimits) {
    TempDir dir;
    ZVHANDLE library;
    {
        PathChoice choice(0);
        // A library file name of 259 characters fits its 260-byte buffer.
        const std::string fits = PathOfLength(dir.path(), 259);
        std::filesystem::copy_file(ZV_TEST_LIBRARY_PATH, fits);
        library = ZVOpenLibrary(W(fits.c_str()).c_str());
        ASSERT_NE(library, nullptr);
        // 260 does not: refused before the loader is asked.
        const std::string tooLong = fits + "z";
        std::filesystem::copy_file(ZV_TEST_LIBRARY_PATH, tooLong);
        SetLastError(0);
        EXPECT_EQ(ZVOpenLibrary(W(tooLong.c_str()).c_str()), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_FILENAME_EXCED_RANGE));
        if (!zvtest::Family9x()) {
            PathChoice wide(1);
            ZVHANDLE other = ZVOpenLibrary(W(tooLong.c_str()).c_str());
            EXPECT_NE(other, nullptr);
            EXPECT_EQ(ZVCloseLibrary(other), S_OK);
        }
    }
    // Symbol names are narrowed into 512 bytes on both paths: the library
    // exports names of 511 and of 512 characters, and only the first is
    // found.
    const std::string name511 = "ZvLongSymbol" + std::string(499, 'x');
    const std::string name512 = name511 + "x";
    ASSERT_NE(GetProcAddress(static_cast<HMODULE>(library), name512.c_str()), nullptr);
    for (uint16_t wide : Paths()) {
        PathChoice choice(wide);
        using Fn = int (*)();
        Fn fn = reinterpret_cast<Fn>(ZVGetSymbol(library, W(name511.c_str()).c_str()));
        ASSERT_NE(fn, nullptr) << Name(wide);
        EXPECT_EQ(fn(), 511);
        SetLastError(0);
        EXPECT_EQ(ZVGetSymbol(library, W(name512.c_str()).c_str()), nullptr) << Name(wide);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));
    }
    EXPECT_EQ(ZVCloseLibrary(library), S_OK);
}

TEST(Libraries, NonAsciiLibraryNameOnBothPaths) {
    TempDir dir;
    std::filesystem::copy_file(ZV_TEST_LIBRARY_PATH, dir.file("lib\xC3\xA9.so"));
    std::u16string name = W(dir.file("lib").c_str()) + u"\u00E9.so";
    for (uint16_t wide : Paths()) {
        PathChoice choice(wide);
        ZVHANDLE library = ZVOpenLibrary(name.c_str());
        ASSERT_NE(library, nullptr) << Name(wide);
        EXPECT_NE(ZVGetSymbol(library, u"ZvTestLength"), nullptr);
        EXPECT_EQ(ZVCloseLibrary(library), S_OK);
    }
}
