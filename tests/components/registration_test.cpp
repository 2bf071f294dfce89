// Registration and unregistration of in-process servers.
#include "component_support.h"

using zvtest::Family9x;

static const std::u16string kClass = u"{0123ABCD-00EF-A0B1-C2D3-04E5F6071829}";
static const std::u16string kClassKey = u"CLSID\\" + kClass;

static std::u16string Value(const std::u16string& key, const char16_t* name = nullptr) { return zvtest::ReadValue(HKEY_CLASSES_ROOT, key, name); }

// Values (or subkeys) of a key under HKEY_CLASSES_ROOT; -1 for no key.
static int Count(const std::u16string& key, bool subkeys = false) { return zvtest::RegistryCount(HKEY_CLASSES_ROOT, key, subkeys); }

static HRESULT Register(const std::u16string& progId, const std::u16string& clsid,
                        const char16_t* server = u"/x.so", const char16_t* description = u"d") {
    return ZVRegisterComponent(server, progId.c_str(), description, clsid.c_str());
}

TEST(RegisterComponent, WritesTheFiveEntriesAndOverwritesThemWhenRepeated) {
    ASSERT_EQ(Register(u"Test.Component", kClass, u"/opt/one.so", u"A test component"), S_OK);
    EXPECT_EQ(Value(u"Test.Component", u""), u"A test component");
    EXPECT_EQ(Value(u"Test.Component\\CLSID"), kClass);
    EXPECT_EQ(Value(kClassKey), u"Test.Component");
    EXPECT_EQ(Value(kClassKey + u"\\InprocServer32"), u"/opt/one.so");
    EXPECT_EQ(Value(kClassKey + u"\\InprocServer32", u"ThreadingModel"), u"Both");
    // Again with new data: the same entries carry it, none is added.
    ASSERT_EQ(Register(u"Test.Component", kClass, u"/opt/two.so", u"Renamed"), S_OK);
    EXPECT_EQ(Value(u"Test.Component"), u"Renamed");
    EXPECT_EQ(Value(kClassKey + u"\\InprocServer32"), u"/opt/two.so");
    EXPECT_EQ(Count(u"Test.Component") + Count(u"Test.Component\\CLSID") + Count(kClassKey) +
                  Count(kClassKey + u"\\InprocServer32"),
              5);
    EXPECT_EQ(Count(u"Test.Component", true) + Count(kClassKey, true), 2);
}

TEST(UnregisterComponent, RemovesBothWholeSubtreesAndNeverTheRoots) {
    const std::u16string other = u"{9FBC9096-58C2-4CB1-B657-33DD5235F801}";
    ASSERT_EQ(Register(u"Test.Going", kClass), S_OK);
    ASSERT_EQ(Register(u"Test.Staying", other), S_OK);
    // Keys that others added below the registration go with it.
    ASSERT_EQ(ZVAddRegistryEntry(HKEY_CLASSES_ROOT, u"Test.Going\\Extra\\Deep", u"v", u"1"), S_OK);
    ASSERT_EQ(ZVAddRegistryEntry(HKEY_CLASSES_ROOT, (kClassKey + u"\\Other").c_str(), nullptr, u"2"), S_OK);
    // Empty names would name the root itself and all of CLSID.
    EXPECT_EQ(ZVUnregisterComponent(u"", u""), S_OK);
    EXPECT_EQ(Count(u"Test.Going", true) + Count(kClassKey, true), 4);
    EXPECT_EQ(ZVUnregisterComponent(u"Test.Going", kClass.c_str()), S_OK);
    EXPECT_EQ(Count(u"Test.Going") + Count(kClassKey), -2);
    EXPECT_EQ(ZVUnregisterComponent(u"Test.Going", kClass.c_str()), S_OK);  // not there: all the same

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
    // The registry refuses an empty key name, here at the first entry.
    const std::u16string refused[][2] = {{u"", kClass}, {u"T.1", u""}, {progId + u"r", kClass},
                                         {u"T.2", clsid + u"e"}, {u"Test\\\\Refused", kClass}};
    for (const auto& r : refused) EXPECT_EQ(Register(r[0], r[1]), E_FAIL) << zvtest::N(r[0].c_str());
    EXPECT_EQ(Count(u"", true), 0);
    if (!Family9x()) {  // the narrow registry path holds 255 characters
        EXPECT_EQ(Register(progId, clsid), S_OK);
        EXPECT_EQ(Count(progId + u"\\CLSID"), 1);
        EXPECT_EQ(Value(u"CLSID\\" + clsid + u"\\InprocServer32"), u"/x.so");
    }
    // A class text ending in a backslash passes entries 2 and 3 (one trailing
    // backslash is allowed) and makes the fourth key path invalid: the first
    // three entries stay.
    EXPECT_EQ(Register(u"Test.Partial", kClass + u"\\"), E_FAIL);
    EXPECT_EQ(Value(u"Test.Partial\\CLSID"), kClass + u"\\");
    EXPECT_EQ(Value(kClassKey), u"Test.Partial");
    EXPECT_EQ(Count(kClassKey + u"\\InprocServer32"), -1);
}
