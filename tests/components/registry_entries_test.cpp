// String values under a caller's root key, on the family the suite runs on:
// the wide path on NT, the narrow staging path on 9x.
#include <string>
#include <vector>

#include "component_support.h"

using namespace zvtest;

namespace {

const HKEY kMachine = HKEY_LOCAL_MACHINE;

HRESULT Add(const std::u16string& path, const std::u16string& name, const char16_t* value, HKEY root = kMachine) {
    return ZVAddRegistryEntry(root, path.c_str(), name.c_str(), value);
}

// A value read into units that start as 0xBEEF, or "<fail>" when the read
// fails, which must leave them alone.  Nothing past the terminator is written.
std::u16string Read(const char16_t* path, const char16_t* name, HKEY root = kMachine) {
    std::vector<char16_t> units(300, 0xBEEF);
    if (ZVGetRegistryEntry(root, path, name, units.data()) != S_OK) {
        EXPECT_EQ(units[0], 0xBEEF);
        return u"<fail>";
    }
    const std::u16string text(units.data());
    EXPECT_EQ(units[text.size() + 1], 0xBEEF);
    return text;
}

}  // namespace

TEST(RegistryEntries, WritesStringValuesCreatingEveryKeyOnTheWay) {
    // Null and empty names both name the default value; paths ignore case.
    ASSERT_EQ(ZVAddRegistryEntry(kMachine, u"Software\\Zv\\Two\\Three", nullptr, u"first"), S_OK);
    EXPECT_EQ(RegistryCount(kMachine, "Software\\Zv\\Two"), 0);
    EXPECT_EQ(Read(u"software\\zv\\two\\three", u""), u"first");
    ASSERT_EQ(Add(u"Software\\Zv\\Two\\Three", u"", u"second"), S_OK);
    EXPECT_EQ(Read(u"Software\\Zv\\Two\\Three", nullptr), u"second");
    EXPECT_EQ(RegistryCount(kMachine, "Software\\Zv\\Two\\Three"), 1);
    ASSERT_EQ(Add(u"Software\\Zv", u"empty", u""), S_OK);
    EXPECT_EQ(Read(u"Software\\Zv", u"empty"), u"");
    // Narrowing keeps each unit's low byte; widening sign-extends.
    ASSERT_EQ(Add(u"Software\\Zv", u"latin", u"\u00E9t"), S_OK);
    EXPECT_EQ(Read(u"Software\\Zv", u"latin"), Family9x() ? u"\uFFE9t" : u"\u00E9t");
}

TEST(RegistryEntries, EveryFailureIsEFail) {
    const HKEY bogus = reinterpret_cast<HKEY>(uintptr_t(0x7777770));
    ASSERT_EQ(Add(u"Software\\Zv", u"there", u"x"), S_OK);
    EXPECT_EQ(Read(u"Software\\Nope", u"there"), u"<fail>");
    EXPECT_EQ(Read(nullptr, u"there"), u"<fail>");
    EXPECT_EQ(Read(u"Software\\Zv", u"missing"), u"<fail>");
    EXPECT_EQ(Read(u"Software\\Zv", nullptr), u"<fail>");
    EXPECT_EQ(Read(u"Software\\Zv", u"there", bogus), u"<fail>");
    EXPECT_EQ(ZVGetRegistryEntry(kMachine, u"Software\\Zv", u"there", nullptr), E_FAIL);
    EXPECT_EQ(Add(u"Software\\Zv", u"v", u"x", bogus), E_FAIL);
    EXPECT_EQ(ZVAddRegistryEntry(kMachine, nullptr, u"v", u"x"), E_FAIL);
    EXPECT_EQ(Add(u"Software\\Zv", u"v", nullptr), E_FAIL);
    EXPECT_EQ(ZVDeleteRegistryEntry(bogus, u"Software\\Zv"), E_FAIL);
    EXPECT_EQ(ZVDeleteRegistryEntry(kMachine, nullptr), E_FAIL);
    EXPECT_EQ(ZVDeleteRegistryEntry(kMachine, u"Software\\Never"), E_FAIL);
    EXPECT_EQ(RegistryCount(kMachine, "Software\\Zv"), 1);
    // A value name past the registry's 16,383 characters fails the set after
    // the key was made; the narrow path refuses it before.
    EXPECT_EQ(Add(u"Software\\Made", std::u16string(16384, u'n'), u"x"), E_FAIL);
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
    ASSERT_EQ(Add(u"Software\\Zv", u"fits", std::u16string(fits, u'x').c_str()), S_OK);
    ASSERT_EQ(Add(u"Software\\Zv", u"long", std::u16string(fits + 1, u'y').c_str()), S_OK);
    EXPECT_EQ(Read(u"Software\\Zv", u"fits"), std::u16string(fits, u'x'));
    EXPECT_EQ(Read(u"Software\\Zv", u"long"), u"<fail>");
    // The narrow path stages key path, name and value in 255 characters each;
    // one more is refused before anything is written.
    const std::u16string path = u"Software\\" + std::u16string(246, u'k'), name(255, u'n');
    EXPECT_EQ(Add(path, name, std::u16string(255, u'v').c_str()), S_OK);
    const HRESULT expected = Family9x() ? E_FAIL : S_OK;
    EXPECT_EQ(Add(path + u"k", u"v", u"x"), expected);
    EXPECT_EQ(KeyExists(kMachine, N(path.c_str()) + "k"), !Family9x());
    EXPECT_EQ(Add(u"Software\\Zv", name + u"n", u"x"), expected);
    EXPECT_EQ(Add(u"Software\\Zv", u"v", std::u16string(256, u'v').c_str()), expected);
    EXPECT_EQ(Read(u"Software\\Zv", (name + u"n").c_str()), Family9x() ? u"<fail>" : u"x");
    EXPECT_EQ(Read((path + u"k").c_str(), u"v"), Family9x() ? u"<fail>" : u"x");
}

TEST(RegistryEntries, DeleteRemovesTheWholeSubtreeOrWhatItCouldList) {
    for (const char16_t* path : {u"Software\\Zv\\Top\\A\\A1\\Deep", u"Software\\Zv\\Top\\B", u"Software\\Zv\\Other"})
        ASSERT_EQ(Add(path, u"v", u"x"), S_OK);
    EXPECT_EQ(ZVDeleteRegistryEntry(kMachine, u"software\\zv\\TOP"), S_OK);
    EXPECT_FALSE(KeyExists(kMachine, "Software\\Zv\\Top"));
    EXPECT_TRUE(KeyExists(kMachine, "Software\\Zv\\Other"));
    EXPECT_EQ(ZVDeleteRegistryEntry(kMachine, u"Software\\Zv\\Top"), E_FAIL);
    if (Family9x()) return;  // the narrow delete is one call for the subtree
    // A 255-character subkey name does not fit the wide enumeration (its
    // terminator needs one more): what was listed before it is gone and
    // stays gone, the rest stays.
    const std::u16string top = u"Software\\Zv\\Top\\", longName = u"m" + std::u16string(254, u'x');
    for (const std::u16string& child : {top + u"a1\\g", top + longName, top + u"z1"})
        ASSERT_EQ(Add(child, u"v", u"x"), S_OK);
    EXPECT_EQ(ZVDeleteRegistryEntry(kMachine, top.substr(0, top.size() - 1).c_str()), E_FAIL);
    EXPECT_FALSE(KeyExists(kMachine, "Software\\Zv\\Top\\a1"));
    EXPECT_EQ(Read((top + longName).c_str(), u"v"), u"x");
    EXPECT_EQ(Read((top + u"z1").c_str(), u"v"), u"x");
}
