// Heap blocks and raw memory operations.
#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "zv.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes At(const void* p, size_t length) {
    const auto* bytes = static_cast<const unsigned char*>(p);
    return Bytes(bytes, bytes + length);
}

TEST(Memory, HeapBlocksAndExhaustion) {
    void* p = ZVReAlloc(nullptr, 64);  // null: a fresh block
    ASSERT_NE(p, nullptr);
    memset(p, 0x11, 64);
    p = ZVReAlloc(p, 4096);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(At(p, 64), Bytes(64, 0x11));
    // A refused growth keeps the old block (4 GiB may be granted where the
    // system overcommits); count * size beyond every heap is refused.
    if (void* grown = ZVReAlloc(p, 0xFFFFFFFFu)) p = grown;
    EXPECT_EQ(At(p, 64), Bytes(64, 0x11));
    ZVFree(p);
    EXPECT_EQ(ZVCalloc(0xFFFFFFFFu, 0xFFFFFFFFu), nullptr);
    void* z = ZVCalloc(100, 4);
    ASSERT_NE(z, nullptr);
    EXPECT_EQ(At(z, 400), Bytes(400, 0));
    ZVFree(z);
    ZVFree(nullptr);
}

TEST(Memory, ZeroFillAndCopyTouchExactlyLengthBytes) {
    // Guards around the area, aligned and not; only the low 8 bits of the fill count.
    const unsigned char source[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    for (uint32_t length : {0u, 1u, 3u, 4u, 5u, 7u, 8u, 13u}) {
        for (int op = 0; op < 6; ++op) {
            Bytes bytes(length + 16, 0xA5), expected = bytes;
            const size_t at = 8 + op % 2;
            if (op < 2) ZVZeroMemory(&bytes[at], length);
            if (op / 2 == 1) ZVFillMemory(&bytes[at], length, 0x1AB);
            if (op / 2 == 2) ZVCopyMemory(&bytes[at], source + 3, length);
            for (uint32_t i = 0; i < length; ++i) expected[at + i] = op < 2 ? 0 : op < 4 ? 0xAB : source[3 + i];
            EXPECT_EQ(bytes, expected) << "length " << length << " op " << op;
        }
    }
}

TEST(Memory, MoveHandlesOverlap) {
    unsigned char up[8] = {1, 2, 3, 4, 5, 6, 7, 8}, down[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(ZVMoveMemory(up + 1, up, 6), up + 1);
    EXPECT_EQ(At(up, 8), (Bytes{1, 1, 2, 3, 4, 5, 6, 8}));
    EXPECT_EQ(ZVMoveMemory(down, down + 2, 6), down);
    EXPECT_EQ(At(down, 8), (Bytes{3, 4, 5, 6, 7, 8, 7, 8}));
}

TEST(Memory, CompareIsUnsignedAndExact) {
    const unsigned char a[] = {0x61, 0x62, 0x63, 0x64}, b[] = {0x61, 0x62, 0x63, 0x65};
    EXPECT_EQ(ZVCompareMemory(a, b, 4), -1);
    EXPECT_EQ(ZVCompareMemory(b, a, 4), 1);
    EXPECT_EQ(ZVCompareMemory(a, b, 3), 0);
    EXPECT_EQ(ZVCompareMemory("\x80", "\x7F", 1), 1);
    EXPECT_EQ(ZVCompareMemory("\0\0\x01", "\0\0\xFF", 3), -1);  // zero bytes are data; exactly -1
    EXPECT_EQ(ZVCompareMemory(nullptr, nullptr, 0), 0);       // length 0 reads nothing
}

}  // namespace
