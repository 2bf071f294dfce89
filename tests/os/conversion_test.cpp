// The fixed mapping between wide and narrow text.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "zv.h"

namespace {

TEST(Conversion, NarrowingKeepsTheLowByteAndWideningSignExtends) {
    // A unit whose low byte is 0 writes a 0 byte and ends nothing early;
    // 'Z' and 0xBEEF are guards that must stay.
    const ZVWCHAR wide[] = {0x0048, 0x0141, 0x00E9, 0xFFE9, 0x007F, 0x0080, 0x0100, u'q', 0};
    char narrow[10];
    memset(narrow, 'Z', sizeof narrow);
    ZVToAnsi(narrow, wide);
    EXPECT_EQ(std::string(narrow, 10), std::string("HA\xE9\xE9\x7F\x80\0q\0Z", 10));
    ZVWCHAR back[8];
    std::fill(back, back + 8, 0xBEEF);
    ZVFromAnsi(back, narrow);
    EXPECT_EQ(std::u16string(back, 8), (std::u16string{0x48, 0x41, 0xFFE9, 0xFFE9, 0x7F, 0xFF80, 0, 0xBEEF}));
}

TEST(Conversion, NarrowTextSurvivesTheRoundTripExactly) {
    // Every byte value, at lengths and offsets around the conversion loops'
    // blocks, in heap blocks of exactly the text's size so that an overrun shows.
    std::string all;
    for (int i = 0; i < 4097; ++i) all += char(1 + i % 255);
    for (size_t length : {0, 1, 3, 15, 16, 31, 32, 33, 63, 64, 65, 255, 256, 4095, 4096, 4097}) {
        for (size_t offset : {0, 1, 31}) {
            const std::vector<char> narrow(all.c_str() + all.size() - length, all.c_str() + all.size() + 1);
            std::vector<char> back(length + 1);
            std::vector<ZVWCHAR> store(offset + length + 1);
            ZVWCHAR* wide = store.data() + offset;
            ZVFromAnsi(wide, narrow.data());
            for (size_t i = 0; i <= length; ++i) ASSERT_EQ(wide[i], ZVWCHAR(int16_t(int8_t(narrow[i])))) << length;
            ZVToAnsi(back.data(), wide);
            ASSERT_EQ(back, narrow) << length << " at " << offset;
        }
    }
}

TEST(Conversion, WideCopyReturnsTheDestination) {
    ZVWCHAR dest[6];
    for (auto copy : {&ZVToUnicode, &ZVFromUnicode}) {
        std::fill(dest, dest + 6, 0xBEEF);
        EXPECT_EQ(copy(dest, u"a\uFFE9b"), dest);
        EXPECT_EQ(std::u16string(dest, 5), (std::u16string{u'a', 0xFFE9, u'b', 0, 0xBEEF}));
    }
}

}  // namespace
