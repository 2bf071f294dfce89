// container_util.h - helpers of the container tests.
#ifndef ZV_TEST_CONTAINER_UTIL_H
#define ZV_TEST_CONTAINER_UTIL_H

#include <gtest/gtest.h>
#include <string.h>

#include <type_traits>
#include <vector>

#include "containers/containers.h"
#include "zv.h"

// The records are packed: a field is copied out before gtest binds a
// reference to it, which a misaligned field must not have.
#define FIELD(expr) (static_cast<std::decay_t<decltype(expr)>>(expr))

namespace ctest {

inline ZVContainerObj* const kNoObj = static_cast<ZVContainerObj*>(ZV_INVALID_HANDLE);

// Storage for a dynamic container's record, pointer-aligned.
struct alignas(16) Storage {
    unsigned char bytes[sizeof(ZVContainer)];
};

// A pooled slot's data area is not aligned: values go in and out by copy.
inline void Put(void* area, int value) { memcpy(area, &value, sizeof(value)); }
inline int Get(const void* area) {
    int value;
    memcpy(&value, area, sizeof(value));
    return value;
}

// The objects of the list, head to tail, after checking that the backward
// links, head, tail and count agree with the forward chain.
inline std::vector<ZVContainerObj*> Objects(ZVContainer* c) {
    std::vector<ZVContainerObj*> out;
    ZVContainerObj* prev = nullptr;
    for (ZVContainerObj* o = c->head; o && out.size() <= c->count; prev = o, o = o->next) {
        EXPECT_EQ(FIELD(o->prev), prev);
        out.push_back(o);
    }
    EXPECT_EQ(FIELD(c->tail), prev);
    EXPECT_EQ(out.size(), size_t(c->count));
    return out;
}

// The ints held by a pooled container's objects, head to tail.
inline std::vector<int> Values(ZVContainer* c) {
    std::vector<int> out;
    for (ZVContainerObj* o : Objects(c)) out.push_back(Get(o->data));
    return out;
}

// A new pooled object holding `value`, not inserted.
inline ZVContainerObj* New(ZVContainer* c, int value) {
    void* area = nullptr;
    ZVContainerObj* o = ZVContainerNewObjEx(c, nullptr, &area);
    if (o != kNoObj) Put(area, value);
    return o;
}

// The same, inserted with `position`.
inline ZVContainerObj* Add(ZVContainer* c, int value, uint32_t position = ZV_CONTAINER_LAST) {
    ZVContainerObj* o = New(c, value);
    return o == kNoObj ? o : ZVContainerInsertObjLC(c, o, position);
}

// Match function of pooled containers holding ints: the key is the int.
inline uint16_t MatchInt(void* data, void* key) {
    return Get(data) == int(reinterpret_cast<intptr_t>(key)) ? 0 : 1;
}
inline void* Key(int value) { return reinterpret_cast<void*>(intptr_t(value)); }

}  // namespace ctest

#endif  // ZV_TEST_CONTAINER_UTIL_H
