// String values under a caller's root key, on the family the suite runs
// on (the wide path on NT, the narrow staging path on 9x), and the text
// form of registry locations.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "components/components.h"
#include "frame/frame.h"
#include "platform/posix/registry_store.h"
#include "platform/win32.h"
#include "support.h"
#include "zv.h"

using zvtest::W;

namespace {

class RegistryEntries : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("ZV_REGISTRY", ":memory:", 1);
        zvp::reg::ReopenForTesting();
        ASSERT_EQ(zvtest::Family9x() ? 0 : 1, zv::g_wideCalls);
    }
};

bool KeyExists(HKEY root, const char* path) {
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// The raw size and type of a value, through the form the family has.
bool RawValue(HKEY root, const char* path, const char* name, DWORD* type, DWORD* size) {
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    LONG status;
    if (zvtest::Family9x()) {
        status = RegQueryValueExA(key, name, nullptr, type, nullptr, size);
    } else {
        std::u16string wideName = W(name ? name : "");
        status = RegQueryValueExW(key, wideName.c_str(), nullptr, type, nullptr, size);
    }
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

size_t ValueCount(HKEY root, const char* path) {
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    size_t count = 0;
    for (;; ++count) {
        char name[64];
        DWORD length = sizeof(name);
        if (RegEnumValueA(key, DWORD(count), name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
    }
    RegCloseKey(key);
    return count;
}

// A read into a buffer whose every unit starts as a sentinel.
struct ReadBuffer {
    ReadBuffer() { std::fill(units, units + 300, char16_t(0xBEEF)); }
    std::u16string text() const { return std::u16string(units); }
    char16_t units[300];
};

TEST_F(RegistryEntries, NullAndEmptyValueNamesBothNameTheDefaultValue) {
    const std::u16string path = W("Software\\Zv\\Default");
    ASSERT_EQ(S_OK, ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, path.c_str(), nullptr, u"first"));
    ReadBuffer read;
    ASSERT_EQ(S_OK, ZVGetRegistryEntry(HKEY_LOCAL_MACHINE, path.c_str(), u"", read.units));
    EXPECT_EQ(u"first", read.text());
    ASSERT_EQ(S_OK, ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, path.c_str(), u"", u"second"));
    ASSERT_EQ(S_OK, ZVGetRegistryEntry(HKEY_LOCAL_MACHINE, path.c_str(), nullptr, read.units));
    EXPECT_EQ(u"second", read.text());
    EXPECT_EQ(1u, ValueCount(HKEY_LOCAL_MACHINE, "Software\\Zv\\Default"));
    DWORD type = 0, size = 0;
    ASSERT_TRUE(RawValue(HKEY_LOCAL_MACHINE, "Software\\Zv\\Default", nullptr, &type, &size));
    EXPECT_EQ(DWORD(REG_SZ), type);
}

TEST_F(RegistryEntries, AnEmptyValueIsStoredAsOneTerminator) {
    ASSERT_EQ(S_OK, ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Zv", u"empty", u""));
    DWORD type = 0, size = 0;
    ASSERT_TRUE(RawValue(HKEY_LOCAL_MACHINE, "Software\\Zv", "empty", &type, &size));
    EXPECT_EQ(DWORD(REG_SZ), type);
    // Two bytes on the wide path, one on the narrow path.
    EXPECT_EQ(zvtest::Family9x() ? 1u : 2u, size);
    ReadBuffer read;
    ASSERT_EQ(S_OK, ZVGetRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Zv", u"empty", read.units));
    EXPECT_EQ(u"", read.text());
    // The wide path stores the terminator with the characters.
    ASSERT_EQ(S_OK, ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Zv", u"abc", u"abc"));
    ASSERT_TRUE(RawValue(HKEY_LOCAL_MACHINE, "Software\\Zv", "abc", &type, &size));
    EXPECT_EQ(zvtest::Family9x() ? 4u : 8u, size);
}

TEST_F(RegistryEntries, AWriteCreatesEveryMissingKeyOnTheWay) {
    ASSERT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\ZvNew"));
    ASSERT_EQ(S_OK, ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\ZvNew\\Two\\Three", u"name",
                                       u"value"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\ZvNew"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\ZvNew\\Two"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\ZvNew\\Two\\Three"));
    EXPECT_EQ(0u, ValueCount(HKEY_LOCAL_MACHINE, "Software\\ZvNew\\Two"));
    ReadBuffer read;
    ASSERT_EQ(S_OK, ZVGetRegistryEntry(HKEY_LOCAL_MACHINE, u"software\\zvnew\\two\\three",
                                       u"NAME", read.units));
    EXPECT_EQ(u"value", read.text());
    // Writing again overwrites; nothing is added.
    ASSERT_EQ(S_OK, ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\ZvNew\\Two\\Three", u"name",
                                       u"other"));
    ASSERT_EQ(S_OK, ZVGetRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\ZvNew\\Two\\Three",
                                       u"name", read.units));
    EXPECT_EQ(u"other", read.text());
    EXPECT_EQ(1u, ValueCount(HKEY_LOCAL_MACHINE, "Software\\ZvNew\\Two\\Three"));
    // Under the classes root too, which is a view of the machine's classes.
    ASSERT_EQ(S_OK, ZVAddRegistryEntry(HKEY_CLASSES_ROOT, u"Zv.Entry\\CLSID", nullptr, u"{x}"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Classes\\Zv.Entry\\CLSID"));
}

TEST_F(RegistryEntries, TheReadCapacityIs255Bytes) {
    // Wide: 126 characters and the terminator are 254 bytes; 127 need 256.
    // Narrow: 254 characters and the terminator are 255 bytes.
    size_t fits = zvtest::Family9x() ? 254 : 126;
    std::u16string longest(fits, u'x');
    std::u16string tooLong(fits + 1, u'y');
    ASSERT_EQ(S_OK, ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Zv", u"fits", longest.c_str()));
    ASSERT_EQ(S_OK, ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Zv", u"long", tooLong.c_str()));
    ReadBuffer read;
    ASSERT_EQ(S_OK, ZVGetRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Zv", u"fits", read.units));
    EXPECT_EQ(longest, read.text());
    EXPECT_EQ(char16_t(0xBEEF), read.units[fits + 1]);
    ReadBuffer failed;
    EXPECT_EQ(E_FAIL, ZVGetRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Zv", u"long", failed.units));
    EXPECT_EQ(char16_t(0xBEEF), failed.units[0]);
}

TEST_F(RegistryEntries, ReadFailuresLeaveTheBufferAlone) {
    ASSERT_EQ(S_OK, ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Zv", u"there", u"x"));
    ReadBuffer read;
    EXPECT_EQ(E_FAIL, ZVGetRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Nope", u"there", read.units));
    EXPECT_EQ(E_FAIL, ZVGetRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Zv", u"missing", read.units));
    EXPECT_EQ(E_FAIL, ZVGetRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Zv", nullptr, read.units));
    HKEY bogus = reinterpret_cast<HKEY>(uintptr_t(0x7777770));
    EXPECT_EQ(E_FAIL, ZVGetRegistryEntry(bogus, u"Software\\Zv", u"there", read.units));
    EXPECT_EQ(E_FAIL, ZVGetRegistryEntry(HKEY_LOCAL_MACHINE, nullptr, u"there", read.units));
    EXPECT_EQ(E_FAIL, ZVGetRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Zv", u"there", nullptr));
    EXPECT_EQ(char16_t(0xBEEF), read.units[0]);
    EXPECT_EQ(E_FAIL, ZVAddRegistryEntry(bogus, u"Software\\Zv", u"v", u"x"));
    EXPECT_EQ(E_FAIL, ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, nullptr, u"v", u"x"));
    EXPECT_EQ(E_FAIL, ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Zv", u"v", nullptr));
    EXPECT_EQ(E_FAIL, ZVDeleteRegistryEntry(bogus, u"Software\\Zv"));
    EXPECT_EQ(E_FAIL, ZVDeleteRegistryEntry(HKEY_LOCAL_MACHINE, nullptr));
    EXPECT_EQ(1u, ValueCount(HKEY_LOCAL_MACHINE, "Software\\Zv"));
}

TEST_F(RegistryEntries, TheValueTypeIsNotChecked) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Zv", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    const BYTE number[4] = {'A', 0, 'B', 0};
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "dword", 0, REG_DWORD, number, 4));
    const BYTE noZero[4] = {'C', 'D', 'E', 'F'};
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "bin", 0, REG_BINARY, noZero, 4));
    RegCloseKey(key);
    ReadBuffer read;
    std::fill(read.units, read.units + 300, char16_t(0));
    ASSERT_EQ(S_OK, ZVGetRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Zv", u"dword", read.units));
    // The bytes as they are: two units on the wide path, up to the first
    // zero byte, widened, on the narrow one.
    EXPECT_EQ(zvtest::Family9x() ? u"A" : u"AB", read.text());
    std::fill(read.units, read.units + 300, char16_t(0));
    ASSERT_EQ(S_OK, ZVGetRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Zv", u"bin", read.units));
    EXPECT_EQ(zvtest::Family9x() ? u"CDEF" : u"\u4443\u4645", read.text());
}

TEST_F(RegistryEntries, DeleteRemovesTheWholeSubtree) {
    for (const char16_t* path : {u"Software\\Zv\\Top\\A\\A1\\Deep", u"Software\\Zv\\Top\\A\\A2",
                                 u"Software\\Zv\\Top\\B", u"Software\\Zv\\Top"})
        ASSERT_EQ(S_OK, ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, path, u"v", u"x"));
    ASSERT_EQ(S_OK, ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Zv\\Other", u"v", u"y"));
    EXPECT_EQ(S_OK, ZVDeleteRegistryEntry(HKEY_LOCAL_MACHINE, u"software\\zv\\TOP"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Zv\\Top"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Zv\\Other"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Zv"));
    // Gone means gone: a second delete fails, and so does a read below it.
    EXPECT_EQ(E_FAIL, ZVDeleteRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Zv\\Top"));
    ReadBuffer read;
    EXPECT_EQ(E_FAIL, ZVGetRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Zv\\Top\\B", u"v", read.units));
    // A key made again starts empty.
    ASSERT_EQ(S_OK, ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Zv\\Top\\A", u"w", u"z"));
    EXPECT_EQ(1u, ValueCount(HKEY_LOCAL_MACHINE, "Software\\Zv\\Top\\A"));
    EXPECT_EQ(E_FAIL, ZVDeleteRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Never"));
}

TEST_F(RegistryEntries, ASubkeyTheWidePathCannotListStopsTheDelete) {
    // A 255-character name does not fit the enumeration's 255-character
    // capacity (the terminator needs one more).
    std::string longName = "m" + std::string(254, 'x');
    for (const std::string& child : {std::string("a1\\g"), longName, std::string("z1")}) {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExA(HKEY_LOCAL_MACHINE, ("Software\\Zv\\Top\\" + child).c_str(), 0,
                                  nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
        RegCloseKey(key);
    }
    HRESULT result = ZVDeleteRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Zv\\Top");
    if (zvtest::Family9x()) {
        // The narrow delete takes the subtree whole.
        EXPECT_EQ(S_OK, result);
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Zv\\Top"));
        return;
    }
    // What was listed before the long name is gone and stays gone.
    EXPECT_EQ(E_FAIL, result);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Zv\\Top\\a1"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, ("Software\\Zv\\Top\\" + longName).c_str()));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Zv\\Top\\z1"));
}

TEST_F(RegistryEntries, NarrowStagingBuffersHold255Characters) {
    // The key path, value name and value each fit 255 characters; on the
    // narrow path one more is refused before anything is written.
    std::u16string path = u"Software\\" + std::u16string(246, u'k');
    ASSERT_EQ(255u, path.size());
    std::u16string name(255, u'n');
    std::u16string value(255, u'v');
    EXPECT_EQ(S_OK, ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, path.c_str(), name.c_str(), value.c_str()));
    std::u16string longPath = u"Software\\" + std::u16string(247, u'q');
    std::u16string longName = name + u"n";
    std::u16string longValue = value + u"v";
    HRESULT expected = zvtest::Family9x() ? E_FAIL : S_OK;
    EXPECT_EQ(expected, ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, longPath.c_str(), u"v", u"x"));
    EXPECT_EQ(!zvtest::Family9x(), KeyExists(HKEY_LOCAL_MACHINE, zvtest::N(longPath.c_str()).c_str()));
    EXPECT_EQ(expected, ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Zv", longName.c_str(), u"x"));
    EXPECT_EQ(expected, ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Zv", u"v", longValue.c_str()));
    ReadBuffer read;
    EXPECT_EQ(expected, ZVGetRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Zv", longName.c_str(), read.units));
    EXPECT_EQ(expected, ZVGetRegistryEntry(HKEY_LOCAL_MACHINE, longPath.c_str(), u"v", read.units));
    // Narrowing keeps each unit's low byte, as the library's conversion does.
    ASSERT_EQ(S_OK, ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Zv", u"latin", u"\u00E9t\u00E9"));
    ASSERT_EQ(S_OK, ZVGetRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Zv", u"latin", read.units));
    // Widening sign-extends on the narrow path.
    EXPECT_EQ(zvtest::Family9x() ? std::u16string(u"\uFFE9t\uFFE9") : std::u16string(u"\u00E9t\u00E9"),
              read.text());
}

TEST_F(RegistryEntries, AFailedSetLeavesTheCreatedKey) {
    // Value names hold 16,383 characters in the registry; a longer one
    // fails the set after the key was made.  The narrow path refuses it
    // before creating anything.
    std::u16string name(16384, u'n');
    EXPECT_EQ(E_FAIL, ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Made", name.c_str(), u"x"));
    EXPECT_EQ(!zvtest::Family9x(), KeyExists(HKEY_LOCAL_MACHINE, "Software\\Made"));
    EXPECT_EQ(0u, ValueCount(HKEY_LOCAL_MACHINE, "Software\\Made"));
}

TEST_F(RegistryEntries, ARootOpenedForReadingRefusesWrites) {
    ASSERT_EQ(S_OK, ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Zv\\Sub", u"v", u"old"));
    HKEY reader;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Zv", 0, KEY_READ, &reader));
    // Opening the existing key through it works, writing a new one does not.
    EXPECT_EQ(S_OK, ZVAddRegistryEntry(reader, u"Sub", u"v", u"new"));
    EXPECT_EQ(E_FAIL, ZVAddRegistryEntry(reader, u"Fresh", u"v", u"x"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Zv\\Fresh"));
    ReadBuffer read;
    ASSERT_EQ(S_OK, ZVGetRegistryEntry(reader, u"Sub", u"v", read.units));
    EXPECT_EQ(u"new", read.text());
    // The functions never close the root they are given.
    ASSERT_EQ(S_OK, ZVGetRegistryEntry(reader, u"Sub", u"v", read.units));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(reader));
}

TEST(RegistryRootText, MapsTheTwoVirtualRoots) {
    EXPECT_EQ(u"ZV_HKEY_CONFIG\\", std::u16string(zv::RootText(HKEY_LOCAL_MACHINE)));
    EXPECT_EQ(u"ZV_HKEY_CLASSES\\", std::u16string(zv::RootText(HKEY_CLASSES_ROOT)));
    EXPECT_EQ(nullptr, zv::RootText(HKEY_CURRENT_USER));
    EXPECT_EQ(nullptr, zv::RootText(HKEY_USERS));
    EXPECT_EQ(nullptr, zv::RootText(reinterpret_cast<HKEY>(uintptr_t(4))));

    struct Case {
        const char16_t* text;
        bool ok;
        HKEY root;
        const char16_t* path;
    } cases[] = {
        {u"ZV_HKEY_CONFIG\\Software", true, HKEY_LOCAL_MACHINE, u"Software"},
        {u"ZV_HKEY_CONFIG\\", true, HKEY_LOCAL_MACHINE, u""},
        {u"ZV_HKEY_CONFIG\\Software\\Demo", true, HKEY_LOCAL_MACHINE, u"Software\\Demo"},
        {u"ZV_HKEY_CLASSES\\CLSID", true, HKEY_CLASSES_ROOT, u"CLSID"},
        {u"ZV_HKEY_CLASSES\\", true, HKEY_CLASSES_ROOT, u""},
        {u"zv_hkey_config\\Software", false, nullptr, nullptr},
        {u"ZV_HKEY_Classes\\CLSID", false, nullptr, nullptr},
        {u"ZV_HKEY_CONFIG", false, nullptr, nullptr},
        {u"ZV_HKEY_CONFIG/Software", false, nullptr, nullptr},
        {u"ZV_HKEY_CLASS", false, nullptr, nullptr},
        {u"HKEY_LOCAL_MACHINE\\Software", false, nullptr, nullptr},
        {u"", false, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        HKEY root = reinterpret_cast<HKEY>(uintptr_t(1));
        const ZVWCHAR* path = u"untouched";
        EXPECT_EQ(c.ok, zv::RootFromText(c.text, &root, &path)) << zvtest::N(c.text);
        if (!c.ok) continue;
        EXPECT_EQ(c.root, root);
        EXPECT_EQ(std::u16string(c.path), std::u16string(path));
        // And back: the root text followed by the path is the text.
        EXPECT_EQ(std::u16string(c.text), std::u16string(zv::RootText(root)) + path);
    }
}

}  // namespace
