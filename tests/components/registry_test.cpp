// String values under a caller's root key, on the family the suite runs on
// (the wide path on NT, the narrow staging path on 9x), and registration and
// unregistration of in-process servers.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "components/components.h"
#include "support.h"

using namespace zvtest;

static const HKEY kMachine = HKEY_LOCAL_MACHINE;
static const std::u16string kClass = u"{0123ABCD-00EF-A0B1-C2D3-04E5F6071829}";
static const std::u16string kClassKey = u"CLSID\\" + kClass;

static HRESULT Add(const std::u16string& path, const std::u16string& name, const char16_t* value, HKEY root = kMachine) {
    return ZVAddRegistryEntry(root, path.c_str(), name.c_str(), value);
}

static HRESULT Register(const std::u16string& progId, const std::u16string& clsid,
                        const char16_t* server = u"/x.so", const char16_t* description = u"d") {
    return ZVRegisterComponent(server, progId.c_str(), description, clsid.c_str());
}

// A value (of HKEY_CLASSES_ROOT unless given) read into units that start as
// 0xBEEF, or u"<fail>" when the read fails, which must leave them alone.
// Nothing past the terminator is written.
static std::u16string Value(const std::u16string& path, const char16_t* name = nullptr, HKEY root = HKEY_CLASSES_ROOT) {
    std::vector<char16_t> units(300, 0xBEEF);
    if (ZVGetRegistryEntry(root, path.c_str(), name, units.data()) != S_OK) {
        EXPECT_EQ(units[0], 0xBEEF);
        return u"<fail>";
    }
    const std::u16string text(units.data());
    EXPECT_EQ(units[text.size() + 1], 0xBEEF);
    return text;
}

// The values (or subkeys) of a key (of HKEY_CLASSES_ROOT unless given),
// counted with the enumeration of the family; -1 when the key cannot be
// opened.  The wide calls on NT: Wine's narrow calls convert a key path into
// a buffer of 260 characters and fail on the longer paths used here.
static int Count(const std::u16string& path, bool subkeys = false, HKEY root = HKEY_CLASSES_ROOT) {
    const bool wide = !Family9x();
    const WCHAR* widePath = reinterpret_cast<const WCHAR*>(path.c_str());
    HKEY key = nullptr;
    if ((wide ? RegOpenKeyExW(root, widePath, 0, KEY_READ, &key)
              : RegOpenKeyExA(root, N(path.c_str()).c_str(), 0, KEY_READ, &key)) != ERROR_SUCCESS)
        return -1;
    int count = 0;
    for (WCHAR name[16384];; ++count) {
        DWORD at = DWORD(count), size = 16384;
        char* narrow = reinterpret_cast<char*>(name);
        LONG status = wide ? (subkeys ? RegEnumKeyExW(key, at, name, &size, nullptr, nullptr, nullptr, nullptr)
                                      : RegEnumValueW(key, at, name, &size, nullptr, nullptr, nullptr, nullptr))
                           : (subkeys ? RegEnumKeyExA(key, at, narrow, &size, nullptr, nullptr, nullptr, nullptr)
                                      : RegEnumValueA(key, at, narrow, &size, nullptr, nullptr, nullptr, nullptr));
        if (status != ERROR_SUCCESS) break;
    }
    RegCloseKey(key);
    return count;
}

// The keys a test makes below HKEY_LOCAL_MACHINE\Software, removed before
// and after it where the registry is the machine's own (on POSIX each test
// process has a registry of its own).
class MachineKeys {
  public:
    explicit MachineKeys(std::vector<std::u16string> paths) : paths_(std::move(paths)) { Remove(); }
    ~MachineKeys() { Remove(); }
    MachineKeys(const MachineKeys&) = delete;
    MachineKeys& operator=(const MachineKeys&) = delete;

  private:
    void Remove() {
#if defined(_WIN32)
        for (const std::u16string& path : paths_) RegDeleteTreeW(kMachine, SystemText(path.c_str()));
#endif
    }
    std::vector<std::u16string> paths_;
};

// Every failure is E_FAIL; a read holds 255 bytes, the narrow path stages
// texts in 255 characters; a delete keeps what it removed before a subkey it
// could not list.  Null and empty value names, intermediate keys and
// whole-subtree deletes are relied on, and so tested, by registration.
TEST(RegistryEntries, FailuresCapacitiesAndStagingBuffers) {
    const HKEY bogus = reinterpret_cast<HKEY>(uintptr_t(0x7777770));
    const std::u16string path = u"Software\\" + std::u16string(246, u'k'), name(255, u'n');
    const MachineKeys made({u"Software\\Zv", u"Software\\Made", u"Software\\Fresh", path, path + u"k"});
    ASSERT_EQ(Add(u"Software\\Zv", u"there", u"x"), S_OK);
    EXPECT_EQ(Value(u"Software\\Nope", u"there", kMachine) + Value(u"Software\\Zv", u"missing", kMachine) +
                  Value(u"Software\\Zv", nullptr, kMachine) + Value(u"Software\\Zv", u"there", bogus),
              u"<fail><fail><fail><fail>");
    ZVWCHAR unit = 0xBEEF;
    const std::vector<HRESULT> results = {
        ZVGetRegistryEntry(kMachine, nullptr, u"there", &unit), ZVGetRegistryEntry(kMachine, u"Software\\Zv", u"there", 0),
        Add(u"Software\\Zv", u"v", u"x", bogus), ZVAddRegistryEntry(kMachine, nullptr, u"v", u"x"),
        Add(u"Software\\Zv", u"v", nullptr), ZVDeleteRegistryEntry(bogus, u"Software\\Zv"),
        ZVDeleteRegistryEntry(kMachine, nullptr), ZVDeleteRegistryEntry(kMachine, u"Software\\Never")};
    EXPECT_EQ(results, std::vector<HRESULT>(8, E_FAIL));
    EXPECT_EQ(unit, 0xBEEF);
    EXPECT_EQ(Count(u"Software\\Zv", false, kMachine), 1);
    // A value name past the registry's 16,383 characters fails the set after
    // the key was made; the narrow path refuses it before.
    EXPECT_EQ(Add(u"Software\\Made", std::u16string(16384, u'n'), u"x"), E_FAIL);
    EXPECT_EQ(Count(u"Software\\Made", false, kMachine), Family9x() ? -1 : 0);
    // A root opened for reading opens an existing key and makes a new one
    // (Windows ignores the rights of the handle a key is made through); the
    // functions never close the root they are given.
    HKEY reader = nullptr;
    ASSERT_EQ(RegOpenKeyExA(kMachine, "Software", 0, KEY_READ, &reader), ERROR_SUCCESS);
    EXPECT_EQ(Add(u"Zv", u"there", u"new", reader), S_OK);
    EXPECT_EQ(Add(u"Fresh", u"v", u"x", reader), S_OK);
    EXPECT_EQ(RegCloseKey(reader), ERROR_SUCCESS);

    // A read holds 255 bytes: 126 wide characters and the terminator, or 254
    // narrow ones.
    const size_t fits = Family9x() ? 254 : 126;
    ASSERT_EQ(Add(u"Software\\Zv", u"fits", std::u16string(fits, u'x').c_str()), S_OK);
    ASSERT_EQ(Add(u"Software\\Zv", u"long", std::u16string(fits + 1, u'y').c_str()), S_OK);
    EXPECT_EQ(Value(u"Software\\Zv", u"fits", kMachine) + Value(u"Software\\Zv", u"long", kMachine),
              std::u16string(fits, u'x') + u"<fail>");
    // The narrow path stages key path, name and value in 255 characters each;
    // one more is refused before anything is written.
    EXPECT_EQ(Add(path, name, std::u16string(255, u'v').c_str()), S_OK);
    const HRESULT expected = Family9x() ? E_FAIL : S_OK;
    EXPECT_EQ(Add(path + u"k", u"v", u"x"), expected);
    EXPECT_EQ(Count(path + u"k", false, kMachine), Family9x() ? -1 : 1);
    EXPECT_EQ(Add(u"Software\\Zv", name + u"n", u"x"), expected);
    EXPECT_EQ(Add(u"Software\\Zv", u"v", std::u16string(256, u'v').c_str()), expected);
    // Cut short on the narrow path, they would be written as these.
    EXPECT_EQ(Value(u"Software\\Zv", name.c_str(), kMachine) + Value(u"Software\\Zv", u"v", kMachine),
              u"<fail><fail>");
    if (Family9x()) return;  // the narrow delete is one call for the subtree

    // A 255-character subkey name does not fit the wide enumeration (its
    // terminator needs one more): what was listed before it is gone and
    // stays gone, the rest stays.
    const std::u16string top = u"Software\\Zv\\Top", longName = top + u"\\m" + std::u16string(254, u'x');
    for (const std::u16string& path : {top + u"\\a1\\g", longName, top + u"\\z1"}) ASSERT_EQ(Add(path, u"v", u"x"), S_OK);
    EXPECT_EQ(ZVDeleteRegistryEntry(kMachine, top.c_str()), E_FAIL);
    EXPECT_EQ(Count(top + u"\\a1", false, kMachine), -1);
    EXPECT_EQ(Count(longName, false, kMachine) + Count(top + u"\\z1", false, kMachine), 2);
}

// Registration writes five entries, and again with new data the same
// entries carry it.  Unregistration removes both whole subtrees, keys that
// others added below included, and never the roots.
TEST(RegisterComponent, WritesTheFiveEntriesAndUnregisterRemovesTheirSubtrees) {
    // Not a class of the object tests, which share the registry on Windows.
    const std::u16string other = u"{5A1E0F3C-7B42-4D8E-9C61-0F2B3D4E5A6B}";
    ASSERT_EQ(Register(u"Test.Staying", other), S_OK);
    ASSERT_EQ(Register(u"Test.Component", kClass, u"/opt/one.so", u"A test component"), S_OK);
    EXPECT_EQ(Value(u"Test.Component", u""), u"A test component");
    EXPECT_EQ(Value(u"Test.Component\\CLSID"), kClass);
    EXPECT_EQ(Value(kClassKey), u"Test.Component");
    EXPECT_EQ(Value(kClassKey + u"\\InprocServer32"), u"/opt/one.so");
    EXPECT_EQ(Value(kClassKey + u"\\InprocServer32", u"ThreadingModel"), u"Both");
    ASSERT_EQ(Register(u"Test.Component", kClass, u"/opt/two.so", u"Renamed"), S_OK);
    EXPECT_EQ(Value(u"Test.Component") + Value(kClassKey + u"\\InprocServer32"), u"Renamed/opt/two.so");
    EXPECT_EQ(Count(u"Test.Component") + Count(u"Test.Component\\CLSID") + Count(kClassKey) +
                  Count(kClassKey + u"\\InprocServer32"),
              5);
    EXPECT_EQ(Count(u"Test.Component", true) + Count(kClassKey, true), 2);

    ASSERT_EQ(ZVAddRegistryEntry(HKEY_CLASSES_ROOT, u"Test.Component\\Extra\\Deep", u"v", u"1"), S_OK);
    ASSERT_EQ(ZVAddRegistryEntry(HKEY_CLASSES_ROOT, (kClassKey + u"\\Other").c_str(), nullptr, u"2"), S_OK);
    // Empty names would name the root itself and all of CLSID.
    EXPECT_EQ(ZVUnregisterComponent(u"", u""), S_OK);
    EXPECT_EQ(Count(u"Test.Component", true) + Count(kClassKey, true), 4);
    EXPECT_EQ(ZVUnregisterComponent(u"Test.Component", kClass.c_str()), S_OK);
    EXPECT_EQ(Count(u"Test.Component") + Count(kClassKey), -2);
    EXPECT_EQ(ZVUnregisterComponent(u"Test.Component", kClass.c_str()), S_OK);  // not there: all the same

    // The class key buffer holds "CLSID\" and 255 characters: a longer name
    // is not deleted (cut short, it would name the one that fits).  A key
    // name holds 255 characters, so the long texts span two names.
    const std::u16string fits = std::u16string(127, u'c') + u"\\" + std::u16string(127, u'c');
    const std::u16string overlong = fits + u"c";
    if (!Family9x()) {  // the narrow registry path holds 255 characters
        ASSERT_EQ(Register(u"Test.Long", fits), S_OK);
        ASSERT_EQ(Register(u"Test.Longer", overlong), S_OK);
    }
    EXPECT_EQ(ZVUnregisterComponent(u"Test.Nothing", overlong.c_str()), S_OK);
    EXPECT_EQ(Count(u"CLSID\\" + overlong) + Count(u"CLSID\\" + fits), Family9x() ? -2 : 2);
    EXPECT_EQ(ZVUnregisterComponent(u"Test.Long", fits.c_str()), S_OK);
    EXPECT_EQ(Count(u"CLSID\\" + fits), -1);
    EXPECT_EQ(Value(u"CLSID\\" + other + u"\\InprocServer32"), u"/x.so");  // nothing else went
}

TEST(RegisterComponent, RefusesWhatDoesNotFitAndKeepsWhatWasWritten) {
    // Empty identifiers would write the root's own values; the key path
    // buffer holds a programmatic identifier of 505 characters and a class
    // identifier text of 490, and one more of either is refused.
    const std::u16string progId = std::u16string(250, u'p') + u"\\" + std::u16string(254, u'q');
    const std::u16string clsid = std::u16string(245, u'c') + u"\\" + std::u16string(244, u'd');
    const int roots = Count(u"", true);
    const std::u16string refused[][2] = {{u"", kClass}, {u"T.1", u""}, {progId + u"r", kClass},
                                         {u"T.2", clsid + u"e"}};
    for (const auto& r : refused) EXPECT_EQ(Register(r[0], r[1]), E_FAIL) << zvtest::N(r[0].c_str());
    // A key name is one or more characters ("Structure of the Registry" in
    // the Win32 documentation): the registry refuses the empty name between
    // two backslashes, here at the first entry.  Wine passes over it and
    // makes "Test\Refused".
    if (!UnderWine()) {
        EXPECT_EQ(Register(u"Test\\\\Refused", kClass), E_FAIL);
    }
    EXPECT_EQ(Count(u"", true), roots);
    if (!Family9x()) {  // the narrow registry path holds 255 characters
        EXPECT_EQ(Register(progId, clsid), S_OK);
        EXPECT_EQ(Count(progId + u"\\CLSID"), 1);
        EXPECT_EQ(Value(u"CLSID\\" + clsid + u"\\InprocServer32"), u"/x.so");
    }
    // A class text ending in a backslash passes entries 2 and 3 (one trailing
    // backslash is allowed) and makes the fourth key path invalid: the first
    // three entries stay.
    // Wine makes that path's keys as it makes "Test\\Refused" above.
    const HRESULT partial = Register(u"Test.Partial", kClass + u"\\");
    if (!UnderWine()) {
        EXPECT_EQ(partial, E_FAIL);
    }
    EXPECT_EQ(Value(u"Test.Partial\\CLSID"), kClass + u"\\");
    EXPECT_EQ(Value(kClassKey), u"Test.Partial");
    if (!UnderWine()) {
        EXPECT_EQ(Count(kClassKey + u"\\InprocServer32"), -1);
    }
}
