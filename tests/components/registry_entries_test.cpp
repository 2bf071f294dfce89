// String values under a caller's root key, on the family the suite runs on:
// the wide path on NT, the narrow staging path on 9x.
#include <string>
#include <vector>

#include "component_support.h"

using namespace zvtest;

namespace {

const HKEY kMachine = HKEY_LOCAL_MACHINE;
const HKEY kBogus = reinterpret_cast<HKEY>(uintptr_t(0x7777770));

HRESULT Add(const char16_t* path, const char16_t* name, const char16_t* value, HKEY root = kMachine) {
    return ZVAddRegistryEntry(root, path, name, value);
}

// A value read into units that start as `fill`, or "<fail>" when the read
// fails, which must leave them alone.  Nothing past the terminator is written.
std::u16string Read(const char16_t* path, const char16_t* name, HKEY root = kMachine, char16_t fill = 0xBEEF) {
    std::vector<char16_t> units(300, fill);
    if (ZVGetRegistryEntry(root, path, name, units.data()) != S_OK) {
        EXPECT_EQ(units[0], fill);
        return u"<fail>";
    }
    const std::u16string text(units.data());
    EXPECT_EQ(units[text.size() + 1], fill);
    return text;
}

HKEY MakeKey(const std::string& path) {
    HKEY key = nullptr;
    RegCreateKeyExA(kMachine, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    return key;
}

// The size of a REG_SZ value under Software\Zv, through the form the family has.
DWORD StoredSize(const char* name) {
    HKEY key = MakeKey("Software\\Zv");
    DWORD type = 0, size = 0;
    LONG status = Family9x() ? RegQueryValueExA(key, name, nullptr, &type, nullptr, &size)
                             : RegQueryValueExW(key, W(name).c_str(), nullptr, &type, nullptr, &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_SZ ? size : 0;
}

}  // namespace

TEST(RegistryEntries, WritesStringValuesCreatingEveryKeyOnTheWay) {
    // Null and empty names both name the default value; paths ignore case.
    ASSERT_EQ(Add(u"Software\\Zv\\Two\\Three", nullptr, u"first"), S_OK);
    EXPECT_EQ(RegistryCount(kMachine, "Software\\Zv\\Two"), 0);
    EXPECT_EQ(Read(u"software\\zv\\two\\three", u""), u"first");
    ASSERT_EQ(Add(u"Software\\Zv\\Two\\Three", u"", u"second"), S_OK);
    EXPECT_EQ(Read(u"Software\\Zv\\Two\\Three", nullptr), u"second");
    EXPECT_EQ(RegistryCount(kMachine, "Software\\Zv\\Two\\Three"), 1);
    // Stored with the terminator: an empty value is two bytes wide, one narrow.
    ASSERT_EQ(Add(u"Software\\Zv", u"empty", u""), S_OK);
    ASSERT_EQ(Add(u"Software\\Zv", u"abc", u"abc"), S_OK);
    EXPECT_EQ(StoredSize("empty"), Family9x() ? 1u : 2u);
    EXPECT_EQ(StoredSize("abc"), Family9x() ? 4u : 8u);
    EXPECT_EQ(Read(u"Software\\Zv", u"empty"), u"");
    // The classes root is a view of the machine's classes.
    ASSERT_EQ(Add(u"Zv.Entry\\CLSID", nullptr, u"{x}", HKEY_CLASSES_ROOT), S_OK);
    EXPECT_TRUE(KeyExists(kMachine, "Software\\Classes\\Zv.Entry\\CLSID"));
    // The type is not checked: the bytes as they are, two units on the wide
    // path, up to the first zero byte, widened, on the narrow one.
    const BYTE bytes[4] = {'A', 0, 'B', 0};
    HKEY key = MakeKey("Software\\Zv");
    ASSERT_EQ(RegSetValueExA(key, "dword", 0, REG_DWORD, bytes, 4), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(Read(u"Software\\Zv", u"dword", kMachine, 0), Family9x() ? u"A" : u"AB");
}

TEST(RegistryEntries, EveryFailureIsEFail) {
    ASSERT_EQ(Add(u"Software\\Zv", u"there", u"x"), S_OK);
    for (const char16_t* path : {u"Software\\Nope", static_cast<const char16_t*>(nullptr)})
        EXPECT_EQ(Read(path, u"there"), u"<fail>");
    EXPECT_EQ(Read(u"Software\\Zv", u"missing"), u"<fail>");
    EXPECT_EQ(Read(u"Software\\Zv", nullptr), u"<fail>");
    EXPECT_EQ(Read(u"Software\\Zv", u"there", kBogus), u"<fail>");
    EXPECT_EQ(ZVGetRegistryEntry(kMachine, u"Software\\Zv", u"there", nullptr), E_FAIL);
    EXPECT_EQ(Add(u"Software\\Zv", u"v", u"x", kBogus), E_FAIL);
    EXPECT_EQ(Add(nullptr, u"v", u"x"), E_FAIL);
    EXPECT_EQ(Add(u"Software\\Zv", u"v", nullptr), E_FAIL);
    EXPECT_EQ(ZVDeleteRegistryEntry(kBogus, u"Software\\Zv"), E_FAIL);
    EXPECT_EQ(ZVDeleteRegistryEntry(kMachine, nullptr), E_FAIL);
    EXPECT_EQ(ZVDeleteRegistryEntry(kMachine, u"Software\\Never"), E_FAIL);
    EXPECT_EQ(RegistryCount(kMachine, "Software\\Zv"), 1);
    // A value name past the registry's 16,383 characters fails the set after
    // the key was made; the narrow path refuses it before.
    EXPECT_EQ(Add(u"Software\\Made", std::u16string(16384, u'n').c_str(), u"x"), E_FAIL);
    EXPECT_EQ(RegistryCount(kMachine, "Software\\Made"), Family9x() ? -1 : 0);
    // A root opened for reading opens an existing key but makes none; the
    // functions never close the root they are given.
    HKEY reader = nullptr;
    ASSERT_EQ(RegOpenKeyExA(kMachine, "Software", 0, KEY_READ, &reader), ERROR_SUCCESS);
    EXPECT_EQ(Add(u"Zv", u"there", u"new", reader), S_OK);
    EXPECT_EQ(Add(u"Fresh", u"v", u"x", reader), E_FAIL);
    EXPECT_EQ(Read(u"Zv", u"there", reader), u"new");
    EXPECT_EQ(RegCloseKey(reader), ERROR_SUCCESS);
}

TEST(RegistryEntries, ReadCapacityAndNarrowStagingBuffers) {
    // A read holds 255 bytes: 126 wide characters and the terminator, or 254
    // narrow ones.
    const size_t fits = Family9x() ? 254 : 126;
    const std::u16string longest(fits, u'x'), tooLong(fits + 1, u'y');
    ASSERT_EQ(Add(u"Software\\Zv", u"fits", longest.c_str()), S_OK);
    ASSERT_EQ(Add(u"Software\\Zv", u"long", tooLong.c_str()), S_OK);
    EXPECT_EQ(Read(u"Software\\Zv", u"fits"), longest);
    EXPECT_EQ(Read(u"Software\\Zv", u"long"), u"<fail>");
    // The narrow path stages key path, name and value in 255 characters each;
    // one more is refused before anything is written.
    const std::u16string path = u"Software\\" + std::u16string(246, u'k'), name(255, u'n'), value(255, u'v');
    EXPECT_EQ(Add(path.c_str(), name.c_str(), value.c_str()), S_OK);
    const std::u16string longPath = path + u"k", longName = name + u"n", longValue = value + u"v";
    const HRESULT expected = Family9x() ? E_FAIL : S_OK;
    EXPECT_EQ(Add(longPath.c_str(), u"v", u"x"), expected);
    EXPECT_EQ(KeyExists(kMachine, N(longPath.c_str())), !Family9x());
    EXPECT_EQ(Add(u"Software\\Zv", longName.c_str(), u"x"), expected);
    EXPECT_EQ(Add(u"Software\\Zv", u"v", longValue.c_str()), expected);
    EXPECT_EQ(Read(u"Software\\Zv", longName.c_str()), Family9x() ? u"<fail>" : u"x");
    EXPECT_EQ(Read(longPath.c_str(), u"v"), Family9x() ? u"<fail>" : u"x");
    // Narrowing keeps each unit's low byte; widening sign-extends.
    ASSERT_EQ(Add(u"Software\\Zv", u"latin", u"\u00E9t"), S_OK);
    EXPECT_EQ(Read(u"Software\\Zv", u"latin"), Family9x() ? u"\uFFE9t" : u"\u00E9t");
}

TEST(RegistryEntries, DeleteRemovesTheWholeSubtreeOrWhatItCouldList) {
    for (const char16_t* path : {u"Software\\Zv\\Top\\A\\A1\\Deep", u"Software\\Zv\\Top\\B", u"Software\\Zv\\Other"})
        ASSERT_EQ(Add(path, u"v", u"x"), S_OK);
    EXPECT_EQ(ZVDeleteRegistryEntry(kMachine, u"software\\zv\\TOP"), S_OK);
    EXPECT_FALSE(KeyExists(kMachine, "Software\\Zv\\Top"));
    EXPECT_TRUE(KeyExists(kMachine, "Software\\Zv\\Other"));
    EXPECT_EQ(ZVDeleteRegistryEntry(kMachine, u"Software\\Zv\\Top"), E_FAIL);
    // A 255-character subkey name does not fit the wide enumeration (its
    // terminator needs one more): what was listed before it is gone and
    // stays gone, the rest stays.  The narrow delete takes the subtree whole.
    const std::string top = "Software\\Zv\\Top\\", longName = "m" + std::string(254, 'x');
    for (const std::string& child : {std::string("a1\\g"), longName, std::string("z1")})
        RegCloseKey(MakeKey(top + child));
    EXPECT_EQ(ZVDeleteRegistryEntry(kMachine, u"Software\\Zv\\Top"), Family9x() ? S_OK : E_FAIL);
    EXPECT_FALSE(KeyExists(kMachine, top + "a1"));
    EXPECT_EQ(KeyExists(kMachine, top + longName), !Family9x());
    EXPECT_EQ(KeyExists(kMachine, top + "z1"), !Family9x());
}
