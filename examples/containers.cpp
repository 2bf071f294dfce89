// containers.cpp - the two kinds of container, walking with the cursor, and
// object locks between two threads.
#include <stdio.h>
#include <string.h>

#include "zv.h"

namespace {

// ---- A dynamic container: the caller's storage and data pointers ----------

struct Task {
    int32_t priority;
    const char* name;
};

// The storage of a dynamic container: sizeof(ZVContainer), pointer-aligned
// (the record itself is packed).
alignas(void*) unsigned char g_storage[sizeof(ZVContainer)];

// Greater than 0 puts the added task before the existing one: ascending
// priority, equal priorities in the order of insertion.
int32_t ByPriority(void* existing, void* added) {
    return static_cast<Task*>(existing)->priority - static_cast<Task*>(added)->priority;
}

// A match function returns 0 for a match.
uint16_t ByName(void* data, void* key) {
    return ZVStrCmpA(static_cast<Task*>(data)->name, static_cast<const char*>(key)) == 0 ? 0 : 1;
}

// Called at destruction with each remaining data pointer, then the storage.
void Release(void* p) {
    if (p == g_storage) {
        printf("released: the container's storage\n");
    } else {
        printf("released: %s\n", static_cast<Task*>(p)->name);
    }
}

void Dynamic() {
    static Task tasks[] = {{3, "write report"}, {1, "fix bug"}, {2, "review"}, {1, "reply"}};
    ZVContainer* c = ZVCreateContainer(g_storage, ByName, ByPriority, Release);
    if (c == ZV_INVALID_HANDLE) return;
    for (Task& task : tasks) {
        ZVContainerObj* obj = ZVContainerNewObj(c, &task);
        if (obj != ZV_INVALID_HANDLE) ZVContainerInsertObjLC(c, obj, ZV_CONTAINER_SORTED);
    }

    // The cursor is shared: hold the container lock for the whole walk.
    uint32_t token;
    ZVContainerLock(c, &token);
    uint32_t position = ZV_CONTAINER_FIRST;
    for (;;) {
        ZVContainerObj* obj =
            ZVContainerFindObjAndLockEx(c, position, nullptr, ZV_OBJLOCK_NONE, nullptr);
        if (obj == ZV_INVALID_HANDLE) break;  // past the tail
        Task* task = static_cast<Task*>(ZVContainerGetObjPtr(c, obj));
        printf("walk: %d %s\n", int(task->priority), task->name);
        position = ZV_CONTAINER_NEXT;
    }
    ZVContainerUnlock(c, token);

    ZVContainerObj* found =
        ZVContainerFindObjEx(c, ZV_CONTAINER_MATCH, ByName, const_cast<char*>("review"));
    if (found != ZV_INVALID_HANDLE)
        printf("found review, priority %d\n",
               int(static_cast<Task*>(ZVContainerGetObjPtr(c, found))->priority));

    // Removal by the container's match function hands the data pointer back.
    void* key = const_cast<char*>("fix bug");
    Task* removed = static_cast<Task*>(ZVContainerRemoveObjLC(c, ZV_CONTAINER_MATCH, key));
    printf("removed: %s; %u left\n", removed ? removed->name : "nothing",
           unsigned(ZVContainerObjCount(c)));
    ZVDestroyContainer(c);
}

// ---- A pooled container: fixed-size slots owned by the library ------------

struct Reading {
    uint32_t sensor;
    int32_t value;
};

// Slot data areas are not aligned: copy records in and out.
Reading Read(ZVContainerObj* obj) {
    Reading r;
    memcpy(&r, ZVContainerGetObjPtr(nullptr, obj), sizeof r);
    return r;
}

ZVContainer* FillPool() {
    // Blocks of 4 slots, at most 8 objects in the list.
    ZVContainer* c = ZVCreateContainerEx(nullptr, nullptr, sizeof(Reading), 4, 8);
    if (c == ZV_INVALID_HANDLE) return c;
    for (uint32_t i = 0; i < 10; ++i) {
        void* area;
        ZVContainerObj* obj = ZVContainerNewObjEx(c, nullptr, &area);  // data pointer ignored
        if (obj == ZV_INVALID_HANDLE) {
            printf("pool full at %u objects\n", unsigned(ZVContainerObjCount(c)));
            break;
        }
        Reading r = {i, int32_t(i * 10)};
        memcpy(area, &r, sizeof r);
        ZVContainerInsertObjLC(c, obj, ZV_CONTAINER_LAST);
    }
    // The removed slot's area stays readable until the next new object.
    void* area = ZVContainerRemoveObjLC(c, ZV_CONTAINER_FIRST, nullptr);
    if (area) {
        Reading first;
        memcpy(&first, area, sizeof first);
        printf("removed sensor %u; %u left\n", unsigned(first.sensor),
               unsigned(ZVContainerObjCount(c)));
    }
    return c;
}

// ---- Object locks: a reader waits for a writer -----------------------------

struct Reader {
    ZVContainer* c;
    ZVContainerObj* obj;
    ZVHANDLE started;
    int32_t seen;
};

uint32_t ZV_STDCALL ReadShared(void* arg) {
    Reader* reader = static_cast<Reader*>(arg);
    ZVSetEvent(reader->started);
    // Waits while the writer holds the object exclusively.
    ZVContainerObj* obj = ZVContainerFindObjAndLockEx(reader->c, ZV_CONTAINER_OBJECT, reader->obj,
                                                      ZV_OBJLOCK_SHARED, nullptr);
    if (obj == ZV_INVALID_HANDLE) return 1;
    reader->seen = Read(obj).value;
    ZVContainerUnlockObj(reader->c, obj);
    return 0;
}

void ObjectLocks(ZVContainer* c) {
    ZVContainerObj* obj =
        ZVContainerFindObjAndLockEx(c, ZV_CONTAINER_FIRST, nullptr, ZV_OBJLOCK_EXCLUSIVE, nullptr);
    if (obj == ZV_INVALID_HANDLE) return;
    printf("lock an object held exclusively: %s\n",
           ZVContainerLockObj(c, obj) ? "taken" : "refused");

    Reader reader = {c, obj, ZVCreateEvent(1, 0, nullptr), 0};
    ZVHANDLE thread = ZVCreateThread(0, ReadShared, &reader);
    if (!thread) return;
    ZVWaitForEvent(reader.started);
    ZVSleep(50);  // the reader is now waiting, or about to

    // The writer changes the object under its lock, then gives the hold
    // back with ZVContainerUnlockObj, which never takes the container lock.
    Reading r = Read(obj);
    printf("writer: sensor %u had %d\n", unsigned(r.sensor), int(r.value));
    r.value += 1000;
    memcpy(ZVContainerGetObjPtr(c, obj), &r, sizeof r);
    ZVContainerUnlockObj(c, obj);

    ZVWaitForEvent(thread);
    ZVCloseThreadHandle(thread);
    ZVCloseEvent(reader.started);
    printf("reader saw %d\n", int(reader.seen));
}

}  // namespace

int main() {
    Dynamic();
    ZVContainer* pool = FillPool();
    if (pool == ZV_INVALID_HANDLE) return 1;
    ObjectLocks(pool);
    ZVDestroyContainer(pool);
    return 0;
}
