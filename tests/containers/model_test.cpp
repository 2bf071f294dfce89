// Container records, creation, the container lock, new objects, slot reuse
// and destruction.
#include <stdio.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "container_util.h"
#include "platform/win32.h"
#include "support.h"

using namespace ctest;

namespace {

std::vector<void*> g_released;
void Record(void* p) { g_released.push_back(p); }

bool IsSet(ZVHANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

// The names a container at `address` gives its events.
std::u16string EventName(uintptr_t address, bool pass) {
    char text[32];
    snprintf(text, sizeof(text), "%llx", static_cast<unsigned long long>(address));
    std::u16string name = zvtest::W(text);
    if (pass) {
        if (name.size() >= 8) {
            name.back() = char16_t(name.back() + 1);
        } else {
            name += char16_t(1);
        }
    }
    snprintf(text, sizeof(text), ".%x", static_cast<unsigned>(getpid()));
    return name + zvtest::W(text);
}

// Opens the event of that name, sets it, and reports which of the
// container's events became set; resets it again.
void ExpectNameReaches(ZVContainer* c, bool pass) {
    const std::u16string name = EventName(reinterpret_cast<uintptr_t>(c), pass);
    ZVHANDLE opened = ZVOpenEvent(name.c_str());
    ASSERT_NE(opened, ZV_INVALID_HANDLE) << zvtest::N(name.c_str());
    ZVSetEvent(opened);
    EXPECT_EQ(IsSet(c->releaseEvent), !pass);
    EXPECT_EQ(IsSet(c->passEvent), pass);
    ZVResetEvent(opened);
    ZVCloseEvent(opened);
}

}  // namespace

TEST(ContainerModel, DynamicCreationFillsTheCallersStorage) {
    EXPECT_EQ(ZVCreateContainer(nullptr, MatchInt, nullptr, Record), kNoContainer);

    Storage storage;
    memset(storage.bytes, 0xA5, sizeof(storage.bytes));
    ZVContainer* c = ZVCreateContainer(storage.get(), MatchInt, nullptr, Record);
    ASSERT_EQ(static_cast<void*>(c), storage.get());
    EXPECT_EQ(FIELD(c->matchFn), MatchInt);
    EXPECT_EQ(FIELD(c->orderFn), nullptr);
    EXPECT_EQ(FIELD(c->releaseFn), Record);
    EXPECT_EQ(FIELD(c->head), nullptr);
    EXPECT_EQ(FIELD(c->tail), nullptr);
    EXPECT_EQ(FIELD(c->cursor), nullptr);
    EXPECT_EQ(FIELD(c->freeList), nullptr);
    EXPECT_EQ(FIELD(c->count), 0u);
    EXPECT_EQ(FIELD(c->waiterCount), 0);
    EXPECT_EQ(FIELD(c->reserved), 10000u);
    EXPECT_EQ(FIELD(c->slotSize), UINT32_MAX);
    EXPECT_EQ(FIELD(c->maxCount), UINT32_MAX);
    EXPECT_EQ(FIELD(c->blockSlots), 1u);
    EXPECT_EQ(FIELD(c->kind), 1);
    ASSERT_NE(FIELD(c->releaseEvent), ZV_INVALID_HANDLE);
    ASSERT_NE(FIELD(c->passEvent), ZV_INVALID_HANDLE);
    EXPECT_FALSE(IsSet(c->releaseEvent));
    EXPECT_FALSE(IsSet(c->passEvent));
    ExpectNameReaches(c, false);
    ExpectNameReaches(c, true);

    g_released.clear();
    EXPECT_EQ(ZVDestroyContainer(c), 1);
    ASSERT_EQ(g_released.size(), 1u);
    EXPECT_EQ(g_released[0], storage.get());
    EXPECT_EQ(ZVDestroyContainer(nullptr), 0);
}

TEST(ContainerModel, PooledCreationLaysOutTheFirstBlock) {
    EXPECT_EQ(ZVCreateContainerEx(nullptr, nullptr, 8, 4, 0), kNoContainer);
    // A block of no slots could never hold an object.
    EXPECT_EQ(ZVCreateContainerEx(nullptr, nullptr, 8, 0, 10), kNoContainer);
    // Sizes past what one heap call can give.
    EXPECT_EQ(ZVCreateContainerEx(nullptr, nullptr, UINT32_MAX - 8, 1, 1), kNoContainer);
    EXPECT_EQ(ZVCreateContainerEx(nullptr, nullptr, 1u << 20, 1u << 13, 1u << 13), kNoContainer);

    const uint32_t header = sizeof(ZVContainerObj);
    ZVContainer* c = ZVCreateContainerEx(MatchInt, nullptr, 10, 7, 4);
    ASSERT_NE(c, kNoContainer);
    EXPECT_EQ(FIELD(c->blockSlots), 4u);  // the smaller of initial and maximum
    EXPECT_EQ(FIELD(c->maxCount), 4u);
    EXPECT_EQ(FIELD(c->slotSize), header + 10);
    EXPECT_EQ(FIELD(c->kind), 0);
    EXPECT_EQ(FIELD(c->releaseFn), nullptr);
    EXPECT_EQ(FIELD(c->reserved), 10000u);
    char* base = reinterpret_cast<char*>(c);
    ZVContainerObj* slot = c->freeList;
    ASSERT_EQ(reinterpret_cast<char*>(slot), base + sizeof(ZVContainer));
    for (int i = 0; i < 4; ++i) {
        ASSERT_NE(slot, nullptr);
        EXPECT_EQ(reinterpret_cast<char*>(slot), base + sizeof(ZVContainer) + i * (header + 10));
        EXPECT_EQ(FIELD(slot->data), reinterpret_cast<char*>(slot) + header);
        EXPECT_EQ(FIELD(slot->blockHead), 0);
        EXPECT_EQ(FIELD(slot->prev), nullptr);
        slot = slot->next;
    }
    EXPECT_EQ(slot, nullptr);
    ExpectNameReaches(c, false);
    ExpectNameReaches(c, true);
    EXPECT_EQ(ZVDestroyContainer(c), 1);
}

// For a short address the pass event needs a name of its own; for a long
// one, raising a middle digit would give another container's name.
TEST(ContainerModel, EventNamesAreDistinctForShortAndLongAddresses) {
    int tried = 0;
    // The last one has a low half with leading zeros.  Some addresses are
    // not available under a sanitizer; those are left out.
    for (uintptr_t page : {uintptr_t(0x10000), uintptr_t(0x1000000), uintptr_t(0x10000000),
                           uintptr_t(0x2000001000)}) {
        void* mapped = mmap(reinterpret_cast<void*>(page), 4096, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (mapped != reinterpret_cast<void*>(page)) {
            if (mapped != MAP_FAILED) munmap(mapped, 4096);
            continue;
        }
        ++tried;
        for (uintptr_t offset : {uintptr_t(0), uintptr_t(8)}) {
            ZVContainer* c = ZVCreateContainer(reinterpret_cast<char*>(mapped) + offset, nullptr, nullptr,
                                               nullptr);
            ExpectNameReaches(c, false);
            ExpectNameReaches(c, true);
            ZVDestroyContainer(c);
        }
        munmap(mapped, 4096);
    }
    if (tried == 0) GTEST_SKIP() << "no low address could be mapped";

    // Two records 64 KiB apart: their names differ in the fifth digit from
    // the end, where the pass name of one must not meet the other's.
    const size_t span = 0x20000;
    char* area = static_cast<char*>(
        mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(area, MAP_FAILED);
    ZVContainer* first = ZVCreateContainer(area, nullptr, nullptr, nullptr);
    ZVContainer* second = ZVCreateContainer(area + 0x10000, nullptr, nullptr, nullptr);
    ZVSetEvent(first->passEvent);
    ZVSetEvent(first->releaseEvent);
    EXPECT_FALSE(IsSet(second->releaseEvent));
    EXPECT_FALSE(IsSet(second->passEvent));
    ZVDestroyContainer(first);
    ZVDestroyContainer(second);
    munmap(area, span);
}

TEST(ContainerModel, ContainerLockStoresTokenAndExcludesOtherThreads) {
    uint32_t token = 77;
    EXPECT_EQ(ZVContainerLock(nullptr, &token), 0);
    EXPECT_EQ(token, 77u);
    EXPECT_EQ(ZVContainerUnlock(nullptr, 0), 0);
    EXPECT_EQ(ZVContainerObjCount(nullptr), 0u);

    ZVContainer* c = ZVCreateContainerEx(nullptr, nullptr, sizeof(int), 4, 8);
    ASSERT_EQ(ZVContainerLock(c, &token), 1);
    EXPECT_EQ(token, 0u);
    ASSERT_EQ(ZVContainerLock(c, &token), 1);  // re-entrant
    // A CCL call runs under the caller's hold; an LC call of the same
    // thread nests in it.
    ASSERT_NE(ZVContainerInsertObjCCL(c, token, ZVContainerNewObj(c, nullptr), ZV_CONTAINER_LAST), kNoObj);
    ASSERT_NE(Add(c, 2), kNoObj);

    std::atomic<bool> inserted{false};
    std::thread other([&] {
        Add(c, 3);
        inserted = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(inserted.load());
    // Only objects in the list count, read without the container lock.
    EXPECT_EQ(ZVContainerObjCount(c), 2u);
    EXPECT_EQ(ZVContainerUnlock(c, token), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(inserted.load());  // still held once
    EXPECT_EQ(ZVContainerUnlock(c, token), 1);
    other.join();
    EXPECT_TRUE(inserted.load());
    EXPECT_EQ(ZVContainerObjCount(c), 3u);
    ZVDestroyContainer(c);
}

TEST(ContainerModel, NewObjectsFailWhereTheyMust) {
    EXPECT_EQ(ZVContainerNewObj(nullptr, this), kNoObj);
    void* place = this;
    EXPECT_EQ(ZVContainerNewObjEx(nullptr, this, &place), kNoObj);
    EXPECT_EQ(place, nullptr);

    Storage storage;
    ZVContainer* dynamic = ZVCreateContainer(storage.get(), nullptr, nullptr, nullptr);
    place = this;
    EXPECT_EQ(ZVContainerNewObjEx(dynamic, nullptr, &place), kNoObj);  // dynamic needs data
    EXPECT_EQ(place, nullptr);
    int value = 5;
    ZVContainerObj* obj = ZVContainerNewObjEx(dynamic, &value, &place);
    ASSERT_NE(obj, kNoObj);
    EXPECT_EQ(place, &value);
    EXPECT_EQ(FIELD(obj->data), &value);
    EXPECT_EQ(FIELD(obj->blockHead), 1);
    EXPECT_EQ(FIELD(obj->lockMode), 0);
    EXPECT_EQ(FIELD(obj->lockCount), 0);
    EXPECT_EQ(ZVContainerObjCount(dynamic), 0u);  // made, not inserted
    ZVContainerObj* second = ZVContainerNewObjEx(dynamic, &value, nullptr);
    ASSERT_NE(second, kNoObj);
    ZVContainerInsertObjLC(dynamic, obj, ZV_CONTAINER_LAST);
    ZVContainerInsertObjLC(dynamic, second, ZV_CONTAINER_LAST);
    ZVDestroyContainer(dynamic);

    // Full: free list empty and the count at the maximum.
    ZVContainer* pooled = ZVCreateContainerEx(nullptr, nullptr, 4, 5, 10);
    for (int i = 0; i < 10; ++i) ASSERT_NE(Add(pooled, i), kNoObj) << i;
    EXPECT_EQ(FIELD(pooled->freeList), nullptr);
    place = this;
    EXPECT_EQ(ZVContainerNewObjEx(pooled, nullptr, &place), kNoObj);
    EXPECT_EQ(place, nullptr);
    EXPECT_NE(ZVContainerRemoveObjLC(pooled, ZV_CONTAINER_FIRST, nullptr), nullptr);
    EXPECT_NE(ZVContainerNewObj(pooled, nullptr), kNoObj);
    ZVDestroyContainer(pooled);
}

// Block size 3, maximum 10: the maximum is tested only for equality and only
// with the free list empty, so the list passes it and grows on.
TEST(ContainerModel, PooledGrowthByBlocksPastTheMaximum) {
    ZVContainer* c = ZVCreateContainerEx(nullptr, nullptr, sizeof(int), 3, 10);
    ASSERT_EQ(FIELD(c->blockSlots), 3u);
    std::vector<ZVContainerObj*> objs;
    for (int i = 0; i < 12; ++i) {
        objs.push_back(Add(c, i));
        ASSERT_NE(objs.back(), kNoObj) << i;
    }
    EXPECT_EQ(ZVContainerObjCount(c), 12u);
    EXPECT_EQ(FIELD(c->freeList), nullptr);
    // Slots 0-2 live in the container's allocation; each later block starts
    // with a block head followed by two plain slots.
    for (int i = 0; i < 12; ++i) EXPECT_EQ(FIELD(objs[i]->blockHead), (i >= 3 && i % 3 == 0) ? 1 : 0) << i;
    for (int i : {3, 6, 9}) {
        EXPECT_EQ(reinterpret_cast<char*>(objs[i + 1]), reinterpret_cast<char*>(objs[i]) + c->slotSize);
    }
    ZVContainerObj* thirteenth = ZVContainerNewObj(c, nullptr);
    ASSERT_NE(thirteenth, kNoObj);
    EXPECT_EQ(FIELD(thirteenth->blockHead), 1);
    EXPECT_NE(FIELD(c->freeList), nullptr);  // the rest of the new block
    ASSERT_NE(ZVContainerInsertObjLC(c, thirteenth, ZV_CONTAINER_LAST), kNoObj);
    std::vector<int> expected;
    for (int i = 0; i < 12; ++i) expected.push_back(i);
    expected.push_back(Get(thirteenth->data));
    EXPECT_EQ(Values(c), expected);
    // Made but never inserted objects are not counted against the maximum.
    ZVContainer* d = ZVCreateContainerEx(nullptr, nullptr, 1, 2, 2);
    std::vector<ZVContainerObj*> loose;
    for (int i = 0; i < 5; ++i) {
        loose.push_back(ZVContainerNewObj(d, nullptr));
        EXPECT_NE(loose.back(), kNoObj);
    }
    for (ZVContainerObj* o : loose) ZVContainerInsertObjLC(d, o, ZV_CONTAINER_FIRST);
    EXPECT_EQ(ZVContainerObjCount(d), 5u);
    ZVDestroyContainer(d);
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
    EXPECT_EQ(ZVContainerRemoveObjLC(c, ZV_CONTAINER_OBJECT, b), static_cast<char*>(aData) + c->slotSize);
    EXPECT_EQ(FIELD(c->freeList), b);
    EXPECT_EQ(FIELD(b->next), a);
    EXPECT_EQ(FIELD(b->data), nullptr);

    void* place = nullptr;
    EXPECT_EQ(ZVContainerNewObjEx(c, nullptr, &place), b);  // removed last, handed out first
    EXPECT_EQ(Get(place), 222);
    for (int i = 4; i < 16; ++i) EXPECT_EQ(static_cast<unsigned char*>(place)[i], 0x5C);
    ZVContainerObj* again = ZVContainerNewObj(c, nullptr);
    EXPECT_EQ(again, a);
    EXPECT_EQ(FIELD(again->data), aData);
    EXPECT_EQ(Get(aData), 111);
    EXPECT_EQ(FIELD(again->lockMode), 0);  // cleared when handed out again
    EXPECT_EQ(FIELD(again->lockCount), 0);
    ZVContainerInsertObjLC(c, again, ZV_CONTAINER_LAST);
    ZVContainerInsertObjLC(c, b, ZV_CONTAINER_LAST);
    ZVDestroyContainer(c);
}

TEST(ContainerModel, DestructionReleasesInListOrderThenTheRecord) {
    Storage storage;
    ZVContainer* c = ZVCreateContainer(storage.get(), nullptr, nullptr, Record);
    int values[4] = {0, 1, 2, 3};
    for (int i : {2, 0, 3}) ZVContainerInsertObjLC(c, ZVContainerNewObj(c, &values[i]), ZV_CONTAINER_LAST);
    ZVContainerInsertObjLC(c, ZVContainerNewObj(c, &values[1]), ZV_CONTAINER_FIRST);
    // Neither in the list nor anywhere the container knows: not seen.
    ZVContainerObj* loose = ZVContainerNewObj(c, &values[0]);
    g_released.clear();
    EXPECT_EQ(ZVDestroyContainer(c), 1);
    const std::vector<void*> expected = {&values[1], &values[2], &values[0], &values[3], storage.get()};
    EXPECT_EQ(g_released, expected);
    ZVFree(loose);  // still ours: a second free would be caught by AddressSanitizer

    // Without a release function only the records go.
    c = ZVCreateContainer(storage.get(), nullptr, nullptr, nullptr);
    for (int& v : values) ZVContainerInsertObjLC(c, ZVContainerNewObj(c, &v), ZV_CONTAINER_LAST);
    g_released.clear();
    EXPECT_EQ(ZVDestroyContainer(c), 1);
    EXPECT_TRUE(g_released.empty());

    // A pooled block whose first slot is in the caller's hands stays.
    ZVContainer* p = ZVCreateContainerEx(nullptr, nullptr, 8, 1, 5);
    ZVContainerObj* inList = ZVContainerNewObj(p, nullptr);
    ZVContainerObj* blockStart = ZVContainerNewObj(p, nullptr);
    ASSERT_EQ(FIELD(blockStart->blockHead), 1);
    ZVContainerInsertObjLC(p, inList, ZV_CONTAINER_LAST);
    ZVContainerObj* other = Add(p, 4);  // a third block, in the list
    ASSERT_EQ(FIELD(other->blockHead), 1);
    EXPECT_EQ(ZVDestroyContainer(p), 1);
    ZVFree(blockStart);
}
