// Creation, failure values, pooled growth, slot reuse, insertion and removal
// codes, destruction, and events kept from other processes.
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#else
#include <stdlib.h>

#include <string>

#include "child.h"
#endif

#include <vector>

#include "container_util.h"
#include "support.h"

using namespace ctest;

namespace {

std::vector<void*> g_released;
void Record(void* p) { g_released.push_back(p); }
int32_t ExistingMinusAdded(void* existing, void* added) { return Get(existing) - Get(added); }

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
    a->lockMode = a->lockCount = 2;
    EXPECT_EQ(ZVContainerRemoveObjLC(c, ZV_CONTAINER_OBJECT, a), aData);
    EXPECT_NE(ZVContainerRemoveObjLC(c, ZV_CONTAINER_OBJECT, b), nullptr);
    void* place = nullptr;
    EXPECT_EQ(ZVContainerNewObjEx(c, nullptr, &place), b);  // removed last, handed out first
    EXPECT_EQ(std::string(static_cast<char*>(place) + 4, 12) + std::to_string(Get(place)), std::string(12, '\x5C') + "222");
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
    EXPECT_EQ(ZVContainerNewObj(c, nullptr), kNoObj);  // a dynamic object needs data
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

TEST(ContainerInsertion, PositionAndRemovalCodes) {
    ZVContainer* c = ZVCreateContainerEx(MatchInt, nullptr, sizeof(int), 8, 64);
    EXPECT_EQ(ZVContainerRemoveObjLC(c, ZV_CONTAINER_FIRST, nullptr), nullptr);  // empty
    ASSERT_NE(Add(c, 1, 99), kNoObj);  // any code puts the first object in
    ZVContainerObj* spare = New(c, 50);
    for (uint32_t code : {0u, 1u, 2u, 3u, 6u, 7u, 8u, 9u, 11u, 99u})
        EXPECT_EQ(ZVContainerInsertObjLC(c, spare, code), kNoObj) << code;
    EXPECT_EQ(Add(c, 8, ZV_CONTAINER_SORTED), kNoObj);  // without an ordering function
    ZVContainerObj* two = Add(c, 2, ZV_CONTAINER_LAST);
    ASSERT_NE(Add(c, 0, ZV_CONTAINER_FIRST), kNoObj);
    EXPECT_EQ(ZVContainerInsertObjCCL(c, 12345, spare, ZV_CONTAINER_LAST), spare);  // the token is not read
    Add(c, 4);
    EXPECT_EQ(Values(c), std::vector<int>({0, 1, 2, 50, 4}));
    void *spareData = spare->data, *twoData = two->data;  // a removed slot's pointer is cleared
    // DATA is no removal code, though an object holds that pointer.
    for (uint32_t code : {0u, 3u, 4u, 6u, 7u, 8u, 9u, 42u})
        EXPECT_EQ(ZVContainerRemoveObjLC(c, code, code == 3 ? two->data : two), nullptr) << code;
    EXPECT_EQ(ZVContainerRemoveObjLC(c, ZV_CONTAINER_OBJECT, nullptr), nullptr);
    EXPECT_EQ(ZVContainerRemoveObjLC(c, ZV_CONTAINER_MATCH, Key(17)), nullptr);
    EXPECT_EQ(ZVContainerRemoveObjLC(c, ZV_CONTAINER_MATCH, Key(50)), spareData);
    EXPECT_NE(ZVContainerRemoveObjLC(c, ZV_CONTAINER_FIRST, nullptr), nullptr);
    EXPECT_NE(ZVContainerRemoveObjLC(c, ZV_CONTAINER_LAST, nullptr), nullptr);
    EXPECT_EQ(ZVContainerRemoveObjCCL(c, 0, ZV_CONTAINER_OBJECT, two), twoData);
    EXPECT_EQ(Values(c), std::vector<int>({1}));
    EXPECT_NE(ZVContainerRemoveObjLC(c, ZV_CONTAINER_LAST, nullptr), nullptr);
    EXPECT_TRUE(Objects(c).empty());  // head and tail null, count 0
    ZVDestroyContainer(c);

    // Sorted: an equal key goes after the earlier ones.
    c = ZVCreateContainerEx(nullptr, ExistingMinusAdded, sizeof(int), 8, 64);
    std::vector<ZVContainerObj*> o;
    for (int v : {5, 3, 5, 1, 9, 0}) o.push_back(Add(c, v, ZV_CONTAINER_SORTED));
    EXPECT_EQ(Objects(c), std::vector<ZVContainerObj*>({o[5], o[3], o[1], o[0], o[2], o[4]}));
    EXPECT_EQ(ZVContainerRemoveObjLC(c, ZV_CONTAINER_MATCH, Key(5)), nullptr);  // no match function
    ZVDestroyContainer(c);
}

#ifndef _WIN32
// Named events reach every process of the machine, but two processes whose
// containers sit at the same address do not share the containers' events:
// the parent sets its release and pass events, the child's stay unset.
TEST(ContainerModel, ContainersOfTwoProcessesAtOneAddressKeepTheirEvents) {
    zvtest::TempDir dir;
    setenv("ZV_REGISTRY", dir.file("registry.db").c_str(), 1);
    static ctest::Storage storage;
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    ZVContainer* c = ZVCreateContainer(&storage, nullptr, nullptr, nullptr);
    if (pid == 0) {
        alarm(20);
        char go;
        const bool ready = read(pipeFds[0], &go, 1) == 1;
        _exit(ready && WaitForSingleObject(c->releaseEvent, 0) == WAIT_TIMEOUT &&
                      WaitForSingleObject(c->passEvent, 0) == WAIT_TIMEOUT
                  ? 0
                  : 1);
    }
    EXPECT_EQ(ZVSetEvent(c->releaseEvent), 1);
    EXPECT_EQ(ZVSetEvent(c->passEvent), 1);
    EXPECT_EQ(write(pipeFds[1], "g", 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(ZVDestroyContainer(c), 1);
}
#else
// Each process places its container record at one address of its own
// address space; the child is given the address the parent used.
namespace {

ctest::Storage* StorageAt(uintptr_t address) {
    return static_cast<ctest::Storage*>(VirtualAlloc(reinterpret_cast<void*>(address), sizeof(ctest::Storage),
                                                     MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
}

// Exits 0 when a container at the parent's address has unset events, 1
// when it shares the parent's set ones, 2 when the address is taken here.
ZVTEST_CHILD_ROLE(ContainerAtParentsAddress) {
    (void)reportFd;
    ctest::Storage* storage = StorageAt(uintptr_t(strtoull(argument.c_str(), nullptr, 16)));
    if (!storage) return 2;
    ZVContainer* c = ZVCreateContainer(storage, nullptr, nullptr, nullptr);
    return WaitForSingleObject(c->releaseEvent, 0) == WAIT_TIMEOUT &&
                   WaitForSingleObject(c->passEvent, 0) == WAIT_TIMEOUT
               ? 0
               : 1;
}

}  // namespace

TEST(ContainerModel, ContainersOfTwoProcessesAtOneAddressKeepTheirEvents) {
    // A few addresses that a fresh process usually leaves free; the first
    // free in both processes is used.
    int result = 2;
    for (uintptr_t address : {0x3F000000u, 0x2E000000u, 0x1D000000u, 0x4C000000u}) {
        ctest::Storage* storage = StorageAt(address);
        if (!storage) continue;
        ZVContainer* c = ZVCreateContainer(storage, nullptr, nullptr, nullptr);
        EXPECT_EQ(ZVSetEvent(c->releaseEvent), 1);
        EXPECT_EQ(ZVSetEvent(c->passEvent), 1);
        char hex[32];
        snprintf(hex, sizeof hex, "%llx", static_cast<unsigned long long>(address));
        result = zvtest::Child("ContainerAtParentsAddress", hex).Wait(20000);
        EXPECT_EQ(ZVDestroyContainer(c), 1);
        VirtualFree(storage, 0, MEM_RELEASE);
        if (result != 2) break;
    }
    EXPECT_EQ(result, 0);
}
#endif
