// The fixed mapping between wide and narrow text.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "zv.h"

namespace {

constexpr char kGuard = '\x5A';
constexpr ZVWCHAR kGuardW = 0xBEEF;

TEST(Conversion, NarrowingKeepsTheLowByte) {
    const ZVWCHAR source[] = {0x0048, 0x0141, 0x00E9, 0xFFE9, 0x7F00 + 'q', 0};
    char dest[8];
    memset(dest, kGuard, sizeof dest);
    ZVToAnsi(dest, source);
    const char expected[] = {0x48, 0x41, char(0xE9), char(0xE9), 'q', 0, kGuard};
    EXPECT_EQ(memcmp(dest, expected, sizeof expected), 0);

    // A unit whose low byte is 0 ends nothing early: it writes a 0 byte.
    const ZVWCHAR hidden[] = {u'a', 0x0100, u'b', 0};
    memset(dest, kGuard, sizeof dest);
    ZVToAnsi(dest, hidden);
    const char expectedHidden[] = {'a', 0, 'b', 0, kGuard};
    EXPECT_EQ(memcmp(dest, expectedHidden, sizeof expectedHidden), 0);

    memset(dest, kGuard, sizeof dest);
    ZVToAnsi(dest, u"");
    EXPECT_EQ(dest[0], 0);
    EXPECT_EQ(dest[1], kGuard);
}

TEST(Conversion, WideningSignExtends) {
    const char source[] = {0x41, char(0xE9), 0x7F, char(0x80), char(0xFF), 0};
    ZVWCHAR dest[8];
    for (ZVWCHAR& c : dest) c = kGuardW;
    ZVFromAnsi(dest, source);
    const ZVWCHAR expected[] = {0x0041, 0xFFE9, 0x007F, 0xFF80, 0xFFFF, 0, kGuardW};
    EXPECT_EQ(memcmp(dest, expected, sizeof expected), 0);

    for (ZVWCHAR& c : dest) c = kGuardW;
    ZVFromAnsi(dest, "");
    EXPECT_EQ(dest[0], 0);
    EXPECT_EQ(dest[1], kGuardW);
}

TEST(Conversion, NarrowTextSurvivesTheRoundTrip) {
    // Every byte value, at every offset and length around the block sizes
    // of the conversion loops, with guards after the destinations.
    std::string all;
    for (int c = 1; c < 256; ++c) all += char(c);
    all += all;
    for (size_t start : {size_t(0), size_t(1), size_t(3), size_t(7)}) {
        for (size_t length = 0; length + start <= all.size(); length += (length < 70 ? 1 : 37)) {
            std::string narrow = all.substr(start, length);
            std::vector<ZVWCHAR> wide(length + 2, kGuardW);
            ZVFromAnsi(wide.data(), narrow.c_str());
            ASSERT_EQ(wide[length], 0) << length;
            ASSERT_EQ(wide[length + 1], kGuardW) << length;
            for (size_t i = 0; i < length; ++i) {
                ASSERT_EQ(wide[i], ZVWCHAR(int16_t(int8_t(narrow[i])))) << i;
            }
            std::vector<char> back(length + 2, kGuard);
            ZVToAnsi(back.data(), wide.data());
            ASSERT_EQ(back[length], 0);
            ASSERT_EQ(back[length + 1], kGuard);
            ASSERT_EQ(std::string(back.data(), length), narrow);
        }
    }
}

TEST(Conversion, WideTextSurvivesOnlyAtTheEdges) {
    const ZVWCHAR kept[] = {0x0001, 0x007F, 0xFF80, 0xFFFF, 0};
    const ZVWCHAR changed[] = {0x0080, 0x00FF, 0x0141, 0};
    char narrow[8];
    ZVWCHAR wide[8];
    ZVToAnsi(narrow, kept);
    ZVFromAnsi(wide, narrow);
    EXPECT_EQ(memcmp(wide, kept, sizeof kept), 0);
    ZVToAnsi(narrow, changed);
    ZVFromAnsi(wide, narrow);
    const ZVWCHAR expected[] = {0xFF80, 0xFFFF, 0x0041, 0};
    EXPECT_EQ(memcmp(wide, expected, sizeof expected), 0);
}

TEST(Conversion, LongStringsConvertExactly) {
    // Strings in heap blocks of exactly their size, at odd offsets, so that
    // a read or write past either end is caught.
    for (uint32_t length : {15u, 16u, 17u, 31u, 4095u, 4096u, 4097u}) {
        for (uint32_t offset = 0; offset < 3; ++offset) {
            std::vector<char> narrowStore(offset + length + 1);
            char* narrow = narrowStore.data() + offset;
            for (uint32_t i = 0; i < length; ++i) narrow[i] = char(1 + (i * 7) % 255);
            narrow[length] = 0;
            std::vector<ZVWCHAR> wideStore(offset + length + 1);
            ZVWCHAR* wide = wideStore.data() + offset;
            ZVFromAnsi(wide, narrow);
            EXPECT_EQ(ZVStrLenW(wide), length);
            std::vector<char> backStore(offset + length + 1);
            char* back = backStore.data() + offset;
            ZVToAnsi(back, wide);
            EXPECT_EQ(memcmp(back, narrow, length + 1), 0) << length << " " << offset;
        }
    }
}

TEST(Conversion, WideCopyReturnsTheDestination) {
    ZVWCHAR dest[8];
    for (ZVWCHAR& c : dest) c = kGuardW;
    const ZVWCHAR source[] = {u'a', 0xFFE9, u'b', 0};
    EXPECT_EQ(ZVToUnicode(dest, source), dest);
    EXPECT_EQ(memcmp(dest, source, sizeof source), 0);
    EXPECT_EQ(dest[4], kGuardW);
    for (ZVWCHAR& c : dest) c = kGuardW;
    EXPECT_EQ(ZVFromUnicode(dest, source), dest);
    EXPECT_EQ(memcmp(dest, source, sizeof source), 0);
    EXPECT_EQ(dest[4], kGuardW);
    EXPECT_EQ(ZVToUnicode(dest, u""), dest);
    EXPECT_EQ(dest[0], 0);
}

TEST(Conversion, SecondNamesAreTheSameFunctions) {
    EXPECT_EQ(reinterpret_cast<void*>(&ZVUnicodeToAnsi), reinterpret_cast<void*>(&ZVToAnsi));
    EXPECT_EQ(reinterpret_cast<void*>(&ZVAnsiToUnicode), reinterpret_cast<void*>(&ZVFromAnsi));
    EXPECT_EQ(reinterpret_cast<void*>(&ZVFromUnicode), reinterpret_cast<void*>(&ZVToUnicode));

    const ZVWCHAR wide[] = {0x0048, 0x0141, 0x00E9, 0};
    char viaFirst[4], viaSecond[4];
    ZVToAnsi(viaFirst, wide);
    ZVUnicodeToAnsi(viaSecond, wide);
    EXPECT_EQ(memcmp(viaFirst, viaSecond, 4), 0);
    ZVWCHAR w1[4], w2[4];
    ZVFromAnsi(w1, viaFirst);
    ZVAnsiToUnicode(w2, viaFirst);
    EXPECT_EQ(memcmp(w1, w2, sizeof w1), 0);
}

}  // namespace
