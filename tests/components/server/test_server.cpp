// test_server.cpp - an in-process server that counts what is done to it.
// Built twice (two libraries for the release order) and once without its
// DllGetClassObject export (ZV_TEST_SERVER_NO_ENTRY).
#include <string.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "test_server.h"

#if defined(_WIN32)
#define TEST_SERVER_EXPORT extern "C" __declspec(dllexport)
#else
#define TEST_SERVER_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

const IID kIUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID kIClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// Per kind (0 factories, 1 objects): instances alive, AddRef and Release calls.
std::atomic<int32_t> g_live[2], g_addRefs[2], g_releases[2], g_getClassObject{0}, g_createInstance{0};
std::atomic<uint32_t> g_delayMs{0};

// IUnknown for the kind's own interface, counted; the instance keeps the
// class it was made for.
template <class Interface, int kKind>
struct Counted : Interface {
    explicit Counted(const CLSID& clsid) : clsid_(clsid) { ++g_live[kKind]; }
    virtual ~Counted() { --g_live[kKind]; }
    HRESULT ZV_STDCALL QueryInterface(const IID& riid, void** object) override {
        const IID& own = kKind ? zvtest::kTestObjectIid : kIClassFactory;
        const bool known = !memcmp(&riid, &kIUnknown, sizeof(IID)) || !memcmp(&riid, &own, sizeof(IID));
        *object = known ? static_cast<Interface*>(this) : nullptr;
        if (known) AddRef();
        return known ? S_OK : E_NOINTERFACE;
    }
    ULONG ZV_STDCALL AddRef() override { ++g_addRefs[kKind]; return ++references_; }
    ULONG ZV_STDCALL Release() override {
        ++g_releases[kKind];
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    // Gives out a new instance through its QueryInterface for riid, or drops it.
    template <class Made>
    static HRESULT HandOut(Made* made, const IID& riid, void** object) {
        const HRESULT status = made->QueryInterface(riid, object);
        if (status != S_OK) delete made;
        return status;
    }

    const CLSID clsid_;
    std::atomic<ULONG> references_{0};
};

struct TestObject final : Counted<zvtest::ITestObject, 1> {
    using Counted::Counted;
    CLSID ZV_STDCALL ClassId() override { return clsid_; }
};

// A fresh factory for every DllGetClassObject call, so that each reference
// the component layer keeps can be followed to its end.
struct Factory final : Counted<IClassFactory, 0> {
    using Counted::Counted;
    HRESULT ZV_STDCALL CreateInstance(IUnknown* outer, const IID& riid, void** object) override {
        ++g_createInstance;
        *object = nullptr;
        return outer ? CLASS_E_NOAGGREGATION : HandOut(new TestObject(clsid_), riid, object);
    }
    HRESULT ZV_STDCALL LockServer(int32_t) override { return S_OK; }
};

}  // namespace

#ifndef ZV_TEST_SERVER_NO_ENTRY
TEST_SERVER_EXPORT HRESULT ZV_STDCALL DllGetClassObject(const CLSID& clsid, const IID& riid, void** object) {
    ++g_getClassObject;
    std::this_thread::sleep_for(std::chrono::milliseconds(g_delayMs.load()));
    *object = nullptr;
    const CLSID served = zvtest::ServedClass(clsid.Data4[7]);
    if (memcmp(&clsid, &served, sizeof(CLSID)) || clsid.Data4[7] == zvtest::kRefusedClassByte)
        return CLASS_E_CLASSNOTAVAILABLE;
    return Factory::HandOut(new Factory(clsid), riid, object);
}
#endif

TEST_SERVER_EXPORT void TestServerCounts(zvtest::ServerCounts* counts) {
    *counts = {g_getClassObject.load(), g_createInstance.load(), g_addRefs[0].load(),
               g_releases[0].load(),    g_live[0].load(),        g_live[1].load()};
}

// Milliseconds DllGetClassObject waits before it answers.
TEST_SERVER_EXPORT void TestServerSetDelay(uint32_t milliseconds) { g_delayMs = milliseconds; }
