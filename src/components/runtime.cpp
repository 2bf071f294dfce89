// runtime.cpp - the ZCom component runtime: the process-wide count, the
// task allocator and the cache of loaded in-process servers.
#include <atomic>

#include "components/components.h"
#include "frame/frame.h"

namespace zv {

namespace {

// The loaded servers in the order they were added.  Its storage grows by
// doubling and is kept after a release for the next round of creations.
class ServerCache {
  public:
    constexpr ServerCache() = default;
    // At unload only the array goes: records still present belong to a host
    // that never brought the count back to zero, and their libraries may be
    // gone already, so their factories are not touched.
    ~ServerCache() { ZVFree(records_); }
    ServerCache(const ServerCache&) = delete;
    ServerCache& operator=(const ServerCache&) = delete;

    uint32_t count() const { return count_; }
    ServerRecord* at(uint32_t index) const { return records_[index]; }

    bool Append(ServerRecord* record) {
        if (count_ == capacity_) {
            uint32_t capacity = capacity_ ? capacity_ * 2 : kInitialCapacity;
            void* grown = ZVReAlloc(records_, capacity * uint32_t(sizeof(ServerRecord*)));
            if (!grown) return false;
            records_ = static_cast<ServerRecord**>(grown);
            capacity_ = capacity;
        }
        records_[count_++] = record;
        return true;
    }

    // Each factory is released before its library is closed: the factory's
    // code lives in that library.
    void Release() {
        for (uint32_t i = 0; i < count_; ++i) {
            ServerRecord* record = records_[i];
            record->factory->Release();
            ZVCloseLibrary(record->library);
            ZVFree(record);
        }
        count_ = 0;
    }

  private:
    static constexpr uint32_t kInitialCapacity = 8;
    ServerRecord** records_ = nullptr;
    uint32_t count_ = 0;
    uint32_t capacity_ = 0;
};

ServerCache g_serverCache;

// Unmatched ZVInitializeZCom calls of the whole process.
int32_t g_zcomCount = 0;

// Changed only under g_zcomLock; atomic because ZVComMalloc and ZVComFree
// read it without the lock.
std::atomic<IMalloc*> g_taskAllocator{nullptr};

}  // namespace

// The layer keeps its state in static storage that needs no preparation,
// so there is nothing to do at start-up.
HRESULT ComponentStartupHook() { return S_OK; }

HRESULT ServerCacheLookup(const CLSID& clsid, IClassFactory** factory) {
    for (uint32_t i = 0; i < g_serverCache.count(); ++i) {
        const ServerRecord* record = g_serverCache.at(i);
        if (ZVCompareMemory(&record->clsid, &clsid, sizeof(CLSID)) == 0) {
            *factory = record->factory;
            return S_OK;
        }
    }
    return E_FAIL;
}

HRESULT ServerCacheInsert(ZVHANDLE library, const WCHAR* serverPath, const CLSID& clsid,
                          IClassFactory* factory) {
    ServerRecord* record = static_cast<ServerRecord*>(ZVCalloc(1, sizeof(ServerRecord)));
    if (!record) return E_OUTOFMEMORY;
    record->library = library;
    ZVStrCpyW(record->serverPath, serverPath);
    ZVCopyMemory(&record->clsid, &clsid, sizeof(CLSID));
    record->factory = factory;
    if (!g_serverCache.Append(record)) {
        ZVFree(record);
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

uint32_t ServerCacheCount() { return g_serverCache.count(); }

const ServerRecord* ServerCacheRecord(uint32_t index) {
    return index < g_serverCache.count() ? g_serverCache.at(index) : nullptr;
}

int32_t ZComCount() { return g_zcomCount; }

IMalloc* ZComTaskAllocator() { return g_taskAllocator.load(std::memory_order_acquire); }

}  // namespace zv

extern "C" {

ZV_API HRESULT ZVInitializeZCom(void) {
    EnterCriticalSection(&zv::g_zcomLock);
    HRESULT status = CoInitialize(nullptr);
    if (status >= 0) {
        IMalloc* allocator = zv::g_taskAllocator.load(std::memory_order_relaxed);
        if (!allocator) {
            // Its status is not needed: on failure the pointer stays null.
            CoGetMalloc(MEMCTX_TASK, &allocator);
            zv::g_taskAllocator.store(allocator, std::memory_order_release);
        } else {
            allocator->AddRef();
        }
    }
    // A refused CoInitialize still counts: its ZVUninitializeZCom follows.
    ++zv::g_zcomCount;
    LeaveCriticalSection(&zv::g_zcomLock);
    return status;
}

ZV_API HRESULT ZVUninitializeZCom(void) {
    EnterCriticalSection(&zv::g_zcomLock);
    IMalloc* allocator = zv::g_taskAllocator.load(std::memory_order_relaxed);
    if (allocator && allocator->Release() == 0) {
        // The next successful ZVInitializeZCom fetches it again.
        zv::g_taskAllocator.store(nullptr, std::memory_order_release);
    }
    CoUninitialize();
    // Only the call that brings the count to exactly zero releases the
    // servers; an unmatched call that takes it below zero releases nothing.
    if (--zv::g_zcomCount == 0) zv::g_serverCache.Release();
    LeaveCriticalSection(&zv::g_zcomLock);
    return S_OK;
}

ZV_API void* ZVComMalloc(uint32_t size) {
    // Without an allocator (a misuse) the request fails rather than crashes.
    IMalloc* allocator = zv::g_taskAllocator.load(std::memory_order_acquire);
    return allocator ? allocator->Alloc(size) : nullptr;
}

ZV_API void ZVComFree(void* block) {
    IMalloc* allocator = zv::g_taskAllocator.load(std::memory_order_acquire);
    if (allocator) allocator->Free(block);
}

}  // extern "C"
