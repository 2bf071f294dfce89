// Registration and unregistration of in-process servers.
#include <gtest/gtest.h>

#include <string>

#include "component_support.h"

using zvtest::N;
using zvtest::W;

namespace {

const char16_t kClassText[] = u"{0123ABCD-00EF-A0B1-C2D3-04E5F6071829}";
const char16_t kOtherClassText[] = u"{9FBC9096-58C2-4CB1-B657-33DD5235F801}";

// The value of a key under HKEY_CLASSES_ROOT, or "<missing>".
std::string Value(const std::u16string& key, const char16_t* name = nullptr) {
    ZVWCHAR buffer[256] = {};
    if (ZVGetRegistryEntry(HKEY_CLASSES_ROOT, key.c_str(), name, buffer) != S_OK)
        return "<missing>";
    return N(buffer);
}

bool KeyExists(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// Values and subkeys of a key, counted with the narrow enumeration.
int CountValues(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return -1;
    int count = 0;
    for (;;) {
        char name[256];
        DWORD length = sizeof(name);
        if (RegEnumValueA(key, DWORD(count), name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        ++count;
    }
    RegCloseKey(key);
    return count;
}

int CountSubkeys(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return -1;
    int count = 0;
    for (;;) {
        char name[256];
        DWORD length = sizeof(name);
        if (RegEnumKeyExA(key, DWORD(count), name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        ++count;
    }
    RegCloseKey(key);
    return count;
}

}  // namespace

TEST(RegisterComponent, WritesTheFiveEntriesAndOverwritesThemWhenRepeated) {
    ASSERT_EQ(ZVRegisterComponent(ZV_W("/opt/servers/one.so"), ZV_W("Test.Component"),
                                  ZV_W("A test component"), kClassText),
              S_OK);
    const std::u16string classKey = std::u16string(u"CLSID\\") + kClassText;
    EXPECT_EQ(Value(u"Test.Component"), "A test component");
    EXPECT_EQ(Value(u"Test.Component", u""), "A test component");
    EXPECT_EQ(Value(u"Test.Component\\CLSID"), N(kClassText));
    EXPECT_EQ(Value(classKey), "Test.Component");
    EXPECT_EQ(Value(classKey + u"\\InprocServer32"), "/opt/servers/one.so");
    EXPECT_EQ(Value(classKey + u"\\InprocServer32", u"ThreadingModel"), "Both");

    // Again with new data: the same entries carry it, none is added.
    ASSERT_EQ(ZVRegisterComponent(ZV_W("/opt/servers/two.so"), ZV_W("Test.Component"),
                                  ZV_W("Renamed"), kClassText),
              S_OK);
    EXPECT_EQ(Value(u"Test.Component"), "Renamed");
    EXPECT_EQ(Value(classKey + u"\\InprocServer32"), "/opt/servers/two.so");
    const std::string classPath = "CLSID\\" + N(kClassText);
    EXPECT_EQ(CountValues("Test.Component"), 1);
    EXPECT_EQ(CountSubkeys("Test.Component"), 1);
    EXPECT_EQ(CountValues("Test.Component\\CLSID"), 1);
    EXPECT_EQ(CountValues(classPath), 1);
    EXPECT_EQ(CountSubkeys(classPath), 1);
    EXPECT_EQ(CountValues(classPath + "\\InprocServer32"), 2);
    EXPECT_EQ(CountSubkeys(classPath + "\\InprocServer32"), 0);
}

TEST(UnregisterComponent, RemovesBothWholeSubtreesAndNothingElse) {
    ASSERT_EQ(ZVRegisterComponent(ZV_W("/x.so"), ZV_W("Test.Going"), ZV_W("d"), kClassText), S_OK);
    ASSERT_EQ(ZVRegisterComponent(ZV_W("/y.so"), ZV_W("Test.Staying"), ZV_W("d"), kOtherClassText),
              S_OK);
    // Keys that others added below the registration go with it.
    const std::u16string classKey = std::u16string(u"CLSID\\") + kClassText;
    ASSERT_EQ(ZVAddRegistryEntry(HKEY_CLASSES_ROOT, ZV_W("Test.Going\\Extra\\Deep\\Deeper"),
                                 ZV_W("v"), ZV_W("1")),
              S_OK);
    ASSERT_EQ(ZVAddRegistryEntry(HKEY_CLASSES_ROOT, (classKey + u"\\Other\\Below").c_str(),
                                 nullptr, ZV_W("2")),
              S_OK);

    EXPECT_EQ(ZVUnregisterComponent(ZV_W("Test.Going"), kClassText), S_OK);
    EXPECT_FALSE(KeyExists("Test.Going"));
    EXPECT_FALSE(KeyExists("CLSID\\" + N(kClassText)));
    EXPECT_TRUE(KeyExists("CLSID"));
    EXPECT_EQ(Value(u"Test.Staying"), "d");
    EXPECT_EQ(Value(std::u16string(u"CLSID\\") + kOtherClassText + u"\\InprocServer32"), "/y.so");

    // Unregistering what is not there reports success all the same.
    EXPECT_EQ(ZVUnregisterComponent(ZV_W("Test.Going"), kClassText), S_OK);
    EXPECT_EQ(ZVUnregisterComponent(ZV_W("Test.Never"), ZV_W("{not a class}")), S_OK);
}

TEST(UnregisterComponent, NeverDeletesTheRootsForEmptyOrOverlongNames) {
    ASSERT_EQ(ZVRegisterComponent(ZV_W("/x.so"), ZV_W("Test.Kept"), ZV_W("d"), kClassText), S_OK);
    // Empty names would name HKEY_CLASSES_ROOT itself and all of CLSID.
    EXPECT_EQ(ZVUnregisterComponent(ZV_W(""), ZV_W("")), S_OK);
    EXPECT_TRUE(KeyExists("Test.Kept"));
    EXPECT_TRUE(KeyExists("CLSID\\" + N(kClassText)));

    // The class key buffer holds "CLSID\" and 255 characters; a longer name
    // is not deleted (nor written past the buffer).
    // (A key name holds 255 characters, so the long texts span two names.)
    const std::u16string fits = std::u16string(127, u'c') + u"\\" + std::u16string(127, u'c');
    const std::u16string overlong = fits + u"c";
    ASSERT_EQ(fits.size(), 255u);
    const std::string narrowFits = N(fits.c_str()), narrowOverlong = N(overlong.c_str());
    if (!zvtest::Family9x()) {  // the narrow registry path holds 255 characters
        ASSERT_EQ(ZVRegisterComponent(ZV_W("/x.so"), ZV_W("Test.Long"), ZV_W("d"), fits.c_str()),
                  S_OK);
        ASSERT_EQ(ZVAddRegistryEntry(HKEY_CLASSES_ROOT,
                                     (u"CLSID\\" + overlong).c_str(), nullptr, ZV_W("x")),
                  S_OK);
        EXPECT_TRUE(KeyExists("CLSID\\" + narrowFits));
        EXPECT_EQ(ZVUnregisterComponent(ZV_W("Test.Long"), fits.c_str()), S_OK);
        EXPECT_FALSE(KeyExists("CLSID\\" + narrowFits));
        EXPECT_EQ(ZVUnregisterComponent(ZV_W("Test.Nothing"), overlong.c_str()), S_OK);
        EXPECT_TRUE(KeyExists("CLSID\\" + narrowOverlong));
    } else {
        EXPECT_EQ(ZVUnregisterComponent(ZV_W("Test.Nothing"), overlong.c_str()), S_OK);
    }
    EXPECT_TRUE(KeyExists("CLSID\\" + N(kClassText)));
}

TEST(RegisterComponent, RefusesNamesThatDoNotFitBeforeWritingAnything) {
    // Empty identifiers would write the root's own values.
    EXPECT_EQ(ZVRegisterComponent(ZV_W("/x.so"), ZV_W(""), ZV_W("d"), kClassText), E_FAIL);
    EXPECT_EQ(ZVRegisterComponent(ZV_W("/x.so"), ZV_W("Test.NoClass"), ZV_W("d"), ZV_W("")), E_FAIL);
    EXPECT_FALSE(KeyExists("Test.NoClass"));
    EXPECT_FALSE(KeyExists("CLSID\\" + N(kClassText)));

    // The key path buffer holds a programmatic identifier of 505 characters
    // and a class identifier text of 490; one more of either is refused.
    std::u16string progId = std::u16string(250, u'p') + u"\\" + std::u16string(254, u'q');
    ASSERT_EQ(progId.size(), 505u);
    std::u16string clsidText = std::u16string(245, u'c') + u"\\" + std::u16string(244, u'd');
    ASSERT_EQ(clsidText.size(), 490u);
    EXPECT_EQ(ZVRegisterComponent(ZV_W("/x.so"), (progId + u"r").c_str(), ZV_W("d"), kClassText),
              E_FAIL);
    EXPECT_EQ(ZVRegisterComponent(ZV_W("/x.so"), ZV_W("Test.Short"), ZV_W("d"),
                                  (clsidText + u"e").c_str()),
              E_FAIL);
    EXPECT_FALSE(KeyExists(std::string(250, 'p')));
    EXPECT_FALSE(KeyExists("Test.Short"));

    if (!zvtest::Family9x()) {  // the narrow registry path holds 255 characters
        EXPECT_EQ(ZVRegisterComponent(ZV_W("/x.so"), progId.c_str(), ZV_W("d"), clsidText.c_str()),
                  S_OK);
        // Both longest key paths exist (their long values are beyond the read).
        EXPECT_TRUE(KeyExists(N(progId.c_str()) + "\\CLSID"));
        EXPECT_EQ(Value(u"CLSID\\" + clsidText + u"\\InprocServer32"), "/x.so");
    }
}

TEST(RegisterComponent, StopsAtTheFirstRefusedWriteAndKeepsWhatWasWritten) {
    // The registry refuses a key path with an empty name between two
    // backslashes.  Refused at the first entry: nothing is written.
    EXPECT_EQ(ZVRegisterComponent(ZV_W("/x.so"), ZV_W("Test\\\\Refused"), ZV_W("d"), kClassText),
              E_FAIL);
    EXPECT_FALSE(KeyExists("Test"));
    EXPECT_FALSE(KeyExists("CLSID\\" + N(kClassText)));

    // A class text ending in a backslash passes entries 2 and 3 (one trailing
    // backslash is allowed) and makes the fourth key path invalid: the first
    // three entries stay.
    const std::u16string clsidText = std::u16string(kClassText) + u"\\";
    EXPECT_EQ(ZVRegisterComponent(ZV_W("/x.so"), ZV_W("Test.Partial"), ZV_W("d"), clsidText.c_str()),
              E_FAIL);
    EXPECT_EQ(Value(u"Test.Partial"), "d");
    EXPECT_EQ(Value(u"Test.Partial\\CLSID"), N(clsidText.c_str()));
    EXPECT_EQ(Value(std::u16string(u"CLSID\\") + kClassText), "Test.Partial");
    EXPECT_FALSE(KeyExists("CLSID\\" + N(kClassText) + "\\InprocServer32"));
}
