// The sample server of examples/, used the way a client uses it: registered,
// found by its programmatic identifier and created through the registry.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "component_support.h"
#include "sample_greeter.h"

namespace {

typedef HRESULT (*CanUnloadNowFn)(void);

}  // namespace

TEST(SampleServer, GreetsThroughTheRegistry) {
    // Held open here too, to ask whether it may be unloaded.
    void* library = dlopen(ZV_SAMPLE_SERVER_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr);
    auto canUnloadNow = reinterpret_cast<CanUnloadNowFn>(dlsym(library, "DllCanUnloadNow"));
    ASSERT_NE(canUnloadNow, nullptr);

    ASSERT_EQ(ZVRegisterComponent(zvtest::W(ZV_SAMPLE_SERVER_PATH).c_str(),
                                  ZV_SAMPLE_GREETER_PROGID, ZV_W("Sample greeter"),
                                  ZV_SAMPLE_GREETER_CLSID_TEXT),
              S_OK);
    ASSERT_EQ(ZVInitializeZCom(), S_OK);

    CLSID clsid = {};
    ASSERT_EQ(ZVClsidFromProgId(ZV_SAMPLE_GREETER_PROGID, &clsid), S_OK);
    EXPECT_TRUE(zvtest::SameClsid(clsid, CLSID_SampleGreeter));

    ISampleGreeter* greeter = nullptr;
    ASSERT_EQ(ZVCreateObject(0, &clsid, nullptr, &IID_ISampleGreeter,
                             reinterpret_cast<void**>(&greeter)),
              S_OK);
    ASSERT_NE(greeter, nullptr);
    ZVWCHAR text[32];
    EXPECT_EQ(greeter->Greet(ZV_W("World"), text, 32), S_OK);
    EXPECT_EQ(std::u16string(text), u"Hello, World!");
    EXPECT_EQ(greeter->GreetingCount(), 1u);
    // "Hello, " + 6 + "!" needs 15 characters with the terminator.
    EXPECT_EQ(greeter->Greet(ZV_W("Sample"), text, 14), ZV_SAMPLE_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(greeter->Greet(ZV_W("Sample"), text, 15), S_OK);
    EXPECT_EQ(std::u16string(text), u"Hello, Sample!");
    EXPECT_EQ(greeter->Greet(nullptr, text, 15), E_INVALIDARG);
    EXPECT_EQ(greeter->GreetingCount(), 2u);

    // A second object counts its own greetings.
    IUnknown* unknown = nullptr;
    ASSERT_EQ(ZVCreateObject(0, &clsid, nullptr, &IID_IUnknown, reinterpret_cast<void**>(&unknown)),
              S_OK);
    ISampleGreeter* other = nullptr;
    ASSERT_EQ(unknown->QueryInterface(IID_ISampleGreeter, reinterpret_cast<void**>(&other)), S_OK);
    unknown->Release();
    EXPECT_EQ(other->GreetingCount(), 0u);
    other->Release();

    void* out = &text;
    EXPECT_EQ(ZVCreateObject(0, &clsid, greeter, &IID_ISampleGreeter, &out),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(ZVCreateObject(0, &clsid, nullptr, &IID_IMalloc, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);

    // The object and the cached factory keep the server in use.
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    greeter->Release();
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    EXPECT_EQ(ZVUninitializeZCom(), S_OK);
    EXPECT_EQ(canUnloadNow(), S_OK);
    dlclose(library);
}
