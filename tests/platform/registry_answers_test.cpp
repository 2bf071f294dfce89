// The registry answers as Windows' does where callers may lean on the
// details: predefined keys and paths, sizes and terminators, and what a
// value enumeration that overflows leaves behind.

#include "registry_util.h"

static HKEY Handle(uint64_t value) { return reinterpret_cast<HKEY>(uintptr_t(value)); }

TEST(RegistryAnswers, PredefinedKeysAndPaths) {
    RegCloseKey(CreateKey(HKEY_CLASSES_ROOT, "CLSID\\{x}"));
    RegCloseKey(CreateKey(kMachine, "Software\\Trail"));
    // HKEY_CLASSES_ROOT takes one leading backslash ("\\" is the key itself,
    // through a new handle); trailing backslashes are fine everywhere.
    const std::pair<HKEY, const char*> opens[] = {
        {HKEY_CLASSES_ROOT, "\\CLSID"}, {HKEY_CLASSES_ROOT, "\\"}, {HKEY_CLASSES_ROOT, "\\clsid\\{X}\\\\"},
        {kMachine, "Software\\Trail\\\\"}, {kMachine, "Software\\Trail\\\\\\"},
        // Only the low 32 bits of a predefined key count.
        {Handle(0x80000002u), "Software"}, {Handle(0xDEADBEEF80000002ull), "Software"},
        {Handle(0xFFFFFFFF80000000ull), "CLSID"}};
    for (const auto& o : opens) {
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, OpenKey(o.first, o.second, &key)) << o.second;
        EXPECT_FALSE(key == nullptr || key == o.first) << o.second;
        EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key)) << o.second;
    }
    for (const char* bad : {"\\\\CLSID", "CLSID\\\\{x}"})
        EXPECT_EQ(ERROR_BAD_PATHNAME, OpenKey(HKEY_CLASSES_ROOT, bad)) << bad;
    EXPECT_EQ(ERROR_BAD_PATHNAME, OpenKey(kMachine, "\\Software"));
    // Created the same ways: HKEY_CLASSES_ROOT's "\\Made" is Made.
    for (const char* path : {"\\Made", "Made2\\\\"}) RegCloseKey(CreateKey(HKEY_CLASSES_ROOT, path));
    EXPECT_EQ(0, OpenKey(kMachine, "Software\\Classes\\made") | OpenKey(kMachine, "Software\\Classes\\MADE2"));
    // A predefined key with a null or empty path is handed back as it is.
    for (HKEY root : {HKEY_CLASSES_ROOT, kMachine, Handle(0x80000001u)}) {
        for (const char* path : {"", static_cast<const char*>(nullptr)}) {
            HKEY key = nullptr;
            EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root, path, 0, KEY_READ, &key));
            EXPECT_EQ(root, key);
        }
    }
    // A null key: the wide form nulls the result, the narrow one leaves it.
    HKEY key = kMachine;
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExA(nullptr, "", 0, KEY_READ, &key));
    EXPECT_EQ(kMachine, key);
    if (!zvtest::Family9x()) {
        EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExW(nullptr, u"", 0, KEY_READ, &key));
        EXPECT_EQ(nullptr, key);
    }
    // Creating without a place for the result is a bad key.
    EXPECT_EQ(ERROR_BADKEY, RegCreateKeyExA(kMachine, "Software\\X", 0, 0, 0, KEY_READ, 0, nullptr, 0));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKey(kMachine, "Software\\X"));
}

// Sizes report the data as stored; string data stored without its
// terminator gets one in the caller's buffer when there is room.
TEST(RegistryAnswers, SizesAndTerminators) {
    HKEY key = CreateKey(kMachine, "Software\\Sizes");
    for (DWORD type : {REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_BINARY}) {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "v", 0, type, reinterpret_cast<const BYTE*>("abc"), 3));
        for (DWORD capacity : {3, 4, 5}) {
            BYTE data[8];
            memset(data, 0xEE, sizeof(data));
            DWORD size = capacity;
            ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "v", 0, 0, data, &size));
            EXPECT_EQ(3u, size);
            const bool terminated = type != REG_BINARY && capacity > 3;
            EXPECT_EQ(terminated ? 0 : 0xEE, data[3]) << type << " " << capacity;
            EXPECT_EQ(0xEE, data[4]) << type << " " << capacity;  // one terminator at most
            // The enumeration gives the same.
            char name[4];
            DWORD length = sizeof(name);
            memset(data, 0xEE, sizeof(data));
            ASSERT_EQ(ERROR_SUCCESS, RegEnumValueA(key, 0, name, &length, 0, 0, data, &(size = capacity)));
            EXPECT_EQ(terminated ? 0 : 0xEE, data[3]) << type << " " << capacity;
        }
    }
    // An empty string stays empty and untouched.
    BYTE data[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    DWORD size = 4, type = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "e", 0, REG_SZ, data, 0));
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "e", 0, 0, data, &size));
    EXPECT_EQ(0u, size);
    EXPECT_EQ(0xEE, data[0]);
    // Type and size may be one variable; a missing value's size query answers
    // 0, with a buffer the size stays.
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "bin", 0, REG_BINARY, data, 4));
    size = 4;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "bin", 0, &size, data, &size));
    for (BYTE* buffer : {static_cast<BYTE*>(nullptr), data}) {
        size = 4;
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, "none", 0, &type, buffer, &size));
        EXPECT_EQ(buffer ? 4u : 0u, size);
    }
    // Data of a size without a place: no access; no size and no data: the
    // empty string on NT, refused on 9x (REG_SZ only).
    EXPECT_EQ(ERROR_NOACCESS, RegSetValueExA(key, "n", 0, REG_DWORD, nullptr, 4));
    EXPECT_EQ(zvtest::Family9x() ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS,
              RegSetValueExA(key, "n", 0, REG_SZ, nullptr, 0));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "x", 0, REG_EXPAND_SZ, nullptr, 0));
    if (zvtest::Family9x()) return;
    // The wide form: a unit of room is enough for the wide terminator.
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, u"w", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"ab"), 4));
    for (DWORD capacity : {5, 6}) {
        char16_t units[4] = {u'#', u'#', u'#', u'#'};
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, u"w", 0, 0, reinterpret_cast<BYTE*>(units), &(size = capacity)));
        EXPECT_EQ(4u, size);
        EXPECT_EQ(std::u16string(capacity == 6 ? u"ab\0#" : u"ab##", 4), std::u16string(units, 4));
    }
    EXPECT_EQ(ERROR_NOACCESS, RegSetValueExW(key, u"n", 0, REG_SZ, nullptr, 4));
}

// A name that does not fit reports the data's type and size and writes
// nothing; data that does not fit leaves the name in the narrow form and
// has written it in the wide one.
TEST(RegistryAnswers, ValueEnumerationOverflow) {
    HKEY key = CreateKey(kMachine, "Software\\Enum");
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, "Test", "foobar"));
    const struct {
        DWORD nameCapacity, dataCapacity, nameLength;
        const char* name;
    } cases[] = {{2, 2, 2, "xxxxxxx"}, {3, 16, 3, "xxxxxxx"}, {0, 16, 0, "xxxxxxx"}, {20, 2, 20, "xxxxxxx"}};
    for (const auto& c : cases) {
        char name[8] = "xxxxxxx", data[16] = "yyyyyyyyyyyyyyy";
        DWORD length = c.nameCapacity, size = c.dataCapacity, type = 0;
        EXPECT_EQ(ERROR_MORE_DATA,
                  RegEnumValueA(key, 0, name, &length, 0, &type, reinterpret_cast<BYTE*>(data), &size));
        EXPECT_EQ(std::make_tuple(c.nameLength, 7u, DWORD(REG_SZ)), std::make_tuple(length, size, type));
        EXPECT_EQ(std::string(c.name) + "|yyyyyyyyyyyyyyy", std::string(name) + "|" + data);
    }
    if (zvtest::Family9x()) return;
    char16_t name[8] = u"xxxxxxx", data[8] = u"yyyyyyy";
    DWORD length = 20, size = 2, type = 0;
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueW(key, 0, name, &length, 0, &type, reinterpret_cast<BYTE*>(data), &size));
    EXPECT_EQ(std::make_tuple(4u, 14u, DWORD(REG_SZ)), std::make_tuple(length, size, type));
    EXPECT_EQ(u"Test|yyyyyyy", std::u16string(name) + u"|" + data);
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueW(key, 0, name, &(length = 4), 0, &type, nullptr, &(size = 0)));
    EXPECT_EQ(std::make_tuple(4u, 14u), std::make_tuple(length, size));
}
