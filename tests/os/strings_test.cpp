// Narrow and wide string functions: the library's own rules (ASCII folding,
// signed characters, caller-held tokeniser state, 32-bit number parsing).
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <iterator>
#include <string>

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
        {ZVStrLenA("h\xE9llo"), 5},  {ZVStrLenW(u""), 0},          {ZVStrNLenA(raw, 3), 3},  {ZVStrNLenA("hello", 0), 0},
        {ZVStrNLenA("hello", 3), 3}, {ZVStrNLenA("hello", 9), 5}, {ZVStrNLenA("", 7), 0},   {ZVStrNLenW(u"hello", 5), 5},
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
    const struct {
        const char *a, *b;
        int32_t cmp, icmp, wideCmp, wideICmp;
    } cases[] = {
        {"abc", "abc", 0, 0, 0, 0},   {"a", "z", -1, -25, -1, -1},       {"ab", "abc", -1, -'c', -1, -1},
        {"Key", "KEY", 1, 0, 1, 0},   {"a", "", 1, 0x61, 1, 1},          {"ABC", "abd", -1, -1, -1, -1},
        {"_", "A", 1, -2, 1, -1},     {"x\x80", "x\x7F", 1, -255, 1, 1}, {"\xE9", "a", 1, -120, 1, 1},
        {"x\xE9", "x", 1, -23, 1, 1}, {"\xC9", "\xE9", -1, -32, -1, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ZVStrCmpA(c.a, c.b), c.cmp) << c.a << " " << c.b;
        EXPECT_EQ(ZVStrICmpA(c.a, c.b), c.icmp) << c.a << " " << c.b;
        EXPECT_EQ(Sign(ZVStrCmpW(W(c.a).c_str(), W(c.b).c_str())), c.wideCmp) << c.a << " " << c.b;
        EXPECT_EQ(Sign(ZVStrICmpW(W(c.a).c_str(), W(c.b).c_str())), c.wideICmp) << c.a << " " << c.b;
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
    ExpectHolds(ZVStrCpyW(w, u"abc"), u"abc\0\xBEEF");
    ExpectHolds(ZVStrCatW(w, u"de"), u"abcde\0\xBEEF");
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
    const struct {
        int32_t value, radix;
        const char* text;
    } cases[] = {{0, 10, "0"}, {-1, 10, "-1"}, {-1, 16, "ffffffff"}, {5, 2, "101"}, {-1, 36, "1z141z3"},
                 {-8, 8, "37777777770"}, {INT32_MIN, 10, "-2147483648"}, {INT32_MIN, 36, "zik0zk"},
                 {INT32_MIN, 2, "10000000000000000000000000000000"}, {123, 1, ""}, {123, 37, ""}};
    for (const auto& c : cases) {
        char buf[40];  // a guard after the text proves how much was written
        ZVWCHAR w[40];
        memset(buf, 'Z', sizeof buf);
        std::fill(w, w + 40, 0xBEEF);
        EXPECT_EQ(ZVLToStrA(c.value, buf, c.radix), buf);
        EXPECT_EQ(std::string(buf, strlen(c.text) + 2), std::string(c.text) + '\0' + 'Z');
        EXPECT_EQ(ZVLToStrW(c.value, w, c.radix), w);
        EXPECT_EQ(std::u16string(w, strlen(c.text) + 2), W(c.text) + u'\0' + char16_t(0xBEEF));
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

}  // namespace
