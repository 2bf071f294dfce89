// Object locks with waiting threads: the wait step, the release signal of
// unlocking and of removal, failed waits, and a stress run of many threads.
#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "container_util.h"
#include "watchdog.h"

using namespace ctest;
using zv::containers::Waiters;

namespace {

class ContainerWaiting : public ::testing::Test {
  protected:
    ~ContainerWaiting() override { ZVDestroyContainer(c); }

    // Waits until `n` threads are inside the container's wait step.
    void AwaitWaiters(int n) { ASSERT_TRUE(zvtest::WaitUntil([&] { return Waiters(c) == n; })) << Waiters(c); }
    ZVContainerObj* FindAndLock(int key, uint32_t mode) {
        return ZVContainerFindObjAndLockEx(c, ZV_CONTAINER_MATCH, Key(key), mode, nullptr);
    }

    zvtest::Watchdog watchdog_{60};
    ZVContainer* c = ZVCreateContainerEx(MatchInt, nullptr, sizeof(int), 8, 8);
    ZVContainerObj* obj = Add(c, 1);
};

}  // namespace

// Waiters of every mode on an exclusively held object wake when another
// thread gives it back: those searching by key choose again from the head
// and never hold their object in conflicting modes; lock and insert waits
// for the object it was given, and gives back the hold of its refused
// insertion.
TEST_F(ContainerWaiting, WaitersOfEveryModeAreReleasedByAnotherThread) {
    ASSERT_NE(ZVContainerLockObj(c, obj), nullptr);
    EXPECT_EQ(FindAndLock(1, ZV_OBJLOCK_NONE), obj);  // mode 0 never waits
    std::atomic<ZVContainerObj*> fresh{nullptr};
    std::atomic<int> holders[3] = {}, done{0};  // by mode
    std::atomic<bool> violated{false};
    auto hold = [&](uint32_t mode) {
        ZVContainerObj* got = FindAndLock(1, mode);
        const int before = holders[mode]++;
        violated = violated || got != fresh.load() || holders[3 - mode] != 0 || (mode == 2 && before > 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        holders[mode]--;
        ZVContainerUnlockObj(c, got);
        done++;
    };
    std::vector<std::thread> threads;
    for (uint32_t mode : {1, 1, 1, 2, 2}) threads.emplace_back(hold, mode);
    threads.emplace_back([&] {
        violated = violated || ZVContainerLockAndInsertObjLC(c, obj, 99, ZV_OBJLOCK_SHARED) != kNoObj;
        done++;
    });
    AwaitWaiters(6);
    // The same key ahead of the held object, inserted without the container
    // lock, which the waiting lock and insert keeps.
    fresh = ZVContainerInsertObjCCL(c, 0, New(c, 1), ZV_CONTAINER_FIRST);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(done.load(), 0);
    EXPECT_EQ(ZVContainerUnlockObj(c, obj), 1);  // by a thread that holds no container lock
    for (std::thread& t : threads) t.join();
    EXPECT_FALSE(violated.load());
    for (ZVContainerObj* o : {obj, fresh.load()}) EXPECT_EQ(FIELD(o->lockMode) + FIELD(o->lockCount), 0);
    EXPECT_EQ(Values(c), std::vector<int>({1, 1}));

    // One shared hold left keeps an exclusive waiter waiting; removing the
    // object, still locked, by a thread that holds no container lock wakes
    // it to choose again.
    for (int i = 0; i < 2; ++i) ASSERT_EQ(FindAndLock(1, ZV_OBJLOCK_SHARED), fresh.load());
    std::atomic<ZVContainerObj*> late{nullptr};
    std::thread waiter([&] { late = FindAndLock(1, ZV_OBJLOCK_EXCLUSIVE); });
    AwaitWaiters(1);
    EXPECT_EQ(ZVContainerUnlockObj(c, fresh), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(late.load(), nullptr);
    EXPECT_NE(ZVContainerRemoveObjCCL(c, 0, ZV_CONTAINER_OBJECT, fresh), nullptr);
    waiter.join();
    EXPECT_EQ(late.load(), obj);
    EXPECT_EQ(Waiters(c), 0);
}

// Events that could not be made: a wait fails at once, and find and lock
// reports -1, leaving the cursor.
TEST_F(ContainerWaiting, FailedWaitsWithoutEvents) {
    ZVCloseEvent(c->releaseEvent);
    ZVCloseEvent(c->passEvent);
    c->releaseEvent = c->passEvent = ZV_INVALID_HANDLE;
    ASSERT_EQ(ZVContainerFindObjEx(c, ZV_CONTAINER_LAST, nullptr, nullptr), kNoObj);
    ASSERT_NE(ZVContainerLockObj(c, obj), nullptr);
    EXPECT_EQ(FindAndLock(1, ZV_OBJLOCK_SHARED), kNoObj);
    EXPECT_EQ(FIELD(c->cursor), nullptr);
    EXPECT_EQ(Waiters(c), 0);
}

// ---- Stress: threads find and lock, unlock, insert and remove on one
// container for a bounded time.

namespace {

constexpr int kPermanentKeys = 4;  // keys 0-3 name one object each, never removed
constexpr int kKeys = 8;
constexpr int kMaxIds = 1 << 20;

int KeyOf(int id) { return id < kPermanentKeys ? id : kPermanentKeys + id % (kKeys - kPermanentKeys); }

// The data of every object starts with its id.
uint16_t MatchKey(void* data, void* key) { return KeyOf(Get(data)) == int(reinterpret_cast<intptr_t>(key)) ? 0 : 1; }

struct Stress {
    bool pooled;
    Storage storage;
    ZVContainer* c = pooled ? ZVCreateContainerEx(MatchKey, nullptr, sizeof(int), 16, kMaxIds)
                            : ZVCreateContainer(storage.bytes, MatchKey, nullptr, nullptr);
    std::vector<int> ids = std::vector<int>(kMaxIds);
    // Per id: n > 0 shared holders, -1 one exclusive holder.
    std::vector<std::atomic<int>> holders = std::vector<std::atomic<int>>(kMaxIds);
    std::atomic<int> nextId{0};
    std::atomic<long> inserted{0}, removed{0}, violations{0};
    explicit Stress(bool isPooled) : pooled(isPooled) {}

    // Counts this thread among o's holders for a moment, checking that none
    // of them excludes another.
    void Use(ZVContainerObj* o, uint32_t mode) {
        std::atomic<int>& holder = holders[Get(o->data)];
        int none = 0;
        violations += mode == ZV_OBJLOCK_EXCLUSIVE ? !holder.compare_exchange_strong(none, -1) : holder++ < 0;
        std::this_thread::yield();
        holder.fetch_sub(mode == ZV_OBJLOCK_EXCLUSIVE ? -1 : 1);
    }

    // Inserts a new object, with an exclusive hold taken on the way in or not.
    void Insert(uint32_t position, uint32_t mode) {
        const int id = nextId++;
        void* area = nullptr;
        ZVContainerObj* o = id < kMaxIds ? ZVContainerNewObjEx(c, &(ids[id] = id), &area) : kNoObj;
        if (o == kNoObj) return;
        if (pooled) Put(area, id);
        violations += ZVContainerLockAndInsertObjLC(c, o, position, mode) != o;
        inserted++;
        if (mode == ZV_OBJLOCK_NONE) return;
        Use(o, mode);
        ZVContainerUnlockObj(c, o);
    }

    void Worker(unsigned seed, std::chrono::steady_clock::time_point end) {
        std::minstd_rand rng(seed);
        while (std::chrono::steady_clock::now() < end) {
            const unsigned op = rng() % 10;
            if (op < 6) {
                // Find and lock; ops 4 and 5 take a removable key exclusively and remove it.
                const bool remove = op >= 4;
                const int key = remove ? kPermanentKeys + int(rng() % (kKeys - kPermanentKeys)) : int(rng() % kKeys);
                const uint32_t mode = remove || rng() % 2 ? ZV_OBJLOCK_EXCLUSIVE : ZV_OBJLOCK_SHARED;
                ZVContainerObj* o = ZVContainerFindObjAndLockEx(c, ZV_CONTAINER_MATCH, Key(key), mode, nullptr);
                if (o == kNoObj) {
                    violations += key < kPermanentKeys;  // always there: every waiter gets it
                    continue;
                }
                void* data = o->data;
                violations += KeyOf(Get(data)) != key;
                Use(o, mode);
                if (!remove)
                    ZVContainerUnlockObj(c, o);
                else if (ZVContainerRemoveObjLC(c, ZV_CONTAINER_OBJECT, o) == data)
                    removed++;
                else
                    violations++;
            } else if (op < 8) {
                Insert(rng() % 2 ? ZV_CONTAINER_LAST : ZV_CONTAINER_FIRST, rng() % 2 ? ZV_OBJLOCK_EXCLUSIVE : 0);
            } else if (op < 9) {
                // A step with the shared cursor (NEXT or PREV); objects may vanish meanwhile.
                ZVContainerFindObjAndLockEx(c, ZV_CONTAINER_NEXT + rng() % 2, nullptr, 0, nullptr);
            } else {
                // The container lock keeps other threads' changes out, and nests.
                uint32_t token;
                ZVContainerLock(c, &token);
                const uint32_t before = ZVContainerObjCount(c);
                std::this_thread::yield();
                Insert(ZV_CONTAINER_FIRST, ZV_OBJLOCK_NONE);
                violations += ZVContainerObjCount(c) != before + 1;
                ZVContainerUnlock(c, token);
            }
        }
    }

    void Run() {
        zvtest::Watchdog watchdog(120, "container stress");
        for (int id = 0; id < kPermanentKeys; ++id) Insert(ZV_CONTAINER_LAST, ZV_OBJLOCK_NONE);
        const auto end = std::chrono::steady_clock::now() +
                         std::chrono::milliseconds(zvtest::kThreadSanitizer ? 1500 : 2500);
        std::vector<std::thread> workers;
        for (unsigned i = 0; i < 6; ++i) workers.emplace_back([this, i, end] { Worker(1234u + i, end); });
        for (std::thread& t : workers) t.join();
        EXPECT_EQ(violations.load(), 0);
        EXPECT_GT(removed.load(), 0);
        EXPECT_EQ(Waiters(c), 0);
        const std::vector<ZVContainerObj*> objs = Objects(c);  // links and count agree
        EXPECT_EQ(long(objs.size()), inserted.load() - removed.load());
        for (ZVContainerObj* o : objs) EXPECT_EQ(FIELD(o->lockMode) + FIELD(o->lockCount), 0);
        ZVDestroyContainer(c);
    }
};

}  // namespace

TEST(ContainerStress, PooledAndDynamicContainersUnderManyThreads) {
    for (bool pooled : {true, false}) {
        SCOPED_TRACE(pooled ? "pooled" : "dynamic");
        Stress(pooled).Run();
    }
}
