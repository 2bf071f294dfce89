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

// Waits until `n` threads are inside the container's wait step.
void AwaitWaiters(ZVContainer* c, int n) {
    ASSERT_TRUE(zvtest::WaitUntil([&] { return Waiters(c) == n; })) << "waiters: " << Waiters(c);
}

ZVContainerObj* FindAndLock(ZVContainer* c, int key, uint32_t mode) {
    return ZVContainerFindObjAndLockEx(c, ZV_CONTAINER_MATCH, Key(key), mode, nullptr);
}

}  // namespace

TEST(ContainerWaiting, ExclusiveWaiterGetsTheObjectFoundAgainAfterTheUnlock) {
    zvtest::Watchdog watchdog(60);
    ZVContainer* c = ZVCreateContainerEx(MatchInt, nullptr, sizeof(int), 8, 8);
    ZVContainerObj* held = Add(c, 5);
    ASSERT_NE(ZVContainerLockObj(c, held), nullptr);

    std::atomic<ZVContainerObj*> got{nullptr};
    std::thread waiter([&] { got = FindAndLock(c, 5, ZV_OBJLOCK_EXCLUSIVE); });
    AwaitWaiters(c, 1);
    // Mode 0 never waits, even on an exclusively held object.
    EXPECT_EQ(FindAndLock(c, 5, ZV_OBJLOCK_NONE), held);
    // An object with the same key at the head: chosen once the waiter wakes.
    ZVContainerObj* fresh = Add(c, 5, ZV_CONTAINER_FIRST);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(got.load(), nullptr);
    EXPECT_EQ(ZVContainerUnlockObj(c, held), 1);
    waiter.join();
    EXPECT_EQ(got.load(), fresh);
    EXPECT_EQ(FIELD(fresh->lockMode), 2);
    EXPECT_EQ(FIELD(held->lockMode), 0);
    EXPECT_EQ(FIELD(c->cursor), fresh);
    EXPECT_EQ(Waiters(c), 0);
    ZVDestroyContainer(c);
}

TEST(ContainerWaiting, SharedAndExclusiveWaitersAreReleasedByAnotherThread) {
    zvtest::Watchdog watchdog(60);
    ZVContainer* c = ZVCreateContainerEx(MatchInt, nullptr, sizeof(int), 8, 8);
    ZVContainerObj* obj = Add(c, 1);
    ASSERT_NE(ZVContainerLockObj(c, obj), nullptr);

    std::atomic<int> exclusive{0}, shared{0}, maxShared{0}, done{0};
    std::atomic<bool> violated{false};
    auto hold = [&](uint32_t mode) {
        ZVContainerObj* got = FindAndLock(c, 1, mode);
        if (got != obj) {
            violated = true;
            return;
        }
        if (mode == ZV_OBJLOCK_EXCLUSIVE) {
            if (exclusive.fetch_add(1) != 0 || shared.load() != 0) violated = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            exclusive.fetch_sub(1);
        } else {
            if (exclusive.load() != 0) violated = true;
            int now = shared.fetch_add(1) + 1;
            int seen = maxShared.load();
            while (now > seen && !maxShared.compare_exchange_weak(seen, now)) {
            }
            // Stay until all shared holders are in at once, or a while.
            zvtest::WaitUntil([&] { return shared.load() == 3; }, 2);
            shared.fetch_sub(1);
        }
        ZVContainerUnlockObj(c, obj);
        done.fetch_add(1);
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i) threads.emplace_back(hold, ZV_OBJLOCK_SHARED);
    AwaitWaiters(c, 3);
    for (int i = 0; i < 2; ++i) threads.emplace_back(hold, ZV_OBJLOCK_EXCLUSIVE);
    AwaitWaiters(c, 5);
    EXPECT_EQ(done.load(), 0);
    // Given back by a thread other than the waiters, with no container lock.
    EXPECT_EQ(ZVContainerUnlockObj(c, obj), 1);
    for (std::thread& t : threads) t.join();
    EXPECT_FALSE(violated.load());
    EXPECT_EQ(done.load(), 5);
    EXPECT_GE(maxShared.load(), 1);
    EXPECT_EQ(FIELD(obj->lockMode), 0);
    EXPECT_EQ(FIELD(obj->lockCount), 0);
    EXPECT_EQ(Waiters(c), 0);
    ZVDestroyContainer(c);
}

// Lock and insert waits until the object is given back completely; here the
// object is already in the list and the refused position leaves it there.
TEST(ContainerWaiting, LockAndInsertWaitsForTheLastSharedHold) {
    zvtest::Watchdog watchdog(60);
    ZVContainer* c = ZVCreateContainerEx(MatchInt, nullptr, sizeof(int), 8, 8);
    ZVContainerObj* obj = Add(c, 1);
    ASSERT_EQ(FindAndLock(c, 1, ZV_OBJLOCK_SHARED), obj);
    ASSERT_EQ(FindAndLock(c, 1, ZV_OBJLOCK_SHARED), obj);

    std::atomic<bool> returned{false};
    std::atomic<uint8_t> modeInside{0};
    std::thread inserter([&] {
        EXPECT_EQ(ZVContainerLockAndInsertObjLC(c, obj, 99, ZV_OBJLOCK_EXCLUSIVE), kNoObj);
        returned = true;
    });
    AwaitWaiters(c, 1);
    EXPECT_EQ(ZVContainerUnlockObj(c, obj), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned.load());  // one shared hold is left
    modeInside = obj->lockMode;
    EXPECT_EQ(ZVContainerUnlockObj(c, obj), 1);
    inserter.join();
    EXPECT_TRUE(returned.load());
    EXPECT_EQ(modeInside.load(), 1);
    EXPECT_EQ(FIELD(obj->lockMode), 0);  // the refused insertion gave its hold back
    EXPECT_EQ(FIELD(obj->lockCount), 0);
    EXPECT_EQ(Values(c), std::vector<int>({1}));
    ZVDestroyContainer(c);
}

TEST(ContainerWaiting, RemovingALockedObjectWakesItsWaiters) {
    zvtest::Watchdog watchdog(60);
    ZVContainer* c = ZVCreateContainerEx(MatchInt, nullptr, sizeof(int), 8, 8);
    ZVContainerObj* first = Add(c, 1);
    ZVContainerObj* second = Add(c, 2);
    ASSERT_NE(ZVContainerLockObj(c, first), nullptr);

    std::atomic<ZVContainerObj*> byKey{nullptr}, byHead{nullptr};
    std::thread keyWaiter([&] { byKey = FindAndLock(c, 1, ZV_OBJLOCK_SHARED); });
    std::thread headWaiter([&] {
        byHead = ZVContainerFindObjAndLockEx(c, ZV_CONTAINER_FIRST, nullptr, ZV_OBJLOCK_EXCLUSIVE, nullptr);
    });
    AwaitWaiters(c, 2);
    // A CCL removal by a thread that holds no container lock.
    EXPECT_NE(ZVContainerRemoveObjCCL(c, 0, ZV_CONTAINER_OBJECT, first), nullptr);
    keyWaiter.join();
    headWaiter.join();
    EXPECT_EQ(byKey.load(), kNoObj);  // its key is gone
    EXPECT_EQ(byHead.load(), second);  // the new head
    EXPECT_EQ(FIELD(second->lockMode), 2);
    ZVDestroyContainer(c);
}

// A container whose events could not be made: a wait fails at once.  Find
// and lock then reports -1 and leaves the cursor; lock and insert polls.
TEST(ContainerWaiting, FailedWaitsWithoutEvents) {
    zvtest::Watchdog watchdog(60);
    ZVContainer* c = ZVCreateContainerEx(MatchInt, nullptr, sizeof(int), 8, 8);
    ZVCloseEvent(c->releaseEvent);
    ZVCloseEvent(c->passEvent);
    c->releaseEvent = ZV_INVALID_HANDLE;
    c->passEvent = ZV_INVALID_HANDLE;
    ZVContainerObj* a = Add(c, 1);
    ZVContainerObj* b = Add(c, 2);
    ASSERT_EQ(ZVContainerFindObjEx(c, ZV_CONTAINER_DATA, nullptr, b->data), b);
    ASSERT_NE(ZVContainerLockObj(c, a), nullptr);
    EXPECT_EQ(FindAndLock(c, 1, ZV_OBJLOCK_SHARED), kNoObj);
    EXPECT_EQ(FIELD(c->cursor), b);
    EXPECT_EQ(Waiters(c), 0);

    std::atomic<bool> returned{false};
    std::thread inserter([&] {
        ZVContainerLockAndInsertObjCCL(c, 0, a, 99, ZV_OBJLOCK_EXCLUSIVE);
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(returned.load());
    ZVContainerUnlockObj(c, a);
    inserter.join();
    EXPECT_EQ(FIELD(a->lockMode), 0);
    EXPECT_EQ(ZVDestroyContainer(c), 1);  // skips the missing events
}

// ---- Stress ----------------------------------------------------------------

namespace {

constexpr int kPermanentKeys = 4;  // objects that are never removed
constexpr int kKeys = 8;
constexpr int kMaxIds = 1 << 20;

int KeyOf(int id) { return id < kPermanentKeys ? id : kPermanentKeys + id % (kKeys - kPermanentKeys); }

// The data of every object starts with its id.
uint16_t MatchKey(void* data, void* key) { return KeyOf(Get(data)) == int(reinterpret_cast<intptr_t>(key)) ? 0 : 1; }

struct Stress {
    ZVContainer* c;
    bool pooled;
    std::vector<int> idStore = std::vector<int>(kMaxIds);
    // Per id: 0 free, n > 0 shared holders, -1 one exclusive holder.
    std::vector<std::atomic<int>> holders = std::vector<std::atomic<int>>(kMaxIds);
    std::atomic<int> nextId{kPermanentKeys};
    std::atomic<long> inserted{0}, removed{0}, locks{0}, waitsMissed{0}, sharingViolations{0};

    explicit Stress(bool isPooled, void* storage) : pooled(isPooled) {
        c = pooled ? ZVCreateContainerEx(MatchKey, nullptr, 2 * sizeof(int), 16, 1u << 20)
                   : ZVCreateContainer(storage, MatchKey, nullptr, nullptr);
        for (int i = 0; i < kMaxIds; ++i) idStore[i] = i;
        for (int id = 0; id < kPermanentKeys; ++id) Insert(id, ZV_CONTAINER_LAST, false);
    }

    void Insert(int id, uint32_t position, bool locked) {
        void* area = nullptr;
        ZVContainerObj* o = ZVContainerNewObjEx(c, &idStore[id], &area);
        if (o == kNoObj) return;
        if (pooled) Put(area, id);
        if (!locked) {
            if (ZVContainerInsertObjLC(c, o, position) != o) sharingViolations++;
            inserted++;
            return;
        }
        if (ZVContainerLockAndInsertObjLC(c, o, position, ZV_OBJLOCK_EXCLUSIVE) != o) sharingViolations++;
        inserted++;
        Hold(o, id, ZV_OBJLOCK_EXCLUSIVE);
        Release(id, ZV_OBJLOCK_EXCLUSIVE);
        ZVContainerUnlockObj(c, o);
    }

    void Hold(ZVContainerObj*, int id, uint32_t mode) {
        if (mode == ZV_OBJLOCK_EXCLUSIVE) {
            int expected = 0;
            if (!holders[id].compare_exchange_strong(expected, -1)) sharingViolations++;
        } else {
            int seen = holders[id].load();
            do {
                if (seen < 0) {
                    sharingViolations++;
                    return;
                }
            } while (!holders[id].compare_exchange_weak(seen, seen + 1));
        }
        locks++;
    }

    void Release(int id, uint32_t mode) {
        if (mode == ZV_OBJLOCK_EXCLUSIVE) {
            holders[id].store(0);
        } else {
            holders[id].fetch_sub(1);
        }
    }

    void Worker(unsigned seed, std::chrono::steady_clock::time_point end) {
        std::minstd_rand rng(seed);
        while (std::chrono::steady_clock::now() < end) {
            const unsigned op = rng() % 10;
            if (op < 4) {
                // Find and lock, hold a moment, give back.
                const int key = int(rng() % kKeys);
                const uint32_t mode = rng() % 2 ? ZV_OBJLOCK_SHARED : ZV_OBJLOCK_EXCLUSIVE;
                ZVContainerObj* o = ZVContainerFindObjAndLockEx(c, ZV_CONTAINER_MATCH, Key(key), mode, nullptr);
                if (o == kNoObj) {
                    if (key < kPermanentKeys) waitsMissed++;  // always there
                    continue;
                }
                const int id = Get(o->data);
                if (KeyOf(id) != key) sharingViolations++;
                Hold(o, id, mode);
                if (rng() % 4 == 0) std::this_thread::yield();
                Release(id, mode);
                ZVContainerUnlockObj(c, o);
            } else if (op < 6) {
                const int id = nextId.fetch_add(1);
                if (id < kMaxIds) Insert(id, rng() % 2 ? ZV_CONTAINER_LAST : ZV_CONTAINER_FIRST, rng() % 2 == 0);
            } else if (op < 8) {
                // Remove an object of a removable key, holding it exclusively.
                const int key = kPermanentKeys + int(rng() % (kKeys - kPermanentKeys));
                ZVContainerObj* o = FindAndLockKey(key, ZV_OBJLOCK_EXCLUSIVE);
                if (o == kNoObj) continue;
                const int id = Get(o->data);
                void* data = o->data;
                Hold(o, id, ZV_OBJLOCK_EXCLUSIVE);
                Release(id, ZV_OBJLOCK_EXCLUSIVE);
                if (ZVContainerRemoveObjLC(c, ZV_CONTAINER_OBJECT, o) != data) sharingViolations++;
                removed++;
            } else if (op < 9) {
                // Walk a step with the shared cursor; objects may vanish meanwhile.
                ZVContainerFindObjAndLockEx(c, rng() % 2 ? ZV_CONTAINER_NEXT : ZV_CONTAINER_PREV, nullptr,
                                            ZV_OBJLOCK_NONE, nullptr);
            } else {
                uint32_t token;
                ZVContainerLock(c, &token);
                const uint32_t before = ZVContainerObjCount(c);
                ZVContainerFindObjEx(c, ZV_CONTAINER_DATA, nullptr, &idStore[rng() % kPermanentKeys]);
                if (ZVContainerObjCount(c) != before) sharingViolations++;  // the container lock excludes changes
                ZVContainerUnlock(c, token);
            }
        }
    }

    ZVContainerObj* FindAndLockKey(int key, uint32_t mode) {
        return ZVContainerFindObjAndLockEx(c, ZV_CONTAINER_MATCH, Key(key), mode, nullptr);
    }

    void Run(int threads, std::chrono::milliseconds length) {
        zvtest::Watchdog watchdog(120, "container stress");
        const auto end = std::chrono::steady_clock::now() + length;
        std::vector<std::thread> workers;
        for (int i = 0; i < threads; ++i) workers.emplace_back([this, i, end] { Worker(1234u + unsigned(i), end); });
        for (std::thread& t : workers) t.join();

        EXPECT_EQ(sharingViolations.load(), 0);
        EXPECT_EQ(waitsMissed.load(), 0);
        EXPECT_GT(locks.load(), 0);
        EXPECT_GT(removed.load(), 0);
        EXPECT_EQ(Waiters(c), 0);
        const std::vector<ZVContainerObj*> objs = Objects(c);
        EXPECT_EQ(long(ZVContainerObjCount(c)), inserted.load() - removed.load());  // permanent ones included
        EXPECT_EQ(objs.size(), size_t(ZVContainerObjCount(c)));
        for (ZVContainerObj* o : objs) {
            EXPECT_EQ(FIELD(o->lockMode), 0);
            EXPECT_EQ(FIELD(o->lockCount), 0);
        }
        for (int id = 0; id < kPermanentKeys; ++id) EXPECT_EQ(ZVContainerContainsData(c, &idStore[id]), pooled ? 0 : 1);
        ZVDestroyContainer(c);
    }
};

std::chrono::milliseconds StressLength() { return std::chrono::milliseconds(zvtest::kThreadSanitizer ? 1500 : 2500); }

}  // namespace

TEST(ContainerStress, PooledContainerUnderManyThreads) {
    Stress stress(true, nullptr);
    stress.Run(6, StressLength());
}

TEST(ContainerStress, DynamicContainerUnderManyThreads) {
    Storage storage;
    Stress stress(false, storage.get());
    stress.Run(6, StressLength());
}
