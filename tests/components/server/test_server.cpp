// test_server.cpp - an in-process server that counts what is done to it.
// Built twice (two libraries for the release order) and once without its
// DllGetClassObject export (ZV_TEST_SERVER_NO_ENTRY).
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <new>

#include "test_server.h"

#define TEST_SERVER_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

const IID kIUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID kIClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// The instances alive of one kind of object, and the AddRef and Release
// calls made on them.
struct Tally { std::atomic<int32_t> live{0}, addRefs{0}, releases{0}; };
Tally g_factories, g_objects;
std::atomic<int32_t> g_getClassObject{0}, g_createInstance{0};
std::atomic<uint32_t> g_delayMs{0};

// IUnknown for one further interface, counted in a tally; the object keeps
// the class it was made for.
template <class Interface>
struct Counted : Interface {
    Counted(const IID& iid, Tally& tally, const CLSID& clsid) : iid_(iid), tally_(tally), clsid_(clsid) { ++tally_.live; }
    virtual ~Counted() { --tally_.live; }
    HRESULT QueryInterface(const IID& riid, void** object) override {
        const bool known = !memcmp(&riid, &kIUnknown, sizeof(IID)) || !memcmp(&riid, &iid_, sizeof(IID));
        *object = known ? static_cast<Interface*>(this) : nullptr;
        if (known) AddRef();
        return known ? S_OK : E_NOINTERFACE;
    }
    ULONG AddRef() override { ++tally_.addRefs; return ++references_; }
    ULONG Release() override {
        ++tally_.releases;
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    const IID& iid_;
    Tally& tally_;
    const CLSID clsid_;
    std::atomic<ULONG> references_{0};
};

// Gives out a new object through its QueryInterface for riid, or drops it.
template <class Object>
HRESULT HandOut(Object* made, const IID& riid, void** object) {
    const HRESULT status = made ? made->QueryInterface(riid, object) : E_OUTOFMEMORY;
    if (made && status != S_OK) delete made;
    return status;
}

struct TestObject final : Counted<zvtest::ITestObject> {
    explicit TestObject(const CLSID& clsid) : Counted(zvtest::kTestObjectIid, g_objects, clsid) {}
    CLSID ClassId() override { return clsid_; }
};

// A fresh factory for every DllGetClassObject call, so that each reference
// the component layer keeps can be followed to its end.
struct Factory final : Counted<IClassFactory> {
    explicit Factory(const CLSID& clsid) : Counted(kIClassFactory, g_factories, clsid) {}
    HRESULT CreateInstance(IUnknown* outer, const IID& riid, void** object) override {
        ++g_createInstance;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return HandOut(new (std::nothrow) TestObject(clsid_), riid, object);
    }
    HRESULT LockServer(int32_t) override { return S_OK; }
};

}  // namespace

#ifndef ZV_TEST_SERVER_NO_ENTRY
TEST_SERVER_EXPORT HRESULT DllGetClassObject(const CLSID& clsid, const IID& riid, void** object) {
    ++g_getClassObject;
    usleep(g_delayMs.load() * 1000);
    *object = nullptr;
    const CLSID served = zvtest::ServedClass(clsid.Data4[7]);
    if (memcmp(&clsid, &served, sizeof(CLSID)) || clsid.Data4[7] == zvtest::kRefusedClassByte)
        return CLASS_E_CLASSNOTAVAILABLE;
    return HandOut(new (std::nothrow) Factory(clsid), riid, object);
}
#endif

TEST_SERVER_EXPORT void TestServerCounts(zvtest::ServerCounts* counts) {
    *counts = {g_getClassObject.load(), g_createInstance.load(), g_factories.addRefs.load(),
               g_factories.releases.load(), g_factories.live.load(), g_objects.live.load()};
}

// Milliseconds DllGetClassObject waits before it answers.
TEST_SERVER_EXPORT void TestServerSetDelay(uint32_t milliseconds) { g_delayMs = milliseconds; }
