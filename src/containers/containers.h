// containers.h - what the container sources share: field access to the
// packed records, the list walk, the try-lock and wait steps and the
// release signal.
#ifndef ZV_CONTAINERS_H
#define ZV_CONTAINERS_H

#include <stddef.h>

#include "platform/win32.h"
#include "zv.h"

namespace zv {
namespace containers {

// Container kinds (the record's `kind`).
constexpr uint16_t kPooled = 0;
constexpr uint16_t kDynamic = 1;

// Results of the try-lock step.
enum class TryLock { GoOn, Granted, Conflict };

inline ZVContainerObj* NoObject() { return static_cast<ZVContainerObj*>(ZV_INVALID_HANDLE); }
inline ZVContainer* NoContainer() { return static_cast<ZVContainer*>(ZV_INVALID_HANDLE); }

// A handle that names no record: null, or the family's failure value that a
// caller may pass straight on.
inline bool IsNull(const void* handle) { return handle == nullptr || handle == ZV_INVALID_HANDLE; }

// The records are packed, so their members may not be addressed directly.
// The two critical sections (offsets 0 and 40) and the waiter count (offset
// 88) are nevertheless suitably aligned whenever the record itself is: a
// pooled record starts a heap block and a caller's storage is required to
// be pointer-aligned.  So their addresses are computed from the record's.
static_assert(offsetof(ZVContainer, listLock) % alignof(CRITICAL_SECTION) == 0, "list lock aligned");
static_assert(offsetof(ZVContainer, containerLock) % alignof(CRITICAL_SECTION) == 0,
              "container lock aligned");
static_assert(offsetof(ZVContainer, waiterCount) % alignof(int32_t) == 0, "waiter count aligned");

inline CRITICAL_SECTION* ListLock(ZVContainer* c) {
    return reinterpret_cast<CRITICAL_SECTION*>(reinterpret_cast<char*>(c) + offsetof(ZVContainer, listLock));
}

inline CRITICAL_SECTION* ContainerLock(ZVContainer* c) {
    return reinterpret_cast<CRITICAL_SECTION*>(reinterpret_cast<char*>(c) +
                                               offsetof(ZVContainer, containerLock));
}

inline int32_t* WaiterCount(ZVContainer* c) {
    return reinterpret_cast<int32_t*>(reinterpret_cast<char*>(c) + offsetof(ZVContainer, waiterCount));
}

// The release paths read the count under the list lock while waiters change
// it atomically outside it.
inline int32_t Waiters(ZVContainer* c) { return __atomic_load_n(WaiterCount(c), __ATOMIC_SEQ_CST); }

// Sizes of the records as the layout uses them.
inline uint32_t ObjHeaderSize() { return ZVAlignSize(uint32_t(sizeof(ZVContainerObj))); }
inline uint32_t ContainerRecordSize() { return ZVAlignSize(uint32_t(sizeof(ZVContainer))); }

// The data area of a pooled slot, right after its header.
inline void* SlotData(ZVContainerObj* slot) { return reinterpret_cast<char*>(slot) + ObjHeaderSize(); }

// First object, from the head, that `accept` takes; at most `count` steps.
template <typename Accept>
ZVContainerObj* Walk(ZVContainer* c, Accept accept) {
    ZVContainerObj* obj = c->head;
    for (uint32_t i = 0; i < c->count && obj; ++i, obj = obj->next) {
        if (accept(obj)) return obj;
    }
    return nullptr;
}

// A match or search function accepts when the low 16 bits are 0.
inline bool Matches(ZVMatchFn fn, void* data, void* key) { return uint16_t(fn(data, key)) == 0; }

// Under the list lock: sets the release event when threads wait.
inline void SignalRelease(ZVContainer* c) {
    if (Waiters(c) > 0) ZVSetEvent(c->releaseEvent);
}

// Under the list lock: gives back one hold of the object lock; when the
// last hold goes, the object is unlocked and waiters are woken.
void GiveBackHold(ZVContainer* c, ZVContainerObj* obj);

// Under the list lock: tests and, when possible, takes an object lock.
TryLock TryLockStep(ZVContainerObj* obj, uint32_t mode);

// Entered with the list lock held once; blocks until an object lock is
// given back and returns with the list lock held again.  0 when woken by
// the release signal, else the failed wait's result.
uint32_t WaitStep(ZVContainer* c);

// Under the list lock, for a removed dynamic object whose `data` is already
// null: frees its record, or keeps it while the cursor still names it.
void RetireRecord(ZVContainer* c, ZVContainerObj* obj);

// Under the list lock: whether the cursor still names an object of the
// list.  Never reads a record that was freed (see model.cpp).
bool CursorInList(ZVContainer* c);

// Under the list lock: moves the cursor, freeing the record of a removed
// dynamic object that only the cursor still named.
void SetCursor(ZVContainer* c, ZVContainerObj* obj);

}  // namespace containers
}  // namespace zv

#endif  // ZV_CONTAINERS_H
