// component_support.h - helpers of the component tests: the test servers,
// class identifier texts, registration and registry counts.
#ifndef ZV_COMPONENT_SUPPORT_H
#define ZV_COMPONENT_SUPPORT_H

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

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

// Creates an object of clsid; without `object`, lets it go again at once.
inline HRESULT Create(const CLSID& clsid, ITestObject** object = nullptr) {
    ITestObject* own = nullptr;
    const HRESULT status =
        ZVCreateObject(0, &clsid, nullptr, &kTestObjectIid, reinterpret_cast<void**>(object ? object : &own));
    if (own) own->Release();
    return status;
}

// References of the task allocator that are out, read without keeping one.
inline ULONG TaskAllocatorReferences() {
    IMalloc* allocator = nullptr;
    return CoGetMalloc(MEMCTX_TASK, &allocator) == S_OK ? allocator->Release() : ~ULONG(0);
}

// True while a module handle names a loaded module of the platform layer.
inline bool ModuleOpen(ZVHANDLE library) { return GetProcAddress(static_cast<HMODULE>(library), "TestServerCounts"); }

// A value read into units that start as 0xBEEF, or u"<fail>" when the read
// fails, which must leave them alone.  Nothing past the terminator is written.
inline std::u16string ReadValue(HKEY root, const std::u16string& path, const char16_t* name) {
    std::vector<char16_t> units(300, 0xBEEF);
    if (ZVGetRegistryEntry(root, path.c_str(), name, units.data()) != S_OK) {
        EXPECT_EQ(units[0], 0xBEEF);
        return u"<fail>";
    }
    const std::u16string text(units.data());
    EXPECT_EQ(units[text.size() + 1], 0xBEEF);
    return text;
}

// The values (or subkeys) of a key, counted with the narrow enumeration; -1
// when the key cannot be opened.
inline int RegistryCount(HKEY root, const std::u16string& path, bool subkeys = false) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, N(path.c_str()).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return -1;
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

}  // namespace zvtest

#endif  // ZV_COMPONENT_SUPPORT_H
