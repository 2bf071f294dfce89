// Searches, the cursor, object locks without waiting, and a cursor whose
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

// Accepts an int greater than the key.
uint16_t Greater(void* data, void* key) { return Get(data) > int(reinterpret_cast<intptr_t>(key)) ? 0 : 1; }

// A result whose low 16 bits are 0 is a match, whatever the rest says.
uint16_t NeverMatches(void*, void*) { return 1; }

struct Five {
    ZVContainer* c;
    std::vector<ZVContainerObj*> o;
    Five() : c(ZVCreateContainerEx(MatchInt, nullptr, sizeof(int), 8, 8)) {
        for (int v = 0; v < 5; ++v) o.push_back(Add(c, v * 10));
    }
    ~Five() { ZVDestroyContainer(c); }
    ZVContainerObj* Lock(uint32_t code, void* key = nullptr, ZVMatchFn search = nullptr) {
        return ZVContainerFindObjAndLockEx(c, code, key, ZV_OBJLOCK_NONE, search);
    }
};

}  // namespace

TEST(ContainerLookup, ContainsTestsOnlyTheList) {
    Five f;
    EXPECT_EQ(ZVContainerContainsData(nullptr, f.o[0]->data), 0);
    EXPECT_EQ(ZVContainerContainsObj(nullptr, f.o[0]), 0);
    EXPECT_EQ(ZVContainerContainsData(f.c, f.o[4]->data), 1);
    EXPECT_EQ(ZVContainerContainsObj(f.c, f.o[4]), 1);
    EXPECT_EQ(ZVContainerContainsObj(f.c, nullptr), 0);
    ZVContainerObj* loose = ZVContainerNewObj(f.c, nullptr);
    EXPECT_EQ(ZVContainerContainsObj(f.c, loose), 0);
    EXPECT_EQ(ZVContainerContainsData(f.c, loose->data), 0);
    void* removed = ZVContainerRemoveObjLC(f.c, ZV_CONTAINER_LAST, nullptr);
    EXPECT_EQ(ZVContainerContainsData(f.c, removed), 0);
    EXPECT_EQ(ZVContainerContainsObj(f.c, f.o[4]), 0);
    ZVContainerInsertObjLC(f.c, loose, ZV_CONTAINER_LAST);
}

TEST(ContainerLookup, FindObjExCodesAndTheCursor) {
    Five f;
    EXPECT_EQ(ZVContainerFindObjEx(nullptr, ZV_CONTAINER_DATA, nullptr, nullptr), kNoObj);
    EXPECT_EQ(ZVContainerFindObjEx(f.c, ZV_CONTAINER_MATCH, Greater, Key(15)), f.o[2]);
    EXPECT_EQ(FIELD(f.c->cursor), f.o[2]);
    // Without a search function the container's own match function is not used.
    EXPECT_EQ(ZVContainerFindObjEx(f.c, ZV_CONTAINER_MATCH, nullptr, Key(10)), kNoObj);
    EXPECT_EQ(FIELD(f.c->cursor), nullptr);
    EXPECT_EQ(ZVContainerFindObjEx(f.c, ZV_CONTAINER_DATA, nullptr, f.o[3]->data), f.o[3]);
    EXPECT_EQ(ZVContainerFindObjEx(f.c, ZV_CONTAINER_DATA, nullptr, f.c), kNoObj);

    // Under OBJECT the search function is handed the object handles.
    g_seen.clear();
    EXPECT_EQ(ZVContainerFindObjEx(f.c, ZV_CONTAINER_OBJECT, IsTheHandle, f.o[1]), f.o[1]);
    EXPECT_EQ(g_seen, std::vector<void*>({f.o[0], f.o[1]}));
    EXPECT_EQ(ZVContainerFindObjEx(f.c, ZV_CONTAINER_OBJECT, nullptr, f.o[1]), kNoObj);
    EXPECT_EQ(ZVContainerFindObjEx(f.c, ZV_CONTAINER_MATCH, NeverMatches, nullptr), kNoObj);
    for (uint32_t code : {0u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 99u}) {
        ZVContainerFindObjEx(f.c, ZV_CONTAINER_DATA, nullptr, f.o[3]->data);
        EXPECT_EQ(ZVContainerFindObjEx(f.c, code, Greater, Key(0)), kNoObj) << code;
        EXPECT_EQ(FIELD(f.c->cursor), nullptr) << code;
    }
}

TEST(ContainerLookup, FindAndLockChoosesByEveryCode) {
    Five f;
    EXPECT_EQ(ZVContainerFindObjAndLockEx(nullptr, ZV_CONTAINER_FIRST, nullptr, 0, nullptr), kNoObj);
    // MATCH falls back on the container's match function.
    EXPECT_EQ(f.Lock(ZV_CONTAINER_MATCH, Key(30)), f.o[3]);
    EXPECT_EQ(f.Lock(ZV_CONTAINER_MATCH, Key(15), Greater), f.o[2]);
    EXPECT_EQ(f.Lock(ZV_CONTAINER_MATCH, Key(31)), kNoObj);
    EXPECT_EQ(f.Lock(ZV_CONTAINER_OBJECT, f.o[4]), f.o[4]);
    ZVContainerObj* loose = ZVContainerNewObj(f.c, nullptr);
    EXPECT_EQ(f.Lock(ZV_CONTAINER_OBJECT, loose), kNoObj);
    EXPECT_EQ(f.Lock(ZV_CONTAINER_DATA, f.o[1]->data), f.o[1]);
    EXPECT_EQ(f.Lock(ZV_CONTAINER_SORTED), kNoObj);
    EXPECT_EQ(f.Lock(ZV_CONTAINER_FIRST), f.o[0]);
    EXPECT_EQ(f.Lock(ZV_CONTAINER_LAST), f.o[4]);
    EXPECT_EQ(f.Lock(ZV_CONTAINER_NEXT_OF, f.o[2]), f.o[3]);
    EXPECT_EQ(f.Lock(ZV_CONTAINER_PREV_OF, f.o[2]), f.o[1]);
    EXPECT_EQ(f.Lock(ZV_CONTAINER_NEXT_OF, nullptr), f.o[0]);
    EXPECT_EQ(f.Lock(ZV_CONTAINER_PREV_OF, nullptr), f.o[0]);  // the head, not the tail
    EXPECT_EQ(f.Lock(ZV_CONTAINER_NEXT_OF, f.o[4]), kNoObj);
    EXPECT_EQ(f.Lock(ZV_CONTAINER_NEXT_OF, loose), kNoObj);  // a new object has no links
    EXPECT_EQ(f.Lock(99), kNoObj);
    EXPECT_EQ(FIELD(f.c->cursor), nullptr);
    EXPECT_EQ(f.Lock(ZV_CONTAINER_PREV), f.o[4]);  // null cursor: the tail
    EXPECT_EQ(FIELD(f.c->cursor), f.o[4]);
    ZVContainerInsertObjLC(f.c, loose, ZV_CONTAINER_LAST);

    ZVContainer* empty = ZVCreateContainerEx(nullptr, nullptr, 4, 1, 1);
    EXPECT_EQ(ZVContainerFindObjAndLockEx(empty, ZV_CONTAINER_FIRST, nullptr, 0, nullptr), kNoObj);
    EXPECT_EQ(ZVContainerFindObjAndLockEx(empty, ZV_CONTAINER_NEXT, nullptr, 2, nullptr), kNoObj);
    EXPECT_EQ(FIELD(empty->cursor), nullptr);
    ZVDestroyContainer(empty);
}

TEST(ContainerLookup, WalksWithTheCursorWrapAround) {
    Five f;
    std::vector<ZVContainerObj*> forward;
    for (ZVContainerObj* o = f.Lock(ZV_CONTAINER_FIRST); o != kNoObj; o = f.Lock(ZV_CONTAINER_NEXT))
        forward.push_back(o);
    EXPECT_EQ(forward, f.o);
    EXPECT_EQ(FIELD(f.c->cursor), nullptr);
    EXPECT_EQ(f.Lock(ZV_CONTAINER_NEXT), f.o[0]);  // past the end: -1 once, then the head

    std::vector<ZVContainerObj*> backward;
    for (ZVContainerObj* o = f.Lock(ZV_CONTAINER_LAST); o != kNoObj; o = f.Lock(ZV_CONTAINER_PREV))
        backward.push_back(o);
    EXPECT_EQ(backward, std::vector<ZVContainerObj*>(f.o.rbegin(), f.o.rend()));
    EXPECT_EQ(f.Lock(ZV_CONTAINER_PREV), f.o[4]);
}

TEST(ContainerLookup, LockObjAndUnlockObjCountHolds) {
    Five f;
    EXPECT_EQ(ZVContainerLockObj(nullptr, f.o[0]), nullptr);
    EXPECT_EQ(ZVContainerLockObj(f.c, nullptr), nullptr);
    EXPECT_EQ(ZVContainerUnlockObj(nullptr, f.o[0]), 1);
    EXPECT_EQ(ZVContainerGetObjPtr(nullptr, f.o[2]), FIELD(f.o[2]->data));

    EXPECT_EQ(ZVContainerLockObj(f.c, f.o[0]), FIELD(f.o[0]->data));
    EXPECT_EQ(FIELD(f.o[0]->lockMode), 2);
    EXPECT_EQ(FIELD(f.o[0]->lockCount), 1);
    EXPECT_EQ(ZVContainerLockObj(f.c, f.o[0]), nullptr);
    EXPECT_EQ(ZVContainerUnlockObj(f.c, f.o[0]), 1);
    EXPECT_EQ(FIELD(f.o[0]->lockMode), 0);
    EXPECT_EQ(FIELD(f.o[0]->lockCount), 0);

    // Three shared holders: free after the third give-back.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(ZVContainerFindObjAndLockEx(f.c, ZV_CONTAINER_OBJECT, f.o[1], 1, nullptr), f.o[1]);
    EXPECT_EQ(FIELD(f.o[1]->lockCount), 3);
    EXPECT_EQ(ZVContainerLockObj(f.c, f.o[1]), nullptr);  // shared: refused at once
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(FIELD(f.o[1]->lockMode), 1) << i;
        EXPECT_EQ(ZVContainerUnlockObj(f.c, f.o[1]), 1);
    }
    EXPECT_EQ(FIELD(f.o[1]->lockMode), 0);
    EXPECT_EQ(FIELD(f.o[1]->lockCount), 0);
    EXPECT_EQ(ZVContainerUnlockObj(f.c, f.o[1]), 1);  // nothing left to give back
    EXPECT_EQ(FIELD(f.o[1]->lockCount), 0);

    // Not in the list: nothing changes.
    ZVContainerObj* loose = ZVContainerNewObj(f.c, nullptr);
    EXPECT_EQ(ZVContainerLockObj(f.c, loose), FIELD(loose->data));  // locking does not look
    EXPECT_EQ(ZVContainerUnlockObj(f.c, loose), 1);
    EXPECT_EQ(FIELD(loose->lockMode), 2);
    EXPECT_EQ(FIELD(loose->lockCount), 1);
    ZVContainerInsertObjLC(f.c, loose, ZV_CONTAINER_LAST);
}

// The cursor may name an object that was removed since.  A dynamic record
// is then kept until the cursor moves on, a pooled slot lies on the free
// list; NEXT and PREV start again at the ends.  Run under AddressSanitizer,
// reading a freed record fails the test.
TEST(ContainerLookup, CursorOfARemovedObjectNeverLeadsIntoFreedOrFreeRecords) {
    Storage storage;
    ZVContainer* d = ZVCreateContainer(storage.get(), nullptr, nullptr, nullptr);
    int values[5] = {0, 1, 2, 3, 4};
    std::vector<ZVContainerObj*> o;
    for (int& v : values) {
        o.push_back(ZVContainerNewObj(d, &v));
        ZVContainerInsertObjLC(d, o.back(), ZV_CONTAINER_LAST);
    }
    ASSERT_EQ(ZVContainerFindObjEx(d, ZV_CONTAINER_DATA, nullptr, &values[2]), o[2]);
    EXPECT_EQ(ZVContainerRemoveObjLC(d, ZV_CONTAINER_OBJECT, o[2]), &values[2]);
    EXPECT_EQ(FIELD(d->cursor), o[2]);  // removal leaves the cursor
    EXPECT_EQ(ZVContainerFindObjAndLockEx(d, ZV_CONTAINER_NEXT, nullptr, 2, nullptr), o[0]);
    EXPECT_EQ(ZVContainerUnlockObj(d, o[0]), 1);
    ASSERT_EQ(ZVContainerFindObjEx(d, ZV_CONTAINER_DATA, nullptr, &values[4]), o[4]);
    EXPECT_EQ(ZVContainerRemoveObjLC(d, ZV_CONTAINER_LAST, nullptr), &values[4]);
    EXPECT_EQ(ZVContainerFindObjAndLockEx(d, ZV_CONTAINER_PREV, nullptr, 0, nullptr), o[3]);
    // Left named by the cursor at destruction: freed with the container.
    ASSERT_EQ(ZVContainerFindObjEx(d, ZV_CONTAINER_DATA, nullptr, &values[1]), o[1]);
    EXPECT_EQ(ZVContainerRemoveObjLC(d, ZV_CONTAINER_FIRST, nullptr), &values[0]);
    EXPECT_EQ(ZVContainerRemoveObjLC(d, ZV_CONTAINER_FIRST, nullptr), &values[1]);
    EXPECT_EQ(ZVContainerFindObjAndLockEx(d, ZV_CONTAINER_NEXT, nullptr, 0, nullptr), o[3]);
    ASSERT_EQ(ZVContainerFindObjEx(d, ZV_CONTAINER_DATA, nullptr, &values[3]), o[3]);
    EXPECT_EQ(ZVContainerRemoveObjLC(d, ZV_CONTAINER_FIRST, nullptr), &values[3]);
    EXPECT_EQ(ZVContainerFindObjAndLockEx(d, ZV_CONTAINER_NEXT, nullptr, 0, nullptr), kNoObj);
    ZVContainerInsertObjLC(d, ZVContainerNewObj(d, &values[0]), ZV_CONTAINER_LAST);
    ASSERT_EQ(ZVContainerFindObjEx(d, ZV_CONTAINER_DATA, nullptr, &values[0]), FIELD(d->head));
    ZVContainerObj* named = d->head;
    EXPECT_EQ(ZVContainerRemoveObjLC(d, ZV_CONTAINER_FIRST, nullptr), &values[0]);
    EXPECT_EQ(FIELD(d->cursor), named);
    ZVDestroyContainer(d);

    // Pooled: the removed slot's `next` leads along the free list.
    ZVContainer* p = ZVCreateContainerEx(MatchInt, nullptr, sizeof(int), 4, 4);
    ZVContainerObj* a = Add(p, 1);
    ZVContainerObj* b = Add(p, 2);
    ZVContainerObj* c = Add(p, 3);
    ZVContainerRemoveObjLC(p, ZV_CONTAINER_OBJECT, c);
    ASSERT_EQ(ZVContainerFindObjEx(p, ZV_CONTAINER_MATCH, MatchInt, Key(2)), b);
    ZVContainerRemoveObjLC(p, ZV_CONTAINER_OBJECT, b);
    ASSERT_EQ(FIELD(b->next), c);  // a free slot
    EXPECT_EQ(ZVContainerFindObjAndLockEx(p, ZV_CONTAINER_NEXT, nullptr, 0, nullptr), a);
    ASSERT_EQ(ZVContainerFindObjEx(p, ZV_CONTAINER_MATCH, MatchInt, Key(1)), a);
    ZVContainerRemoveObjLC(p, ZV_CONTAINER_OBJECT, a);
    EXPECT_EQ(ZVContainerFindObjAndLockEx(p, ZV_CONTAINER_PREV, nullptr, 0, nullptr), kNoObj);  // empty
    // Handed out again but not inserted: still not an object of the list.
    ASSERT_EQ(ZVContainerFindObjEx(p, ZV_CONTAINER_DATA, nullptr, nullptr), kNoObj);
    ZVContainerObj* d1 = Add(p, 7);
    ASSERT_EQ(ZVContainerFindObjEx(p, ZV_CONTAINER_MATCH, MatchInt, Key(7)), d1);
    ZVContainerRemoveObjLC(p, ZV_CONTAINER_OBJECT, d1);
    ZVContainerObj* again = ZVContainerNewObj(p, nullptr);
    ASSERT_EQ(again, d1);
    ZVContainerObj* e = Add(p, 8);
    EXPECT_EQ(ZVContainerFindObjAndLockEx(p, ZV_CONTAINER_NEXT, nullptr, 0, nullptr), e);
    ASSERT_EQ(ZVContainerFindObjEx(p, ZV_CONTAINER_MATCH, MatchInt, Key(8)), e);
    EXPECT_EQ(ZVContainerFindObjAndLockEx(p, ZV_CONTAINER_PREV, nullptr, 0, nullptr), kNoObj);
    ZVContainerInsertObjLC(p, again, ZV_CONTAINER_LAST);
    ZVDestroyContainer(p);
}
