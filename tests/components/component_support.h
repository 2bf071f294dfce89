// component_support.h - helpers of the component tests: the test servers,
// class identifier texts, registration and a watchdog.
#ifndef ZV_COMPONENT_SUPPORT_H
#define ZV_COMPONENT_SUPPORT_H

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "components/components.h"
#include "frame/frame.h"
#include "server/test_server.h"
#include "support.h"
#include "watchdog.h"

namespace zvtest {

// A test server library held open by the test itself, so that its counters
// survive the component layer's loading and closing it.
class TestServer {
  public:
    explicit TestServer(const char* path) : path_(path) {
        library_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (!library_) {
            fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
            abort();
        }
        counts_ = reinterpret_cast<ServerCountsFn>(dlsym(library_, "TestServerCounts"));
        setDelay_ = reinterpret_cast<SetDelayFn>(dlsym(library_, "TestServerSetDelay"));
        setHook_ = reinterpret_cast<SetReleaseHookFn>(dlsym(library_, "TestServerSetReleaseHook"));
        if (!counts_ || !setDelay_ || !setHook_) abort();
    }
    ~TestServer() {
        setHook_(nullptr, nullptr);
        dlclose(library_);
    }
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    const std::string& path() const { return path_; }
    ServerCounts Counts() const {
        ServerCounts counts;
        counts_(&counts);
        return counts;
    }
    void SetDelay(uint32_t milliseconds) { setDelay_(milliseconds); }
    void SetReleaseHook(ReleaseHook hook, void* context) { setHook_(hook, context); }

  private:
    std::string path_;
    void* library_ = nullptr;
    ServerCountsFn counts_ = nullptr;
    SetDelayFn setDelay_ = nullptr;
    SetReleaseHookFn setHook_ = nullptr;
};

// The library's own text of a class identifier.
inline std::u16string ClsidText(const CLSID& clsid) {
    ZVWCHAR text[zv::kClsidTextChars + 1];
    zv::FormatClsidText(clsid, text);
    return text;
}

inline bool SameClsid(const CLSID& a, const CLSID& b) {
    return ZVCompareMemory(&a, &b, sizeof(CLSID)) == 0;
}

// Registers a class of a server under progId with the description "test".
inline HRESULT RegisterClass(const std::string& serverPath, const std::string& progId,
                             const CLSID& clsid) {
    return ZVRegisterComponent(W(serverPath.c_str()).c_str(), W(progId.c_str()).c_str(),
                               ZV_W("test"), ClsidText(clsid).c_str());
}

// True while a module handle names a loaded module of the platform layer.
inline bool ModuleOpen(ZVHANDLE library) {
    return GetProcAddress(static_cast<HMODULE>(library), "TestServerCounts") != nullptr;
}

// A path of exactly `length` characters, under dir, that is a symbolic link
// to target.
inline std::string LinkOfLength(const TempDir& dir, const std::string& target, size_t length) {
    const std::string file = "server.so";
    const size_t fixed = dir.path().size() + 2 + file.size();
    if (length < fixed + 1 || length - fixed > 255) abort();
    std::string folder = dir.path() + "/" + std::string(length - fixed, 'd');
    std::string link = folder + "/" + file;
    std::filesystem::create_directories(folder);
    std::filesystem::create_symlink(target, link);
    return link;
}


}  // namespace zvtest

#endif  // ZV_COMPONENT_SUPPORT_H
