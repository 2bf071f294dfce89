// Files, directories, full paths and dynamic libraries, on the wide
// and on the narrow path (on the 9x family only the narrow path exists).
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "frame/frame.h"
#include "os/os.h"
#include "support.h"
#include "zv.h"

namespace {

namespace fs = std::filesystem;
using zvtest::W;
using Width = zvtest::ScopedValue<uint16_t>;

int32_t MakeDir(const std::string& path) { return ZVCreateDirectory(W(path.c_str()).c_str()); }
int32_t RemoveDir(const std::string& path) { return ZVRemoveDirectory(W(path.c_str()).c_str()); }
int32_t Delete(const std::string& path) { return zv::ZVDeleteFile(zvtest::SystemText(W(path.c_str()).c_str())); }
ZVHANDLE Open(const std::string& path) { return ZVOpenLibrary(W(path.c_str()).c_str()); }
ZVWCHAR* FullPath(ZVWCHAR* out, const std::string& path, uint32_t capacity) {
    return ZVGetFullPath(out, W(path.c_str()).c_str(), capacity);
}
void Touch(const std::string& path) { std::ofstream(path) << "x"; }

// A path of exactly `length` characters under `path` whose parents exist.
std::string PathOfLength(std::string path, size_t length) {
    for (char fill = 'a'; length - path.size() - 1 > 200; ++fill)
        fs::create_directory(path += "/" + std::string(200, fill));
    return path + "/" + std::string(length - path.size() - 1, 'z');
}

#if defined(_WIN32)
constexpr char16_t kSeparator = u'\\';
// The file system's own form of a narrow name: Windows reads its bytes in
// the ANSI code page.
std::u16string AnsiName(const std::string& bytes) {
    wchar_t out[600];
    int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), int(bytes.size()), out, 600);
    return std::u16string(out, out + length);
}
#else
constexpr char16_t kSeparator = u'/';
#endif

// A path as the library's wide text.
std::u16string WidePath(const fs::path& path) {
#if defined(_WIN32)
    const std::wstring text = path.wstring();
    return std::u16string(text.begin(), text.end());
#else
    return W(path.c_str());
#endif
}

// Makes `path` the current directory for one scope.
struct InDirectory {
    explicit InDirectory(const fs::path& path) { fs::current_path(path); }
    ~InDirectory() { fs::current_path(old); }
    fs::path old = fs::current_path();
};

TEST(Files, DirectoriesAndDeletionOnBothPaths) {
    for (uint16_t wide : zvtest::CallWidths()) {
        Width width(zv::g_wideCalls, wide);
        zvtest::TempDir dir;
        const std::string sub = dir.file("sub"), file = sub + "/file";
        EXPECT_NE(MakeDir(sub), 0) << wide;
        ZVTEST_EXPECT_FAILS(MakeDir(sub), 0, ERROR_ALREADY_EXISTS);
        ZVTEST_EXPECT_FAILS(MakeDir(dir.file("no/parent")), 0, ERROR_PATH_NOT_FOUND);
        Touch(file);  // a directory holding a file stays, and so does the file
        ZVTEST_EXPECT_FAILS(RemoveDir(sub), 0, ERROR_DIR_NOT_EMPTY);
        ZVTEST_EXPECT_FAILS(Delete(sub), 0, ERROR_ACCESS_DENIED);
        EXPECT_NE(Delete(file), 0);
        ZVTEST_EXPECT_FAILS(Delete(file), 0, ERROR_FILE_NOT_FOUND);
        EXPECT_NE(RemoveDir(sub), 0);
        ZVTEST_EXPECT_FAILS(RemoveDir(sub), 0, ERROR_FILE_NOT_FOUND);
        // U+00E9 narrows to the byte 0xE9.  The POSIX layer reads a narrow
        // name as ISO-8859-1, so both paths name the same directory; Windows
        // reads it in the ANSI code page.
        EXPECT_NE(ZVCreateDirectory((W(dir.file("caf").c_str()) + u"\u00E9").c_str()), 0);
#if defined(_WIN32)
        const std::u16string made = WidePath(dir.file("caf")) + (wide ? u"\u00E9" : AnsiName("\xE9"));
        EXPECT_TRUE(fs::is_directory(std::wstring(made.begin(), made.end()))) << wide;
#else
        EXPECT_TRUE(fs::is_directory(dir.file("caf\xC3\xA9"))) << wide;
#endif
    }
}

TEST(Files, NarrowPathTakesNamesOf511CharactersAndRefuses512) {
    Width narrow(zv::g_wideCalls, 0);
    zvtest::TempDir dir;
    const std::string fits = PathOfLength(dir.path(), 511), tooLong = fits + "z";
    EXPECT_TRUE(MakeDir(fits) && RemoveDir(fits));
    Touch(fits);
    EXPECT_TRUE(Delete(fits) && !fs::exists(fits));
    // One character more is refused before anything reaches the file system.
    ZVTEST_EXPECT_FAILS(MakeDir(tooLong), 0, ERROR_FILENAME_EXCED_RANGE);
    ASSERT_TRUE(fs::create_directory(tooLong));
    ZVTEST_EXPECT_FAILS(RemoveDir(tooLong), 0, ERROR_FILENAME_EXCED_RANGE);
    ASSERT_TRUE(fs::remove(tooLong));
    Touch(tooLong);
    ZVTEST_EXPECT_FAILS(Delete(tooLong), 0, ERROR_FILENAME_EXCED_RANGE);
    EXPECT_TRUE(fs::exists(tooLong));
    zv::g_wideCalls = 1;  // the wide path has no such buffer (`narrow` restores the switch)
    EXPECT_TRUE(zvtest::Family9x() || Delete(tooLong) != 0);
}

TEST(FullPath, JoinsTheCurrentDirectoryWithinItsBuffers) {
    zvtest::TempDir dir;
#if defined(_WIN32)
    const fs::path accented = fs::path(dir.path()) / L"\u00E9";
#else
    const fs::path accented = dir.file("\xC3\xA9");
#endif
    fs::create_directory(accented);
    InDirectory in(accented);
    const std::u16string parent = WidePath(fs::current_path().parent_path());
    for (uint16_t wide : zvtest::CallWidths()) {
        Width width(zv::g_wideCalls, wide);
        // The narrow path widens the byte 0xE9 to 0xFFE9, which narrows back
        // to 0xE9 and so still names the directory.
        const std::u16string expected = parent + kSeparator + (wide ? u"\u00E9" : u"\uFFE9") + kSeparator + u"name";
        const uint32_t exact = uint32_t(expected.size() + 1);  // the capacity counts the terminator
        ZVWCHAR out[600];
        std::fill(out, out + 600, u'#');
        EXPECT_EQ(ZVGetFullPath(out, u"name", exact - 1), nullptr);
        EXPECT_EQ(out[exact - 1], u'#');
        EXPECT_EQ(ZVGetFullPath(out, u"name", exact), out);
        EXPECT_EQ(std::u16string(out), expected);
        EXPECT_NE(ZVCreateDirectory(out), 0);
        EXPECT_TRUE(fs::remove("name"));
        ZVWCHAR* allocated = ZVGetFullPath(nullptr, u"name", 1);  // sized to fit, freed with ZVFree
        ASSERT_NE(allocated, nullptr);
        EXPECT_EQ(std::u16string(allocated), expected);
        ZVFree(allocated);
    }
    // The narrow path is bounded by its two buffers: an input of 512
    // characters is refused before it reaches the system.
    Width narrow(zv::g_wideCalls, 0);
    ZVWCHAR out[1100];
    const std::string fits = "/" + std::string(200, 'a') + "/" + std::string(200, 'b') + "/" + std::string(108, 'c');
    ZVTEST_EXPECT_FAILS(FullPath(out, fits + "c", 1100), nullptr, ERROR_FILENAME_EXCED_RANGE);
#if !defined(_WIN32)  // Windows' own narrow calls stop at 260 characters
    EXPECT_EQ(FullPath(out, fits, 1100), out);  // 511 characters fit
    EXPECT_EQ(std::u16string(out), W(fits.c_str()));
    // From the root, a relative input of 511 characters fits its buffer but
    // its result of 512 does not, whatever the caller's capacity.
    InDirectory root("/");
    EXPECT_EQ(FullPath(out, fits.substr(1) + "c", 1100), nullptr);
    EXPECT_EQ(FullPath(nullptr, fits.substr(1) + "c", 0), nullptr);
#endif
}

TEST(Libraries, OpenFindCloseAndNameLimits) {
    for (uint16_t wide : zvtest::CallWidths()) {
        Width width(zv::g_wideCalls, wide);
        ZVHANDLE library = Open(ZV_TEST_LIBRARY_PATH);
        ASSERT_NE(library, nullptr) << wide;
        auto add = reinterpret_cast<int (*)(int, int)>(ZVGetSymbol(library, u"ZvTestAdd"));
        ASSERT_NE(add, nullptr) << wide;
        EXPECT_EQ(add(40, 2), 42);
        ZVTEST_EXPECT_FAILS(ZVGetSymbol(library, u"NoSuchExport"), nullptr, ERROR_PROC_NOT_FOUND);
        EXPECT_EQ(Open(ZV_TEST_LIBRARY_PATH), library);  // the same module, closed once per open
        EXPECT_EQ(ZVCloseLibrary(library), S_OK);
        EXPECT_EQ(ZVCloseLibrary(library), S_OK);
        EXPECT_EQ(ZVCloseLibrary(library), E_FAIL);
        ZVTEST_EXPECT_FAILS(ZVOpenLibrary(u"/no/such/library.so"), nullptr, ERROR_MOD_NOT_FOUND);
    }
    // Handles that are no module: an event's, made-up values, a pointer.
    ZVHANDLE event = ZVCreateEvent(1, 0, nullptr);
    int local = 0;
    for (ZVHANDLE bogus : {ZVHANDLE(nullptr), ZV_INVALID_HANDLE, event, ZVHANDLE(&local), ZVHANDLE(0x10000)}) {
        EXPECT_EQ(ZVCloseLibrary(bogus), E_FAIL);
        EXPECT_EQ(ZVGetSymbol(bogus, u"ZvTestAdd"), nullptr);
    }
    EXPECT_EQ(ZVCloseEvent(event), 1);  // still an event
    // Name limits: a library name on the narrow path, a symbol name on both.
    zvtest::TempDir dir;
#if defined(_WIN32)
    // Windows adds ".dll" to a name without an extension, and its own calls
    // cannot make a file of 260 characters; the name one past the buffer is
    // refused before anything looks for it.
    const std::string fits = PathOfLength(dir.path(), 255) + ".dll", tooLong = fits + "z";
#else
    const std::string fits = PathOfLength(dir.path(), 259), tooLong = fits + "z";
    fs::copy_file(ZV_TEST_LIBRARY_PATH, tooLong);
#endif
    fs::copy_file(ZV_TEST_LIBRARY_PATH, fits);
    Width narrow(zv::g_wideCalls, 0);
    ZVHANDLE library = Open(fits);  // 259 characters fit the 260-byte buffer
    ASSERT_NE(library, nullptr);
    ZVTEST_EXPECT_FAILS(Open(tooLong), nullptr, ERROR_FILENAME_EXCED_RANGE);
    // Symbol names are narrowed into 512 bytes on both paths: of the
    // library's exports named with 511 and 512 characters, only the first
    // is found.
    const std::string name511 = "ZvLongSymbol" + std::string(499, 'x'), name512 = name511 + "x";
    ASSERT_NE(GetProcAddress(static_cast<HMODULE>(library), name512.c_str()), nullptr);
    for (uint16_t wide : zvtest::CallWidths()) {
        Width width(zv::g_wideCalls, wide);
        auto fn = reinterpret_cast<int (*)()>(ZVGetSymbol(library, W(name511.c_str()).c_str()));
        ASSERT_NE(fn, nullptr) << wide;
        EXPECT_EQ(fn(), 511);
        ZVTEST_EXPECT_FAILS(ZVGetSymbol(library, W(name512.c_str()).c_str()), nullptr, ERROR_PROC_NOT_FOUND);
#if !defined(_WIN32)  // Windows' own LoadLibraryW stops at 260 characters
        EXPECT_TRUE(!wide || ZVCloseLibrary(Open(tooLong)) == S_OK);  // the wide path has no such buffer
#endif
    }
    EXPECT_EQ(ZVCloseLibrary(library), S_OK);
}

}  // namespace
