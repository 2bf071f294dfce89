// Searches, the cursor, holds taken without waiting, and a cursor whose
// object was removed.
#include <vector>

#include "container_util.h"

using namespace ctest;

namespace {

std::vector<void*> g_seen;

// Accepts the object whose handle is the key; records what it was given.
uint16_t IsTheHandle(void* given, void* key) {
    g_seen.push_back(given);
    return given == key ? 0 : 1;
}

uint16_t Greater(void* data, void* key) { return Get(data) > int(reinterpret_cast<intptr_t>(key)) ? 0 : 1; }

// Five objects holding 0, 10, ..., 40, and one made but not inserted.
struct Five {
    ZVContainer* c = ZVCreateContainerEx(MatchInt, nullptr, sizeof(int), 8, 8);
    std::vector<ZVContainerObj*> o = {Add(c, 0), Add(c, 10), Add(c, 20), Add(c, 30), Add(c, 40)};
    ZVContainerObj* loose = New(c, 50);
    ~Five() { ZVDestroyContainer(c); }
};

}  // namespace

// FindObjEx (plain) uses only the search function given, and hands it the
// object handles under OBJECT.  Find and lock's MATCH without a search
// function uses the container's match function; a null cursor makes PREV
// start at the tail; PREV_OF a null key gives the head; NEXT past the end
// gives -1 once, then the head.
TEST(ContainerLookup, SearchesChooseByEveryCodeAndMoveTheCursor) {
    Five f;
    EXPECT_EQ(ZVContainerContainsData(f.c, f.o[4]->data) + ZVContainerContainsObj(f.c, f.o[4]), 2);
    EXPECT_EQ(ZVContainerContainsData(f.c, f.loose->data) + ZVContainerContainsObj(f.c, f.loose), 0);
    const struct { bool plain; uint32_t code; void* key; ZVMatchFn search; ZVContainerObj* want; } cases[] = {
        {1, ZV_CONTAINER_MATCH, Key(15), Greater, f.o[2]},    {1, ZV_CONTAINER_MATCH, Key(10), nullptr, kNoObj},
        {1, ZV_CONTAINER_DATA, f.o[3]->data, nullptr, f.o[3]}, {1, ZV_CONTAINER_OBJECT, f.o[1], IsTheHandle, f.o[1]},
        {0, ZV_CONTAINER_FIRST, nullptr, nullptr, f.o[0]},    {0, ZV_CONTAINER_MATCH, Key(30), nullptr, f.o[3]},
        {0, ZV_CONTAINER_MATCH, Key(15), Greater, f.o[2]},    {0, ZV_CONTAINER_OBJECT, f.o[4], nullptr, f.o[4]},
        {0, ZV_CONTAINER_OBJECT, f.loose, nullptr, kNoObj},   {0, ZV_CONTAINER_PREV, nullptr, nullptr, f.o[4]},
        {0, ZV_CONTAINER_PREV, nullptr, nullptr, f.o[3]},     {0, ZV_CONTAINER_DATA, f.o[1]->data, nullptr, f.o[1]},
        {0, ZV_CONTAINER_NEXT, nullptr, nullptr, f.o[2]},     {0, ZV_CONTAINER_SORTED, nullptr, nullptr, kNoObj},
        {0, ZV_CONTAINER_NEXT_OF, f.o[2], nullptr, f.o[3]},   {0, ZV_CONTAINER_PREV_OF, f.o[2], nullptr, f.o[1]},
        {0, ZV_CONTAINER_NEXT_OF, nullptr, nullptr, f.o[0]},  {0, ZV_CONTAINER_PREV_OF, nullptr, nullptr, f.o[0]},
        {0, 99, nullptr, nullptr, kNoObj},                    {0, ZV_CONTAINER_LAST, nullptr, nullptr, f.o[4]},
        {0, ZV_CONTAINER_NEXT, nullptr, nullptr, kNoObj},     {0, ZV_CONTAINER_NEXT, nullptr, nullptr, f.o[0]},
    };
    for (const auto& t : cases) {
        EXPECT_EQ(t.plain ? ZVContainerFindObjEx(f.c, t.code, t.search, t.key)
                          : ZVContainerFindObjAndLockEx(f.c, t.code, t.key, ZV_OBJLOCK_NONE, t.search), t.want) << t.code;
        EXPECT_EQ(FIELD(f.c->cursor), t.want == kNoObj ? nullptr : t.want) << t.code;
    }
    EXPECT_EQ(g_seen, std::vector<void*>({f.o[0], f.o[1]}));
    for (uint32_t code : {0u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 99u})
        EXPECT_EQ(ZVContainerFindObjEx(f.c, code, Greater, Key(0)), kNoObj) << code;
    EXPECT_EQ(FIELD(f.c->cursor), nullptr);
}

// Holds taken and given back without waiting: object locks in and out of
// the list, and lock and insert in every mode.
TEST(ContainerLookup, HoldsWithoutConflict) {
    Five f;
    EXPECT_EQ(ZVContainerFindObjAndLockEx(f.c, ZV_CONTAINER_OBJECT, f.o[1], 1, nullptr), f.o[1]);
    EXPECT_EQ(ZVContainerLockObj(f.c, f.o[1]), nullptr);  // shared: refused at once
    EXPECT_EQ(ZVContainerLockObj(f.c, f.loose), FIELD(f.loose->data));  // not in the list: not looked at
    EXPECT_EQ(ZVContainerLockObj(f.c, f.loose), nullptr);
    EXPECT_EQ(ZVContainerUnlockObj(f.c, f.loose) + ZVContainerUnlockObj(f.c, f.o[1]), 2);
    EXPECT_EQ(FIELD(f.loose->lockCount), 1);
    EXPECT_EQ(ZVContainerUnlockObj(f.c, f.o[1]), 1);  // nothing left to give back
    EXPECT_EQ(FIELD(f.o[1]->lockMode) + FIELD(f.o[1]->lockCount), 0);
    // Mode 0 takes no hold and never waits, here for the held loose object.
    EXPECT_EQ(ZVContainerLockAndInsertObjLC(f.c, f.loose, ZV_CONTAINER_LAST, 0), f.loose);
    EXPECT_EQ(FIELD(f.loose->lockCount), 1);
    ZVContainerObj* o = New(f.c, 2);  // a refused position gives back the hold it took
    EXPECT_EQ(ZVContainerLockAndInsertObjLC(f.c, o, 42, 2), kNoObj);
    EXPECT_EQ(FIELD(o->lockMode) + FIELD(o->lockCount), 0);
    o->lockMode = o->lockCount = 1;  // a shared hold taken before insertion
    EXPECT_EQ(ZVContainerLockAndInsertObjCCL(f.c, 0, o, ZV_CONTAINER_FIRST, 1), o);  // granted at once
    EXPECT_EQ(FIELD(o->lockMode) * 10 + FIELD(o->lockCount), 12);
    EXPECT_EQ(Values(f.c), std::vector<int>({2, 0, 10, 20, 30, 40, 50}));
}

// Events that could not be made: a wait fails at once, and find and lock
// reports -1, leaving the cursor.
TEST(ContainerLookup, FailedWaitsWithoutEvents) {
    Five f;
    ZVCloseEvent(f.c->releaseEvent);
    ZVCloseEvent(f.c->passEvent);
    f.c->releaseEvent = f.c->passEvent = ZV_INVALID_HANDLE;
    ASSERT_EQ(ZVContainerFindObjEx(f.c, ZV_CONTAINER_LAST, nullptr, nullptr), kNoObj);
    ASSERT_NE(ZVContainerLockObj(f.c, f.o[1]), nullptr);
    EXPECT_EQ(ZVContainerFindObjAndLockEx(f.c, ZV_CONTAINER_MATCH, Key(10), ZV_OBJLOCK_SHARED, nullptr), kNoObj);
    EXPECT_EQ(FIELD(f.c->cursor), nullptr);
    EXPECT_EQ(zv::containers::Waiters(f.c), 0);
}

// The cursor may name a removed object: a freed record (dynamic) or a free
// or handed-out slot (pooled).  NEXT and PREV then start again at the ends;
// under AddressSanitizer reading a freed record fails the test.
TEST(ContainerLookup, CursorOfARemovedObjectNeverLeadsIntoFreedOrFreeRecords) {
    Storage storage;
    ZVContainer* d = ZVCreateContainer(storage.bytes, nullptr, nullptr, nullptr);
    int values[4] = {0, 1, 2, 3};
    std::vector<ZVContainerObj*> o;
    for (int& v : values) o.push_back(ZVContainerInsertObjLC(d, ZVContainerNewObj(d, &v), ZV_CONTAINER_LAST));
    for (uint32_t code : {ZV_CONTAINER_NEXT, ZV_CONTAINER_PREV}) {
        ASSERT_EQ(ZVContainerFindObjEx(d, ZV_CONTAINER_DATA, nullptr, &values[1]), o[1]);
        EXPECT_EQ(ZVContainerRemoveObjLC(d, ZV_CONTAINER_OBJECT, o[1]), &values[1]);
        EXPECT_EQ(FIELD(d->cursor), o[1]);  // removal leaves the cursor
        EXPECT_EQ(ZVContainerFindObjAndLockEx(d, code, nullptr, 0, nullptr), code == ZV_CONTAINER_NEXT ? o[0] : o[3]);
        o[1] = ZVContainerInsertObjLC(d, ZVContainerNewObj(d, &values[1]), ZV_CONTAINER_LAST);
    }
    ASSERT_EQ(ZVContainerFindObjEx(d, ZV_CONTAINER_DATA, nullptr, &values[0]), o[0]);
    ZVContainerRemoveObjLC(d, ZV_CONTAINER_FIRST, nullptr);
    ZVDestroyContainer(d);  // still named by the cursor: freed once (LeakSanitizer)

    Five f;
    ZVContainerRemoveObjLC(f.c, ZV_CONTAINER_OBJECT, f.o[4]);
    ASSERT_EQ(ZVContainerFindObjEx(f.c, ZV_CONTAINER_DATA, nullptr, f.o[3]->data), f.o[3]);
    ZVContainerRemoveObjLC(f.c, ZV_CONTAINER_OBJECT, f.o[3]);
    ASSERT_EQ(FIELD(f.o[3]->next), f.o[4]);  // on the free list, leading to another free slot
    EXPECT_EQ(ZVContainerFindObjAndLockEx(f.c, ZV_CONTAINER_NEXT, nullptr, 0, nullptr), f.o[0]);
    ZVContainerRemoveObjLC(f.c, ZV_CONTAINER_OBJECT, f.o[0]);
    ASSERT_EQ(ZVContainerNewObj(f.c, nullptr), f.o[0]);  // handed out again, not inserted
    ZVContainerObj* e = Add(f.c, 8);
    EXPECT_EQ(ZVContainerFindObjAndLockEx(f.c, ZV_CONTAINER_PREV, nullptr, 0, nullptr), e);
}
