// Class lookup by programmatic identifier, object creation through the
// cached class factories, the ZCom runtime's count and task allocator
// reference, the server cache with its release, and all of them under many
// threads.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "components/components.h"
#include "frame/frame.h"
#include "os_probes.h"
#include "server/test_server.h"
#include "support.h"
#include "watchdog.h"

#if defined(_WIN32)
#include <tlhelp32.h>
#else
#include <dlfcn.h>
#endif

using namespace zvtest;

namespace {

#if defined(_WIN32)
typedef HMODULE Module;
Module OpenModule(const std::string& path) { return LoadLibraryA(path.c_str()); }
void UnloadModule(Module module) { FreeLibrary(module); }
void* Symbol(Module module, const char* name) { return reinterpret_cast<void*>(GetProcAddress(module, name)); }

// The full Windows path of a built server, as a user registers it.
std::string ServerPath(const char* built) {
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(built, MAX_PATH, full, nullptr);
    return length && length < MAX_PATH ? std::string(full, length) : std::string(built);
}
#else
typedef void* Module;
Module OpenModule(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW); }
void UnloadModule(Module module) { dlclose(module); }
void* Symbol(Module module, const char* name) { return dlsym(module, name); }
std::string ServerPath(const char* built) { return built; }
#endif

// A test server library held open by the test itself, so that its counters
// survive the component layer's loading and closing it.
struct TestServer {
    explicit TestServer(const char* file) : path(ServerPath(file)), library(OpenModule(path)) {}
    ~TestServer() { UnloadModule(library); }
    // Counts of -1 when the test could not load the library.
    ServerCounts Counts() const {
        ServerCounts counts = {-1, -1, -1, -1, -1, -1};
        if (void* read = Symbol(library, "TestServerCounts"))
            reinterpret_cast<void (*)(ServerCounts*)>(read)(&counts);
        else
            ADD_FAILURE() << path << " is not loaded";
        return counts;
    }
    void SetDelay(uint32_t ms) {
        if (void* set = Symbol(library, "TestServerSetDelay")) reinterpret_cast<void (*)(uint32_t)>(set)(ms);
        else ADD_FAILURE() << path << " is not loaded";
    }
    const std::string path;
    Module library;
};

// The library's own text of a class identifier.
std::u16string ClsidText(const CLSID& clsid) {
    ZVWCHAR text[zv::kClsidTextChars + 1];
    zv::FormatClsidText(clsid, reinterpret_cast<WCHAR*>(text));
    return text;
}

// Registers clsid, served by the library at serverPath, as "Test.<last byte>".
HRESULT Register(const std::string& serverPath, const CLSID& clsid) {
    const std::u16string progId = u"Test." + W(std::to_string(clsid.Data4[7]).c_str());
    return ZVRegisterComponent(W(serverPath.c_str()).c_str(), progId.c_str(), u"test", ClsidText(clsid).c_str());
}

// Creates an object of clsid; without `object`, lets it go again at once.
HRESULT Create(const CLSID& clsid, ITestObject** object = nullptr) {
    ITestObject* own = nullptr;
    const HRESULT status =
        ZVCreateObject(0, &clsid, nullptr, &kTestObjectIid, reinterpret_cast<void**>(object ? object : &own));
    if (own) own->Release();
    return status;
}

#if !defined(_WIN32)
// References of the task allocator that are out, read without keeping one.
ULONG TaskAllocatorReferences() {
    IMalloc* allocator = nullptr;
    return CoGetMalloc(MEMCTX_TASK, &allocator) == S_OK ? allocator->Release() : ~ULONG(0);
}
#endif

// Every successful initialisation holds one reference of the task
// allocator, which the library fetches on the first and drops with the last.
// Windows' task allocator is one static object whose AddRef and Release
// answer constants (Release never zero), so there its references cannot be
// counted and the library keeps the pointer: what shows is that the library
// holds the process's one task allocator and its blocks are that allocator's.
void ExpectAllocatorReferences(ULONG expected) {
#if defined(_WIN32)
    IMalloc* system = nullptr;
    ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, &system), S_OK);
    if (expected) {
        EXPECT_EQ(zv::ZComTaskAllocator(), system);
        void* block = ZVComMalloc(24);
        EXPECT_TRUE(block && system->DidAlloc(block) == 1 && system->GetSize(block) >= 24);
        CoTaskMemFree(block);
    }
    system->Release();
#else
    EXPECT_EQ(TaskAllocatorReferences(), expected);
#endif
}

// After the last reference: the pointer is dropped, to be fetched anew (on
// Windows it stays the static allocator, whose Release never answers zero).
void ExpectAllocatorDropped() {
#if defined(_WIN32)
    IMalloc* system = nullptr;
    ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, &system), S_OK);
    EXPECT_EQ(zv::ZComTaskAllocator(), system);
    system->Release();
#else
    EXPECT_EQ(zv::ZComTaskAllocator(), nullptr);
    EXPECT_EQ(TaskAllocatorReferences(), 0u);
#endif
}

// True while a module handle names a loaded module: on POSIX a module handle
// of the platform layer's table, on Windows a module still mapped at that
// address.
bool ModuleOpen(ZVHANDLE library) {
#if defined(_WIN32)
    HMODULE found = nullptr;
    return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCWSTR>(library), &found) &&
           found == library;
#else
    return GetProcAddress(static_cast<HMODULE>(library), "TestServerCounts");
#endif
}

// True while the component layer holds the server it loaded as `library`.  On
// POSIX the layer's handle is one of its own, open or closed whatever the
// test holds.  On Windows a module handle is the module's address, the same
// for every holder: the test lets go of its own reference and sees whether
// the module stays, then takes one again (a module that went starts afresh,
// its counters at zero).
bool LayerHolds(TestServer& server, ZVHANDLE library) {
#if defined(_WIN32)
    (void)library;
    UnloadModule(server.library);
    const bool held = ModuleOpen(server.library);
    server.library = OpenModule(server.path);
    return held;
#else
    (void)server;
    return ModuleOpen(library);
#endif
}

// What the process holds open, as a user can count it: its handles (on
// POSIX the platform layer's: libraries, keys, events; on Windows the
// kernel's: keys, files, events) and, on Windows, its loaded modules, since
// a module handle is no kernel handle there.
std::pair<size_t, size_t> OpenHandles() {
    size_t modules = 0;
#if defined(_WIN32)
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0);
    MODULEENTRY32W module;
    module.dwSize = sizeof module;
    for (BOOL more = Module32FirstW(snapshot, &module); more; more = Module32NextW(snapshot, &module)) ++modules;
    CloseHandle(snapshot);
#endif
    return {OpenHandleCount(), modules};
}

const char kSample[] = "{0123ABCD-00EF-A0B1-C2D3-04E5F6071829}";
// What a failed parse must leave alone.
const CLSID kSentinel = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44}};

// Reads progId's class identifier into the sentinel, after storing text as
// registration does when text is given; its text, "<E_FAIL>" on failure.
std::string Lookup(const std::u16string& progId, const std::string* text = nullptr) {
    if (text) ZVAddRegistryEntry(HKEY_CLASSES_ROOT, (progId + u"\\CLSID").c_str(), nullptr, W(text->c_str()).c_str());
    CLSID clsid = kSentinel;
    const HRESULT status = ZVClsidFromProgId(progId.c_str(), &clsid);
    EXPECT_TRUE(status == S_OK || ClsidText(clsid) == ClsidText(kSentinel));
    return status == S_OK ? N(ClsidText(clsid).c_str()) : status == E_FAIL ? "<E_FAIL>" : "<other>";
}

// The library target under a path of exactly `length` characters: a
// symbolic link on POSIX, a copy on Windows (where making a link takes a
// privilege), which is then a module of its own.
std::string LinkOfLength(const TempDir& dir, const std::string& target, size_t length) {
#if defined(_WIN32)
    const std::string name = "\\s.dll";
#else
    const std::string name = "/s.so";
#endif
    const std::string folder = dir.path() + name[0] + std::string(length - dir.path().size() - 1 - name.size(), 'd');
    std::filesystem::create_directories(folder);
#if defined(_WIN32)
    std::filesystem::copy_file(target, folder + name);
#else
    std::filesystem::create_symlink(target, folder + name);
#endif
    return folder + name;
}


// The libraries the records hold in the cache test, and what its factories saw.
ZVHANDLE g_libraries[2];
std::vector<std::string> g_log;

// A factory for the cache's internal calls: it logs its Release, with the
// libraries still open at that moment.
struct LoggingFactory final : IClassFactory {
    explicit LoggingFactory(int id) : id(id) {}
    HRESULT ZV_STDCALL QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
    ULONG ZV_STDCALL AddRef() override { return 2; }
    ULONG ZV_STDCALL Release() override {
        g_log.push_back(std::to_string(id) + (ModuleOpen(g_libraries[0]) ? " A" : "") +
                        (ModuleOpen(g_libraries[1]) ? " B" : ""));
        return 0;
    }
    HRESULT ZV_STDCALL CreateInstance(IUnknown*, const IID&, void**) override { return E_FAIL; }
    HRESULT ZV_STDCALL LockServer(int32_t) override { return S_OK; }
    const int id;
};

// Runs body(t) for t below `threads`, each on a thread of its own, all
// starting together, and waits for them.
template <class Body>
void RunTogether(int threads, Body body) {
    std::atomic<int> ready{0};
    std::vector<std::thread> running;
    for (int t = 0; t < threads; ++t)
        running.emplace_back([&, t] {
            for (++ready; ready < threads;) std::this_thread::yield();
            body(t);
        });
    for (std::thread& thread : running) thread.join();
}

// One round of a worker: the thread's own initialisation and a nested one,
// an object of *clsid when given, a block, and the two matching calls.
// False when anything answered wrongly.
bool Round(const CLSID* clsid, uint32_t size) {
    bool right = ZVInitializeZCom() == S_OK && ZVInitializeZCom() == S_FALSE;
    ITestObject* object = nullptr;
    if (clsid) right = Create(*clsid, &object) == S_OK && ClsidText(object->ClassId()) == ClsidText(*clsid) && right;
    if (object) object->Release();
    void* block = ZVComMalloc(size);
    ZVComFree(block);
    return ZVUninitializeZCom() == S_OK && ZVUninitializeZCom() == S_OK && right && block;
}

}  // namespace

TEST(ClsidFromProgId, ParsesWhatFitsLeavesTheRestAloneAndFailsOnlyToRead) {
    // The longest value a read delivers is 126 characters wide, 254 narrow.
    std::string longest = kSample;
    longest.resize(Family9x() ? 254 : 126, '#');
    const std::string cases[][2] = {
        {"{0123abcd-00ef-a0b1-c2d3-04e5f6071829}", kSample},
        // Without the opening brace the scan stops at once; the Data4
        // positions still hold pairs, shifted by one: "2D", "3-", "4E", ...
        {"0123ABCD-00EF-A0B1-C2D3-04E5F6071829}", "{11111111-2222-3333-2D44-4E5F60718244}"},
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
    // A value of 255 bytes stored without a terminator fills the read whole.
    std::string unterminated = kSample;
    unterminated.resize(255, '#');
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "Test.Binary\\CLSID", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "", 0, REG_BINARY, reinterpret_cast<const BYTE*>(unterminated.data()), 255),
              ERROR_SUCCESS);
    RegCloseKey(key);
    if (Family9x()) EXPECT_EQ(Lookup(u"Test.Binary"), kSample);
    else EXPECT_NE(Lookup(u"Test.Binary"), "<E_FAIL>");
    EXPECT_EQ(Lookup(u"Test.Nowhere"), "<E_FAIL>");
    // The key path buffer holds an identifier of 503 characters; one more is
    // refused without a read.  (The narrow path holds 255.)
    const std::u16string progId = std::u16string(250, u'p') + u"\\" + std::u16string(252, u'q');
    const std::string text = kSample;
    EXPECT_EQ(Lookup(progId + u"r", Family9x() ? nullptr : &text), "<E_FAIL>");
    EXPECT_EQ(Lookup(progId, Family9x() ? nullptr : &text), Family9x() ? "<E_FAIL>" : kSample);
}

// Failures before the factory leave no record; then a class's factory, once
// created, is cached and serves until the count returns to zero.
TEST(CreateObject, FailuresLeaveNoRecordAndTheCachedFactoryServesUntilTheCountIsZero) {
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
    const auto open = OpenHandles();
    // A path beyond the read; no such file; a file that is no library; no
    // DllGetClassObject; no server path; not registered at all.
    ITestObject* object = reinterpret_cast<ITestObject*>(&server);
    for (uint8_t i : {1, 2, 3, 4, 6, 7}) EXPECT_EQ(Create(ServedClass(i), &object), REGDB_E_CLASSNOTREG);
    // DllGetClassObject refuses: its status comes back unchanged, and a later
    // attempt asks again.
    for (int i = 0; i < 2; ++i) EXPECT_EQ(Create(ServedClass(kRefusedClassByte), &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(server.Counts().getClassObject, 2);
    EXPECT_TRUE(object == reinterpret_cast<ITestObject*>(&server) && zv::ServerCacheCount() == 0);
    EXPECT_EQ(OpenHandles(), open);  // every library loaded was closed again
#if defined(_WIN32)
    // The two that loaded are the test's own too: only its reference is left.
    EXPECT_FALSE(LayerHolds(server, nullptr) || LayerHolds(noEntry, nullptr));
#endif
    // The longest path that can be read loads the server, and is recorded.
    EXPECT_EQ(Create(ServedClass(0)), S_OK);
    ASSERT_EQ(zv::ServerCacheCount(), 1u);
    EXPECT_EQ(N(reinterpret_cast<const ZVWCHAR*>(zv::ServerCacheRecord(0)->serverPath)), paths[0]);
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);

    const CLSID clsid = ServedClass(5);
    ASSERT_EQ(Register(server.path, clsid), S_OK);
    ITestObject* first = nullptr;
    ASSERT_EQ(Create(clsid, &first), S_OK);  // creation does not ask for the count
    ASSERT_EQ(zv::ServerCacheCount(), 1u);
    const ZVHANDLE library = zv::ServerCacheRecord(0)->library;
    const ServerCounts before = server.Counts();
    // With the registration gone, a second creation still works: it reads no
    // registry value, loads no library and asks for no factory, and makes no
    // AddRef or Release on the factory around CreateInstance.
    EXPECT_EQ(ZVUnregisterComponent(u"Test.5", ClsidText(clsid).c_str()), S_OK);
    const auto handles = OpenHandles();
    EXPECT_EQ(Create(clsid), S_OK);
    const ServerCounts after = server.Counts();
    EXPECT_TRUE(after.getClassObject == before.getClassObject && after.createInstance == before.createInstance + 1);
    EXPECT_EQ(after.factoryAddRef - before.factoryAddRef + after.factoryRelease - before.factoryRelease, 0);
    EXPECT_EQ(OpenHandles(), handles);
    // A failing CreateInstance comes back unchanged and keeps the record; the
    // outer object and interface are passed through, the first argument is
    // never looked at.
    const IID unknownIid = ServedClass(0x77);
    void* out = &server;
    EXPECT_EQ(ZVCreateObject(0xDEADBEEF, &clsid, nullptr, &unknownIid, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(ZVCreateObject(0, &clsid, first, &IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(server.Counts().createInstance, before.createInstance + 3);
    first->Release();

    // An unmatched call takes the count below zero and releases nothing.
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    // Up through zero to two, then down: the cache goes when zero is reached.
    EXPECT_EQ(ZVInitializeZCom(), S_OK);
    EXPECT_EQ(ZVInitializeZCom(), S_FALSE);  // the same thread again
    EXPECT_EQ(ZVInitializeZCom(), S_FALSE);
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_TRUE(zv::ZComCount() == 1 && zv::ServerCacheCount() == 1 && LayerHolds(server, library));
    EXPECT_EQ(server.Counts().liveFactories, 1);
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_FALSE(zv::ServerCacheCount() || server.Counts().liveFactories || server.Counts().liveObjects);
    EXPECT_FALSE(LayerHolds(server, library));
}

// The server cache's release, when the count returns to zero, takes each factory's one reference in insertion
// order and closes a record's library after its factory, before the next
// record.  Every successful initialisation holds one reference of the task
// allocator.
TEST(ZComRuntime, CacheReleaseInInsertionOrderAndOneAllocatorReferencePerInitialise) {
    g_libraries[0] = ZVOpenLibrary(W(ServerPath(ZV_TEST_SERVER_A).c_str()).c_str());
    g_libraries[1] = ZVOpenLibrary(W(ServerPath(ZV_TEST_SERVER_B).c_str()).c_str());
    std::vector<LoggingFactory> factories;
    for (int i = 0; i <= 40; ++i) factories.emplace_back(i);
    EnterCriticalSection(&zv::g_zcomLock);
    // Forty records, the first two with the libraries (the array grows past
    // its first size), then a second record of the first class.
    for (uint8_t i = 0; i <= 40; ++i)
        EXPECT_EQ(zv::ServerCacheInsert(i < 2 ? g_libraries[i] : nullptr, reinterpret_cast<const WCHAR*>(u"/x.so"), ServedClass(i % 40), &factories[i]), S_OK);
    IClassFactory* found = nullptr;
    EXPECT_EQ(zv::ServerCacheLookup(ServedClass(0), &found), S_OK);
    EXPECT_EQ(found, &factories[0]);  // the first record of a class wins
    LeaveCriticalSection(&zv::g_zcomLock);
    // Here the count returns to zero in a thread initialised for another
    // model: the changed mode passes through, counted but with no reference
    // taken; the CoUninitialize matched the thread's own initialisation, so
    // it may choose afresh.
    std::thread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(ZVInitializeZCom(), RPC_E_CHANGED_MODE);
        EXPECT_EQ(zv::ZComCount(), 1);
        ExpectAllocatorReferences(0);
        EXPECT_EQ(ZVUninitializeZCom(), S_OK);
        EXPECT_EQ(zv::ZComCount(), 0);
        EXPECT_EQ(CoInitialize(nullptr), S_OK);
    }).join();
    std::vector<std::string> expected = {"0 A B", "1 B"};
    for (int i = 2; i <= 40; ++i) expected.push_back(std::to_string(i));
    EXPECT_EQ(g_log, expected);
    EXPECT_EQ(zv::ServerCacheCount(), 0u);

    ASSERT_EQ(ZVInitializeZCom(), S_OK);
    // A second thread's initialisation adds a reference to the same one.
    std::thread([] { EXPECT_EQ(ZVInitializeZCom(), S_OK); }).join();
    ExpectAllocatorReferences(2);
    std::thread([] { ZVUninitializeZCom(); }).join();
    ExpectAllocatorReferences(1);
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    // Its last reference is gone: the pointer is dropped, to be fetched anew.
    ExpectAllocatorDropped();
}

// Many threads create the first and later objects of several classes while
// the host keeps the count above zero; then, with nobody holding it up, the
// count keeps passing zero and the allocator pointer is dropped and fetched
// again.
TEST(ZComConcurrency, ManyThreadsCreateObjectsAndPassTheCountThroughZero) {
    Watchdog watchdog(120);
    TestServer servers[2] = {TestServer(ZV_TEST_SERVER_A), TestServer(ZV_TEST_SERVER_B)};
    // Classes of their own (from 0x10): on Windows the tests share the
    // machine's registry, and CTest may run two of them at once.
    const int kClasses = 6, kThreads = 12, kRounds = 150;
    const uint8_t kFirstClass = 0x10;
    for (uint8_t c = 0; c < kClasses; ++c)
        ASSERT_EQ(Register(servers[c % 2].path, ServedClass(uint8_t(kFirstClass + c))), S_OK);
    // DllGetClassObject takes its time, so that the two threads that start
    // with each class meet inside the first creation.
    for (TestServer& server : servers) server.SetDelay(30);
    // The host keeps the count above zero while others create objects.
    ASSERT_EQ(ZVInitializeZCom(), S_OK);
    std::atomic<int> wrong{0};
    RunTogether(kThreads, [&](int t) {
        for (int i = 0; i < kRounds; ++i) {
            const CLSID clsid = ServedClass(uint8_t(kFirstClass + (t + i) % kClasses));
            wrong += !Round(&clsid, uint32_t(16 + i));
        }
    });
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(zv::ZComCount(), 1);
    ASSERT_EQ(zv::ServerCacheCount(), uint32_t(kClasses));
    for (TestServer& server : servers) EXPECT_EQ(server.Counts().getClassObject, kClasses / 2);
    EXPECT_EQ(servers[0].Counts().createInstance + servers[1].Counts().createInstance, kThreads * kRounds);
    // Three records share each library: one close per record unloads it.
    std::vector<std::pair<TestServer*, ZVHANDLE>> records;
    for (uint32_t r = 0; r < uint32_t(kClasses); ++r) {
        const zv::ServerRecord* record = zv::ServerCacheRecord(r);
        const bool first = N(reinterpret_cast<const ZVWCHAR*>(record->serverPath)) == servers[0].path;
        records.emplace_back(&servers[first ? 0 : 1], record->library);
    }
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_EQ(zv::ServerCacheCount(), 0u);
    for (TestServer& server : servers) EXPECT_EQ(server.Counts().liveFactories + server.Counts().liveObjects, 0);
    for (const auto& record : records) EXPECT_FALSE(LayerHolds(*record.first, record.second));

    RunTogether(kThreads, [&](int) {
        for (int i = 0; i < 500; ++i) wrong += !Round(nullptr, 32);
    });
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(zv::ZComCount(), 0);
    ExpectAllocatorDropped();
}
