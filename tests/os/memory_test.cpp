// Heap blocks and raw memory operations.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <vector>

#include "zv.h"

namespace {

constexpr unsigned char kGuard = 0xA5;

// A buffer with guard bytes on both sides of the area under test.
struct Guarded {
    static constexpr uint32_t kPad = 8;
    std::vector<unsigned char> bytes;
    explicit Guarded(uint32_t length) : bytes(length + 2 * kPad, kGuard) {}
    unsigned char* area() { return bytes.data() + kPad; }
    uint32_t Changed() const {
        uint32_t count = 0;
        for (unsigned char b : bytes) count += b != kGuard;
        return count;
    }
    bool GuardsIntact(uint32_t length) const {
        for (uint32_t i = 0; i < kPad; ++i) {
            if (bytes[i] != kGuard || bytes[kPad + length + i] != kGuard) return false;
        }
        return true;
    }
};

TEST(Memory, HeapBlocks) {
    unsigned char* p = static_cast<unsigned char*>(ZVMalloc(64));
    ASSERT_NE(p, nullptr);
    memset(p, 0x11, 64);
    p = static_cast<unsigned char*>(ZVReAlloc(p, 4096));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(p[i], 0x11);  // contents kept
    ZVFree(p);

    uint32_t* z = static_cast<uint32_t*>(ZVCalloc(100, 4));
    ASSERT_NE(z, nullptr);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(z[i], 0u);
    ZVFree(z);

    // ReAlloc of null allocates.
    void* fresh = ZVReAlloc(nullptr, 16);
    EXPECT_NE(fresh, nullptr);
    ZVFree(fresh);
    ZVFree(nullptr);
}

TEST(Memory, HeapExhaustionGivesNullAndKeepsTheOldBlock) {
    // count * size beyond every heap.
    EXPECT_EQ(ZVCalloc(0xFFFFFFFFu, 0xFFFFFFFFu), nullptr);

    // 4 GiB may be granted on a 64-bit machine that overcommits; when it is
    // refused, the old block must be untouched.
    unsigned char* block = static_cast<unsigned char*>(ZVMalloc(8));
    ASSERT_NE(block, nullptr);
    memset(block, 0x42, 8);
    void* grown = ZVReAlloc(block, 0xFFFFFFFFu);
    if (grown == nullptr) {
        for (int i = 0; i < 8; ++i) EXPECT_EQ(block[i], 0x42);
        ZVFree(block);
    } else {
        EXPECT_EQ(static_cast<unsigned char*>(grown)[7], 0x42);
        ZVFree(grown);
    }
}

TEST(Memory, ZeroFillAndCopyTouchExactlyLengthBytes) {
    for (uint32_t length : {0u, 1u, 3u, 4u, 5u, 7u, 8u, 13u}) {
        Guarded zero(length);
        ZVZeroMemory(zero.area(), length);
        EXPECT_EQ(zero.Changed(), length) << length;
        EXPECT_TRUE(zero.GuardsIntact(length)) << length;

        // Only the low 8 bits of the fill value count.
        Guarded fill(length);
        ZVFillMemory(fill.area(), length, 0x1AB);
        for (uint32_t i = 0; i < length; ++i) EXPECT_EQ(fill.area()[i], 0xAB);
        EXPECT_TRUE(fill.GuardsIntact(length)) << length;
        Guarded negative(length);
        ZVFillMemory(negative.area(), length, -1);
        for (uint32_t i = 0; i < length; ++i) EXPECT_EQ(negative.area()[i], 0xFF);
        EXPECT_TRUE(negative.GuardsIntact(length));

        unsigned char source[16];
        for (int i = 0; i < 16; ++i) source[i] = static_cast<unsigned char>(i + 1);
        Guarded copy(length);
        ZVCopyMemory(copy.area(), source, length);
        EXPECT_EQ(memcmp(copy.area(), source, length), 0) << length;
        EXPECT_EQ(copy.Changed(), length);
        EXPECT_TRUE(copy.GuardsIntact(length));
    }
    // Unaligned destination and source.
    unsigned char src[12], dst[12] = {};
    for (int i = 0; i < 12; ++i) src[i] = static_cast<unsigned char>(0xF0 + i);
    ZVCopyMemory(dst + 1, src + 3, 9);
    EXPECT_EQ(memcmp(dst + 1, src + 3, 9), 0);
    EXPECT_EQ(dst[0], 0);
    EXPECT_EQ(dst[10], 0);
}

TEST(Memory, MoveHandlesOverlap) {
    unsigned char up[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(ZVMoveMemory(up + 1, up, 6), up + 1);
    const unsigned char shiftedUp[8] = {1, 1, 2, 3, 4, 5, 6, 8};
    EXPECT_EQ(memcmp(up, shiftedUp, 8), 0);  // no smearing

    unsigned char down[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(ZVMoveMemory(down, down + 2, 6), down);
    const unsigned char shiftedDown[8] = {3, 4, 5, 6, 7, 8, 7, 8};
    EXPECT_EQ(memcmp(down, shiftedDown, 8), 0);

    unsigned char same[3] = {9, 8, 7};
    EXPECT_EQ(ZVMoveMemory(same, same, 0), same);
    EXPECT_EQ(same[0], 9);
}

TEST(Memory, CompareIsUnsignedAndExact) {
    const unsigned char a[] = {0x61, 0x62, 0x63, 0x64};
    const unsigned char b[] = {0x61, 0x62, 0x63, 0x65};
    EXPECT_EQ(ZVCompareMemory(a, b, 4), -1);
    EXPECT_EQ(ZVCompareMemory(b, a, 4), 1);
    EXPECT_EQ(ZVCompareMemory(a, b, 3), 0);
    const unsigned char high[] = {0x80};
    const unsigned char low[] = {0x7F};
    EXPECT_EQ(ZVCompareMemory(high, low, 1), 1);
    EXPECT_EQ(ZVCompareMemory(low, high, 1), -1);
    const unsigned char far[] = {0x00};
    const unsigned char near[] = {0xFF};
    EXPECT_EQ(ZVCompareMemory(far, near, 1), -1);  // exactly -1, not -255
    // Length 0 reads neither area.
    EXPECT_EQ(ZVCompareMemory(nullptr, nullptr, 0), 0);
    // Stops at the first difference: bytes beyond are never read.
    const unsigned char first[] = {1, 2};
    const unsigned char second[] = {1, 3};
    EXPECT_EQ(ZVCompareMemory(first, second, 2), -1);
    // Zero bytes are ordinary data.
    const unsigned char z1[] = {0, 0, 1};
    const unsigned char z2[] = {0, 0, 2};
    EXPECT_EQ(ZVCompareMemory(z1, z2, 3), -1);
}

}  // namespace
