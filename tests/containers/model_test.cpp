// Creation, failure values, pooled growth, slot reuse and destruction.
#include <vector>

#include "container_util.h"

using namespace ctest;

namespace {

std::vector<void*> g_released;
void Record(void* p) { g_released.push_back(p); }

}  // namespace

TEST(ContainerModel, FailureValuesOfTheFamily) {
    EXPECT_EQ(ZVCreateContainer(nullptr, nullptr, nullptr, Record), ZV_INVALID_HANDLE);
    EXPECT_EQ(ZVCreateContainerEx(nullptr, nullptr, 8, 4, 0), ZV_INVALID_HANDLE);
    EXPECT_EQ(ZVCreateContainerEx(nullptr, nullptr, 8, 0, 10), ZV_INVALID_HANDLE);  // blocks of no slots
    EXPECT_EQ(ZVCreateContainerEx(nullptr, nullptr, 1u << 20, 1u << 13, 1u << 13), ZV_INVALID_HANDLE);

    ZVContainer* c = ZVCreateContainerEx(MatchInt, nullptr, sizeof(int), 5, 2);  // blocks of 2
    ZVContainerObj* o = Add(c, 1);
    ZVContainerObj* loose = New(c, 2);
    uint32_t token = 77;
    void* place = &token;
    // A null container: 0, -1 or null, and 1 from the unlock with nothing to do.
    EXPECT_EQ(ZVContainerLock(nullptr, &token) + ZVContainerUnlock(nullptr, 0) + ZVDestroyContainer(nullptr) +
                  ZVContainerObjCount(nullptr) + ZVContainerContainsData(nullptr, o->data) +
                  ZVContainerContainsObj(nullptr, o) + uintptr_t(ZVContainerLockObj(nullptr, o)) +
                  uintptr_t(ZVContainerRemoveObjLC(nullptr, ZV_CONTAINER_FIRST, nullptr)),
              0u);
    EXPECT_EQ(token, 77u);
    EXPECT_EQ(ZVContainerUnlockObj(nullptr, o), 1);
    const std::vector<void*> handles = {
        ZVContainerNewObjEx(nullptr, &token, &place), ZVContainerInsertObjLC(nullptr, loose, ZV_CONTAINER_LAST),
        ZVContainerLockAndInsertObjLC(nullptr, loose, ZV_CONTAINER_LAST, 2),
        ZVContainerFindObjEx(nullptr, ZV_CONTAINER_DATA, nullptr, o->data),
        ZVContainerFindObjAndLockEx(nullptr, ZV_CONTAINER_FIRST, nullptr, 0, nullptr)};
    EXPECT_EQ(handles, std::vector<void*>(5, ZV_INVALID_HANDLE));
    EXPECT_EQ(place, nullptr);
    EXPECT_EQ(FIELD(loose->lockMode), 0);

    // Full: the free list empty and the count at the maximum.
    ASSERT_EQ(ZVContainerInsertObjLC(c, loose, ZV_CONTAINER_LAST), loose);
    place = &token;
    EXPECT_EQ(ZVContainerNewObjEx(c, nullptr, &place), kNoObj);
    EXPECT_EQ(place, nullptr);
    ZVDestroyContainer(c);
    Storage storage;  // a dynamic object needs data
    c = ZVCreateContainer(storage.bytes, nullptr, nullptr, nullptr);
    EXPECT_EQ(ZVContainerNewObj(c, nullptr), kNoObj);
    ZVDestroyContainer(c);
}

// Block size 3, maximum 10: the maximum is tested only for equality and only
// with the free list empty, so the list passes it and grows on.
TEST(ContainerModel, PooledGrowthByBlocksPastTheMaximum) {
    ZVContainer* c = ZVCreateContainerEx(nullptr, nullptr, sizeof(int), 3, 10);
    std::vector<ZVContainerObj*> objs;
    for (int i = 0; i < 13; ++i) {
        EXPECT_TRUE(i < 12 || c->freeList == nullptr);  // twelve in the list, none free
        objs.push_back(Add(c, i));
        ASSERT_NE(objs[i], kNoObj) << i;
        // The first block follows the record; each later one is allocated
        // apart and starts with a block head; slots follow each other.
        char* at = reinterpret_cast<char*>(objs[i]);
        EXPECT_TRUE(i % 3 == 0 || at == reinterpret_cast<char*>(objs[i - 1]) + c->slotSize) << i;
        EXPECT_EQ(FIELD(objs[i]->blockHead), (i >= 3 && i % 3 == 0) ? 1 : 0) << i;
        EXPECT_EQ(FIELD(objs[i]->data), at + sizeof(ZVContainerObj));
    }
    EXPECT_EQ(reinterpret_cast<char*>(objs[0]), reinterpret_cast<char*>(c) + sizeof(ZVContainer));
    EXPECT_EQ(Values(c), std::vector<int>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    ZVDestroyContainer(c);  // frees the added blocks: checked by LeakSanitizer
}

TEST(ContainerModel, ReusedSlotKeepsItsBytesLastInFirstOut) {
    ZVContainer* c = ZVCreateContainerEx(nullptr, nullptr, 16, 4, 4);
    ZVContainerObj* a = Add(c, 111);
    ZVContainerObj* b = Add(c, 222);
    void* aData = a->data;
    memset(static_cast<char*>(b->data) + 4, 0x5C, 12);
    a->lockMode = 2;
    a->lockCount = 9;
    EXPECT_EQ(ZVContainerRemoveObjLC(c, ZV_CONTAINER_OBJECT, a), aData);
    EXPECT_NE(ZVContainerRemoveObjLC(c, ZV_CONTAINER_OBJECT, b), nullptr);
    void* place = nullptr;
    EXPECT_EQ(ZVContainerNewObjEx(c, nullptr, &place), b);  // removed last, handed out first
    EXPECT_EQ(std::string(static_cast<char*>(place) + 4, 12), std::string(12, '\x5C'));
    EXPECT_EQ(Get(place), 222);
    EXPECT_EQ(ZVContainerNewObjEx(c, nullptr, &place), a);
    EXPECT_EQ(place, aData);
    EXPECT_EQ(Get(aData), 111);
    EXPECT_EQ(FIELD(a->lockMode) + FIELD(a->lockCount), 0);  // cleared when handed out again
    ZVDestroyContainer(c);
}

TEST(ContainerModel, DestructionReleasesInListOrderThenTheRecord) {
    Storage storage;
    ZVContainer* c = ZVCreateContainer(storage.bytes, nullptr, nullptr, Record);
    ASSERT_EQ(static_cast<void*>(c), storage.bytes);
    int values[5] = {0, 1, 2, 3, 4};
    for (int i : {1, 2, 4, 0, 3}) ZVContainerInsertObjLC(c, ZVContainerNewObj(c, &values[i]), ZV_CONTAINER_LAST);
    // A removed record is freed and its data handed back (LeakSanitizer).
    EXPECT_EQ(ZVContainerRemoveObjLC(c, ZV_CONTAINER_OBJECT, c->head->next->next), &values[4]);
    // Neither in the list nor anywhere the container knows: not seen.
    ZVContainerObj* loose = ZVContainerNewObj(c, &values[0]);
    EXPECT_EQ(ZVDestroyContainer(c), 1);
    EXPECT_EQ(g_released, (std::vector<void*>{&values[1], &values[2], &values[0], &values[3], storage.bytes}));
    ZVFree(loose);  // still ours: a second free would be caught by AddressSanitizer
}
