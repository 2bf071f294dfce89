// handles.cpp - the process-wide handle table and the per-thread last error.
#include "platform/posix/handles.h"

#include <errno.h>

#include <mutex>
#include <new>
#include <vector>

namespace zvp {
namespace {

// Slots are reused lowest-first after a close, as Win32 reuses handle values.
// The table never shrinks; 2^24 open handles is far beyond any real use.
constexpr size_t kMaxHandles = size_t(1) << 24;

// A plain mutex, not a rwlock: a forked child can let it go as it is, while
// a rwlock keeps count of readers that were waiting in the parent.
struct HandleTable {
    std::mutex lock;
    std::vector<std::shared_ptr<KernelObject>> slots;
    std::vector<size_t> freeSlots;
    size_t open = 0;
};

HandleTable& Table() {
    // Never destroyed: handles may be closed by static destructors of other
    // modules after this one's statics are gone.
    static HandleTable* table = new HandleTable;
    return *table;
}

HANDLE HandleFromSlot(size_t slot) { return reinterpret_cast<HANDLE>((slot + 1) * 4); }

bool SlotFromHandle(HANDLE handle, size_t* slot) {
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (value == 0 || value % 4 != 0 || value / 4 > kMaxHandles) return false;
    *slot = value / 4 - 1;
    return true;
}

thread_local DWORD t_lastError = ERROR_SUCCESS;

}  // namespace

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    size_t slot;
    if (!table.freeSlots.empty()) {
        slot = table.freeSlots.back();
        table.freeSlots.pop_back();
        table.slots[slot] = std::move(object);
    } else {
        if (table.slots.size() >= kMaxHandles) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        slot = table.slots.size();
        table.slots.push_back(std::move(object));
    }
    ++table.open;
    return HandleFromSlot(slot);
}

std::shared_ptr<KernelObject> LookupHandleIf(HANDLE handle, bool (*accept)(ObjectKind)) {
    size_t slot;
    if (SlotFromHandle(handle, &slot)) {
        HandleTable& table = Table();
        std::lock_guard<std::mutex> guard(table.lock);
        if (slot < table.slots.size() && table.slots[slot] && accept(table.slots[slot]->kind()))
            return table.slots[slot];
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle, ObjectKind kind) {
    size_t slot;
    if (SlotFromHandle(handle, &slot)) {
        HandleTable& table = Table();
        std::lock_guard<std::mutex> guard(table.lock);
        if (slot < table.slots.size() && table.slots[slot] && table.slots[slot]->kind() == kind)
            return table.slots[slot];
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

std::shared_ptr<KernelObject> RemoveHandleIf(HANDLE handle, bool (*accept)(ObjectKind)) {
    size_t slot;
    std::shared_ptr<KernelObject> object;
    if (SlotFromHandle(handle, &slot)) {
        HandleTable& table = Table();
        std::lock_guard<std::mutex> guard(table.lock);
        if (slot < table.slots.size() && table.slots[slot] && accept(table.slots[slot]->kind())) {
            object = std::move(table.slots[slot]);
            table.slots[slot].reset();
            // Keep the free list sorted high-to-low so the lowest slot is
            // reused first; closes are rare enough for the linear insert.
            auto it = table.freeSlots.begin();
            while (it != table.freeSlots.end() && *it > slot) ++it;
            table.freeSlots.insert(it, slot);
            --table.open;
        }
    }
    // The object's destructor may take locks of its own; it runs here, once
    // the table lock is released, when the caller drops its reference.
    if (!object) SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle) {
    return RemoveHandleIf(handle, [](ObjectKind) { return true; });
}

void HandlesPrepareFork() { Table().lock.lock(); }

void HandlesParentAfterFork() { Table().lock.unlock(); }

void HandlesChildAfterFork() {
    HandleTable& table = Table();
    table.lock.unlock();
    for (auto& object : table.slots)
        if (object) object->AfterForkInChild();
}

size_t OpenHandleCount() {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> guard(table.lock);
    return table.open;
}

DWORD Win32ErrorFromErrno(int error) {
    switch (error) {
        case 0: return ERROR_SUCCESS;
        case ENOENT: return ERROR_FILE_NOT_FOUND;
        case ENOTDIR: return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS: return ERROR_ACCESS_DENIED;
        case EEXIST: return ERROR_ALREADY_EXISTS;
        case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
        case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
        case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
        case ENOSPC: return ERROR_DISK_FULL;
        case EBUSY: return ERROR_BUSY;
        case EINVAL: return ERROR_INVALID_PARAMETER;
        case EBADF: return ERROR_INVALID_HANDLE;
        case EIO: return ERROR_GEN_FAILURE;
        default: return ERROR_GEN_FAILURE;
    }
}

}  // namespace zvp

DWORD GetLastError(void) { return zvp::t_lastError; }

void SetLastError(DWORD error) { zvp::t_lastError = error; }
