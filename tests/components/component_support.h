// component_support.h - helpers of the component tests: the test servers,
// class identifier texts, registration and registry counts.
#ifndef ZV_COMPONENT_SUPPORT_H
#define ZV_COMPONENT_SUPPORT_H

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "components/components.h"
#include "frame/frame.h"
#include "server/test_server.h"
#include "support.h"

namespace zvtest {

// A test server library held open by the test itself, so that its counters
// survive the component layer's loading and closing it.
struct TestServer {
    explicit TestServer(const char* file) : path(file), library(dlopen(file, RTLD_NOW)) {}
    ~TestServer() { dlclose(library); }
    ServerCounts Counts() const {
        ServerCounts counts = {};
        reinterpret_cast<void (*)(ServerCounts*)>(dlsym(library, "TestServerCounts"))(&counts);
        return counts;
    }
    void SetDelay(uint32_t ms) { reinterpret_cast<void (*)(uint32_t)>(dlsym(library, "TestServerSetDelay"))(ms); }
    const std::string path;
    void* const library;
};

// The library's own text of a class identifier.
inline std::u16string ClsidText(const CLSID& clsid) {
    ZVWCHAR text[zv::kClsidTextChars + 1];
    zv::FormatClsidText(clsid, text);
    return text;
}

inline bool SameClsid(const CLSID& a, const CLSID& b) { return ZVCompareMemory(&a, &b, sizeof(CLSID)) == 0; }

// Registers clsid, served by the library at serverPath, as "Test.<last byte>".
inline HRESULT Register(const std::string& serverPath, const CLSID& clsid) {
    const std::u16string progId = u"Test." + W(std::to_string(clsid.Data4[7]).c_str());
    return ZVRegisterComponent(W(serverPath.c_str()).c_str(), progId.c_str(), u"test", ClsidText(clsid).c_str());
}

inline HRESULT Create(const CLSID& clsid, ITestObject** object) {
    return ZVCreateObject(0, &clsid, nullptr, &kTestObjectIid, reinterpret_cast<void**>(object));
}

// Creates an object of clsid and lets it go again.
inline HRESULT CreateAndRelease(const CLSID& clsid) {
    ITestObject* object = nullptr;
    const HRESULT status = Create(clsid, &object);
    if (object) object->Release();
    return status;
}

// True while a module handle names a loaded module of the platform layer.
inline bool ModuleOpen(ZVHANDLE library) {
    return GetProcAddress(static_cast<HMODULE>(library), "TestServerCounts") != nullptr;
}

// The values (or subkeys) of a key, counted with the narrow enumeration; -1
// when the key cannot be opened.
inline int RegistryCount(HKEY root, const std::string& path, bool subkeys = false) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return -1;
    int count = 0;
    for (char name[256];; ++count) {
        DWORD at = DWORD(count), size = sizeof(name);
        if ((subkeys ? RegEnumKeyExA(key, at, name, &size, nullptr, nullptr, nullptr, nullptr)
                     : RegEnumValueA(key, at, name, &size, nullptr, nullptr, nullptr, nullptr)) != ERROR_SUCCESS)
            break;
    }
    RegCloseKey(key);
    return count;
}

inline bool KeyExists(HKEY root, const std::string& path) { return RegistryCount(root, path) >= 0; }

}  // namespace zvtest

#endif  // ZV_COMPONENT_SUPPORT_H
