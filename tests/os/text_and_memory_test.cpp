// Strings, character-set conversion and raw memory: the library's own rules
// (ASCII folding, signed characters, caller-held tokeniser state, 32-bit
// number parsing, the fixed mapping between wide and narrow text).
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "support.h"
#include "zv.h"

namespace {

using zvtest::W;

// What a buffer holds over the length of `expected`, a literal whose
// embedded terminators and guards ('Z', 0xBEEF) count.
template <class C, size_t N>
void ExpectHolds(const C* buffer, const C (&expected)[N]) {
    EXPECT_EQ(std::basic_string<C>(buffer, N - 1), std::basic_string<C>(expected, N - 1));
}

int Sign(int32_t v) { return (v > 0) - (v < 0); }

TEST(Strings, LengthAndCase) {
    char s[] = "q9z\xE9 aZ{`", raw[3] = {'a', 'b', 'c'};  // the bound stops reading: no terminator needed
    const uint32_t lengths[][2] = {
        {ZVStrLenA("h\xE9llo"), 5},  {ZVStrLenW(u""), 0},          {ZVStrNLenA(raw, 3), 3}, {ZVStrNLenA("hello", 0), 0},
        {ZVStrNLenA("hello", 3), 3}, {ZVStrNLenA("hello", 9), 5}, {ZVStrNLenA("", 7), 0},  {ZVStrNLenW(u"hello", 5), 5},
        {ZVStrNLenW(u"hello", 4), 4}};
    for (const auto& [length, expected] : lengths) EXPECT_EQ(length, expected);
    EXPECT_EQ(ZVStrUprA(s), s);
    EXPECT_STREQ(s, "Q9Z\xE9 AZ{`");
    ZVWCHAR w[] = {u'q', 0x00E9, 0xFF41, u'`', u'{', 0};
    EXPECT_EQ(ZVStrUprW(w), w);
    EXPECT_EQ(std::u16string(w), (std::u16string{u'Q', 0x00E9, 0xFF41, u'`', u'{'}));
}

TEST(Strings, Comparisons) {
    // ZVStrCmpA compares unsigned bytes and gives exactly -1, 0 or +1;
    // ZVStrICmpA folds only A-Z, takes bytes as signed and gives the
    // difference.  The wide pair, given the text widened unit per byte,
    // compares unsigned units and folds ASCII letters to lower case.
    const std::tuple<const char*, const char*, int32_t, int32_t, int, int> cases[] = {
        {"abc", "abc", 0, 0, 0, 0},   {"a", "z", -1, -25, -1, -1},       {"ab", "abc", -1, -'c', -1, -1},
        {"Key", "KEY", 1, 0, 1, 0},   {"a", "", 1, 0x61, 1, 1},          {"ABC", "abd", -1, -1, -1, -1},
        {"_", "A", 1, -2, 1, -1},     {"x\x80", "x\x7F", 1, -255, 1, 1}, {"\xE9", "a", 1, -120, 1, 1},
        {"x\xE9", "x", 1, -23, 1, 1}, {"\xC9", "\xE9", -1, -32, -1, -1}};
    for (const auto& [a, b, cmp, icmp, wideCmp, wideICmp] : cases) {
        EXPECT_EQ(ZVStrCmpA(a, b), cmp) << a << " " << b;
        EXPECT_EQ(ZVStrICmpA(a, b), icmp) << a << " " << b;
        EXPECT_EQ(Sign(ZVStrCmpW(W(a).c_str(), W(b).c_str())), wideCmp) << a << " " << b;
        EXPECT_EQ(Sign(ZVStrICmpW(W(a).c_str(), W(b).c_str())), wideICmp) << a << " " << b;
    }
    // Bounded: ZVStrNICmpA gives the difference of the last pair compared.
    const ZVWCHAR high[] = {0xFFE9, 0};
    const int32_t bounded[][2] = {
        {ZVStrNICmpA("KEYa", "keyC", 3), 0},         {ZVStrNICmpA("KEYa", "keyC", 4), 0x61 - 0x63},
        {ZVStrNICmpA("Different", "strings", 0), 0}, {ZVStrNICmpA("\x80", "\x7F", 1), -255},
        {ZVStrNICmpW(u"KEYa", u"keyC", 3), 0},      {Sign(ZVStrNICmpW(u"KEYa", u"keyC", 4)), -1},
        {Sign(ZVStrNCmpA("\x80", "\x7F", 1)), 1},   {ZVStrNCmpW(u"abcX", u"abcY", 3), 0},
        {Sign(ZVStrNCmpW(u"abcX", u"abcY", 4)), -1}, {Sign(ZVStrICmpW(high, u"\xE9")), 1}};
    for (const auto& [result, expected] : bounded) EXPECT_EQ(result, expected);
}

TEST(Strings, Search) {
    const char *s = "\xE9/b/\xE9", *empty = "", *t = "ababcabc";
    const ZVWCHAR* w = u"ab/cab/c";
    const std::pair<const void*, const void*> found[] = {
        {ZVStrChrA(s, '/'), s + 1},         {ZVStrChrA(s, '\0'), s + 5},  {ZVStrRChrA(s, '\xE9'), s + 4},
        {ZVStrRChrA(s, '\0'), s + 5},       {ZVStrRChrA(s, 'x'), nullptr}, {ZVStrRChrA(empty, '\0'), empty},
        {ZVStrRChrA(empty, 'a'), nullptr},  {ZVStrStrA(t, "abc"), t + 2},  {ZVStrStrA(t, ""), t},
        {ZVStrStrA(t, "ababcabcx"), nullptr}, {ZVStrRChrW(w, u'/'), w + 6}, {ZVStrStrW(w, u"b/c"), w + 1},
        {ZVStrStrW(w, u""), w}, {ZVStrChrW(w, ZVWCHAR(0x012F)), nullptr}};  // only the low byte of 0x012F is '/'
    for (size_t i = 0; i < std::size(found); ++i) EXPECT_EQ(found[i].first, found[i].second) << "case " << i;
}

TEST(Strings, CopyAndAppendWriteExactly) {
    // Each result is the destination, read to beyond what was written.
    char buf[16];
    memset(buf, 'Z', sizeof buf);
    ExpectHolds(ZVStrCpyA(buf, "abc"), "abc\0Z");
    ExpectHolds(ZVStrCatA(buf, "de"), "abcde\0Z");
    ExpectHolds(ZVStrNCatA(buf, "fghij", 2), "abcdefg\0Z");  // at most n, then a terminator
    ExpectHolds(ZVStrNCpyA(buf, "xy", 4), "xy\0\0efg\0Z");   // shorter: zeros up to exactly n
    ExpectHolds(ZVStrNCpyA(buf, "1234", 4), "1234efg");       // as long as n: no terminator
    ZVWCHAR w[16];
    std::fill(w, w + 16, 0xBEEF);
    ExpectHolds(ZVStrCatW(ZVStrCpyW(w, u"abc"), u"de"), u"abcde\0\xBEEF");
    ExpectHolds(ZVStrNCatW(w, u"fghij", 2), u"abcdefg\0\xBEEF");
    ExpectHolds(ZVStrNCpyW(w, u"xy", 4), u"xy\0\0efg\0\xBEEF");
    ExpectHolds(ZVStrNCpyW(w, u"1234", 4), u"1234efg");
}

TEST(Strings, TokensKeepStateInTheCallersVariable) {
    char text[] = ",,a,,b,", other[] = "x\xE9y", whole[] = "a,b c";
    char *position = reinterpret_cast<char*>(0x1), *second = nullptr;  // ignored when s is given
    EXPECT_STREQ(ZVStrTokA(text, ",", &position), "a");
    EXPECT_EQ(position, text + 4);
    EXPECT_STREQ(ZVStrTokA(other, "\xE9", &second), "x");  // a second tokenisation in between
    EXPECT_EQ(ZVStrTokA(nullptr, ",", &position), text + 5);
    EXPECT_STREQ(ZVStrTokA(nullptr, "\xE9", &second), "y");  // a high byte is an ordinary delimiter
    EXPECT_EQ(second, nullptr);                               // the last token ended the string
    EXPECT_EQ(ZVStrTokA(nullptr, ",", &position), nullptr);   // nothing is left
    EXPECT_EQ(position, nullptr);
    EXPECT_EQ(ZVStrTokA(nullptr, ",", &position), nullptr);  // null string, null position
    EXPECT_STREQ(ZVStrTokA(whole, "", &position), "a,b c");
    ZVWCHAR wide[] = {u',', u'a', 0x012C, u'b', u',', u',', u'c', 0};  // 0x012C is no comma
    ZVWCHAR* wpos = nullptr;
    EXPECT_EQ(ZVStrTokW(wide, u",", &wpos), wide + 1);
    EXPECT_EQ(wpos, wide + 5);
    EXPECT_EQ(ZVStrTokW(nullptr, u",", &wpos), wide + 6);
    EXPECT_EQ(wpos, nullptr);
}

TEST(Strings, ParsingNumbersInBothWidths) {
    const std::pair<const char*, int32_t> decimal[] = {
        {"42", 42}, {" \t\n\v\f\r-17xyz", -17}, {"+8", 8}, {"- 5", 0}, {"0x1F", 0}, {"-2147483648", INT32_MIN},
        {"2147483648", INT32_MAX}, {"-2147483649", INT32_MIN}};
    for (const auto& [text, value] : decimal) {
        EXPECT_EQ(ZVStrToIA(text), value) << text;
        EXPECT_EQ(ZVStrToLA(text), value) << text;
        EXPECT_EQ(ZVStrToIW(W(text).c_str()), value) << text;
        EXPECT_EQ(ZVStrToLW(W(text).c_str()), value) << text;
    }
    const std::pair<const char*, uint32_t> unsignedCases[] = {
        {"0x1F", 31}, {"0X1f", 31}, {"017", 15}, {"17", 17}, {"zz", 0}, {"  +25", 25}, {"019", 1}, {"0x", 0}, {"-", 0},
        {"0xfFfFfFfF", 0xFFFFFFFF}, {"037777777777", 0xFFFFFFFF}, {"4294967296", 0xFFFFFFFF}, {"-1", 0xFFFFFFFF},
        {"0x100000000", 0xFFFFFFFF}, {"-4294967296", 0xFFFFFFFF}, {"-0x10", 0xFFFFFFF0}, {"-4294967295", 1}};
    for (const auto& [text, value] : unsignedCases) {
        EXPECT_EQ(ZVStrToULA(text), value) << text;
        EXPECT_EQ(ZVStrToULW(W(text).c_str()), value) << text;
    }
    // Units whose low byte is a digit or an 'x' are neither.
    const ZVWCHAR fakeDigit[] = {u'1', 0x0132, 0}, fakeX[] = {u'0', 0x0178, u'1', 0};
    EXPECT_EQ(ZVStrToIW(fakeDigit), 1);
    EXPECT_EQ(ZVStrToULW(fakeX), 0u);
    EXPECT_EQ(ZVStrToIA("\xA0" "5"), 0);  // a high byte is no white space
}

TEST(Strings, NumberToTextInEveryRadix) {
    const std::tuple<int32_t, int32_t, const char*> cases[] = {
        {0, 10, "0"}, {-1, 10, "-1"}, {-1, 16, "ffffffff"}, {5, 2, "101"}, {-1, 36, "1z141z3"}, {-8, 8, "37777777770"},
        {INT32_MIN, 10, "-2147483648"}, {INT32_MIN, 36, "zik0zk"}, {INT32_MIN, 2, "10000000000000000000000000000000"},
        {123, 1, ""}, {123, 37, ""}};
    for (const auto& [value, radix, text] : cases) {
        char buf[40];  // a guard after the text proves how much was written
        ZVWCHAR w[40];
        memset(buf, 'Z', sizeof buf);
        std::fill(w, w + 40, 0xBEEF);
        EXPECT_EQ(std::string(ZVLToStrA(value, buf, radix), strlen(text) + 2), std::string(text) + '\0' + 'Z');
        EXPECT_EQ(std::u16string(ZVLToStrW(value, w, radix), strlen(text) + 2), W(text) + u'\0' + u'\xBEEF');
    }
}

TEST(Strings, CharacterClassesKnowOnlyAscii) {
    for (uint32_t c = 0; c <= 0xFFFF; ++c) {
        const int digit = c >= '0' && c <= '9', alpha = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        ASSERT_EQ(ZVIsDigitW(ZVWCHAR(c)), digit) << c;
        ASSERT_EQ(ZVIsAlphaW(ZVWCHAR(c)), alpha) << c;
        ASSERT_TRUE(c > 0xFF || (ZVIsDigitA(char(c)) == digit && ZVIsAlphaA(char(c)) == alpha)) << c;
    }
}

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

TEST(Memory, MoveHandlesOverlapAndCompareIsUnsignedAndExact) {
    unsigned char up[8] = {1, 2, 3, 4, 5, 6, 7, 8}, down[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(ZVMoveMemory(up + 1, up, 6), up + 1);
    EXPECT_EQ(At(up, 8), (Bytes{1, 1, 2, 3, 4, 5, 6, 8}));
    EXPECT_EQ(ZVMoveMemory(down, down + 2, 6), down);
    EXPECT_EQ(At(down, 8), (Bytes{3, 4, 5, 6, 7, 8, 7, 8}));
    // Bytes are unsigned, zero bytes are data, the result is exactly -1, 0
    // or +1, and length 0 reads nothing.
    const int32_t compared[][2] = {
        {ZVCompareMemory("abcd", "abce", 4), -1}, {ZVCompareMemory("abce", "abcd", 4), 1},
        {ZVCompareMemory("abcd", "abce", 3), 0},  {ZVCompareMemory("\x80", "\x7F", 1), 1},
        {ZVCompareMemory("\0\0\x01", "\0\0\xFF", 3), -1}, {ZVCompareMemory(nullptr, nullptr, 0), 0}};
    for (const auto& [result, expected] : compared) EXPECT_EQ(result, expected);
}

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
    for (auto copy : {&ZVToUnicode, &ZVFromUnicode}) {  // a plain copy, returning the destination
        std::fill(back, back + 8, 0xBEEF);
        EXPECT_EQ(std::u16string(copy(back, u"a\uFFE9b"), 5), (std::u16string{u'a', 0xFFE9, u'b', 0, 0xBEEF}));
    }
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

}  // namespace
