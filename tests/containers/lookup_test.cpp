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

uint16_t Greater(void* data, void* key) { return Get(data) > int(reinterpret_cast<intptr_t>(key)) ? 0 : 1; }

// Five objects holding 0, 10, ..., 40, and one made but not inserted.
struct Five {
    ZVContainer* c = ZVCreateContainerEx(MatchInt, nullptr, sizeof(int), 8, 8);
    std::vector<ZVContainerObj*> o;
    ZVContainerObj* loose;
    Five() {
        for (int v = 0; v < 5; ++v) o.push_back(Add(c, v * 10));
        loose = New(c, 50);
    }
    ~Five() { ZVDestroyContainer(c); }
};

}  // namespace

TEST(ContainerLookup, ContainsAndFindObjEx) {
    Five f;
    EXPECT_EQ(ZVContainerContainsData(f.c, f.o[4]->data) + ZVContainerContainsObj(f.c, f.o[4]), 2);
    EXPECT_EQ(ZVContainerContainsData(f.c, f.loose->data) + ZVContainerContainsObj(f.c, f.loose), 0);
    EXPECT_EQ(ZVContainerFindObjEx(f.c, ZV_CONTAINER_MATCH, Greater, Key(15)), f.o[2]);
    EXPECT_EQ(FIELD(f.c->cursor), f.o[2]);
    // Without a search function the container's own match function is not used.
    EXPECT_EQ(ZVContainerFindObjEx(f.c, ZV_CONTAINER_MATCH, nullptr, Key(10)), kNoObj);
    EXPECT_EQ(FIELD(f.c->cursor), nullptr);
    EXPECT_EQ(ZVContainerFindObjEx(f.c, ZV_CONTAINER_DATA, nullptr, f.o[3]->data), f.o[3]);
    // Under OBJECT the search function is handed the object handles.
    EXPECT_EQ(ZVContainerFindObjEx(f.c, ZV_CONTAINER_OBJECT, IsTheHandle, f.o[1]), f.o[1]);
    EXPECT_EQ(g_seen, std::vector<void*>({f.o[0], f.o[1]}));
    for (uint32_t code : {0u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 99u})
        EXPECT_EQ(ZVContainerFindObjEx(f.c, code, Greater, Key(0)), kNoObj) << code;
    EXPECT_EQ(FIELD(f.c->cursor), nullptr);
}

// MATCH without a search function uses the container's match function; a
// null cursor makes PREV start at the tail; PREV_OF a null key gives the
// head; NEXT past the end gives -1 once, then the head.
TEST(ContainerLookup, FindAndLockChoosesByEveryCodeAndMovesTheCursor) {
    Five f;
    const struct {
        uint32_t code;
        void* key;
        ZVMatchFn search;
        ZVContainerObj* want;
    } cases[] = {
        {ZV_CONTAINER_FIRST, nullptr, nullptr, f.o[0]},    {ZV_CONTAINER_MATCH, Key(30), nullptr, f.o[3]},
        {ZV_CONTAINER_MATCH, Key(15), Greater, f.o[2]},    {ZV_CONTAINER_OBJECT, f.o[4], nullptr, f.o[4]},
        {ZV_CONTAINER_OBJECT, f.loose, nullptr, kNoObj},   {ZV_CONTAINER_PREV, nullptr, nullptr, f.o[4]},
        {ZV_CONTAINER_PREV, nullptr, nullptr, f.o[3]},     {ZV_CONTAINER_DATA, f.o[1]->data, nullptr, f.o[1]},
        {ZV_CONTAINER_NEXT, nullptr, nullptr, f.o[2]},     {ZV_CONTAINER_SORTED, nullptr, nullptr, kNoObj},
        {ZV_CONTAINER_NEXT_OF, f.o[2], nullptr, f.o[3]},   {ZV_CONTAINER_PREV_OF, f.o[2], nullptr, f.o[1]},
        {ZV_CONTAINER_NEXT_OF, nullptr, nullptr, f.o[0]},  {ZV_CONTAINER_PREV_OF, nullptr, nullptr, f.o[0]},
        {99, nullptr, nullptr, kNoObj},                    {ZV_CONTAINER_LAST, nullptr, nullptr, f.o[4]},
        {ZV_CONTAINER_NEXT, nullptr, nullptr, kNoObj},     {ZV_CONTAINER_NEXT, nullptr, nullptr, f.o[0]},
    };
    for (const auto& t : cases) {
        EXPECT_EQ(ZVContainerFindObjAndLockEx(f.c, t.code, t.key, ZV_OBJLOCK_NONE, t.search), t.want) << t.code;
        EXPECT_EQ(FIELD(f.c->cursor), t.want == kNoObj ? nullptr : t.want) << t.code;
    }
}

TEST(ContainerLookup, LockObjTakesOnlyAFreeObjectAndUnlockObjOnlyOneInTheList) {
    Five f;
    EXPECT_EQ(ZVContainerFindObjAndLockEx(f.c, ZV_CONTAINER_OBJECT, f.o[1], 1, nullptr), f.o[1]);
    EXPECT_EQ(ZVContainerLockObj(f.c, f.o[1]), nullptr);  // shared: refused at once
    EXPECT_EQ(ZVContainerLockObj(f.c, f.loose), FIELD(f.loose->data));  // not in the list: not looked at
    EXPECT_EQ(ZVContainerLockObj(f.c, f.loose), nullptr);
    EXPECT_EQ(ZVContainerUnlockObj(f.c, f.loose) + ZVContainerUnlockObj(f.c, f.o[1]), 2);
    EXPECT_EQ(FIELD(f.loose->lockCount), 1);
    EXPECT_EQ(ZVContainerUnlockObj(f.c, f.o[1]), 1);  // nothing left to give back
    EXPECT_EQ(FIELD(f.o[1]->lockMode) + FIELD(f.o[1]->lockCount), 0);
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
        ZVContainerObj* end = code == ZV_CONTAINER_NEXT ? o[0] : o[3];
        EXPECT_EQ(ZVContainerFindObjAndLockEx(d, code, nullptr, 0, nullptr), end);
        o[1] = ZVContainerInsertObjLC(d, ZVContainerNewObj(d, &values[1]), ZV_CONTAINER_LAST);
    }
    ASSERT_EQ(ZVContainerFindObjEx(d, ZV_CONTAINER_DATA, nullptr, &values[0]), o[0]);
    ZVContainerRemoveObjLC(d, ZV_CONTAINER_FIRST, nullptr);
    ZVDestroyContainer(d);  // still named by the cursor: freed once (LeakSanitizer)

    ZVContainer* p = ZVCreateContainerEx(nullptr, nullptr, sizeof(int), 4, 4);
    ZVContainerObj* a = Add(p, 1);
    ZVContainerObj* b = Add(p, 2);
    ZVContainerObj* c = Add(p, 3);
    ZVContainerRemoveObjLC(p, ZV_CONTAINER_OBJECT, c);
    ASSERT_EQ(ZVContainerFindObjEx(p, ZV_CONTAINER_DATA, nullptr, b->data), b);
    ZVContainerRemoveObjLC(p, ZV_CONTAINER_OBJECT, b);
    ASSERT_EQ(FIELD(b->next), c);  // on the free list, leading to another free slot
    EXPECT_EQ(ZVContainerFindObjAndLockEx(p, ZV_CONTAINER_NEXT, nullptr, 0, nullptr), a);
    ZVContainerRemoveObjLC(p, ZV_CONTAINER_OBJECT, a);
    ASSERT_EQ(ZVContainerNewObj(p, nullptr), a);  // handed out again, not inserted
    ZVContainerObj* e = Add(p, 8);
    EXPECT_EQ(ZVContainerFindObjAndLockEx(p, ZV_CONTAINER_PREV, nullptr, 0, nullptr), e);
    ZVDestroyContainer(p);
}
