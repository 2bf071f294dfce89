// components.cpp - registering the sample in-process server, finding its
// class by name and creating a Greeter.  Usage: components SERVER-PATH.
// Run it with ZV_REGISTRY set to a scratch file.
#include <stdio.h>

#include "sample_greeter.h"
#include "zv.h"

namespace {

const char* Narrow(const ZVWCHAR* text) {
    static char narrow[256];
    ZVToAnsi(narrow, text);
    return narrow;
}

void Greet(ISampleGreeter* greeter) {
    ZVWCHAR buffer[32];
    HRESULT status = greeter->Greet(ZV_W("World"), buffer, 32);
    if (SUCCEEDED(status)) printf("greeting: %s\n", Narrow(buffer));
    // The server refuses a buffer too small for the greeting.
    status = greeter->Greet(ZV_W("World"), buffer, 8);
    printf("greeting into 8 characters: 0x%08X\n", unsigned(status));
    printf("greetings made: %u\n", unsigned(greeter->GreetingCount()));
}

int Run(const ZVWCHAR* serverPath) {
    HRESULT status = ZVRegisterComponent(serverPath, ZV_SAMPLE_GREETER_PROGID,
                                         ZV_W("ZV sample greeter"), ZV_SAMPLE_GREETER_CLSID_TEXT);
    printf("register: 0x%08X\n", unsigned(status));
    if (FAILED(status)) return 1;

    CLSID clsid = {};
    status = ZVClsidFromProgId(ZV_SAMPLE_GREETER_PROGID, &clsid);
    printf("class of ZVSample.Greeter.1: 0x%08X {%08X-%04X-%04X-...}\n", unsigned(status),
           unsigned(clsid.Data1), unsigned(clsid.Data2), unsigned(clsid.Data3));

    // The server library is loaded on the first creation and stays loaded,
    // with its class factory cached, until the last ZVUninitializeZCom.
    ISampleGreeter* greeter = nullptr;
    status = ZVCreateObject(0, &clsid, nullptr, &IID_ISampleGreeter,
                            reinterpret_cast<void**>(&greeter));
    printf("create: 0x%08X\n", unsigned(status));
    if (FAILED(status)) return 1;
    Greet(greeter);
    greeter->Release();

    const CLSID unknown = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
    void* none = nullptr;
    status = ZVCreateObject(0, &unknown, nullptr, &IID_ISampleGreeter, &none);
    printf("create an unregistered class: 0x%08X\n", unsigned(status));

    ZVUnregisterComponent(ZV_SAMPLE_GREETER_PROGID, ZV_SAMPLE_GREETER_CLSID_TEXT);
    status = ZVClsidFromProgId(ZV_SAMPLE_GREETER_PROGID, &clsid);
    printf("class after unregistering: 0x%08X\n", unsigned(status));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: components SERVER-PATH\n");
        return 2;
    }
    // The registry read limits a server path to 126 characters on NT.
    ZVWCHAR serverPath[256];
    if (ZVStrLenA(argv[1]) > 126) {
        fprintf(stderr, "components: server path longer than 126 characters: %s\n", argv[1]);
        return 2;
    }
    ZVFromAnsi(serverPath, argv[1]);

    // Each ZVInitializeZCom is matched by one ZVUninitializeZCom.
    if (FAILED(ZVInitializeZCom())) return 1;
    // Task memory is available while component objects are initialised.
    void* block = ZVComMalloc(64);
    printf("task memory: %s\n", block ? "allocated" : "failed");
    ZVComFree(block);
    int result = Run(serverPath);
    ZVUninitializeZCom();
    return result;
}
