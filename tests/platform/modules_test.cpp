// The emulated dynamic libraries: handles of the table over dlopen.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/handles.h"
#include "platform/win32.h"
#include "support.h"

namespace {

class Other : public zvp::KernelObject {
  public:
    Other() : KernelObject(zvp::ObjectKind::Event) {}
};

}  // namespace

TEST(PlatformModules, LoadFindFreeAndReferenceCount) {
    const size_t handlesBefore = zvp::OpenHandleCount();
    HMODULE first = LoadLibraryA(ZV_TEST_LIBRARY_PATH);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(zvp::OpenHandleCount(), handlesBefore + 1);

    using Add = int (*)(int, int);
    Add add = reinterpret_cast<Add>(GetProcAddress(first, "ZvTestAdd"));
    ASSERT_NE(add, nullptr);
    EXPECT_EQ(add(2, 40), 42);
    int* counter = reinterpret_cast<int*>(GetProcAddress(first, "zv_test_counter"));
    ASSERT_NE(counter, nullptr);
    EXPECT_EQ(*counter, 42);

    // Only the module's own exports: not those of the C library it uses.
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(first, "malloc"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(first, "NoSuchExport"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(first, reinterpret_cast<LPCSTR>(uintptr_t(1))), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(first, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));

    // The same module loaded again is the same handle with a second count.
    HMODULE second = LoadLibraryA(ZV_TEST_LIBRARY_PATH);
    EXPECT_EQ(second, first);
    EXPECT_EQ(zvp::OpenHandleCount(), handlesBefore + 1);
    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_EQ(reinterpret_cast<Add>(GetProcAddress(first, "ZvTestAdd")), add);
    EXPECT_TRUE(FreeLibrary(second));
    EXPECT_EQ(zvp::OpenHandleCount(), handlesBefore);

    SetLastError(0);
    EXPECT_FALSE(FreeLibrary(first));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(first, "ZvTestAdd"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST(PlatformModules, HandlesThatAreNoModuleFailWithoutACrash) {
    HANDLE event = zvp::InsertHandle(std::make_shared<Other>());
    ASSERT_NE(event, nullptr);
    for (HMODULE bogus : {HMODULE(nullptr), HMODULE(INVALID_HANDLE_VALUE), event,
                          reinterpret_cast<HMODULE>(uintptr_t(0x7f001234)),
                          reinterpret_cast<HMODULE>(&event)}) {
        SetLastError(0);
        EXPECT_FALSE(FreeLibrary(bogus));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
        SetLastError(0);
        EXPECT_EQ(GetProcAddress(bogus, "ZvTestAdd"), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    }
    // The event is still there: FreeLibrary did not take it out.
    EXPECT_NE(zvp::LookupHandle(event, zvp::ObjectKind::Event), nullptr);
    zvp::RemoveHandle(event);
}

TEST(PlatformModules, LoadFailuresCarryTheirWin32Error) {
    zvtest::TempDir dir;
    struct Case {
        std::string name;
        DWORD error;
    } cases[] = {
        {dir.file("missing.so"), ERROR_MOD_NOT_FOUND},
        {"libzv-no-such-library.so", ERROR_MOD_NOT_FOUND},
        {"", ERROR_MOD_NOT_FOUND},
        {dir.file("text.so"), ERROR_BAD_EXE_FORMAT},
        {ZV_TEST_UNRESOLVED_LIBRARY_PATH, ERROR_PROC_NOT_FOUND},
    };
    std::ofstream(dir.file("text.so")) << "this is no library\n";
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(LoadLibraryA(c.name.c_str()), nullptr) << c.name;
        EXPECT_EQ(GetLastError(), c.error) << c.name;
    }
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST(PlatformModules, WideAndLatin1NamesLoadTheSameFile) {
    zvtest::TempDir dir;
    // "é.so" on the host is UTF-8.
    std::filesystem::copy_file(ZV_TEST_LIBRARY_PATH, dir.file("\xC3\xA9.so"));
    HMODULE narrow = LoadLibraryA(dir.file("\xE9.so").c_str());
    ASSERT_NE(narrow, nullptr);
    if (zvtest::Family9x()) {
        SetLastError(0);
        EXPECT_EQ(LoadLibraryW(zvtest::W(dir.file("\xE9.so").c_str()).c_str()), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_CALL_NOT_IMPLEMENTED));
    } else {
        // zvtest::W widens unit per byte, so 0xE9 becomes U+00E9.
        HMODULE wide = LoadLibraryW(zvtest::W(dir.file("\xE9.so").c_str()).c_str());
        EXPECT_EQ(wide, narrow);
        EXPECT_TRUE(FreeLibrary(wide));
        SetLastError(0);
        EXPECT_EQ(LoadLibraryW(nullptr), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    }
    EXPECT_NE(GetProcAddress(narrow, "ZvTestLength"), nullptr);
    EXPECT_TRUE(FreeLibrary(narrow));
}

TEST(PlatformModules, ConcurrentLoadsAndFreesKeepTheCountsRight) {
    const size_t handlesBefore = zvp::OpenHandleCount();
    HMODULE anchor = LoadLibraryA(ZV_TEST_LIBRARY_PATH);
    ASSERT_NE(anchor, nullptr);
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                HMODULE module = LoadLibraryA(ZV_TEST_LIBRARY_PATH);
                if (module != anchor) ++failures;
                using Add = int (*)(int, int);
                Add add = reinterpret_cast<Add>(GetProcAddress(module, "ZvTestAdd"));
                if (!add || add(i, 1) != i + 1) ++failures;
                if (!FreeLibrary(module)) ++failures;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_TRUE(FreeLibrary(anchor));
    EXPECT_FALSE(FreeLibrary(anchor));
    EXPECT_EQ(zvp::OpenHandleCount(), handlesBefore);
}
