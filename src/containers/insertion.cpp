// insertion.cpp - putting objects into a container's list and taking them
// out, and the two steps with which the locking operations acquire object
// locks: the try-lock step and the wait step on the container's events.
#include "containers/containers.h"

namespace zv {
namespace containers {

namespace {

void LinkOnly(ZVContainer* c, ZVContainerObj* obj) {
    obj->prev = nullptr;
    obj->next = nullptr;
    c->head = obj;
    c->tail = obj;
}

void LinkAtTail(ZVContainer* c, ZVContainerObj* obj) {
    obj->next = nullptr;
    obj->prev = c->tail;
    c->tail->next = obj;
    c->tail = obj;
}

void LinkAtHead(ZVContainer* c, ZVContainerObj* obj) {
    obj->prev = nullptr;
    obj->next = c->head;
    c->head->prev = obj;
    c->head = obj;
}

// Under the list lock: links the object at the place the position code
// names; false, with nothing changed, when the code does not name one.
bool Link(ZVContainer* c, ZVContainerObj* obj, uint32_t position) {
    if (c->count == 0) {
        LinkOnly(c, obj);
    } else if (position == ZV_CONTAINER_LAST) {
        LinkAtTail(c, obj);
    } else if (position == ZV_CONTAINER_FIRST) {
        LinkAtHead(c, obj);
    } else if (position == ZV_CONTAINER_SORTED) {
        // Without an ordering function there is no place to find.
        if (!c->orderFn) return false;
        ZVOrderFn order = c->orderFn;
        ZVContainerObj* before = Walk(c, [&](ZVContainerObj* o) { return order(o->data, obj->data) > 0; });
        if (!before) {
            LinkAtTail(c, obj);
        } else if (before == c->head) {
            LinkAtHead(c, obj);
        } else {
            obj->prev = before->prev;
            obj->next = before;
            before->prev->next = obj;
            before->prev = obj;
        }
    } else {
        return false;
    }
    ++c->count;
    return true;
}

// Under the list lock: the object a removal names, or null.
ZVContainerObj* ChooseForRemoval(ZVContainer* c, uint32_t position, void* keyOrObj) {
    switch (position) {
    case ZV_CONTAINER_MATCH: {
        ZVMatchFn match = c->matchFn;
        if (!match || c->count == 0) return nullptr;
        return Walk(c, [&](ZVContainerObj* o) { return Matches(match, o->data, keyOrObj); });
    }
    case ZV_CONTAINER_OBJECT: {
        ZVContainerObj* obj = static_cast<ZVContainerObj*>(keyOrObj);
        // A removed object (null `data`) is in no list; removing it again
        // would corrupt this one.
        if (IsNull(obj) || !obj->data || c->count == 0) return nullptr;
        return obj;
    }
    case ZV_CONTAINER_FIRST:
        return c->head;
    case ZV_CONTAINER_LAST:
        return c->tail;
    default:
        return nullptr;
    }
}

void Unlink(ZVContainer* c, ZVContainerObj* obj) {
    if (c->count == 1) {
        c->head = nullptr;
        c->tail = nullptr;
    } else if (obj == c->head) {
        c->head = obj->next;
        c->head->prev = nullptr;
    } else if (obj == c->tail) {
        c->tail = obj->prev;
        c->tail->next = nullptr;
    } else {
        obj->prev->next = obj->next;
        obj->next->prev = obj->prev;
    }
    --c->count;
}

}  // namespace

TryLock TryLockStep(ZVContainerObj* obj, uint32_t mode) {
    if (IsNull(obj) || mode == ZV_OBJLOCK_NONE) return TryLock::GoOn;
    const bool free = obj->lockMode == ZV_OBJLOCK_NONE;
    const bool shared = mode == ZV_OBJLOCK_SHARED && obj->lockMode == ZV_OBJLOCK_SHARED;
    if (!free && !shared) return TryLock::Conflict;
    obj->lockMode = uint8_t(mode);
    obj->lockCount = uint8_t(obj->lockCount + 1);
    return TryLock::Granted;
}

uint32_t WaitStep(ZVContainer* c) {
    ZVInterlockedIncrement(WaiterCount(c));
    ZVLeaveCriticalSection(ListLock(c));
    const uint32_t woken = ZVWaitForEvent(c->releaseEvent);
    if (ZVInterlockedDecrement(WaiterCount(c)) != 0) {
        // Others are still to wake: let the last of them reset the event.
        // Once set, the pass event stays set, so a thread whose object still
        // conflicts comes straight back while the release event is set;
        // giving up the processor here lets the holders and the last waiter
        // run instead of this loop.
        const uint32_t passed = ZVWaitForEvent(c->passEvent);
        Sleep(0);
        ZVEnterCriticalSection(ListLock(c));
        return passed;
    }
    // The last waiter resets the release event, but only under the list
    // lock and only if no thread has counted itself in meanwhile: a thread
    // counts itself in under the list lock and every release sets the event
    // under it, so a release meant for a newcomer is never reset away.  If
    // one has come, the event stays set and the newcomer wakes once for
    // nothing, re-tests its object and, as the last waiter, resets it.
    ZVEnterCriticalSection(ListLock(c));
    if (Waiters(c) == 0) ZVResetEvent(c->releaseEvent);
    ZVSetEvent(c->passEvent);
    return woken;
}

void GiveBackHold(ZVContainer* c, ZVContainerObj* obj) {
    if (obj->lockCount > 0) obj->lockCount = uint8_t(obj->lockCount - 1);
    if (obj->lockCount == 0) {
        obj->lockMode = ZV_OBJLOCK_NONE;
        SignalRelease(c);
    }
}

}  // namespace containers
}  // namespace zv

using namespace zv::containers;

extern "C" {

ZV_API ZVContainerObj* ZVContainerInsertObjCCL(ZVContainer* c, uint32_t /*token*/, ZVContainerObj* obj,
                                               uint32_t position) {
    if (IsNull(c) || IsNull(obj)) return NoObject();
    ZVEnterCriticalSection(ListLock(c));
    const bool linked = Link(c, obj, position);
    ZVLeaveCriticalSection(ListLock(c));
    return linked ? obj : NoObject();
}

ZV_API ZVContainerObj* ZVContainerInsertObjLC(ZVContainer* c, ZVContainerObj* obj, uint32_t position) {
    uint32_t token = 0;
    ZVContainerLock(c, &token);
    ZVContainerObj* result = ZVContainerInsertObjCCL(c, token, obj, position);
    ZVContainerUnlock(c, token);
    return result;
}

ZV_API ZVContainerObj* ZVContainerLockAndInsertObjCCL(ZVContainer* c, uint32_t token, ZVContainerObj* obj,
                                                      uint32_t position, uint32_t lockMode) {
    bool granted = false;
    if (lockMode != ZV_OBJLOCK_NONE && !IsNull(c)) {
        ZVEnterCriticalSection(ListLock(c));
        for (;;) {
            const TryLock step = TryLockStep(obj, lockMode);
            if (step != TryLock::Conflict) {
                granted = step == TryLock::Granted;
                break;
            }
            if (WaitStep(c) != 0) {
                // A wait that fails (the container has no events) is not an
                // error here; polling then keeps the processor free.
                ZVLeaveCriticalSection(ListLock(c));
                Sleep(1);
                ZVEnterCriticalSection(ListLock(c));
            }
        }
        ZVLeaveCriticalSection(ListLock(c));
    }
    ZVContainerObj* result = ZVContainerInsertObjCCL(c, token, obj, position);
    if (result == NoObject() && granted) {
        // Not in the list, but the hold is given back all the same.
        ZVEnterCriticalSection(ListLock(c));
        GiveBackHold(c, obj);
        ZVLeaveCriticalSection(ListLock(c));
    }
    return result;
}

ZV_API ZVContainerObj* ZVContainerLockAndInsertObjLC(ZVContainer* c, ZVContainerObj* obj, uint32_t position,
                                                     uint32_t lockMode) {
    uint32_t token = 0;
    ZVContainerLock(c, &token);
    ZVContainerObj* result = ZVContainerLockAndInsertObjCCL(c, token, obj, position, lockMode);
    ZVContainerUnlock(c, token);
    return result;
}

ZV_API void* ZVContainerRemoveObjCCL(ZVContainer* c, uint32_t /*token*/, uint32_t position, void* keyOrObj) {
    if (IsNull(c)) return nullptr;
    ZVEnterCriticalSection(ListLock(c));
    ZVContainerObj* obj = ChooseForRemoval(c, position, keyOrObj);
    if (!obj) {
        ZVLeaveCriticalSection(ListLock(c));
        return nullptr;
    }
    Unlink(c, obj);
    if (obj->lockCount != 0) SignalRelease(c);
    void* data = obj->data;
    obj->data = nullptr;
    if (c->kind == kPooled) {
        obj->prev = nullptr;
        obj->next = c->freeList;
        c->freeList = obj;
    } else {
        RetireRecord(c, obj);
    }
    ZVLeaveCriticalSection(ListLock(c));
    return data;
}

ZV_API void* ZVContainerRemoveObjLC(ZVContainer* c, uint32_t position, void* keyOrObj) {
    uint32_t token = 0;
    ZVContainerLock(c, &token);
    void* data = ZVContainerRemoveObjCCL(c, token, position, keyOrObj);
    ZVContainerUnlock(c, token);
    return data;
}

}  // extern "C"
