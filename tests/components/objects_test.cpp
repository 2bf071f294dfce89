// Class lookup by programmatic identifier and object creation through the
// cached class factories.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "component_support.h"
#include "platform/posix/handles.h"

using zvtest::RegisterClass;
using zvtest::SameClsid;
using zvtest::ServedClass;
using zvtest::TestServer;
using zvtest::W;

namespace {

const CLSID kSample = {0x0123ABCD, 0x00EF, 0xA0B1, {0xC2, 0xD3, 0x04, 0xE5, 0xF6, 0x07, 0x18, 0x29}};
// What a failed parse must leave alone.
const CLSID kSentinel = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44}};

// Stores text as the class identifier of progId, as registration would.
void StoreClassText(const char* progId, const char* text) {
    std::u16string key = W(progId) + u"\\CLSID";
    ASSERT_EQ(ZVAddRegistryEntry(HKEY_CLASSES_ROOT, key.c_str(), nullptr, W(text).c_str()), S_OK);
}

// The class identifier read back for text, starting from the sentinel.
CLSID Parsed(const char* text, HRESULT expected = S_OK) {
    StoreClassText("Test.Parse", text);
    CLSID clsid = kSentinel;
    EXPECT_EQ(ZVClsidFromProgId(ZV_W("Test.Parse"), &clsid), expected) << text;
    return clsid;
}

HRESULT Create(const CLSID& clsid, zvtest::ITestObject** object) {
    return ZVCreateObject(0, &clsid, nullptr, &zvtest::kTestObjectIid,
                          reinterpret_cast<void**>(object));
}

}  // namespace

TEST(ClassIdentifierText, IsThirtyEightCharactersWithUpperCaseDigits) {
    EXPECT_EQ(zvtest::ClsidText(CLSID{}), u"{00000000-0000-0000-0000-000000000000}");
    EXPECT_EQ(zvtest::ClsidText(kSample), u"{0123ABCD-00EF-A0B1-C2D3-04E5F6071829}");
    const CLSID ones = {0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
    std::u16string text = zvtest::ClsidText(ones);
    EXPECT_EQ(text, u"{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}");
    EXPECT_EQ(text.size(), size_t(zv::kClsidTextChars));
}

TEST(ClsidFromProgId, ReadsUpperAndLowerCaseDigitsIntoEveryField) {
    ASSERT_EQ(ZVRegisterComponent(ZV_W("/x.so"), ZV_W("Test.Upper"), ZV_W("d"),
                                  ZV_W("{0123ABCD-00EF-A0B1-C2D3-04E5F6071829}")),
              S_OK);
    ASSERT_EQ(ZVRegisterComponent(ZV_W("/x.so"), ZV_W("Test.Lower"), ZV_W("d"),
                                  ZV_W("{0123abcd-00ef-a0b1-c2d3-04e5f6071829}")),
              S_OK);
    CLSID upper = kSentinel, lower = kSentinel;
    EXPECT_EQ(ZVClsidFromProgId(ZV_W("Test.Upper"), &upper), S_OK);
    EXPECT_EQ(ZVClsidFromProgId(ZV_W("Test.Lower"), &lower), S_OK);
    EXPECT_TRUE(SameClsid(upper, kSample));
    EXPECT_TRUE(SameClsid(lower, kSample));
    // Round trip through the library's own text.
    CLSID back = kSentinel;
    StoreClassText("Test.Back", "{FFFFFFFF-0000-FFFF-0001-FF00FF00FF00}");
    EXPECT_EQ(ZVClsidFromProgId(ZV_W("Test.Back"), &back), S_OK);
    EXPECT_EQ(zvtest::ClsidText(back), u"{FFFFFFFF-0000-FFFF-0001-FF00FF00FF00}");
}

TEST(ClsidFromProgId, ParsesWhatFitsAndLeavesTheRestAlone) {
    // Without the opening brace the scan stops at once; the Data4 positions
    // still hold pairs, shifted by one: "2D", "3-", "4E", "5F", "60", "71",
    // "82" and "9}".
    CLSID clsid = Parsed("0123ABCD-00EF-A0B1-C2D3-04E5F6071829}");
    EXPECT_EQ(clsid.Data1, kSentinel.Data1);
    EXPECT_EQ(clsid.Data2, kSentinel.Data2);
    EXPECT_EQ(clsid.Data3, kSentinel.Data3);
    const uint8_t shifted[8] = {0x2D, 0x44, 0x4E, 0x5F, 0x60, 0x71, 0x82, 0x44};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(clsid.Data4[i], shifted[i]) << i;

    // A text that ends early: what was there is taken, the rest stays.
    clsid = Parsed("{12345678-9abc");
    EXPECT_EQ(clsid.Data1, 0x12345678u);
    EXPECT_EQ(clsid.Data2, 0x9ABC);
    EXPECT_EQ(clsid.Data3, kSentinel.Data3);
    EXPECT_EQ(ZVCompareMemory(clsid.Data4, kSentinel.Data4, 8), 0);

    // A field that is no number stops the scan; Data4 goes on regardless.
    clsid = Parsed("{12345678-XYZW-A0B1-C2D3-04E5F6071829}");
    EXPECT_EQ(clsid.Data1, 0x12345678u);
    EXPECT_EQ(clsid.Data2, kSentinel.Data2);
    EXPECT_EQ(clsid.Data3, kSentinel.Data3);
    EXPECT_EQ(ZVCompareMemory(clsid.Data4, kSample.Data4, 8), 0);

    // Each pair on its own: a bad digit keeps only its own byte, the text's
    // end cuts the last pair in half.
    clsid = Parsed("{0123ABCD-00EF-A0B1-C2G3-04E5F60718");
    EXPECT_EQ(clsid.Data1, kSample.Data1);
    EXPECT_EQ(clsid.Data3, kSample.Data3);
    const uint8_t mixed[8] = {0xC2, 0x44, 0x04, 0xE5, 0xF6, 0x07, 0x18, 0x44};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(clsid.Data4[i], mixed[i]) << i;
    clsid = Parsed("{0123ABCD-00EF-A0B1-C2D3-04E5F60718291");
    EXPECT_EQ(clsid.Data4[7], 0x29);  // the closing brace is not needed

    // The separators before Data4 and the closing brace are not examined;
    // characters after the 38th do not matter.
    clsid = Parsed("{0123ABCD-00EF-A0B1xC2D3x04E5F6071829xTRAILING");
    EXPECT_TRUE(SameClsid(clsid, kSample));

    // Nothing parsable at all still reads successfully.
    clsid = Parsed("");
    EXPECT_TRUE(SameClsid(clsid, kSentinel));
    clsid = Parsed("not a class identifier at all, but long enough to have pairs");
    EXPECT_EQ(clsid.Data1, kSentinel.Data1);
}

TEST(ClsidFromProgId, FailsForAnUnregisteredOrOverlongIdentifier) {
    CLSID clsid = kSentinel;
    EXPECT_EQ(ZVClsidFromProgId(ZV_W("Test.Nowhere"), &clsid), E_FAIL);
    EXPECT_TRUE(SameClsid(clsid, kSentinel));
    // A key without its default value reads as missing too.
    ASSERT_EQ(ZVAddRegistryEntry(HKEY_CLASSES_ROOT, ZV_W("Test.Empty\\CLSID"), ZV_W("Other"),
                                 ZV_W("{0123ABCD-00EF-A0B1-C2D3-04E5F6071829}")),
              S_OK);
    EXPECT_EQ(ZVClsidFromProgId(ZV_W("Test.Empty"), &clsid), E_FAIL);
    EXPECT_TRUE(SameClsid(clsid, kSentinel));

    // The longest value the registry read delivers (126 characters wide, 254
    // narrow) is parsed; one more character fails the read.
    const size_t longestValue = zvtest::Family9x() ? 254 : 126;
    std::string value = "{0123ABCD-00EF-A0B1-C2D3-04E5F6071829}";
    value.resize(longestValue, '#');
    StoreClassText("Test.LongValue", value.c_str());
    EXPECT_EQ(ZVClsidFromProgId(ZV_W("Test.LongValue"), &clsid), S_OK);
    EXPECT_TRUE(SameClsid(clsid, kSample));
    clsid = kSentinel;
    value += '#';
    StoreClassText("Test.LongValue", value.c_str());
    EXPECT_EQ(ZVClsidFromProgId(ZV_W("Test.LongValue"), &clsid), E_FAIL);
    EXPECT_TRUE(SameClsid(clsid, kSentinel));

    // The key path buffer holds an identifier of 503 characters; one more is
    // refused without a read.
    std::u16string longest = std::u16string(250, u'p') + u"\\" + std::u16string(252, u'q');
    ASSERT_EQ(longest.size(), 503u);
    std::u16string overlong = longest + u"r";
    EXPECT_EQ(ZVClsidFromProgId(overlong.c_str(), &clsid), E_FAIL);
    EXPECT_TRUE(SameClsid(clsid, kSentinel));
    if (!zvtest::Family9x()) {  // the narrow registry path is limited to 255
        std::u16string key = longest + u"\\CLSID";
        ASSERT_EQ(ZVAddRegistryEntry(HKEY_CLASSES_ROOT, key.c_str(), nullptr,
                                     ZV_W("{0123ABCD-00EF-A0B1-C2D3-04E5F6071829}")),
                  S_OK);
        EXPECT_EQ(ZVClsidFromProgId(longest.c_str(), &clsid), S_OK);
        EXPECT_TRUE(SameClsid(clsid, kSample));
    }
}

TEST(CreateObject, SecondCreationUsesTheCachedFactoryOnly) {
    TestServer server(ZV_TEST_SERVER_A);
    ASSERT_EQ(RegisterClass(server.path(), "Test.Cached", ServedClass(1)), S_OK);
    ASSERT_EQ(ZVInitializeZCom(), S_OK);

    zvtest::ITestObject* first = nullptr;
    ASSERT_EQ(Create(ServedClass(1), &first), S_OK);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(SameClsid(first->ClassId(), ServedClass(1)));
    zvtest::ServerCounts before = server.Counts();
    EXPECT_EQ(before.getClassObject, 1);
    EXPECT_EQ(before.createInstance, 1);
    EXPECT_EQ(before.liveFactories, 1);

    ASSERT_EQ(zv::ServerCacheCount(), 1u);
    const zv::ServerRecord* record = zv::ServerCacheRecord(0);
    EXPECT_EQ(zvtest::N(record->serverPath), server.path());
    EXPECT_TRUE(SameClsid(record->clsid, ServedClass(1)));
    EXPECT_NE(record->factory, nullptr);
    EXPECT_TRUE(zvtest::ModuleOpen(record->library));

    // With the registration gone, a second creation still works: it reads no
    // registry value, loads no library and asks for no factory.
    EXPECT_EQ(ZVUnregisterComponent(ZV_W("Test.Cached"), zvtest::ClsidText(ServedClass(1)).c_str()),
              S_OK);
    const size_t handles = zvp::OpenHandleCount();
    zvtest::ITestObject* second = nullptr;
    ASSERT_EQ(Create(ServedClass(1), &second), S_OK);
    EXPECT_NE(second, first);
    zvtest::ServerCounts after = server.Counts();
    EXPECT_EQ(after.getClassObject, 1);
    EXPECT_EQ(after.createInstance, 2);
    // No AddRef or Release on the factory around CreateInstance.
    EXPECT_EQ(after.factoryAddRef, before.factoryAddRef);
    EXPECT_EQ(after.factoryRelease, before.factoryRelease);
    EXPECT_EQ(zvp::OpenHandleCount(), handles);
    EXPECT_EQ(zv::ServerCacheCount(), 1u);

    first->Release();
    second->Release();
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_EQ(server.Counts().liveFactories, 0);
    EXPECT_EQ(server.Counts().liveObjects, 0);
}

TEST(CreateObject, FailingCreateInstanceKeepsTheRecord) {
    TestServer server(ZV_TEST_SERVER_A);
    ASSERT_EQ(RegisterClass(server.path(), "Test.Refusing", ServedClass(3)), S_OK);
    ASSERT_EQ(ZVInitializeZCom(), S_OK);

    // The status of CreateInstance comes back unchanged.
    const CLSID refusing = ServedClass(3);
    const IID unknownIid = ServedClass(0x77);
    void* out = &server;
    EXPECT_EQ(ZVCreateObject(0, &refusing, nullptr, &unknownIid, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(zv::ServerCacheCount(), 1u);
    EXPECT_EQ(server.Counts().liveFactories, 1);

    // The outer object and the interface identifier are passed through as
    // given; the first argument is never looked at.
    IUnknown* outer = reinterpret_cast<IUnknown*>(&server);
    EXPECT_EQ(ZVCreateObject(0xDEADBEEF, &refusing, outer, &zvtest::kTestObjectIid, &out),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(ZVCreateObject(0xDEADBEEF, &refusing, nullptr, &IID_IUnknown, &out), S_OK);
    ASSERT_NE(out, nullptr);
    static_cast<IUnknown*>(out)->Release();

    zvtest::ServerCounts counts = server.Counts();
    EXPECT_EQ(counts.getClassObject, 1);
    EXPECT_EQ(counts.createInstance, 3);
    EXPECT_EQ(counts.liveObjects, 0);
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_EQ(server.Counts().liveFactories, 0);
}

TEST(CreateObject, FailuresBeforeTheFactoryLeaveNoRecord) {
    TestServer server(ZV_TEST_SERVER_A);
    TestServer noEntry(ZV_TEST_SERVER_NOENTRY);
    zvtest::TempDir dir;
    ASSERT_EQ(ZVInitializeZCom(), S_OK);
    const size_t handles = zvp::OpenHandleCount();
    zvtest::ITestObject* object = reinterpret_cast<zvtest::ITestObject*>(&server);

    // Not registered at all.
    EXPECT_EQ(Create(ServedClass(1), &object), REGDB_E_CLASSNOTREG);
    // Registered, but the server key has no default value.
    std::u16string key = u"CLSID\\" + zvtest::ClsidText(ServedClass(1)) + u"\\InprocServer32";
    ASSERT_EQ(ZVAddRegistryEntry(HKEY_CLASSES_ROOT, key.c_str(), ZV_W("ThreadingModel"),
                                 ZV_W("Both")),
              S_OK);
    EXPECT_EQ(Create(ServedClass(1), &object), REGDB_E_CLASSNOTREG);

    // The library cannot be loaded: no such file, or a file that is no library.
    ASSERT_EQ(RegisterClass(dir.file("missing.so"), "Test.Missing", ServedClass(2)), S_OK);
    EXPECT_EQ(Create(ServedClass(2), &object), REGDB_E_CLASSNOTREG);
    std::ofstream(dir.file("text.so")) << "not a library\n";
    ASSERT_EQ(RegisterClass(dir.file("text.so"), "Test.Text", ServedClass(3)), S_OK);
    EXPECT_EQ(Create(ServedClass(3), &object), REGDB_E_CLASSNOTREG);

    // The library has no DllGetClassObject.
    ASSERT_EQ(RegisterClass(noEntry.path(), "Test.NoEntry", ServedClass(4)), S_OK);
    EXPECT_EQ(Create(ServedClass(4), &object), REGDB_E_CLASSNOTREG);

    // DllGetClassObject refuses: its status comes back unchanged, and a later
    // attempt asks again.
    const CLSID refused = ServedClass(zvtest::kRefusedClassByte);
    ASSERT_EQ(RegisterClass(server.path(), "Test.Refused", refused), S_OK);
    EXPECT_EQ(Create(refused, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(Create(refused, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(server.Counts().getClassObject, 2);

    EXPECT_EQ(object, reinterpret_cast<zvtest::ITestObject*>(&server));
    EXPECT_EQ(zv::ServerCacheCount(), 0u);
    EXPECT_EQ(server.Counts().liveFactories, 0);
    EXPECT_EQ(server.Counts().createInstance, 0);
    // Every library loaded on the way was closed again.
    EXPECT_EQ(zvp::OpenHandleCount(), handles);
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
}

TEST(CreateObject, ServerPathBeyondTheRegistryReadIsNotRegistered) {
    TestServer server(ZV_TEST_SERVER_A);
    zvtest::TempDir dir;
    // The wide registry read delivers 126 characters, the narrow one 254.
    const size_t longest = zvtest::Family9x() ? 254 : 126;
    std::string fits = zvtest::LinkOfLength(dir, server.path(), longest);
    zvtest::TempDir other;
    std::string overlong = zvtest::LinkOfLength(other, server.path(), longest + 1);
    ASSERT_EQ(RegisterClass(fits, "Test.Fits", ServedClass(1)), S_OK);
    ASSERT_EQ(RegisterClass(overlong, "Test.Overlong", ServedClass(2)), S_OK);
    ASSERT_EQ(ZVInitializeZCom(), S_OK);

    zvtest::ITestObject* object = nullptr;
    ASSERT_EQ(Create(ServedClass(1), &object), S_OK);
    object->Release();
    ASSERT_EQ(zv::ServerCacheCount(), 1u);
    EXPECT_EQ(zvtest::N(zv::ServerCacheRecord(0)->serverPath), fits);
    EXPECT_EQ(Create(ServedClass(2), &object), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(server.Counts().getClassObject, 1);
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
}
