// ole.cpp - the component-object runtime of the emulated machine: per-thread
// initialisation and the process's task allocator.
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <mutex>

#include "platform/posix/fork.h"
#include <unordered_map>

#include "platform/posix/handles.h"

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IMalloc = {0x00000002, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace {

constexpr HRESULT kPointerError = HRESULT(0x80004003u);  // E_POINTER

// The flags that may accompany the concurrency model.
constexpr DWORD kOle1DdeDisabled = 0x4;
constexpr DWORD kSpeedOverMemory = 0x8;
constexpr DWORD kKnownFlags = COINIT_APARTMENTTHREADED | kOle1DdeDisabled | kSpeedOverMemory;

// Initialisations of the calling thread not yet matched by CoUninitialize,
// and the concurrency model the first of them chose.
struct Apartment {
    uint32_t count = 0;
    DWORD model = COINIT_MULTITHREADED;
};
thread_local Apartment t_apartment;

bool SameGuid(const GUID& a, const GUID& b) { return memcmp(&a, &b, sizeof(GUID)) == 0; }

// One allocator for the whole process.  It keeps the size of every block it
// handed out, which answers GetSize and DidAlloc exactly and lets Free and
// Realloc refuse a block that is not theirs instead of corrupting the heap.
class TaskAllocator final : public IMalloc {
  public:
    HRESULT QueryInterface(const IID& riid, void** object) override {
        if (!object) return kPointerError;
        if (SameGuid(riid, IID_IUnknown) || SameGuid(riid, IID_IMalloc)) {
            AddRef();
            *object = static_cast<IMalloc*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    // The object itself lives as long as the process; the count tells its
    // holders whether a reference is still out.
    ULONG AddRef() override { return references_.fetch_add(1, std::memory_order_relaxed) + 1; }

    ULONG Release() override {
        ULONG current = references_.load(std::memory_order_relaxed);
        while (current != 0 &&
               !references_.compare_exchange_weak(current, current - 1,
                                                  std::memory_order_acq_rel)) {
        }
        return current == 0 ? 0 : current - 1;
    }

    void* Alloc(SIZE_T size) override {
        // A request for 0 bytes still gets a block of its own.
        void* block = malloc(size ? size : 1);
        if (!block) return nullptr;
        std::lock_guard<std::mutex> hold(lock_);
        try {
            blocks_[block] = size;
        } catch (...) {
            free(block);
            return nullptr;
        }
        return block;
    }

    void* Realloc(void* block, SIZE_T size) override {
        if (!block) return Alloc(size);
        if (size == 0) {
            Free(block);
            return nullptr;
        }
        std::lock_guard<std::mutex> hold(lock_);
        auto found = blocks_.find(block);
        if (found == blocks_.end()) return nullptr;
        void* moved = realloc(block, size);
        if (!moved) return nullptr;  // the old block stays as it was
        blocks_.erase(found);
        blocks_[moved] = size;  // cannot throw: a node was just freed
        return moved;
    }

    void Free(void* block) override {
        if (!block) return;
        std::lock_guard<std::mutex> hold(lock_);
        if (blocks_.erase(block) == 0) return;
        free(block);
    }

    SIZE_T GetSize(void* block) override {
        if (!block) return SIZE_T(-1);
        std::lock_guard<std::mutex> hold(lock_);
        auto found = blocks_.find(block);
        return found == blocks_.end() ? SIZE_T(-1) : found->second;
    }

    int DidAlloc(void* block) override {
        if (!block) return -1;
        std::lock_guard<std::mutex> hold(lock_);
        return blocks_.count(block) ? 1 : 0;
    }

    void HeapMinimize() override {}

    // Fork: the block table's lock is held across fork().
    void LockForFork() { lock_.lock(); }
    void UnlockAfterFork() { lock_.unlock(); }

  private:
    std::atomic<ULONG> references_{0};
    std::mutex lock_;
    std::unordered_map<void*, SIZE_T> blocks_;
};

TaskAllocator& TheTaskAllocator() {
    // Never destroyed: blocks may be freed by static destructors of other
    // modules after this one's have run.
    static TaskAllocator* allocator = new TaskAllocator;
    return *allocator;
}

}  // namespace

namespace zvp {
void OlePrepareFork() { TheTaskAllocator().LockForFork(); }
void OleParentAfterFork() { TheTaskAllocator().UnlockAfterFork(); }
void OleChildAfterFork() { TheTaskAllocator().UnlockAfterFork(); }
}  // namespace zvp

HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit) {
    if (reserved || (coInit & ~kKnownFlags)) return E_INVALIDARG;
    const DWORD model = coInit & COINIT_APARTMENTTHREADED;
    Apartment& apartment = t_apartment;
    if (apartment.count == 0) {
        apartment.model = model;
        apartment.count = 1;
        return S_OK;
    }
    // A thread keeps the model its first initialisation chose until it is
    // fully uninitialised; asking for the other one changes nothing.
    if (apartment.model != model) return RPC_E_CHANGED_MODE;
    ++apartment.count;
    return S_FALSE;
}

HRESULT CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize(void) {
    // An unmatched call on an uninitialised thread is ignored.
    if (t_apartment.count > 0) --t_apartment.count;
}

HRESULT CoGetMalloc(DWORD memoryContext, LPMALLOC* malloc) {
    if (!malloc) return E_INVALIDARG;
    if (memoryContext != MEMCTX_TASK) {
        *malloc = nullptr;
        return E_INVALIDARG;
    }
    TaskAllocator& allocator = TheTaskAllocator();
    allocator.AddRef();
    *malloc = &allocator;
    return S_OK;
}
