// support.h - helpers shared by the test suites.
#ifndef ZV_TEST_SUPPORT_H
#define ZV_TEST_SUPPORT_H

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <string>
#include <type_traits>
#include <vector>

#include "zv.h"

namespace zvtest {

// A wide string from narrow ASCII/Latin-1 text, unit per byte (no sign
// extension, unlike ZVFromAnsi).
inline std::u16string W(const char* text) {
    std::u16string out;
    for (; *text; ++text) out += char16_t(static_cast<unsigned char>(*text));
    return out;
}

// Text for the library's internal C++ functions, which take the system's
// WCHAR: wchar_t on Windows, where the tests' text is char16_t (the same
// 16-bit unit).
static_assert(sizeof(WCHAR) == sizeof(char16_t), "one wide unit is 16 bits");
inline const WCHAR* SystemText(const char16_t* text) { return reinterpret_cast<const WCHAR*>(text); }
inline WCHAR* SystemText(char16_t* text) { return reinterpret_cast<WCHAR*>(text); }

// Narrow text from a wide string: each unit's low byte.
inline std::string N(const ZVWCHAR* text) {
    std::string out;
    for (; *text; ++text) out += char(*text & 0xFF);
    return out;
}

// A fresh, empty directory under the system's temporary directory, removed
// with its contents when the object goes.
class TempDir {
  public:
#if defined(_WIN32)
    TempDir() {
        static unsigned serial;
        std::error_code failed;
        for (int attempt = 0; attempt < 100; ++attempt) {
            char name[64];
            snprintf(name, sizeof name, "zvtest-%lu-%u", GetCurrentProcessId(), serial++);
            path_ = (std::filesystem::temp_directory_path() / name).string();
            if (std::filesystem::create_directory(path_, failed)) return;
        }
        abort();
    }
#else
    TempDir() : path_((std::filesystem::temp_directory_path() / "zvtest-XXXXXX").string()) {
        if (!mkdtemp(&path_[0])) abort();
    }
#endif
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// True when the (emulated) machine is of the 9x family.
inline bool Family9x() {
#if defined(_WIN32)
    return (GetVersion() & 0x80000000u) != 0;
#else
    const char* family = getenv("ZV_EMULATE_FAMILY");
    return family && strcmp(family, "9x") == 0;
#endif
}

// True when the tests run under Wine rather than on Windows itself: for the
// few answers in which Wine is known to differ from Windows.
inline bool UnderWine() {
#if defined(_WIN32)
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}

// The settings of the wide-call switch this family has: narrow always,
// wide on the NT family.
inline std::vector<uint16_t> CallWidths() {
    return Family9x() ? std::vector<uint16_t>{0} : std::vector<uint16_t>{0, 1};
}

// Gives a variable another value for one scope.
template <class T>
class ScopedValue {
  public:
    ScopedValue(T& variable, typename std::decay<T>::type value) : variable_(variable), saved_(variable) {
        variable = value;
    }
    ~ScopedValue() { variable_ = saved_; }
    ScopedValue(const ScopedValue&) = delete;
    ScopedValue& operator=(const ScopedValue&) = delete;

  private:
    T& variable_;
    T saved_;
};

}  // namespace zvtest

// Expects `call` to give `failure` and leave `error` as the last error.
#define ZVTEST_EXPECT_FAILS(call, failure, error) \
    do { SetLastError(0); EXPECT_EQ(call, failure); EXPECT_EQ(GetLastError(), DWORD(error)); } while (0)

#endif  // ZV_TEST_SUPPORT_H
