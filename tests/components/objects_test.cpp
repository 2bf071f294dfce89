// Class lookup by programmatic identifier and object creation through the
// cached class factories.
#include <filesystem>
#include <fstream>

#include "component_support.h"
#include "platform/posix/handles.h"

using namespace zvtest;

static const char kSample[] = "{0123ABCD-00EF-A0B1-C2D3-04E5F6071829}";
// What a failed parse must leave alone.
static const CLSID kSentinel = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44}};

// Reads progId's class identifier into the sentinel, after storing text as
// registration does when text is given; its text, "<E_FAIL>" on failure.
static std::string Lookup(const std::u16string& progId, const std::string* text = nullptr) {
    if (text) ZVAddRegistryEntry(HKEY_CLASSES_ROOT, (progId + u"\\CLSID").c_str(), nullptr, W(text->c_str()).c_str());
    CLSID clsid = kSentinel;
    const HRESULT status = ZVClsidFromProgId(progId.c_str(), &clsid);
    EXPECT_TRUE(status == S_OK || SameClsid(clsid, kSentinel));
    return status == S_OK ? N(ClsidText(clsid).c_str()) : status == E_FAIL ? "<E_FAIL>" : "<other>";
}

// A symbolic link to target whose path has exactly `length` characters.
static std::string LinkOfLength(const TempDir& dir, const std::string& target, size_t length) {
    const std::string folder = dir.path() + "/" + std::string(length - dir.path().size() - 6, 'd');
    std::filesystem::create_directories(folder);
    std::filesystem::create_symlink(target, folder + "/s.so");
    return folder + "/s.so";
}

TEST(ClsidFromProgId, ParsesWhatFitsLeavesTheRestAloneAndFailsOnlyToRead) {
    // The library's own text is 38 characters with upper-case digits.
    EXPECT_EQ(ClsidText(CLSID{}), u"{00000000-0000-0000-0000-000000000000}");
    // The longest value a read delivers is 126 characters wide, 254 narrow.
    std::string longest = kSample;
    longest.resize(Family9x() ? 254 : 126, '#');
    const std::string cases[][2] = {
        {"{0123abcd-00ef-a0b1-c2d3-04e5f6071829}", kSample},
        {"{FFFFFFFF-0000-FFFF-0001-FF00FF00FF00}", "{FFFFFFFF-0000-FFFF-0001-FF00FF00FF00}"},
        // Without the opening brace the scan stops at once; the Data4
        // positions still hold pairs, shifted by one: "2D", "3-", "4E", ...
        {"0123ABCD-00EF-A0B1-C2D3-04E5F6071829}", "{11111111-2222-3333-2D44-4E5F60718244}"},
        // A text that ends early: what was there is taken, the rest stays.
        {"{12345678-9abc", "{12345678-9ABC-3333-4444-444444444444}"},
        // A field that is no number stops the scan; Data4 goes on regardless.
        {"{12345678-XYZW-A0B1-C2D3-04E5F6071829}", "{12345678-2222-3333-C2D3-04E5F6071829}"},
        // A bad digit keeps only its own byte; the end cuts the last pair.
        {"{0123ABCD-00EF-A0B1-C2G3-04E5F60718", "{0123ABCD-00EF-A0B1-C244-04E5F6071844}"},
        // The separators before Data4 and the closing brace are not examined.
        {"{0123ABCD-00EF-A0B1xC2D3x04E5F6071829xTRAILING", kSample},
        {"", "{11111111-2222-3333-4444-444444444444}"},
        {longest, kSample},
        {longest + "#", "<E_FAIL>"},
    };
    for (const auto& c : cases) EXPECT_EQ(Lookup(u"Test.Parse", &c[0]), c[1]) << c[0];
    EXPECT_EQ(Lookup(u"Test.Nowhere"), "<E_FAIL>");
    // The key path buffer holds an identifier of 503 characters; one more is
    // refused without a read.  (The narrow path holds 255.)
    const std::u16string progId = std::u16string(250, u'p') + u"\\" + std::u16string(252, u'q');
    const std::string text = kSample;
    EXPECT_EQ(Lookup(progId + u"r", Family9x() ? nullptr : &text), "<E_FAIL>");
    EXPECT_EQ(Lookup(progId, Family9x() ? nullptr : &text), Family9x() ? "<E_FAIL>" : kSample);
}

TEST(CreateObject, UsesTheCachedFactoryUntilTheCountReturnsToZero) {
    TestServer server(ZV_TEST_SERVER_A);
    const CLSID clsid = ServedClass(1);
    ASSERT_EQ(Register(server.path, clsid), S_OK);
    ITestObject* first = nullptr;
    ASSERT_EQ(Create(clsid, &first), S_OK);  // creation does not ask for the count
    EXPECT_EQ(ClsidText(first->ClassId()), ClsidText(clsid));
    ASSERT_EQ(zv::ServerCacheCount(), 1u);
    const ZVHANDLE library = zv::ServerCacheRecord(0)->library;
    const ServerCounts before = server.Counts();
    // With the registration gone, a second creation still works: it reads no
    // registry value, loads no library and asks for no factory, and makes no
    // AddRef or Release on the factory around CreateInstance.
    EXPECT_EQ(ZVUnregisterComponent(u"Test.1", ClsidText(clsid).c_str()), S_OK);
    const size_t handles = zvp::OpenHandleCount();
    EXPECT_EQ(Create(clsid), S_OK);
    const ServerCounts after = server.Counts();
    EXPECT_TRUE(after.getClassObject == 1 && after.createInstance == 2);
    EXPECT_EQ(after.factoryAddRef - before.factoryAddRef + after.factoryRelease - before.factoryRelease, 0);
    EXPECT_EQ(zvp::OpenHandleCount(), handles);
    // A failing CreateInstance comes back unchanged and keeps the record; the
    // outer object and interface are passed through, the first argument is
    // never looked at.
    const IID unknownIid = ServedClass(0x77);
    void* out = &server;
    EXPECT_EQ(ZVCreateObject(0xDEADBEEF, &clsid, nullptr, &unknownIid, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(ZVCreateObject(0, &clsid, first, &IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(server.Counts().createInstance, 4);
    first->Release();

    // An unmatched call takes the count below zero and releases nothing.
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    // Up through zero to two, then down: the cache goes when zero is reached.
    EXPECT_EQ(ZVInitializeZCom(), S_OK);
    EXPECT_EQ(ZVInitializeZCom(), S_FALSE);  // the same thread again
    EXPECT_EQ(ZVInitializeZCom(), S_FALSE);
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_TRUE(zv::ZComCount() == 1 && zv::ServerCacheCount() == 1 && ModuleOpen(library));
    EXPECT_EQ(server.Counts().liveFactories, 1);
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_FALSE(zv::ServerCacheCount() || ModuleOpen(library) || server.Counts().liveFactories ||
                 server.Counts().liveObjects);
}

TEST(CreateObject, FailuresBeforeTheFactoryLeaveNoRecord) {
    TestServer server(ZV_TEST_SERVER_A), noEntry(ZV_TEST_SERVER_NOENTRY);
    TempDir dir, other;
    std::ofstream(dir.file("text.so")) << "not a library\n";
    // The wide registry read delivers 126 characters, the narrow one 254.
    const size_t longest = Family9x() ? 254 : 126;
    const std::string paths[] = {LinkOfLength(dir, server.path, longest),
                                 LinkOfLength(other, server.path, longest + 1), dir.file("missing.so"),
                                 dir.file("text.so"), noEntry.path, server.path};
    for (uint8_t i = 0; i < 6; ++i) ASSERT_EQ(Register(paths[i], ServedClass(i < 5 ? i : kRefusedClassByte)), S_OK);
    // Registered, but without the server's default value.
    const std::u16string key = u"CLSID\\" + ClsidText(ServedClass(6)) + u"\\InprocServer32";
    ASSERT_EQ(ZVAddRegistryEntry(HKEY_CLASSES_ROOT, key.c_str(), u"ThreadingModel", u"Both"), S_OK);
    ASSERT_EQ(ZVInitializeZCom(), S_OK);
    const size_t handles = zvp::OpenHandleCount();
    // A path beyond the read; no such file; a file that is no library; no
    // DllGetClassObject; no server path; not registered at all.
    ITestObject* object = reinterpret_cast<ITestObject*>(&server);
    for (uint8_t i : {1, 2, 3, 4, 6, 7}) EXPECT_EQ(Create(ServedClass(i), &object), REGDB_E_CLASSNOTREG);
    // DllGetClassObject refuses: its status comes back unchanged, and a later
    // attempt asks again.
    for (int i = 0; i < 2; ++i) EXPECT_EQ(Create(ServedClass(kRefusedClassByte), &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(server.Counts().getClassObject, 2);
    EXPECT_TRUE(object == reinterpret_cast<ITestObject*>(&server) && zv::ServerCacheCount() == 0);
    EXPECT_EQ(zvp::OpenHandleCount(), handles);  // every library loaded was closed again
    // The longest path that can be read loads the server, and is recorded.
    EXPECT_EQ(Create(ServedClass(0)), S_OK);
    ASSERT_EQ(zv::ServerCacheCount(), 1u);
    EXPECT_EQ(N(zv::ServerCacheRecord(0)->serverPath), paths[0]);
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
}
