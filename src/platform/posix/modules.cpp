// modules.cpp - dynamic libraries of the emulated machine on dlopen.
//
// A module handle is a handle of the process-wide table, so a handle that
// names no module is rejected, never handed to the host's loader.  As on
// Win32, loading a module that is already loaded returns the same handle
// and raises its load count; each FreeLibrary lowers it, and the handle goes
// away with the last one.  Every load holds one reference of the host's
// loader, so the library stays mapped exactly as long as its count is
// above 0, or while a call that looked the handle up is still using it.
#include <dlfcn.h>
#include <pthread.h>
#include <link.h>
#include <string.h>
#include <sys/stat.h>

#include <mutex>
#include <unordered_map>

#include "platform/posix/fork.h"
#include "platform/posix/handles.h"

namespace zvp {
namespace {

// The host loader's state is inconsistent in a child forked while another
// thread is inside dlopen or dlclose; they run under this lock's read side,
// fork under its write side.  Read locks nest (a library's constructors may
// load libraries): glibc's default rwlock prefers readers.
pthread_rwlock_t g_loaderLock = PTHREAD_RWLOCK_INITIALIZER;

struct LoaderCall {
    LoaderCall() { pthread_rwlock_rdlock(&g_loaderLock); }
    ~LoaderCall() { pthread_rwlock_unlock(&g_loaderLock); }
};


class Module : public KernelObject {
  public:
    explicit Module(void* library) : KernelObject(ObjectKind::Module), library_(library) {}
    // The last reference of the host's loader goes with the object, so a
    // GetProcAddress racing with the last FreeLibrary never sees it unmapped.
    ~Module() override {
        LoaderCall call;
        dlclose(library_);
    }
    void* library() const { return library_; }

    // Loads not yet matched by FreeLibrary; guarded by ModuleMap::lock.
    uint32_t loads = 0;
    HANDLE handle = nullptr;

  private:
    void* library_;
};

// The loaded modules by the host loader's handle, which is the same for
// every dlopen of one library.  Never destroyed: libraries may be freed by
// static destructors that run after this file's.
struct ModuleMap {
    std::mutex lock;
    std::unordered_map<void*, std::shared_ptr<Module>> modules;
};

ModuleMap& Modules() {
    static ModuleMap* map = new ModuleMap;
    return *map;
}

}  // namespace

void ModulesPrepareFork() {
    pthread_rwlock_wrlock(&g_loaderLock);
    Modules().lock.lock();
}
void ModulesParentAfterFork() {
    Modules().lock.unlock();
    pthread_rwlock_unlock(&g_loaderLock);
}
void ModulesChildAfterFork() {
    Modules().lock.unlock();
    // Made anew: a rwlock keeps count of the readers that were waiting in
    // the parent, and knows its writer by a thread id the child's thread
    // no longer has.
    pthread_rwlock_init(&g_loaderLock, nullptr);
}

namespace {

bool FileExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// The Win32 error for a failed dlopen.  The loader's message is the only
// account of why it failed; it is read for the cases Win32 tells apart.
DWORD LoadError(const std::string& name, const char* message) {
    if (!message) message = "";
    if (strstr(message, "undefined symbol")) return ERROR_PROC_NOT_FOUND;  // a missing import
    if (strstr(message, "cannot open shared object file")) return ERROR_MOD_NOT_FOUND;
    if (name.find('/') != std::string::npos && !FileExists(name)) return ERROR_MOD_NOT_FOUND;
    return ERROR_BAD_EXE_FORMAT;
}

HMODULE Load(const std::string& name) {
    if (name.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // The host's loader runs the library's constructors, which may load
    // libraries themselves: it is called without the map's lock held.
    void* library;
    {
        LoaderCall call;
        library = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (!library) {
        SetLastError(LoadError(name, dlerror()));
        return nullptr;
    }
    ModuleMap& map = Modules();
    std::unique_lock<std::mutex> guard(map.lock);
    auto found = map.modules.find(library);
    if (found != map.modules.end()) {
        ++found->second->loads;
        return found->second->handle;
    }
    auto module = std::make_shared<Module>(library);
    HANDLE handle = InsertHandle(module);
    if (!handle) {
        guard.unlock();
        return nullptr;  // the module's destructor drops the load
    }
    module->loads = 1;
    module->handle = handle;
    map.modules.emplace(library, std::move(module));
    return handle;
}

// True when the address lies in the module itself: Win32 finds only a
// module's own exports, while dlsym also searches its dependencies.
bool DefinedIn(void* library, void* address) {
    struct link_map* own = nullptr;
    if (dlinfo(library, RTLD_DI_LINKMAP, &own) != 0 || !own) return true;
    Dl_info info;
    struct link_map* holder = nullptr;
    // Addresses outside every mapped object (thread-local data) are taken
    // as the module's: dlsym found them through it.
    if (!dladdr1(address, &info, reinterpret_cast<void**>(&holder), RTLD_DL_LINKMAP) || !holder)
        return true;
    return holder == own;
}

}  // namespace
}  // namespace zvp

HMODULE LoadLibraryW(LPCWSTR fileName) {
    if (zvp::WideCallUnavailable()) return nullptr;
    if (!fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return zvp::Load(zvp::Utf16ToUtf8(fileName));
}

HMODULE LoadLibraryA(LPCSTR fileName) {
    if (!fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return zvp::Load(zvp::Latin1ToUtf8(fileName));
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    auto object = zvp::LookupHandleAs<zvp::Module>(module, zvp::ObjectKind::Module);
    if (!object) return nullptr;
    // Values below 0x10000 are export ordinals on Win32; this layer's
    // modules export by name only.
    if (reinterpret_cast<uintptr_t>(name) < 0x10000) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    dlerror();
    void* address = dlsym(object->library(), name);
    if (!address || !zvp::DefinedIn(object->library(), address)) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(address);
}

BOOL FreeLibrary(HMODULE module) {
    auto object = zvp::LookupHandleAs<zvp::Module>(module, zvp::ObjectKind::Module);
    if (!object) return FALSE;
    bool last;
    {
        zvp::ModuleMap& map = zvp::Modules();
        std::lock_guard<std::mutex> guard(map.lock);
        if (object->loads == 0) {  // freed by another thread meanwhile
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        last = --object->loads == 0;
        if (last) {
            map.modules.erase(object->library());
            zvp::RemoveHandle(module);
        }
    }
    // Outside the lock: the library's destructors may free libraries too.
    // The last reference goes when `object` does.
    if (!last) {
        zvp::LoaderCall call;
        dlclose(object->library());
    }
    return TRUE;
}
