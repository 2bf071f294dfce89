// The emulated dynamic libraries, handles of the table over dlopen: what the
// library-level tests do not reach: the reference count, what counts as an
// export, the error of each kind of load failure, and concurrent use.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/handles.h"
#include "platform/win32.h"
#include "platform_util.h"
#include "support.h"

namespace {

using Add = int (*)(int, int);

Add AddOf(HMODULE module) { return reinterpret_cast<Add>(GetProcAddress(module, "ZvTestAdd")); }

}  // namespace

TEST(PlatformModules, ReferenceCountedLoadsAndOnlyTheModulesOwnExports) {
    const size_t handlesBefore = zvp::OpenHandleCount();
    HMODULE first = LoadLibraryA(ZV_TEST_LIBRARY_PATH);
    ASSERT_NE(first, nullptr);
    Add add = AddOf(first);
    ASSERT_NE(add, nullptr);
    EXPECT_EQ(add(2, 40), 42);
    // Not those of the C library it uses, no ordinals, no null name.
    for (LPCSTR name : {"malloc", reinterpret_cast<LPCSTR>(uintptr_t(1)), static_cast<LPCSTR>(nullptr)})
        EXPECT_FAILS(GetProcAddress(first, name), ERROR_PROC_NOT_FOUND);
    // Loaded again: the same handle with a second count.
    EXPECT_EQ(LoadLibraryA(ZV_TEST_LIBRARY_PATH), first);
    EXPECT_EQ(zvp::OpenHandleCount(), handlesBefore + 1);
    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_EQ(AddOf(first), add);
    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_EQ(zvp::OpenHandleCount(), handlesBefore);
    EXPECT_FAILS(FreeLibrary(first), ERROR_INVALID_HANDLE);
}

TEST(PlatformModules, LoadFailuresCarryTheirWin32Error) {
    zvtest::TempDir dir;
    std::ofstream(dir.file("text.so")) << "this is no library\n";
    // A missing file by its path is checked through the library.
    for (auto [name, error] : {std::pair<std::string, DWORD>{"libzv-no-such-library.so", ERROR_MOD_NOT_FOUND},
                               {"", ERROR_MOD_NOT_FOUND},
                               {dir.file("text.so"), ERROR_BAD_EXE_FORMAT},
                               {ZV_TEST_UNRESOLVED_LIBRARY_PATH, ERROR_PROC_NOT_FOUND}})
        EXPECT_FAILS(LoadLibraryA(name.c_str()), error);
    EXPECT_FAILS(LoadLibraryA(nullptr), ERROR_INVALID_PARAMETER);
    if (!zvtest::Family9x()) EXPECT_FAILS(LoadLibraryW(nullptr), ERROR_INVALID_PARAMETER);
}

TEST(PlatformModules, ConcurrentLoadsAndFreesKeepTheCountsRight) {
    const size_t handlesBefore = zvp::OpenHandleCount();
    HMODULE anchor = LoadLibraryA(ZV_TEST_LIBRARY_PATH);
    ASSERT_NE(anchor, nullptr);
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                HMODULE module = LoadLibraryA(ZV_TEST_LIBRARY_PATH);
                Add add = AddOf(module);
                if (module != anchor || !add || add(i, 1) != i + 1 || !FreeLibrary(module)) ++failures;
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_TRUE(FreeLibrary(anchor));
    EXPECT_FALSE(FreeLibrary(anchor));
    EXPECT_EQ(zvp::OpenHandleCount(), handlesBefore);
}
