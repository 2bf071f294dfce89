// test_server.cpp - an in-process server that counts what is done to it.
// Built twice (two libraries for the release order) and once without its
// DllGetClassObject export (ZV_TEST_SERVER_NO_ENTRY).
#include <string.h>
#include <time.h>

#include <atomic>
#include <new>

#include "test_server.h"

#define TEST_SERVER_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using zvtest::ServerCounts;

const IID kIUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID kIClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr HRESULT kNoAggregation = HRESULT(0x80040110u);
constexpr HRESULT kClassNotAvailable = HRESULT(0x80040111u);

std::atomic<int32_t> g_getClassObject{0};
std::atomic<int32_t> g_createInstance{0};
std::atomic<int32_t> g_factoryAddRef{0};
std::atomic<int32_t> g_factoryRelease{0};
std::atomic<int32_t> g_liveFactories{0};
std::atomic<int32_t> g_liveObjects{0};
std::atomic<uint32_t> g_delayMs{0};
std::atomic<zvtest::ReleaseHook> g_releaseHook{nullptr};
std::atomic<void*> g_releaseContext{nullptr};

bool SameGuid(const GUID& a, const GUID& b) { return memcmp(&a, &b, sizeof(GUID)) == 0; }

[[maybe_unused]] bool Served(const CLSID& clsid) {
    CLSID base = zvtest::ServedClass(0);
    return memcmp(&clsid, &base, 15) == 0 && clsid.Data4[7] != zvtest::kRefusedClassByte;
}

class TestObject final : public zvtest::ITestObject {
  public:
    explicit TestObject(const CLSID& clsid) : clsid_(clsid) { ++g_liveObjects; }
    ~TestObject() { --g_liveObjects; }
    HRESULT QueryInterface(const IID& riid, void** object) override {
        if (SameGuid(riid, kIUnknown) || SameGuid(riid, zvtest::kTestObjectIid)) {
            *object = static_cast<zvtest::ITestObject*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override {
        ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    CLSID ClassId() override { return clsid_; }

  private:
    std::atomic<ULONG> references_{0};
    CLSID clsid_;
};

// A fresh factory for every DllGetClassObject call, so that each reference
// the component layer keeps can be followed to its end.
class Factory final : public IClassFactory {
  public:
    explicit Factory(const CLSID& clsid) : clsid_(clsid) { ++g_liveFactories; }
    ~Factory() { --g_liveFactories; }
    HRESULT QueryInterface(const IID& riid, void** object) override {
        if (SameGuid(riid, kIUnknown) || SameGuid(riid, kIClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override {
        ++g_factoryAddRef;
        return ++references_;
    }
    ULONG Release() override {
        ++g_factoryRelease;
        ULONG left = --references_;
        if (left == 0) {
            zvtest::ReleaseHook hook = g_releaseHook.load();
            if (hook) hook(&clsid_, g_releaseContext.load());
            delete this;
        }
        return left;
    }
    HRESULT CreateInstance(IUnknown* outer, const IID& riid, void** object) override {
        ++g_createInstance;
        *object = nullptr;
        if (outer) return kNoAggregation;
        TestObject* created = new (std::nothrow) TestObject(clsid_);
        if (!created) return E_OUTOFMEMORY;
        created->AddRef();
        HRESULT status = created->QueryInterface(riid, object);
        created->Release();
        return status;
    }
    HRESULT LockServer(int32_t) override { return S_OK; }

  private:
    std::atomic<ULONG> references_{0};
    CLSID clsid_;
};

}  // namespace

#ifndef ZV_TEST_SERVER_NO_ENTRY
TEST_SERVER_EXPORT HRESULT DllGetClassObject(const CLSID& clsid, const IID& riid,
                                             void** object) {
    ++g_getClassObject;
    uint32_t delay = g_delayMs.load();
    if (delay) {
        struct timespec pause = {time_t(delay / 1000), long(delay % 1000) * 1000000L};
        nanosleep(&pause, nullptr);
    }
    *object = nullptr;
    if (!Served(clsid)) return kClassNotAvailable;
    Factory* factory = new (std::nothrow) Factory(clsid);
    if (!factory) return E_OUTOFMEMORY;
    factory->AddRef();
    HRESULT status = factory->QueryInterface(riid, object);
    factory->Release();
    return status;
}
#endif

TEST_SERVER_EXPORT void TestServerCounts(ServerCounts* counts) {
    counts->getClassObject = g_getClassObject.load();
    counts->createInstance = g_createInstance.load();
    counts->factoryAddRef = g_factoryAddRef.load();
    counts->factoryRelease = g_factoryRelease.load();
    counts->liveFactories = g_liveFactories.load();
    counts->liveObjects = g_liveObjects.load();
}

TEST_SERVER_EXPORT void TestServerSetDelay(uint32_t milliseconds) { g_delayMs = milliseconds; }

TEST_SERVER_EXPORT void TestServerSetReleaseHook(zvtest::ReleaseHook hook, void* context) {
    g_releaseContext = context;
    g_releaseHook = hook;
}
