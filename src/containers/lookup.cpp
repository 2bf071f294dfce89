// lookup.cpp - searching a container's list, walking it with the shared
// cursor, and taking and giving back object locks.
#include "containers/containers.h"

namespace zv {
namespace containers {

namespace {

// Under the list lock: the object that ZVContainerFindObjAndLockEx's
// position code names, or null.
ZVContainerObj* ChooseForLock(ZVContainer* c, uint32_t position, void* keyOrObj, ZVMatchFn search) {
    ZVContainerObj* given = static_cast<ZVContainerObj*>(keyOrObj);
    switch (position) {
    case ZV_CONTAINER_MATCH: {
        ZVMatchFn match = search ? search : c->matchFn;
        if (!match) return nullptr;
        return Walk(c, [&](ZVContainerObj* o) { return Matches(match, o->data, keyOrObj); });
    }
    case ZV_CONTAINER_OBJECT:
        return Walk(c, [&](ZVContainerObj* o) { return o == given; });
    case ZV_CONTAINER_DATA:
        return Walk(c, [&](ZVContainerObj* o) { return o->data == keyOrObj; });
    case ZV_CONTAINER_FIRST:
        return c->head;
    case ZV_CONTAINER_NEXT:
        // A cursor whose object has left the list counts as no cursor.
        return CursorInList(c) ? c->cursor->next : c->head;
    case ZV_CONTAINER_PREV:
        return CursorInList(c) ? c->cursor->prev : c->tail;
    case ZV_CONTAINER_NEXT_OF:
        return IsNull(given) ? c->head : given->next;
    case ZV_CONTAINER_PREV_OF:
        return IsNull(given) ? c->head : given->prev;
    case ZV_CONTAINER_LAST:
        return c->tail;
    default:
        return nullptr;
    }
}

}  // namespace

}  // namespace containers
}  // namespace zv

using namespace zv::containers;

extern "C" {

ZV_API uint16_t ZVContainerContainsData(ZVContainer* c, void* data) {
    if (IsNull(c)) return 0;
    ZVEnterCriticalSection(ListLock(c));
    const bool found = Walk(c, [&](ZVContainerObj* o) { return o->data == data; }) != nullptr;
    ZVLeaveCriticalSection(ListLock(c));
    return found ? 1 : 0;
}

ZV_API uint16_t ZVContainerContainsObj(ZVContainer* c, ZVContainerObj* obj) {
    if (IsNull(c)) return 0;
    ZVEnterCriticalSection(ListLock(c));
    const bool found = Walk(c, [&](ZVContainerObj* o) { return o == obj; }) != nullptr;
    ZVLeaveCriticalSection(ListLock(c));
    return found ? 1 : 0;
}

ZV_API ZVContainerObj* ZVContainerFindObjEx(ZVContainer* c, uint32_t position, ZVMatchFn search, void* key) {
    if (IsNull(c)) return NoObject();
    ZVEnterCriticalSection(ListLock(c));
    ZVContainerObj* found = nullptr;
    if (position == ZV_CONTAINER_MATCH && search) {
        found = Walk(c, [&](ZVContainerObj* o) { return Matches(search, o->data, key); });
    } else if (position == ZV_CONTAINER_OBJECT && search) {
        // Here the search function sees the object handles themselves.
        found = Walk(c, [&](ZVContainerObj* o) { return Matches(search, o, key); });
    } else if (position == ZV_CONTAINER_DATA) {
        found = Walk(c, [&](ZVContainerObj* o) { return o->data == key; });
    }
    SetCursor(c, found);
    ZVLeaveCriticalSection(ListLock(c));
    return found ? found : NoObject();
}

ZV_API ZVContainerObj* ZVContainerFindObjAndLockEx(ZVContainer* c, uint32_t position, void* keyOrObj,
                                                   uint32_t lockMode, ZVMatchFn search) {
    if (IsNull(c)) return NoObject();
    ZVEnterCriticalSection(ListLock(c));
    ZVContainerObj* found;
    for (;;) {
        // Chosen anew after every wait, from the list and cursor as they are.
        found = ChooseForLock(c, position, keyOrObj, search);
        if (TryLockStep(found, lockMode) != TryLock::Conflict) break;
        if (WaitStep(c) != 0) {
            ZVLeaveCriticalSection(ListLock(c));
            return NoObject();
        }
    }
    SetCursor(c, found);
    ZVLeaveCriticalSection(ListLock(c));
    return found ? found : NoObject();
}

ZV_API void* ZVContainerGetObjPtr(ZVContainer* /*c*/, ZVContainerObj* obj) {
    return IsNull(obj) ? nullptr : obj->data;
}

ZV_API void* ZVContainerLockObj(ZVContainer* c, ZVContainerObj* obj) {
    if (IsNull(c) || IsNull(obj)) return nullptr;
    ZVEnterCriticalSection(ListLock(c));
    void* data = nullptr;
    if (obj->lockMode == ZV_OBJLOCK_NONE) {
        obj->lockMode = ZV_OBJLOCK_EXCLUSIVE;
        obj->lockCount = uint8_t(obj->lockCount + 1);
        data = obj->data;
    }
    ZVLeaveCriticalSection(ListLock(c));
    return data;
}

ZV_API uint16_t ZVContainerUnlockObj(ZVContainer* c, ZVContainerObj* obj) {
    // Membership and the release are two holds of the list lock.
    if (!ZVContainerContainsObj(c, obj)) return 1;
    ZVEnterCriticalSection(ListLock(c));
    GiveBackHold(c, obj);
    ZVLeaveCriticalSection(ListLock(c));
    return 1;
}

}  // extern "C"
