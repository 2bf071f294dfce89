// sample_server.cpp - a sample in-process server: one class, the Greeter,
// handed out through the standard class-factory export.
#include <string.h>

#include <atomic>
#include <new>

#include "sample_greeter.h"

#if defined(_WIN32)
#define SAMPLE_EXPORT extern "C" __declspec(dllexport)
#else
#define SAMPLE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

const IID kIUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID kIClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

constexpr HRESULT kNoAggregation = HRESULT(0x80040110u);    // CLASS_E_NOAGGREGATION
constexpr HRESULT kClassNotAvailable = HRESULT(0x80040111u);  // CLASS_E_CLASSNOTAVAILABLE

// Live objects and server locks: while either is above zero the library
// must stay loaded.
std::atomic<int32_t> g_liveObjects{0};
std::atomic<int32_t> g_serverLocks{0};

bool SameGuid(const GUID& a, const GUID& b) { return memcmp(&a, &b, sizeof(GUID)) == 0; }

class Greeter final : public ISampleGreeter {
  public:
    Greeter() { ++g_liveObjects; }
    ~Greeter() { --g_liveObjects; }

    HRESULT ZV_STDCALL QueryInterface(const IID& riid, void** object) override {
        if (!object) return E_INVALIDARG;
        if (SameGuid(riid, kIUnknown) || SameGuid(riid, IID_ISampleGreeter)) {
            *object = static_cast<ISampleGreeter*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG ZV_STDCALL AddRef() override { return ++references_; }
    ULONG ZV_STDCALL Release() override {
        ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT ZV_STDCALL Greet(const ZVWCHAR* name, ZVWCHAR* buffer, uint32_t capacity) override {
        if (!name || !buffer) return E_INVALIDARG;
        static const ZVWCHAR kHello[] = ZV_W("Hello, ");
        const uint32_t helloChars = sizeof(kHello) / sizeof(kHello[0]) - 1;
        uint32_t nameChars = 0;
        while (name[nameChars]) ++nameChars;
        // "Hello, " + name + "!" + terminator.
        if (uint64_t(helloChars) + nameChars + 2 > capacity) return ZV_SAMPLE_E_BUFFER_TOO_SMALL;
        memcpy(buffer, kHello, helloChars * sizeof(ZVWCHAR));
        memcpy(buffer + helloChars, name, nameChars * sizeof(ZVWCHAR));
        buffer[helloChars + nameChars] = ZVWCHAR('!');
        buffer[helloChars + nameChars + 1] = 0;
        ++greetings_;
        return S_OK;
    }
    uint32_t ZV_STDCALL GreetingCount() override { return greetings_.load(); }

  private:
    std::atomic<ULONG> references_{0};
    std::atomic<uint32_t> greetings_{0};
};

// The class factory: one object for the life of the library, so its
// reference count only keeps the library loaded while it is held.
class GreeterFactory final : public IClassFactory {
  public:
    HRESULT ZV_STDCALL QueryInterface(const IID& riid, void** object) override {
        if (!object) return E_INVALIDARG;
        if (SameGuid(riid, kIUnknown) || SameGuid(riid, kIClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG ZV_STDCALL AddRef() override { return ULONG(++g_serverLocks); }
    ULONG ZV_STDCALL Release() override { return ULONG(--g_serverLocks); }

    HRESULT ZV_STDCALL CreateInstance(IUnknown* outer, const IID& riid, void** object) override {
        if (!object) return E_INVALIDARG;
        *object = nullptr;
        if (outer) return kNoAggregation;
        Greeter* greeter = new (std::nothrow) Greeter;
        if (!greeter) return E_OUTOFMEMORY;
        // The object lives exactly as long as the caller's reference.
        greeter->AddRef();
        HRESULT status = greeter->QueryInterface(riid, object);
        greeter->Release();
        return status;
    }
    HRESULT ZV_STDCALL LockServer(int32_t lock) override {
        if (lock) {
            ++g_serverLocks;
        } else {
            --g_serverLocks;
        }
        return S_OK;
    }
};

GreeterFactory g_factory;

}  // namespace

SAMPLE_EXPORT HRESULT ZV_STDCALL DllGetClassObject(const CLSID& clsid, const IID& riid,
                                                   void** object) {
    if (!object) return E_INVALIDARG;
    *object = nullptr;
    if (!SameGuid(clsid, CLSID_SampleGreeter)) return kClassNotAvailable;
    return g_factory.QueryInterface(riid, object);
}

// S_OK when nothing of the server is in use and it may be unloaded.
SAMPLE_EXPORT HRESULT ZV_STDCALL DllCanUnloadNow(void) {
    return g_liveObjects.load() == 0 && g_serverLocks.load() == 0 ? S_OK : S_FALSE;
}
