// The Win32 registry calls: keys, values, names, enumeration, access,
// handles and deletion.  The narrow forms run on both families; the wide
// forms are checked where they exist and refused where they do not.
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/posix/handles.h"
#include "registry_util.h"
#include "support.h"

using regtest::CreateKey;
using regtest::KeyExists;
using regtest::OpenKey;
using regtest::QueryString;
using regtest::RegistryTest;
using regtest::SetString;
using regtest::Subkeys;
using regtest::ValueNames;

namespace {

class RegistryKeys : public RegistryTest {};
class RegistryValues : public RegistryTest {};
class RegistryEnum : public RegistryTest {};
class RegistryAccess : public RegistryTest {};
class RegistryHandles : public RegistryTest {};
class RegistryDelete : public RegistryTest {};
class RegistryWide : public RegistryTest {};

TEST_F(RegistryKeys, CreateMakesIntermediateKeysAndReportsDisposition) {
    DWORD disposition = 0;
    HKEY deep = CreateKey(HKEY_LOCAL_MACHINE, "Software\\ZvTest\\A\\B", &disposition);
    EXPECT_EQ(DWORD(REG_CREATED_NEW_KEY), disposition);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\ZvTest"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\ZvTest\\A"));

    HKEY again = CreateKey(HKEY_LOCAL_MACHINE, "Software\\ZvTest\\A\\B", &disposition);
    EXPECT_EQ(DWORD(REG_OPENED_EXISTING_KEY), disposition);
    // A new handle to the same key.
    EXPECT_NE(deep, again);
    ASSERT_EQ(ERROR_SUCCESS, SetString(deep, "v", "one"));
    EXPECT_EQ("one", QueryString(again, "v"));

    // Relative to an open key, a trailing backslash, and the key itself.
    HKEY middle = CreateKey(HKEY_LOCAL_MACHINE, "Software\\ZvTest\\A\\");
    HKEY relative = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, OpenKey(middle, "B", &relative));
    EXPECT_EQ("one", QueryString(relative, "v"));
    HKEY self = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(relative, "", 0, KEY_READ, &self));
    EXPECT_EQ("one", QueryString(self, "v"));
    HKEY nullPath = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(relative, nullptr, 0, KEY_READ, &nullPath));
    EXPECT_EQ("one", QueryString(nullPath, "v"));

    HKEY missing = reinterpret_cast<HKEY>(uintptr_t(0x1234));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKey(HKEY_LOCAL_MACHINE, "Software\\ZvTest\\Nope", &missing));
    EXPECT_EQ(nullptr, missing);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKey(HKEY_LOCAL_MACHINE, "Software\\Nope\\B", &missing));

    for (HKEY key : {deep, again, middle, relative, self, nullPath})
        EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

TEST_F(RegistryKeys, PathsAndNameLimits) {
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_BAD_PATHNAME, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "\\Software", 0, nullptr, 0,
                                                  KEY_ALL_ACCESS, nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_BAD_PATHNAME, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\\\X", 0, nullptr,
                                                  0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_BAD_PATHNAME, OpenKey(HKEY_LOCAL_MACHINE, "Software\\\\", &key));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\X"));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegCreateKeyExA(HKEY_LOCAL_MACHINE, nullptr, 0, nullptr, 0,
                                                       KEY_ALL_ACCESS, nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\V", 0,
                                                       nullptr, 1 /* volatile */, KEY_ALL_ACCESS,
                                                       nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\V", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, nullptr, nullptr));

    // A key name holds 255 characters; one more is refused and creates
    // nothing on the way.
    std::string longest(255, 'k');
    HKEY made = CreateKey(HKEY_LOCAL_MACHINE, "Software\\Limits\\" + longest);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(made));
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegCreateKeyExA(HKEY_LOCAL_MACHINE, ("Software\\Other\\" + longest + "k").c_str(), 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Other"));

    // A value name holds 16,383 characters.
    HKEY limits = CreateKey(HKEY_LOCAL_MACHINE, "Software\\Limits");
    std::string name(16383, 'n');
    EXPECT_EQ(ERROR_SUCCESS, SetString(limits, name.c_str(), "x"));
    EXPECT_EQ("x", QueryString(limits, name.c_str()));
    name += 'n';
    EXPECT_EQ(ERROR_INVALID_PARAMETER, SetString(limits, name.c_str(), "x"));
    EXPECT_EQ(1u, ValueNames(limits).size());
    RegCloseKey(limits);
}

TEST_F(RegistryKeys, NamesAreCaseInsensitiveAndKeepTheirFirstSpelling) {
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, "Software\\MixedCase\\Inner");
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, "Color", "red"));
    HKEY other = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, OpenKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\mixedcase\\INNER", &other,
                                     KEY_ALL_ACCESS));
    EXPECT_EQ("red", QueryString(other, "COLOR"));
    ASSERT_EQ(ERROR_SUCCESS, SetString(other, "cOLOR", "blue"));
    EXPECT_EQ("blue", QueryString(key, "color"));
    EXPECT_EQ(std::vector<std::string>{"Color"}, ValueNames(key));

    DWORD disposition = 0;
    HKEY parent = CreateKey(HKEY_LOCAL_MACHINE, "software\\MIXEDCASE", &disposition);
    EXPECT_EQ(DWORD(REG_OPENED_EXISTING_KEY), disposition);
    EXPECT_EQ(std::vector<std::string>{"Inner"}, Subkeys(parent));

    // ISO-8859-1 letters fold too: e-acute and E-acute name one key.
    HKEY accented = CreateKey(HKEY_LOCAL_MACHINE, "Software\\MixedCase\\\xE9t\xE9");
    HKEY upper = CreateKey(HKEY_LOCAL_MACHINE, "Software\\MixedCase\\\xC9T\xC9", &disposition);
    EXPECT_EQ(DWORD(REG_OPENED_EXISTING_KEY), disposition);
    // y-diaeresis has its capital outside ISO-8859-1, sharp s has none.
    HKEY y = CreateKey(HKEY_LOCAL_MACHINE, "Software\\MixedCase\\\xFF");
    HKEY sharp = CreateKey(HKEY_LOCAL_MACHINE, "Software\\MixedCase\\\xDF", &disposition);
    EXPECT_EQ(DWORD(REG_CREATED_NEW_KEY), disposition);
    HKEY ss = CreateKey(HKEY_LOCAL_MACHINE, "Software\\MixedCase\\SS", &disposition);
    EXPECT_EQ(DWORD(REG_CREATED_NEW_KEY), disposition);
    // Order by upper-case units: E-acute (C9), sharp s (DF), Y-diaeresis (178).
    EXPECT_EQ((std::vector<std::string>{"Inner", "SS", "\xE9t\xE9", "\xDF", "\xFF"}),
              Subkeys(parent));
    for (HKEY k : {key, other, parent, accented, upper, y, sharp, ss}) RegCloseKey(k);
}

TEST_F(RegistryKeys, CaseRuleFollowsUnicodeUpperCase) {
    using zvp::reg::UpcaseUnit;
    EXPECT_EQ(u'A', UpcaseUnit(u'a'));
    EXPECT_EQ(u'Z', UpcaseUnit(u'z'));
    EXPECT_EQ(u'`', UpcaseUnit(u'`'));
    EXPECT_EQ(u'{', UpcaseUnit(u'{'));
    EXPECT_EQ(u'\u00C0', UpcaseUnit(u'\u00E0'));
    EXPECT_EQ(u'\u00F7', UpcaseUnit(u'\u00F7'));  // division sign
    EXPECT_EQ(u'\u0178', UpcaseUnit(u'\u00FF'));
    EXPECT_EQ(u'\u00DF', UpcaseUnit(u'\u00DF'));  // no one-character capital
    EXPECT_EQ(u'\u0100', UpcaseUnit(u'\u0101'));
    EXPECT_EQ(u'\u0100', UpcaseUnit(u'\u0100'));
    EXPECT_EQ(u'\u03A3', UpcaseUnit(u'\u03C2'));  // final sigma
    EXPECT_EQ(u'\u03A3', UpcaseUnit(u'\u03C3'));
    EXPECT_EQ(u'\u0416', UpcaseUnit(u'\u0436'));
    EXPECT_EQ(u'\u0401', UpcaseUnit(u'\u0451'));
    EXPECT_EQ(u'\uFF21', UpcaseUnit(u'\uFF41'));  // fullwidth a
    EXPECT_EQ(char16_t(0xD801), UpcaseUnit(char16_t(0xD801)));  // surrogates stay
    EXPECT_EQ(u'\uFFFF', UpcaseUnit(u'\uFFFF'));
    // Every unit maps to a fixed point of the rule, so folding is stable.
    for (uint32_t unit = 0; unit <= 0xFFFF; ++unit) {
        char16_t up = UpcaseUnit(char16_t(unit));
        ASSERT_EQ(up, UpcaseUnit(up)) << unit;
    }
}

TEST_F(RegistryValues, KeepTheirTypeAndExactBytes) {
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, "Software\\Values");
    const BYTE binary[] = {0, 1, 0, 0xFF, 0};
    const DWORD number = 0x12345678;
    const char unterminated[] = {'a', 'b', 'c'};
    const char multi[] = "one\0two\0";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "bin", 0, REG_BINARY, binary, sizeof(binary)));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "num", 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&number), 4));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "raw", 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(unterminated), 3));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "multi", 0, REG_MULTI_SZ,
                                            reinterpret_cast<const BYTE*>(multi), sizeof(multi)));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "empty", 0, REG_NONE, nullptr, 0));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "custom", 0, 0x7777, binary, 2));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegSetValueExA(key, "bad", 0, REG_BINARY, nullptr, 4));

    struct Expected {
        const char* name;
        DWORD type;
        std::string bytes;
    } expected[] = {
        {"bin", REG_BINARY, std::string(reinterpret_cast<const char*>(binary), sizeof(binary))},
        {"num", REG_DWORD, std::string(reinterpret_cast<const char*>(&number), 4)},
        {"raw", REG_SZ, "abc"},
        {"multi", REG_MULTI_SZ, std::string(multi, sizeof(multi))},
        {"empty", REG_NONE, ""},
        {"custom", 0x7777, std::string(reinterpret_cast<const char*>(binary), 2)},
    };
    for (const Expected& e : expected) {
        DWORD type = 0, size = 0;
        // A size query first: no data pointer.
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, e.name, nullptr, &type, nullptr, &size));
        EXPECT_EQ(e.type, type) << e.name;
        EXPECT_EQ(e.bytes.size(), size) << e.name;
        BYTE buffer[64];
        memset(buffer, 0xEE, sizeof(buffer));
        size = DWORD(e.bytes.size());
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, e.name, nullptr, &type, buffer, &size));
        EXPECT_EQ(e.bytes, std::string(reinterpret_cast<char*>(buffer), size)) << e.name;
        EXPECT_EQ(0xEE, buffer[size]) << "nothing written past the data of " << e.name;
        if (!e.bytes.empty()) {
            // One byte short: ERROR_MORE_DATA, the size needed, nothing written.
            memset(buffer, 0xEE, sizeof(buffer));
            size = DWORD(e.bytes.size() - 1);
            type = 0;
            EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(key, e.name, nullptr, &type, buffer, &size));
            EXPECT_EQ(e.bytes.size(), size);
            EXPECT_EQ(e.type, type);
            EXPECT_EQ(0xEE, buffer[0]);
        }
    }
    // Only whether it exists.
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "num", nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegQueryValueExA(key, "missing", nullptr, nullptr, nullptr, nullptr));
    DWORD reserved = 0, size = 4;
    BYTE buffer[4];
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegQueryValueExA(key, "num", &reserved, nullptr, nullptr, &size));
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegQueryValueExA(key, "num", nullptr, nullptr, buffer, nullptr));

    // Overwriting changes type and bytes; a null name and the empty name
    // are the same, unnamed value.
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, "num", "now text"));
    DWORD type = 0;
    EXPECT_EQ("now text", QueryString(key, "num"));
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "num", nullptr, &type, nullptr, nullptr));
    EXPECT_EQ(DWORD(REG_SZ), type);
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, nullptr, "default"));
    EXPECT_EQ("default", QueryString(key, ""));
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, "", "again"));
    EXPECT_EQ("again", QueryString(key, nullptr));
    RegCloseKey(key);
}

TEST_F(RegistryValues, LargeValuesRoundTrip) {
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, "Software\\Values");
    std::vector<BYTE> big(1 << 20);
    for (size_t i = 0; i < big.size(); ++i) big[i] = BYTE(i * 7 + (i >> 9));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "big", 0, REG_BINARY, big.data(), DWORD(big.size())));
    std::vector<BYTE> back(big.size());
    DWORD size = DWORD(back.size());
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "big", nullptr, nullptr, back.data(), &size));
    EXPECT_EQ(big.size(), size);
    EXPECT_TRUE(big == back);
    RegCloseKey(key);
}

TEST_F(RegistryValues, NarrowFormsConvertStringDataThroughLatin1) {
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, "Software\\Narrow");
    std::string latin;
    for (int c = 1; c < 256; ++c) latin += char(c);
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, "all", latin));
    EXPECT_EQ(latin, QueryString(key, "all"));
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, "empty", ""));
    DWORD size = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "empty", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(1u, size);
    // Binary data is never converted.
    const BYTE bytes[] = {0xE9, 0x00, 0x41};
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "bin", 0, REG_BINARY, bytes, 3));
    size = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "bin", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(3u, size);

    if (zvtest::Family9x()) {
        RegCloseKey(key);
        return;
    }
    // The store keeps strings as UTF-16: the wide form sees "\xE9x" as two units.
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, "pair", "\xE9x"));
    char16_t wide[8] = {};
    size = sizeof(wide);
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, u"pair", nullptr, nullptr,
                                              reinterpret_cast<BYTE*>(wide), &size));
    EXPECT_EQ(6u, size);
    EXPECT_EQ(std::u16string(u"\u00E9x"), std::u16string(wide));
    // And a wide string outside ISO-8859-1 reads narrow with '?'.
    const char16_t text[] = u"\u0100b\u00FF";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, u"wide", 0, REG_EXPAND_SZ,
                                            reinterpret_cast<const BYTE*>(text), sizeof(text)));
    EXPECT_EQ("?b\xFF", QueryString(key, "wide"));
    RegCloseKey(key);
}

TEST_F(RegistryEnum, SubkeysInCaseInsensitiveOrderValuesInCreationOrder) {
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, "Software\\Enum");
    for (const char* name : {"b", "_x", "C", "A", "B2", "a1"}) RegCloseKey(CreateKey(key, name));
    // Upper-case order: '_' comes after the letters, as on Windows.
    EXPECT_EQ((std::vector<std::string>{"A", "a1", "b", "B2", "C", "_x"}), Subkeys(key));

    for (const char* name : {"zeta", "alpha", "Mid", ""}) ASSERT_EQ(ERROR_SUCCESS, SetString(key, name, name));
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, "ALPHA", "changed"));  // keeps its place
    EXPECT_EQ((std::vector<std::string>{"zeta", "alpha", "Mid", ""}), ValueNames(key));

    // Name capacity counts the terminator; the length returned does not.
    char name[8];
    DWORD length = 2;
    EXPECT_EQ(ERROR_MORE_DATA,
              RegEnumKeyExA(key, 1, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(2u, length);
    length = 3;
    char keyClass[4] = {'x', 'x', 'x', 0};
    DWORD classLength = 4;
    FILETIME written = {1, 1};
    ASSERT_EQ(ERROR_SUCCESS,
              RegEnumKeyExA(key, 1, name, &length, nullptr, keyClass, &classLength, &written));
    EXPECT_EQ(2u, length);
    EXPECT_STREQ("a1", name);
    EXPECT_EQ('\0', keyClass[0]);
    EXPECT_EQ(0u, classLength);
    length = sizeof(name);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS,
              RegEnumKeyExA(key, 6, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegEnumKeyExA(key, 0, nullptr, &length, nullptr, nullptr, nullptr, nullptr));

    // Values: the name and the data each have their capacity.
    length = 5;  // "alpha" needs 6
    BYTE data[16];
    DWORD size = sizeof(data);
    DWORD type = 0;
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueA(key, 1, name, &length, nullptr, &type, data, &size));
    length = 6;
    size = 7;  // "changed" needs 8
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueA(key, 1, name, &length, nullptr, &type, data, &size));
    EXPECT_EQ(8u, size);
    length = 6;
    ASSERT_EQ(ERROR_SUCCESS, RegEnumValueA(key, 1, name, &length, nullptr, &type, data, &size));
    EXPECT_EQ(5u, length);
    EXPECT_STREQ("alpha", name);
    EXPECT_EQ(DWORD(REG_SZ), type);
    EXPECT_STREQ("changed", reinterpret_cast<char*>(data));
    // Size only.
    length = sizeof(name);
    size = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegEnumValueA(key, 0, name, &length, nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(5u, size);
    length = sizeof(name);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS,
              RegEnumValueA(key, 4, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegEnumValueA(key, 0, name, &length, nullptr, nullptr, data, nullptr));
    RegCloseKey(key);
}

TEST_F(RegistryAccess, HandlesGrantOnlyWhatWasAsked) {
    HKEY writer = CreateKey(HKEY_LOCAL_MACHINE, "Software\\Access\\Existing");
    ASSERT_EQ(ERROR_SUCCESS, SetString(writer, "v", "x"));
    HKEY reader = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, OpenKey(HKEY_LOCAL_MACHINE, "Software\\Access", &reader, KEY_READ));
    EXPECT_EQ(ERROR_ACCESS_DENIED, SetString(reader, "v", "y"));
    HKEY child = nullptr;
    // Creating through a read handle is refused; opening what exists is not.
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegCreateKeyExA(reader, "New", 0, nullptr, 0, KEY_ALL_ACCESS,
                                                   nullptr, &child, nullptr));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Access\\New"));
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(reader, "Existing", 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &child, &disposition));
    EXPECT_EQ(DWORD(REG_OPENED_EXISTING_KEY), disposition);
    EXPECT_EQ(ERROR_SUCCESS, SetString(child, "v", "through child"));
    RegCloseKey(child);
    EXPECT_EQ(1u, Subkeys(reader).size());

    HKEY setOnly = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              OpenKey(HKEY_LOCAL_MACHINE, "Software\\Access\\Existing", &setOnly, KEY_SET_VALUE));
    EXPECT_EQ(ERROR_SUCCESS, SetString(setOnly, "w", "z"));
    LSTATUS status;
    QueryString(setOnly, "w", &status);
    EXPECT_EQ(ERROR_ACCESS_DENIED, status);
    char name[16];
    DWORD length = sizeof(name);
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegEnumValueA(setOnly, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegEnumKeyExA(setOnly, 0, name, &length, nullptr, nullptr, nullptr, nullptr));

    // Generic rights map onto the key rights.
    HKEY generic = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, OpenKey(HKEY_LOCAL_MACHINE, "Software\\Access\\Existing", &generic,
                                     0x80000000 /* GENERIC_READ */));
    EXPECT_EQ("through child", QueryString(generic, "v"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, SetString(generic, "v", "no"));
    for (HKEY k : {writer, reader, setOnly, generic}) RegCloseKey(k);
}

TEST_F(RegistryHandles, BadHandlesAreRefusedNotFollowed) {
    HKEY bogus[] = {nullptr, reinterpret_cast<HKEY>(uintptr_t(400000)),
                    reinterpret_cast<HKEY>(uintptr_t(0x12345670)),
                    reinterpret_cast<HKEY>(uintptr_t(3)),
                    reinterpret_cast<HKEY>(intptr_t(int32_t(0x80000005)))};
    for (HKEY key : bogus) {
        HKEY out = nullptr;
        EXPECT_EQ(ERROR_INVALID_HANDLE, OpenKey(key, "x", &out));
        EXPECT_EQ(ERROR_INVALID_HANDLE, RegCreateKeyExA(key, "x", 0, nullptr, 0, KEY_ALL_ACCESS,
                                                        nullptr, &out, nullptr));
        EXPECT_EQ(ERROR_INVALID_HANDLE, SetString(key, "v", "x"));
        LSTATUS status;
        QueryString(key, "v", &status);
        EXPECT_EQ(ERROR_INVALID_HANDLE, status);
        char name[8];
        DWORD length = sizeof(name);
        EXPECT_EQ(ERROR_INVALID_HANDLE,
                  RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
        EXPECT_EQ(ERROR_INVALID_HANDLE,
                  RegEnumValueA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
        EXPECT_EQ(ERROR_INVALID_HANDLE, RegDeleteKeyA(key, "x"));
        EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
    }

    // A handle of another kind is not a key, and closing it as one leaves it.
    class Other : public zvp::KernelObject {
      public:
        Other() : KernelObject(zvp::ObjectKind::Event) {}
    };
    HANDLE other = zvp::InsertHandle(std::make_shared<Other>());
    ASSERT_NE(nullptr, other);
    EXPECT_EQ(ERROR_INVALID_HANDLE, SetString(reinterpret_cast<HKEY>(other), "v", "x"));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(reinterpret_cast<HKEY>(other)));
    EXPECT_NE(nullptr, zvp::LookupHandle(other, zvp::ObjectKind::Event));
    zvp::RemoveHandle(other);

    // Closed once, a handle is gone; the predefined keys close and stay.
    size_t before = zvp::OpenHandleCount();
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, "Software\\Handles");
    EXPECT_EQ(before + 1, zvp::OpenHandleCount());
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(before, zvp::OpenHandleCount());
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, SetString(key, "v", "x"));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE));
    EXPECT_EQ(ERROR_SUCCESS, SetString(HKEY_LOCAL_MACHINE, "still", "open"));
    EXPECT_EQ("open", QueryString(HKEY_LOCAL_MACHINE, "still"));
}

TEST_F(RegistryHandles, PredefinedKeysAndTheirViews) {
    // HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\Software\Classes.
    HKEY viaClasses = CreateKey(HKEY_CLASSES_ROOT, "Zv.Test\\CLSID");
    ASSERT_EQ(ERROR_SUCCESS, SetString(viaClasses, nullptr, "{0}"));
    HKEY viaMachine = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              OpenKey(HKEY_LOCAL_MACHINE, "Software\\Classes\\zv.test\\clsid", &viaMachine));
    EXPECT_EQ("{0}", QueryString(viaMachine, nullptr));
    HKEY classes = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, OpenKey(HKEY_LOCAL_MACHINE, "Software\\Classes", &classes));
    EXPECT_EQ(std::vector<std::string>{"Zv.Test"}, Subkeys(classes));
    EXPECT_EQ(std::vector<std::string>{"Zv.Test"}, Subkeys(HKEY_CLASSES_ROOT));

    // HKEY_CURRENT_USER is this user's key under HKEY_USERS.
    HKEY user = CreateKey(HKEY_CURRENT_USER, "Software\\Zv");
    ASSERT_EQ(ERROR_SUCCESS, SetString(user, "who", "me"));
    std::string sid = "S-1-22-1-" + std::to_string(getuid());
    HKEY viaUsers = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, OpenKey(HKEY_USERS, sid + "\\Software\\Zv", &viaUsers));
    EXPECT_EQ("me", QueryString(viaUsers, "who"));
    EXPECT_EQ(std::vector<std::string>{sid}, Subkeys(HKEY_USERS));

    // The roots of the views cannot be deleted, on either family.
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Classes"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_USERS, sid.c_str()));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_CLASSES_ROOT, ""));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Zv.Test\\CLSID"));
    for (HKEY k : {viaClasses, viaMachine, classes, user, viaUsers}) RegCloseKey(k);
}

TEST_F(RegistryDelete, FamilyRulesForKeysWithSubkeys) {
    HKEY top = CreateKey(HKEY_LOCAL_MACHINE, "Software\\Del\\Top\\Mid\\Leaf");
    ASSERT_EQ(ERROR_SUCCESS, SetString(top, "v", "x"));
    RegCloseKey(top);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Del\\Nope"));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegDeleteKeyA(HKEY_LOCAL_MACHINE, nullptr));
    if (zvtest::Family9x()) {
        EXPECT_EQ(ERROR_CALL_NOT_IMPLEMENTED, RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\Del"));
        // The narrow form takes the whole subtree, values and all.
        EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Del\\Top"));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Del\\Top"));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Del"));
        RegCloseKey(CreateKey(HKEY_LOCAL_MACHINE, "Software\\Del\\Top\\Mid\\Leaf"));
        HKEY leaf = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, OpenKey(HKEY_LOCAL_MACHINE, "Software\\Del\\Top\\Mid\\Leaf", &leaf));
        EXPECT_TRUE(ValueNames(leaf).empty());
        RegCloseKey(leaf);
        return;
    }
    // NT refuses a key with subkeys, through either form.
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Del\\Top"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\Del\\Top\\Mid"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Del\\Top\\Mid\\Leaf"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"software\\del\\top\\mid\\LEAF"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Del\\Top\\Mid"));
    // Through an open key, and the key itself by the empty path.
    HKEY del = CreateKey(HKEY_LOCAL_MACHINE, "Software\\Del");
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(del, "Top"));
    HKEY self = CreateKey(del, "Self");
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(self, ""));
    EXPECT_EQ(std::vector<std::string>{}, Subkeys(del));
    RegCloseKey(self);
    RegCloseKey(del);
}

TEST_F(RegistryDelete, AnOpenHandleToADeletedKeyFailsButDoesNotCrash) {
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, "Software\\Gone");
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, "v", "old"));
    HKEY reader = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, OpenKey(HKEY_LOCAL_MACHINE, "Software\\Gone", &reader));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Gone"));

    LSTATUS status;
    QueryString(reader, "v", &status);
    EXPECT_EQ(ERROR_KEY_DELETED, status);
    EXPECT_EQ(ERROR_KEY_DELETED, SetString(key, "v", "new"));
    char name[16];
    DWORD length = sizeof(name);
    EXPECT_EQ(ERROR_KEY_DELETED,
              RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_KEY_DELETED,
              RegEnumValueA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
    HKEY child = nullptr;
    EXPECT_EQ(ERROR_KEY_DELETED, RegCreateKeyExA(key, "Child", 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &child, nullptr));
    EXPECT_EQ(ERROR_KEY_DELETED, OpenKey(key, "", &child));
    EXPECT_EQ(ERROR_KEY_DELETED, OpenKey(key, "Child", &child));
    EXPECT_EQ(ERROR_KEY_DELETED, RegDeleteKeyA(key, ""));

    // A key made again under the same name is another key: the old handles
    // stay dead, new ones see the new key.
    HKEY again = CreateKey(HKEY_LOCAL_MACHINE, "Software\\Gone");
    ASSERT_EQ(ERROR_SUCCESS, SetString(again, "v", "new"));
    QueryString(reader, "v", &status);
    EXPECT_EQ(ERROR_KEY_DELETED, status);
    EXPECT_EQ("new", QueryString(again, "v"));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(reader));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(again));
}

TEST_F(RegistryWide, WideFormsOnNtRefusedOn9x) {
    HKEY key = nullptr;
    DWORD length = 8, size = 8;
    char16_t name[8];
    if (zvtest::Family9x()) {
        HKEY narrow = CreateKey(HKEY_LOCAL_MACHINE, "Software\\W");
        EXPECT_EQ(ERROR_CALL_NOT_IMPLEMENTED,
                  RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\W", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr));
        EXPECT_EQ(ERROR_CALL_NOT_IMPLEMENTED,
                  RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, KEY_READ, &key));
        EXPECT_EQ(ERROR_CALL_NOT_IMPLEMENTED, RegSetValueExW(narrow, u"v", 0, REG_SZ, nullptr, 0));
        EXPECT_EQ(ERROR_CALL_NOT_IMPLEMENTED,
                  RegQueryValueExW(narrow, u"v", nullptr, nullptr, nullptr, &size));
        EXPECT_EQ(ERROR_CALL_NOT_IMPLEMENTED,
                  RegEnumKeyExW(narrow, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
        EXPECT_EQ(ERROR_CALL_NOT_IMPLEMENTED,
                  RegEnumValueW(narrow, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
        EXPECT_EQ(ERROR_CALL_NOT_IMPLEMENTED, RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\W"));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\W"));
        RegCloseKey(narrow);
        return;
    }
    // Greek and Cyrillic names fold; a lone surrogate survives unit for unit.
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\\u03B1\u03B2\u0436",
                                             0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    HKEY same = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\\u0391\u0392\u0416", 0, KEY_READ, &same));
    const char16_t odd[] = {u'x', 0xD800, u'y', 0};
    const char16_t data[] = u"\u4E2D\u6587";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, odd, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                                            sizeof(data)));
    length = 8;
    size = sizeof(name);
    DWORD type = 0;
    char16_t got[8] = {};
    size = sizeof(got);
    ASSERT_EQ(ERROR_SUCCESS, RegEnumValueW(same, 0, name, &length, nullptr, &type,
                                           reinterpret_cast<BYTE*>(got), &size));
    EXPECT_EQ(3u, length);
    EXPECT_EQ(std::u16string(odd), std::u16string(name, length));
    EXPECT_EQ(sizeof(data), size);
    EXPECT_EQ(std::u16string(data), std::u16string(got));
    // The narrow enumeration shows what ISO-8859-1 cannot hold as '?'.
    char narrow[8];
    DWORD narrowLength = sizeof(narrow);
    ASSERT_EQ(ERROR_SUCCESS,
              RegEnumValueA(same, 0, narrow, &narrowLength, nullptr, nullptr, nullptr, nullptr));
    EXPECT_STREQ("x?y", narrow);
    HKEY software = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, KEY_READ, &software));
    length = 8;
    ASSERT_EQ(ERROR_SUCCESS,
              RegEnumKeyExW(software, 1, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(std::u16string(u"\u03B1\u03B2\u0436"), std::u16string(name));
    // Capacity in characters, with the terminator.
    length = 3;
    EXPECT_EQ(ERROR_MORE_DATA,
              RegEnumKeyExW(software, 1, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software"));
    for (HKEY k : {key, same, software}) RegCloseKey(k);
}

}  // namespace
