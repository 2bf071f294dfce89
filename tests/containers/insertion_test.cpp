// Insertion, sorted insertion, removal and lock-and-insert without waiting.
#include <vector>

#include "container_util.h"

using namespace ctest;

namespace {

int32_t ExistingMinusAdded(void* existing, void* added) { return Get(existing) - Get(added); }

ZVContainerObj* NewHolding(ZVContainer* c, int value) {
    void* area = nullptr;
    ZVContainerObj* o = ZVContainerNewObjEx(c, nullptr, &area);
    Put(area, value);
    return o;
}

}  // namespace

TEST(ContainerInsertion, PositionCodesAtTheEndsAndOnAnEmptyList) {
    ZVContainer* c = ZVCreateContainerEx(MatchInt, nullptr, sizeof(int), 8, 64);
    EXPECT_EQ(ZVContainerInsertObjLC(nullptr, NewHolding(c, 0), ZV_CONTAINER_LAST), kNoObj);
    EXPECT_EQ(ZVContainerInsertObjLC(c, nullptr, ZV_CONTAINER_LAST), kNoObj);
    EXPECT_EQ(ZVContainerObjCount(c), 0u);

    // Any code puts the first object in, even one that names no place.
    ZVContainerObj* first = NewHolding(c, 1);
    EXPECT_EQ(ZVContainerInsertObjLC(c, first, 99), first);
    EXPECT_EQ(FIELD(c->head), first);
    EXPECT_EQ(FIELD(c->tail), first);
    ZVContainerObj* spare = NewHolding(c, 50);
    for (uint32_t code : {0u, 1u, 2u, 3u, 6u, 7u, 8u, 9u, 11u, 99u})
        EXPECT_EQ(ZVContainerInsertObjLC(c, spare, code), kNoObj) << code;
    EXPECT_EQ(Values(c), std::vector<int>({1}));

    ASSERT_NE(Add(c, 2, ZV_CONTAINER_LAST), kNoObj);
    ASSERT_NE(Add(c, 0, ZV_CONTAINER_FIRST), kNoObj);
    ASSERT_NE(Add(c, 3, ZV_CONTAINER_LAST), kNoObj);
    ASSERT_NE(Add(c, -1, ZV_CONTAINER_FIRST), kNoObj);
    EXPECT_EQ(Values(c), std::vector<int>({-1, 0, 1, 2, 3}));
    // The CCL form runs without the container lock being tested.
    EXPECT_NE(ZVContainerInsertObjCCL(c, 12345, NewHolding(c, 4), ZV_CONTAINER_LAST), kNoObj);
    EXPECT_EQ(ZVContainerInsertObjLC(c, spare, ZV_CONTAINER_LAST), spare);
    EXPECT_EQ(Values(c), std::vector<int>({-1, 0, 1, 2, 3, 4, 50}));
    ZVDestroyContainer(c);
}

TEST(ContainerInsertion, SortedInsertionPutsEqualKeysAfterEarlierOnes) {
    ZVContainer* c = ZVCreateContainerEx(nullptr, ExistingMinusAdded, sizeof(int), 8, 64);
    std::vector<ZVContainerObj*> objs;
    for (int v : {5, 3, 5, 1}) {
        objs.push_back(NewHolding(c, v));
        ASSERT_EQ(ZVContainerInsertObjLC(c, objs.back(), ZV_CONTAINER_SORTED), objs.back());
    }
    EXPECT_EQ(Objects(c), std::vector<ZVContainerObj*>({objs[3], objs[1], objs[0], objs[2]}));
    ASSERT_NE(Add(c, 4, ZV_CONTAINER_SORTED), kNoObj);
    ASSERT_NE(Add(c, 9, ZV_CONTAINER_SORTED), kNoObj);
    ASSERT_NE(Add(c, 0, ZV_CONTAINER_SORTED), kNoObj);
    EXPECT_EQ(Values(c), std::vector<int>({0, 1, 3, 4, 5, 5, 9}));
    ZVDestroyContainer(c);

    // Without an ordering function there is no place but the first.
    c = ZVCreateContainerEx(nullptr, nullptr, sizeof(int), 4, 4);
    ASSERT_NE(Add(c, 7, ZV_CONTAINER_SORTED), kNoObj);
    ZVContainerObj* refused = NewHolding(c, 8);
    EXPECT_EQ(ZVContainerInsertObjLC(c, refused, ZV_CONTAINER_SORTED), kNoObj);
    EXPECT_EQ(Values(c), std::vector<int>({7}));
    EXPECT_EQ(ZVContainerInsertObjLC(c, refused, ZV_CONTAINER_FIRST), refused);
    ZVDestroyContainer(c);
}

TEST(ContainerRemoval, CodesResultsAndLinks) {
    EXPECT_EQ(ZVContainerRemoveObjLC(nullptr, ZV_CONTAINER_FIRST, nullptr), nullptr);
    ZVContainer* noMatch = ZVCreateContainerEx(nullptr, nullptr, sizeof(int), 4, 4);
    EXPECT_EQ(ZVContainerRemoveObjLC(noMatch, ZV_CONTAINER_FIRST, nullptr), nullptr);  // empty
    EXPECT_EQ(ZVContainerRemoveObjLC(noMatch, ZV_CONTAINER_LAST, nullptr), nullptr);
    ZVContainerObj* only = Add(noMatch, 3);
    EXPECT_EQ(ZVContainerRemoveObjLC(noMatch, ZV_CONTAINER_MATCH, Key(3)), nullptr);  // no match function
    void* onlyData = only->data;
    EXPECT_EQ(ZVContainerRemoveObjLC(noMatch, ZV_CONTAINER_LAST, nullptr), onlyData);
    EXPECT_EQ(FIELD(noMatch->head), nullptr);
    EXPECT_EQ(FIELD(noMatch->tail), nullptr);
    EXPECT_EQ(FIELD(noMatch->count), 0u);
    EXPECT_EQ(FIELD(only->data), nullptr);
    EXPECT_EQ(FIELD(only->prev), nullptr);
    EXPECT_EQ(FIELD(noMatch->freeList), only);
    ZVDestroyContainer(noMatch);

    ZVContainer* c = ZVCreateContainerEx(MatchInt, nullptr, sizeof(int), 8, 8);
    std::vector<ZVContainerObj*> objs;
    for (int v = 0; v < 6; ++v) objs.push_back(Add(c, v));
    // Removal by data pointer is not a removal code.
    EXPECT_EQ(ZVContainerRemoveObjLC(c, ZV_CONTAINER_DATA, objs[2]->data), nullptr);
    for (uint32_t code : {0u, 3u, 4u, 6u, 7u, 8u, 9u, 42u})
        EXPECT_EQ(ZVContainerRemoveObjLC(c, code, objs[1]), nullptr) << code;
    EXPECT_EQ(ZVContainerRemoveObjLC(c, ZV_CONTAINER_OBJECT, nullptr), nullptr);
    EXPECT_EQ(ZVContainerRemoveObjLC(c, ZV_CONTAINER_MATCH, Key(17)), nullptr);
    EXPECT_EQ(FIELD(c->count), 6u);

    void* d3 = objs[3]->data;
    EXPECT_EQ(ZVContainerRemoveObjLC(c, ZV_CONTAINER_MATCH, Key(3)), d3);
    EXPECT_EQ(Values(c), std::vector<int>({0, 1, 2, 4, 5}));
    EXPECT_NE(ZVContainerRemoveObjLC(c, ZV_CONTAINER_FIRST, nullptr), nullptr);
    EXPECT_NE(ZVContainerRemoveObjLC(c, ZV_CONTAINER_LAST, nullptr), nullptr);
    EXPECT_EQ(Values(c), std::vector<int>({1, 2, 4}));
    EXPECT_NE(ZVContainerRemoveObjCCL(c, 0, ZV_CONTAINER_OBJECT, objs[2]), nullptr);
    EXPECT_EQ(Values(c), std::vector<int>({1, 4}));
    // An object already removed is in no list.
    EXPECT_EQ(ZVContainerRemoveObjLC(c, ZV_CONTAINER_OBJECT, objs[2]), nullptr);
    EXPECT_EQ(Values(c), std::vector<int>({1, 4}));
    ZVDestroyContainer(c);
}

TEST(ContainerRemoval, DynamicRecordIsFreedAndTheDataReturned) {
    Storage storage;
    ZVContainer* c = ZVCreateContainer(storage.get(), nullptr, nullptr, nullptr);
    int values[3] = {10, 20, 30};
    for (int& v : values) ZVContainerInsertObjLC(c, ZVContainerNewObj(c, &v), ZV_CONTAINER_LAST);
    EXPECT_EQ(ZVContainerRemoveObjLC(c, ZV_CONTAINER_OBJECT, c->head->next), &values[1]);
    EXPECT_EQ(FIELD(c->head->next), FIELD(c->tail));
    EXPECT_EQ(FIELD(c->tail->prev), FIELD(c->head));
    EXPECT_EQ(ZVContainerRemoveObjLC(c, ZV_CONTAINER_FIRST, nullptr), &values[0]);
    EXPECT_EQ(ZVContainerRemoveObjLC(c, ZV_CONTAINER_FIRST, nullptr), &values[2]);
    EXPECT_EQ(ZVContainerRemoveObjLC(c, ZV_CONTAINER_FIRST, nullptr), nullptr);
    EXPECT_EQ(FIELD(c->freeList), nullptr);
    ZVDestroyContainer(c);
}

TEST(ContainerLockAndInsert, ModesWithoutConflict) {
    ZVContainer* c = ZVCreateContainerEx(nullptr, nullptr, sizeof(int), 8, 8);
    EXPECT_EQ(ZVContainerLockAndInsertObjLC(nullptr, NewHolding(c, 0), ZV_CONTAINER_LAST, 2), kNoObj);

    // Mode 0 takes no hold and never waits, even on an exclusively held object.
    ZVContainerObj* held = NewHolding(c, 1);
    ASSERT_NE(ZVContainerLockObj(c, held), nullptr);
    EXPECT_EQ(ZVContainerLockAndInsertObjLC(c, held, ZV_CONTAINER_LAST, 0), held);
    EXPECT_EQ(FIELD(held->lockMode), 2);
    EXPECT_EQ(FIELD(held->lockCount), 1);

    ZVContainerObj* shared = NewHolding(c, 2);
    EXPECT_EQ(ZVContainerLockAndInsertObjLC(c, shared, ZV_CONTAINER_LAST, 1), shared);
    EXPECT_EQ(FIELD(shared->lockMode), 1);
    EXPECT_EQ(FIELD(shared->lockCount), 1);

    // A hold taken before insertion: a second shared one is granted at once.
    ZVContainerObj* twice = NewHolding(c, 3);
    twice->lockMode = 1;
    twice->lockCount = 1;
    EXPECT_EQ(ZVContainerLockAndInsertObjCCL(c, 0, twice, ZV_CONTAINER_FIRST, 1), twice);
    EXPECT_EQ(FIELD(twice->lockCount), 2);
    EXPECT_EQ(FIELD(c->head), twice);

    // A refused position gives the hold back: the fields are as before.
    ZVContainerObj* refused = NewHolding(c, 4);
    EXPECT_EQ(ZVContainerLockAndInsertObjLC(c, refused, 77, 2), kNoObj);
    EXPECT_EQ(FIELD(refused->lockMode), 0);
    EXPECT_EQ(FIELD(refused->lockCount), 0);
    EXPECT_EQ(ZVContainerLockAndInsertObjLC(c, shared, 77, 1), kNoObj);  // granted, refused, given back
    EXPECT_EQ(FIELD(shared->lockMode), 1);
    EXPECT_EQ(FIELD(shared->lockCount), 1);
    EXPECT_EQ(ZVContainerObjCount(c), 3u);
    EXPECT_EQ(Values(c), std::vector<int>({3, 1, 2}));
    ZVContainerInsertObjLC(c, refused, ZV_CONTAINER_LAST);
    ZVDestroyContainer(c);
}
