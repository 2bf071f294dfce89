// test_server.h - the in-process server the component tests load: what it
// serves and how a test reads its counters.
#ifndef ZV_TEST_SERVER_H
#define ZV_TEST_SERVER_H

#include "zv_platform.h"

namespace zvtest {

// The server serves ServedClass(n) for every n but kRefusedClassByte, for
// which DllGetClassObject fails with CLASS_E_CLASSNOTAVAILABLE.
constexpr CLSID ServedClass(uint8_t n) { return CLSID{0x9FBC9096, 0x58C2, 0x4CB1, {0xB6, 0x57, 0x33, 0xDD, 0x52, 0x35, 0xF8, n}}; }
constexpr uint8_t kRefusedClassByte = 0xFF;

// The interface of the objects it creates, which know their class.
constexpr IID kTestObjectIid = {0x1E399527, 0x06D7, 0x4340, {0xBA, 0xBE, 0x19, 0x18, 0x6A, 0xCD, 0xA3, 0xE2}};
struct ITestObject : public IUnknown { virtual CLSID ZV_STDCALL ClassId() = 0; };

// What the server has seen since it was loaded (TestServerCounts): its
// DllGetClassObject calls, CreateInstance calls (failing ones included),
// AddRef and Release calls on factories, and the factories and objects not
// yet destroyed.
struct ServerCounts { int32_t getClassObject, createInstance, factoryAddRef, factoryRelease, liveFactories, liveObjects; };

}  // namespace zvtest

#endif  // ZV_TEST_SERVER_H
