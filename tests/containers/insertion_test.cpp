// Insertion, sorted insertion, removal and lock-and-insert without waiting.
#include <vector>

#include "container_util.h"

using namespace ctest;

namespace {

int32_t ExistingMinusAdded(void* existing, void* added) { return Get(existing) - Get(added); }

}  // namespace

TEST(ContainerInsertion, PositionCodes) {
    ZVContainer* c = ZVCreateContainerEx(nullptr, ExistingMinusAdded, sizeof(int), 8, 64);
    ASSERT_NE(Add(c, 1, 99), kNoObj);  // any code puts the first object in
    ZVContainerObj* spare = New(c, 50);
    for (uint32_t code : {0u, 1u, 2u, 3u, 6u, 7u, 8u, 9u, 11u, 99u})
        EXPECT_EQ(ZVContainerInsertObjLC(c, spare, code), kNoObj) << code;
    ASSERT_NE(Add(c, 2, ZV_CONTAINER_LAST), kNoObj);
    ASSERT_NE(Add(c, 0, ZV_CONTAINER_FIRST), kNoObj);
    EXPECT_EQ(ZVContainerInsertObjCCL(c, 12345, spare, ZV_CONTAINER_LAST), spare);  // the token is not read
    EXPECT_EQ(Values(c), std::vector<int>({0, 1, 2, 50}));
    ZVDestroyContainer(c);

    // Sorted: an equal key goes after the earlier ones.
    c = ZVCreateContainerEx(nullptr, ExistingMinusAdded, sizeof(int), 8, 64);
    std::vector<ZVContainerObj*> o;
    for (int v : {5, 3, 5, 1, 9, 0}) o.push_back(Add(c, v, ZV_CONTAINER_SORTED));
    EXPECT_EQ(Objects(c), std::vector<ZVContainerObj*>({o[5], o[3], o[1], o[0], o[2], o[4]}));
    ZVDestroyContainer(c);

    // Without an ordering function there is no place but the first.
    c = ZVCreateContainerEx(nullptr, nullptr, sizeof(int), 4, 4);
    ASSERT_NE(Add(c, 7, ZV_CONTAINER_SORTED), kNoObj);
    EXPECT_EQ(Add(c, 8, ZV_CONTAINER_SORTED), kNoObj);
    EXPECT_EQ(Values(c), std::vector<int>({7}));
    ZVDestroyContainer(c);
}

TEST(ContainerRemoval, CodesResultsAndLinks) {
    ZVContainer* c = ZVCreateContainerEx(MatchInt, nullptr, sizeof(int), 8, 8);
    EXPECT_EQ(ZVContainerRemoveObjLC(c, ZV_CONTAINER_FIRST, nullptr), nullptr);  // empty
    std::vector<ZVContainerObj*> o;
    for (int v = 0; v < 6; ++v) o.push_back(Add(c, v));
    // DATA is no removal code, though an object holds that pointer.
    for (uint32_t code : {0u, 3u, 4u, 6u, 7u, 8u, 9u, 42u})
        EXPECT_EQ(ZVContainerRemoveObjLC(c, code, code == 3 ? o[1]->data : o[1]), nullptr) << code;
    EXPECT_EQ(ZVContainerRemoveObjLC(c, ZV_CONTAINER_OBJECT, nullptr), nullptr);
    EXPECT_EQ(ZVContainerRemoveObjLC(c, ZV_CONTAINER_MATCH, Key(17)), nullptr);
    void* d3 = o[3]->data;
    EXPECT_EQ(ZVContainerRemoveObjLC(c, ZV_CONTAINER_MATCH, Key(3)), d3);
    EXPECT_NE(ZVContainerRemoveObjLC(c, ZV_CONTAINER_FIRST, nullptr), nullptr);
    EXPECT_NE(ZVContainerRemoveObjLC(c, ZV_CONTAINER_LAST, nullptr), nullptr);
    EXPECT_NE(ZVContainerRemoveObjCCL(c, 0, ZV_CONTAINER_OBJECT, o[2]), nullptr);
    EXPECT_EQ(Values(c), std::vector<int>({1, 4}));
    void* d1 = o[1]->data;
    EXPECT_NE(ZVContainerRemoveObjLC(c, ZV_CONTAINER_LAST, nullptr), nullptr);
    EXPECT_EQ(ZVContainerRemoveObjLC(c, ZV_CONTAINER_LAST, nullptr), d1);
    EXPECT_TRUE(Objects(c).empty());  // head and tail null, count 0
    EXPECT_EQ(FIELD(c->freeList), o[1]);
    ZVDestroyContainer(c);

    c = ZVCreateContainerEx(nullptr, nullptr, sizeof(int), 1, 1);
    Add(c, 3);
    EXPECT_EQ(ZVContainerRemoveObjLC(c, ZV_CONTAINER_MATCH, Key(3)), nullptr);  // no match function
    ZVDestroyContainer(c);
}

TEST(ContainerLockAndInsert, ModesWithoutConflict) {
    ZVContainer* c = ZVCreateContainerEx(nullptr, nullptr, sizeof(int), 8, 8);
    ZVContainerObj* held = New(c, 1);  // mode 0 takes no hold and never waits
    ASSERT_NE(ZVContainerLockObj(c, held), nullptr);
    EXPECT_EQ(ZVContainerLockAndInsertObjLC(c, held, ZV_CONTAINER_LAST, 0), held);
    EXPECT_EQ(FIELD(held->lockCount), 1);
    ZVContainerObj* o = New(c, 2);  // a refused position gives back the hold it took
    EXPECT_EQ(ZVContainerLockAndInsertObjLC(c, o, 42, 2), kNoObj);
    EXPECT_EQ(FIELD(o->lockMode) + FIELD(o->lockCount), 0);
    o->lockMode = o->lockCount = 1;  // a shared hold taken before insertion
    EXPECT_EQ(ZVContainerLockAndInsertObjCCL(c, 0, o, ZV_CONTAINER_FIRST, 1), o);  // granted at once
    EXPECT_EQ(FIELD(o->lockMode), 1);
    EXPECT_EQ(FIELD(o->lockCount), 2);
    EXPECT_EQ(Values(c), std::vector<int>({2, 1}));
    ZVDestroyContainer(c);
}
