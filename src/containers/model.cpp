// model.cpp - container records: creation, the container lock, the object
// count, new objects and destruction.
//
// A dynamic container lives in its caller's storage and allocates one
// record per object; a pooled one is a single allocation holding the record
// and a first block of slots, grows by whole blocks and keeps removed slots
// on a free list until it is destroyed.
#include "containers/containers.h"

namespace zv {
namespace containers {

namespace {

constexpr uint32_t kReservedValue = 10000;

// Room for the digits of a 64-bit address, a marker, a separator, the digits
// of a process id and the terminator.
constexpr int kEventNameChars = 32;
static_assert(16 + 1 + 1 + 8 + 1 <= kEventNameChars, "longest name: digits, marker, '.', process id, end");

// Appends the lowercase hexadecimal digits of `value`, without leading
// zeros, and a terminator; returns the end of the digits.
ZVWCHAR* AppendHex(ZVWCHAR* dest, uint64_t value) {
    const uint32_t high = uint32_t(value >> 32);
    const uint32_t low = uint32_t(value);
    if (high == 0) {
        ZVLToStrW(int32_t(low), dest, 16);
        return dest + ZVStrLenW(dest);
    }
    ZVLToStrW(int32_t(high), dest, 16);
    dest += ZVStrLenW(dest);
    ZVWCHAR lowDigits[9];
    ZVLToStrW(int32_t(low), lowDigits, 16);
    for (uint32_t i = ZVStrLenW(lowDigits); i < 8; ++i) *dest++ = ZVWCHAR('0');
    ZVStrCpyW(dest, lowDigits);
    return dest + ZVStrLenW(dest);
}

// The names of a container's two events.  The release event is named by
// the record's address in hexadecimal; the pass event by the same digits
// with the last one raised by one code point or, for fewer than eight
// digits, followed by a character of value 1.  A raised digit is either not
// a hexadecimal digit ('9' + 1, 'f' + 1) or gives the address one byte
// further on, where no other record can start, and value 1 is never a
// digit: so no name of one container equals a name of another.  Both names
// end in "." and the process id, so that where event names are seen by
// other processes the containers of two processes never share an event.
struct EventNames {
    ZVWCHAR release[kEventNameChars];
    ZVWCHAR pass[kEventNameChars];

    explicit EventNames(const void* record) {
        ZVWCHAR* end = AppendHex(release, uint64_t(reinterpret_cast<uintptr_t>(record)));
        const uint32_t digits = uint32_t(end - release);
        ZVStrCpyW(pass, release);
        ZVWCHAR* passEnd = pass + digits;
        if (digits >= 8) {
            passEnd[-1] = ZVWCHAR(passEnd[-1] + 1);
        } else {
            *passEnd++ = ZVWCHAR(1);
        }
        AppendProcess(end);
        AppendProcess(passEnd);
    }

    static void AppendProcess(ZVWCHAR* end) {
        *end++ = ZVWCHAR('.');
        AppendHex(end, GetCurrentProcessId());
    }
};

// What both creation functions do first.  The results are not examined: a
// section cannot fail here, and an event that could not be made stays -1
// (see docs/containers.md for what that means).
void InitCommon(ZVContainer* c, ZVMatchFn match, ZVOrderFn order, uint16_t kind) {
    ZVCreateCriticalSection(ListLock(c));
    ZVCreateCriticalSection(ContainerLock(c));
    const EventNames names(c);
    *WaiterCount(c) = 0;
    c->releaseEvent = ZVCreateEvent(1, 0, names.release);
    c->passEvent = ZVCreateEvent(1, 0, names.pass);
    c->reserved = kReservedValue;
    c->head = nullptr;
    c->tail = nullptr;
    c->cursor = nullptr;
    c->matchFn = match;
    c->orderFn = order;
    c->count = 0;
    c->kind = kind;
}

// Lays out `n` slots from `first` on, chained through `next` in address
// order, the last one ending the chain.
void LayOutSlots(char* first, uint32_t n, uint32_t slotSize) {
    for (uint32_t i = 0; i < n; ++i) {
        ZVContainerObj* slot = reinterpret_cast<ZVContainerObj*>(first + size_t(i) * slotSize);
        slot->lockMode = 0;
        slot->lockCount = 0;
        slot->prev = nullptr;
        slot->blockHead = 0;
        slot->data = SlotData(slot);
        slot->next = i + 1 < n ? reinterpret_cast<ZVContainerObj*>(first + size_t(i + 1) * slotSize)
                               : nullptr;
    }
}

// Bytes of `slots` slots, or 0 when that does not fit the heap call's size.
uint32_t BlockBytes(uint64_t head, uint32_t slotSize, uint32_t slots) {
    const uint64_t bytes = head + uint64_t(slotSize) * slots;
    return bytes > UINT32_MAX ? 0 : uint32_t(bytes);
}

// Under the list lock: a slot for a new object of a pooled container, from
// the free list or from a new block.
ZVContainerObj* TakeSlot(ZVContainer* c) {
    if (!c->freeList) {
        if (c->count == c->maxCount) return nullptr;
        const uint32_t bytes = BlockBytes(0, c->slotSize, c->blockSlots);
        char* block = bytes ? static_cast<char*>(ZVMalloc(bytes)) : nullptr;
        if (!block) return nullptr;
        LayOutSlots(block, c->blockSlots, c->slotSize);
        reinterpret_cast<ZVContainerObj*>(block)->blockHead = 1;
        c->freeList = reinterpret_cast<ZVContainerObj*>(block);
    }
    ZVContainerObj* slot = c->freeList;
    c->freeList = slot->next;
    slot->data = SlotData(slot);
    return slot;
}

}  // namespace

void RetireRecord(ZVContainer* c, ZVContainerObj* obj) {
    if (obj == c->cursor) {
        // The cursor still names it: keep the record, unlinked and with a
        // null `data`, until the cursor moves on (SetCursor) or the
        // container goes, so that the cursor never names freed memory.
        obj->next = nullptr;
        obj->prev = nullptr;
        return;
    }
    ZVFree(obj);
}

bool CursorInList(ZVContainer* c) {
    ZVContainerObj* cursor = c->cursor;
    // A removed object has a null `data`: a free slot, or a dynamic record
    // kept only for the cursor's sake.  A slot handed out again but not yet
    // inserted has both links cleared and is not the head.
    if (!cursor || !cursor->data) return false;
    return cursor->next || cursor->prev || c->head == cursor;
}

void SetCursor(ZVContainer* c, ZVContainerObj* obj) {
    ZVContainerObj* old = c->cursor;
    if (old && old != obj && c->kind == kDynamic && !old->data) ZVFree(old);
    c->cursor = obj;
}

}  // namespace containers
}  // namespace zv

using namespace zv::containers;

extern "C" {

ZV_API ZVContainer* ZVCreateContainer(void* storage, ZVMatchFn match, ZVOrderFn order,
                                      ZVReleaseFn release) {
    if (!storage) return NoContainer();
    ZVContainer* c = static_cast<ZVContainer*>(storage);
    InitCommon(c, match, order, kDynamic);
    c->releaseFn = release;
    c->freeList = nullptr;
    c->slotSize = UINT32_MAX;
    c->maxCount = UINT32_MAX;
    c->blockSlots = 1;
    return c;
}

ZV_API ZVContainer* ZVCreateContainerEx(ZVMatchFn match, ZVOrderFn order, uint32_t objectSize,
                                        uint32_t initialCount, uint32_t maxCount) {
    const uint64_t slotSize = uint64_t(ObjHeaderSize()) + ZVAlignSize(objectSize);
    const uint32_t blockSlots = initialCount < maxCount ? initialCount : maxCount;
    // A block of no slots could never hold an object: an initial count of 0
    // is refused like a maximum of 0.
    if (maxCount == 0 || blockSlots == 0 || slotSize > UINT32_MAX) return NoContainer();
    const uint32_t bytes = BlockBytes(ContainerRecordSize(), uint32_t(slotSize), blockSlots);
    char* base = bytes ? static_cast<char*>(ZVMalloc(bytes)) : nullptr;
    if (!base) return NoContainer();

    ZVContainer* c = reinterpret_cast<ZVContainer*>(base);
    InitCommon(c, match, order, kPooled);
    c->releaseFn = nullptr;
    char* first = base + ContainerRecordSize();
    c->freeList = reinterpret_cast<ZVContainerObj*>(first);
    LayOutSlots(first, blockSlots, uint32_t(slotSize));
    c->maxCount = maxCount;
    c->slotSize = uint32_t(slotSize);
    c->blockSlots = blockSlots;
    return c;
}

ZV_API uint16_t ZVDestroyContainer(ZVContainer* c) {
    uint32_t token;
    if (IsNull(c) || !ZVContainerLock(c, &token)) return 0;
    ZVEnterCriticalSection(ListLock(c));

    // A dynamic record that only the cursor still names is in neither chain.
    ZVContainerObj* kept = (c->kind == kDynamic && c->cursor && !c->cursor->data) ? c->cursor : nullptr;

    if (c->head) {
        c->tail->next = c->freeList;
    } else {
        c->head = c->freeList;
    }
    ZVContainerObj* blocks = nullptr;
    ZVContainerObj* lastBlock = nullptr;
    for (ZVContainerObj* obj = c->head; obj;) {
        ZVContainerObj* next = obj->next;
        if (c->kind == kDynamic) {
            if (c->releaseFn) c->releaseFn(obj->data);
            ZVFree(obj);
        } else if (obj->blockHead == 1) {
            // Collected first and freed after the walk: a block holds
            // slots that the walk has yet to visit.
            obj->next = nullptr;
            if (lastBlock) {
                lastBlock->next = obj;
            } else {
                blocks = obj;
            }
            lastBlock = obj;
        }
        obj = next;
    }
    while (blocks) {
        ZVContainerObj* next = blocks->next;
        ZVFree(blocks);
        blocks = next;
    }
    if (kept) ZVFree(kept);

    // Deleted while held: no thread may use the container any more.
    ZVDeleteCriticalSection(ListLock(c));
    ZVDeleteCriticalSection(ContainerLock(c));
    if (c->releaseEvent != ZV_INVALID_HANDLE) ZVCloseEvent(c->releaseEvent);
    if (c->passEvent != ZV_INVALID_HANDLE) ZVCloseEvent(c->passEvent);

    if (c->kind == kDynamic) {
        if (c->releaseFn) c->releaseFn(c);
    } else {
        ZVFree(c);
    }
    return 1;
}

ZV_API uint16_t ZVContainerLock(ZVContainer* c, uint32_t* token) {
    if (IsNull(c)) return 0;
    ZVEnterCriticalSection(ContainerLock(c));
    if (token) *token = 0;
    return 1;
}

ZV_API uint16_t ZVContainerUnlock(ZVContainer* c, uint32_t /*token*/) {
    if (IsNull(c)) return 0;
    // Given up only while no list operation of another thread is running.
    ZVEnterCriticalSection(ListLock(c));
    ZVLeaveCriticalSection(ContainerLock(c));
    ZVLeaveCriticalSection(ListLock(c));
    return 1;
}

ZV_API uint32_t ZVContainerObjCount(ZVContainer* c) {
    if (IsNull(c)) return 0;
    ZVEnterCriticalSection(ListLock(c));
    const uint32_t count = c->count;
    ZVLeaveCriticalSection(ListLock(c));
    return count;
}

ZV_API ZVContainerObj* ZVContainerNewObj(ZVContainer* c, void* data) {
    if (IsNull(c)) return NoObject();
    ZVEnterCriticalSection(ListLock(c));
    ZVContainerObj* obj = nullptr;
    if (c->kind == kDynamic) {
        if (data) {
            obj = static_cast<ZVContainerObj*>(ZVMalloc(ObjHeaderSize()));
            if (obj) {
                obj->blockHead = 1;
                obj->data = data;
            }
        }
    } else {
        obj = TakeSlot(c);
    }
    if (obj) {
        // Links mean nothing before insertion; cleared, they cannot lead a
        // stale cursor or a NEXT_OF/PREV_OF search into the free list.
        obj->next = nullptr;
        obj->prev = nullptr;
        // Cleared under the list lock: a thread still giving back a hold on
        // the slot's previous object changes these fields under it too.
        obj->lockMode = 0;
        obj->lockCount = 0;
    }
    ZVLeaveCriticalSection(ListLock(c));
    return obj ? obj : NoObject();
}

ZV_API ZVContainerObj* ZVContainerNewObjEx(ZVContainer* c, void* data, void** dataOut) {
    ZVContainerObj* obj = ZVContainerNewObj(c, data);
    if (dataOut) *dataOut = obj == NoObject() ? nullptr : obj->data;
    return obj;
}

}  // extern "C"
