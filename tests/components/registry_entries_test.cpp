// String values under a caller's root key, on the family the suite runs on:
// the wide path on NT, the narrow staging path on 9x.
#include "component_support.h"

using namespace zvtest;

static const HKEY kMachine = HKEY_LOCAL_MACHINE;

static HRESULT Add(const std::u16string& path, const std::u16string& name, const char16_t* value, HKEY root = kMachine) {
    return ZVAddRegistryEntry(root, path.c_str(), name.c_str(), value);
}


TEST(RegistryEntries, EveryFailureIsEFail) {
    const HKEY bogus = reinterpret_cast<HKEY>(uintptr_t(0x7777770));
    ASSERT_EQ(Add(u"Software\\Zv", u"there", u"x"), S_OK);
    EXPECT_EQ(ReadValue(kMachine, u"Software\\Nope", u"there"), u"<fail>");
    EXPECT_EQ(ReadValue(kMachine, u"Software\\Zv", u"missing"), u"<fail>");
    EXPECT_EQ(ReadValue(kMachine, u"Software\\Zv", nullptr), u"<fail>");
    EXPECT_EQ(ReadValue(bogus, u"Software\\Zv", u"there"), u"<fail>");
    ZVWCHAR unit = 0xBEEF;
    EXPECT_EQ(ZVGetRegistryEntry(kMachine, nullptr, u"there", &unit), E_FAIL);
    EXPECT_EQ(ZVGetRegistryEntry(kMachine, u"Software\\Zv", u"there", nullptr), E_FAIL);
    EXPECT_EQ(Add(u"Software\\Zv", u"v", u"x", bogus), E_FAIL);
    EXPECT_EQ(ZVAddRegistryEntry(kMachine, nullptr, u"v", u"x"), E_FAIL);
    EXPECT_EQ(Add(u"Software\\Zv", u"v", nullptr), E_FAIL);
    EXPECT_EQ(ZVDeleteRegistryEntry(bogus, u"Software\\Zv"), E_FAIL);
    EXPECT_EQ(ZVDeleteRegistryEntry(kMachine, nullptr), E_FAIL);
    EXPECT_EQ(ZVDeleteRegistryEntry(kMachine, u"Software\\Never"), E_FAIL);
    EXPECT_EQ(RegistryCount(kMachine, u"Software\\Zv"), 1);
    // A value name past the registry's 16,383 characters fails the set after
    // the key was made; the narrow path refuses it before.
    EXPECT_EQ(Add(u"Software\\Made", std::u16string(16384, u'n'), u"x"), E_FAIL);
    EXPECT_EQ(RegistryCount(kMachine, u"Software\\Made"), Family9x() ? -1 : 0);
    // A root opened for reading opens an existing key but makes none; the
    // functions never close the root they are given.
    HKEY reader = nullptr;
    ASSERT_EQ(RegOpenKeyExA(kMachine, "Software", 0, KEY_READ, &reader), ERROR_SUCCESS);
    EXPECT_EQ(Add(u"Zv", u"there", u"new", reader), S_OK);
    EXPECT_EQ(Add(u"Fresh", u"v", u"x", reader), E_FAIL);
    EXPECT_EQ(RegCloseKey(reader), ERROR_SUCCESS);
}

TEST(RegistryEntries, ReadCapacityAndNarrowStagingBuffers) {
    // A read holds 255 bytes: 126 wide characters and the terminator, or 254
    // narrow ones.
    const size_t fits = Family9x() ? 254 : 126;
    ASSERT_EQ(Add(u"Software\\Zv", u"fits", std::u16string(fits, u'x').c_str()), S_OK);
    ASSERT_EQ(Add(u"Software\\Zv", u"long", std::u16string(fits + 1, u'y').c_str()), S_OK);
    EXPECT_EQ(ReadValue(kMachine, u"Software\\Zv", u"fits"), std::u16string(fits, u'x'));
    EXPECT_EQ(ReadValue(kMachine, u"Software\\Zv", u"long"), u"<fail>");
    // The narrow path stages key path, name and value in 255 characters each;
    // one more is refused before anything is written.
    const std::u16string path = u"Software\\" + std::u16string(246, u'k'), name(255, u'n');
    EXPECT_EQ(Add(path, name, std::u16string(255, u'v').c_str()), S_OK);
    const HRESULT expected = Family9x() ? E_FAIL : S_OK;
    EXPECT_EQ(Add(path + u"k", u"v", u"x"), expected);
    EXPECT_EQ(RegistryCount(kMachine, path + u"k"), Family9x() ? -1 : 1);
    EXPECT_EQ(Add(u"Software\\Zv", name + u"n", u"x"), expected);
    EXPECT_EQ(Add(u"Software\\Zv", u"v", std::u16string(256, u'v').c_str()), expected);
    // Cut short on the narrow path, they would be written as these.
    EXPECT_EQ(ReadValue(kMachine, u"Software\\Zv", name.c_str()) + ReadValue(kMachine, u"Software\\Zv", u"v"),
              u"<fail><fail>");
}

// Null and empty value names, intermediate keys and whole-subtree deletes
// are relied on, and so tested, by registration.
TEST(RegistryEntries, ADeleteKeepsWhatItRemovedBeforeASubkeyItCouldNotList) {
    if (Family9x()) return;  // the narrow delete is one call for the subtree
    // A 255-character subkey name does not fit the wide enumeration (its
    // terminator needs one more): what was listed before it is gone and
    // stays gone, the rest stays.
    const std::u16string top = u"Software\\Zv\\Top", longName = top + u"\\m" + std::u16string(254, u'x');
    for (const std::u16string& path : {top + u"\\a1\\g", longName, top + u"\\z1"}) ASSERT_EQ(Add(path, u"v", u"x"), S_OK);
    EXPECT_EQ(ZVDeleteRegistryEntry(kMachine, top.c_str()), E_FAIL);
    EXPECT_EQ(RegistryCount(kMachine, top + u"\\a1"), -1);
    EXPECT_EQ(RegistryCount(kMachine, longName) + RegistryCount(kMachine, top + u"\\z1"), 2);
}
