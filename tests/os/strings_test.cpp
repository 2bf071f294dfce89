// Narrow and wide string functions: the library's own rules (ASCII folding,
// signed characters, caller-held tokeniser state, 32-bit number parsing).
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <string>

#include "zv.h"

namespace {


constexpr char kGuard = '\x5A';
constexpr ZVWCHAR kGuardW = 0xBEEF;

TEST(Strings, LengthAndBoundedLength) {
    EXPECT_EQ(ZVStrLenA(""), 0u);
    EXPECT_EQ(ZVStrLenA("hello"), 5u);
    EXPECT_EQ(ZVStrLenW(u""), 0u);
    EXPECT_EQ(ZVStrLenW(u"hello"), 5u);

    EXPECT_EQ(ZVStrNLenA("hello", 3), 3u);
    EXPECT_EQ(ZVStrNLenA("hello", 5), 5u);
    EXPECT_EQ(ZVStrNLenA("hello", 9), 5u);
    EXPECT_EQ(ZVStrNLenA("hello", 0), 0u);
    EXPECT_EQ(ZVStrNLenA("", 7), 0u);
    EXPECT_EQ(ZVStrNLenW(u"hello", 3), 3u);
    EXPECT_EQ(ZVStrNLenW(u"hello", 9), 5u);
    EXPECT_EQ(ZVStrNLenW(u"hello", 0), 0u);
    EXPECT_EQ(ZVStrNLenW(u"", 7), 0u);

    // The bound stops reading: the characters after the n-th are never
    // looked at, so an unterminated buffer of n characters is fine.
    char raw[3] = {'a', 'b', 'c'};
    EXPECT_EQ(ZVStrNLenA(raw, 3), 3u);
    ZVWCHAR rawW[2] = {u'a', u'b'};
    EXPECT_EQ(ZVStrNLenW(rawW, 2), 2u);
}

TEST(Strings, UpperCaseFoldsOnlyAscii) {
    char s[] = "q9z\xE9 aZ{`";
    EXPECT_EQ(ZVStrUprA(s), s);
    EXPECT_STREQ(s, "Q9Z\xE9 AZ{`");
    char empty[] = "";
    EXPECT_EQ(ZVStrUprA(empty), empty);
    EXPECT_EQ(empty[0], '\0');

    ZVWCHAR w[] = {u'q', u'9', 0x00E9, 0xFF41 /* fullwidth a */, u'z', u'`', u'{', 0};
    EXPECT_EQ(ZVStrUprW(w), w);
    const ZVWCHAR expected[] = {u'Q', u'9', 0x00E9, 0xFF41, u'Z', u'`', u'{', 0};
    EXPECT_EQ(std::u16string(w), std::u16string(expected));
}

TEST(Strings, CompareIsUnsignedAndExact) {
    EXPECT_EQ(ZVStrCmpA("abc", "abc"), 0);
    EXPECT_EQ(ZVStrCmpA("", ""), 0);
    EXPECT_EQ(ZVStrCmpA("abc", "abd"), -1);
    EXPECT_EQ(ZVStrCmpA("abz", "aba"), 1);
    EXPECT_EQ(ZVStrCmpA("ab", "abc"), -1);
    EXPECT_EQ(ZVStrCmpA("abc", "ab"), 1);
    // 0x80 is above 0x7F as a byte.
    EXPECT_EQ(ZVStrCmpA("x\x80", "x\x7F"), 1);
    EXPECT_EQ(ZVStrCmpA("\x7F", "\xFF"), -1);
    EXPECT_EQ(ZVStrCmpA("a", "z"), -1);  // exactly -1, not a difference

    EXPECT_EQ(ZVStrCmpW(u"abc", u"abc"), 0);
    EXPECT_LT(ZVStrCmpW(u"abc", u"abd"), 0);
    EXPECT_GT(ZVStrCmpW(u"abc", u"ab"), 0);
    const ZVWCHAR high[] = {0xFFE9, 0};
    const ZVWCHAR low[] = {0x007F, 0};
    EXPECT_GT(ZVStrCmpW(high, low), 0);
    EXPECT_LT(ZVStrCmpW(low, high), 0);

    EXPECT_EQ(ZVStrNCmpA("abcX", "abcY", 3), 0);
    EXPECT_LT(ZVStrNCmpA("abcX", "abcY", 4), 0);
    EXPECT_EQ(ZVStrNCmpA("a", "b", 0), 0);
    EXPECT_EQ(ZVStrNCmpA("ab", "ab", 10), 0);  // stops at the common end
    EXPECT_GT(ZVStrNCmpA("\x80", "\x7F", 1), 0);
    EXPECT_EQ(ZVStrNCmpW(u"abcX", u"abcY", 3), 0);
    EXPECT_GT(ZVStrNCmpW(u"abcY", u"abcX", 4), 0);
    EXPECT_EQ(ZVStrNCmpW(u"ab", u"ab", 10), 0);
    EXPECT_GT(ZVStrNCmpW(high, low, 1), 0);
}

TEST(Strings, NarrowCaseInsensitiveCompareUsesSignedCharacters) {
    EXPECT_EQ(ZVStrICmpA("Key", "KEY"), 0);
    EXPECT_EQ(ZVStrICmpA("", ""), 0);
    EXPECT_EQ(ZVStrICmpA("ABC", "abd"), 0x63 - 0x64);
    EXPECT_EQ(ZVStrICmpA("a", ""), 0x61);
    EXPECT_EQ(ZVStrICmpA("", "B"), -0x62);
    // 0xE9 is -23: it sorts before 'a' and even before the end of a string.
    EXPECT_EQ(ZVStrICmpA("\xE9", "a"), -23 - 97);
    EXPECT_EQ(ZVStrICmpA("x\xE9", "x"), -23);
    EXPECT_EQ(ZVStrICmpA("\x80", "\x7F"), -128 - 127);
    // Only A-Z fold; 0xC9 does not fold to 0xE9, '[' stays below 'a'.
    EXPECT_EQ(ZVStrICmpA("\xC9", "\xE9"), -55 - (-23));
    EXPECT_EQ(ZVStrICmpA("[", "a"), 0x5B - 0x61);
    EXPECT_EQ(ZVStrICmpA("_", "A"), 0x5F - 0x61);

    EXPECT_EQ(ZVStrNICmpA("Different", "strings", 0), 0);
    EXPECT_EQ(ZVStrNICmpA("KEYx", "keyY", 3), 0);
    EXPECT_EQ(ZVStrNICmpA("KEYa", "keyC", 4), 0x61 - 0x63);
    EXPECT_EQ(ZVStrNICmpA("ab", "AB", 10), 0);
    EXPECT_EQ(ZVStrNICmpA("ab", "A", 10), 0x62);
    EXPECT_EQ(ZVStrNICmpA("\x80", "\x7F", 1), -255);
}

TEST(Strings, WideCaseInsensitiveCompareFoldsOnlyAsciiLetters) {
    EXPECT_EQ(ZVStrICmpW(u"Key", u"KEY"), 0);
    EXPECT_EQ(ZVStrICmpW(u"", u""), 0);
    EXPECT_LT(ZVStrICmpW(u"ABC", u"abd"), 0);
    EXPECT_GT(ZVStrICmpW(u"abd", u"ABC"), 0);
    EXPECT_GT(ZVStrICmpW(u"a", u""), 0);
    EXPECT_LT(ZVStrICmpW(u"", u"a"), 0);
    // Folding is to lower case: '_' (0x5F) sorts before 'A' folded to 'a'.
    EXPECT_LT(ZVStrICmpW(u"_", u"A"), 0);
    // Units are unsigned and non-ASCII units do not fold.
    const ZVWCHAR eAcuteUpper[] = {0x00C9, 0};
    const ZVWCHAR eAcuteLower[] = {0x00E9, 0};
    EXPECT_NE(ZVStrICmpW(eAcuteUpper, eAcuteLower), 0);
    const ZVWCHAR high[] = {0xFFE9, 0};
    EXPECT_GT(ZVStrICmpW(high, u"a"), 0);

    EXPECT_EQ(ZVStrNICmpW(u"Different", u"strings", 0), 0);
    EXPECT_EQ(ZVStrNICmpW(u"KEYx", u"keyY", 3), 0);
    EXPECT_LT(ZVStrNICmpW(u"KEYa", u"keyC", 4), 0);
    EXPECT_EQ(ZVStrNICmpW(u"ab", u"AB", 10), 0);
    EXPECT_GT(ZVStrNICmpW(u"ab", u"A", 10), 0);
}

TEST(Strings, FirstAndLastOccurrence) {
    const char* s = "a/b/c";
    EXPECT_EQ(ZVStrChrA(s, '/'), s + 1);
    EXPECT_EQ(ZVStrChrA(s, 'x'), nullptr);
    EXPECT_EQ(ZVStrChrA(s, '\0'), s + 5);
    EXPECT_EQ(ZVStrRChrA(s, '/'), s + 3);
    EXPECT_EQ(ZVStrRChrA(s, 'a'), s);
    EXPECT_EQ(ZVStrRChrA(s, 'x'), nullptr);
    EXPECT_EQ(ZVStrRChrA(s, '\0'), s + 5);
    const char* high = "\xE9x\xE9y";
    EXPECT_EQ(ZVStrChrA(high, '\xE9'), high);
    EXPECT_EQ(ZVStrRChrA(high, '\xE9'), high + 2);
    const char* empty = "";
    EXPECT_EQ(ZVStrRChrA(empty, '\0'), empty);
    EXPECT_EQ(ZVStrRChrA(empty, 'a'), nullptr);
    EXPECT_EQ(ZVStrChrA(empty, 'a'), nullptr);

    const ZVWCHAR* w = u"a/b/c";
    EXPECT_EQ(ZVStrChrW(w, u'/'), w + 1);
    EXPECT_EQ(ZVStrChrW(w, u'x'), nullptr);
    EXPECT_EQ(ZVStrChrW(w, 0), w + 5);
    EXPECT_EQ(ZVStrRChrW(w, u'/'), w + 3);
    EXPECT_EQ(ZVStrRChrW(w, u'a'), w);
    EXPECT_EQ(ZVStrRChrW(w, 0), w + 5);
    EXPECT_EQ(ZVStrRChrW(w, u'x'), nullptr);
    const ZVWCHAR* emptyW = u"";
    EXPECT_EQ(ZVStrRChrW(emptyW, 0), emptyW);
    EXPECT_EQ(ZVStrRChrW(emptyW, u'a'), nullptr);
    // A unit differing only in the high byte is another character.
    EXPECT_EQ(ZVStrChrW(w, ZVWCHAR(0x012F)), nullptr);
}

TEST(Strings, SubstringSearch) {
    const char* s = "ababcabc";
    EXPECT_EQ(ZVStrStrA(s, "abc"), s + 2);
    EXPECT_EQ(ZVStrStrA(s, ""), s);
    EXPECT_EQ(ZVStrStrA(s, "abd"), nullptr);
    EXPECT_EQ(ZVStrStrA(s, "ababcabcx"), nullptr);

    const ZVWCHAR* w = u"ababcabc";
    EXPECT_EQ(ZVStrStrW(w, u"abc"), w + 2);
    EXPECT_EQ(ZVStrStrW(w, u"c"), w + 4);
    EXPECT_EQ(ZVStrStrW(w, u""), w);
    EXPECT_EQ(ZVStrStrW(w, u"abd"), nullptr);
    EXPECT_EQ(ZVStrStrW(w, u"ababcabcx"), nullptr);
    EXPECT_EQ(ZVStrStrW(w, u"cabc"), w + 4);
    const ZVWCHAR* emptyW = u"";
    EXPECT_EQ(ZVStrStrW(emptyW, u""), emptyW);
    EXPECT_EQ(ZVStrStrW(emptyW, u"a"), nullptr);
}

TEST(Strings, CopyAndAppendWriteExactly) {
    char buf[16];
    memset(buf, kGuard, sizeof buf);
    EXPECT_EQ(ZVStrCpyA(buf, "abc"), buf);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(buf[4], kGuard);

    EXPECT_EQ(ZVStrCatA(buf, "de"), buf);
    EXPECT_STREQ(buf, "abcde");
    EXPECT_EQ(buf[6], kGuard);
    EXPECT_EQ(ZVStrCatA(buf, ""), buf);
    EXPECT_STREQ(buf, "abcde");

    // At most n characters, then always a terminator.
    EXPECT_EQ(ZVStrNCatA(buf, "fghij", 2), buf);
    EXPECT_STREQ(buf, "abcdefg");
    EXPECT_EQ(buf[8], kGuard);
    EXPECT_EQ(ZVStrNCatA(buf, "h", 5), buf);
    EXPECT_STREQ(buf, "abcdefgh");
    EXPECT_EQ(buf[9], kGuard);
    EXPECT_EQ(ZVStrNCatA(buf, "xyz", 0), buf);
    EXPECT_STREQ(buf, "abcdefgh");

    ZVWCHAR w[16];
    for (ZVWCHAR& c : w) c = kGuardW;
    EXPECT_EQ(ZVStrCpyW(w, u"abc"), w);
    EXPECT_EQ(std::u16string(w), u"abc");
    EXPECT_EQ(w[4], kGuardW);
    EXPECT_EQ(ZVStrCatW(w, u"de"), w);
    EXPECT_EQ(std::u16string(w), u"abcde");
    EXPECT_EQ(w[6], kGuardW);
    EXPECT_EQ(ZVStrNCatW(w, u"fghij", 2), w);
    EXPECT_EQ(std::u16string(w), u"abcdefg");
    EXPECT_EQ(w[8], kGuardW);
    EXPECT_EQ(ZVStrNCatW(w, u"h", 5), w);
    EXPECT_EQ(std::u16string(w), u"abcdefgh");
    EXPECT_EQ(w[9], kGuardW);
}

TEST(Strings, BoundedCopyFillsOrLeavesUnterminated) {
    char buf[8];
    memset(buf, kGuard, sizeof buf);
    // Source as long as n: no terminator.
    EXPECT_EQ(ZVStrNCpyA(buf, "abc", 3), buf);
    EXPECT_EQ(std::string(buf, 4), std::string("abc") + kGuard);
    // Longer source: cut at n, no terminator.
    memset(buf, kGuard, sizeof buf);
    ZVStrNCpyA(buf, "abcdef", 2);
    EXPECT_EQ(std::string(buf, 3), std::string("ab") + kGuard);
    // Shorter source: filled with zeros up to exactly n.
    memset(buf, kGuard, sizeof buf);
    ZVStrNCpyA(buf, "ab", 6);
    EXPECT_EQ(std::string(buf, 7), std::string("ab\0\0\0\0", 6) + kGuard);
    memset(buf, kGuard, sizeof buf);
    ZVStrNCpyA(buf, "abc", 0);
    EXPECT_EQ(buf[0], kGuard);

    ZVWCHAR w[8];
    for (ZVWCHAR& c : w) c = kGuardW;
    EXPECT_EQ(ZVStrNCpyW(w, u"abc", 3), w);
    EXPECT_EQ(std::u16string(w, 4), std::u16string(u"abc") + char16_t(kGuardW));
    for (ZVWCHAR& c : w) c = kGuardW;
    ZVStrNCpyW(w, u"ab", 6);
    EXPECT_EQ(std::u16string(w, 7), std::u16string(u"ab\0\0\0\0", 6) + char16_t(kGuardW));
}

TEST(Strings, TokensKeepStateInTheCallersVariable) {
    char text[] = ",,a,,b,";
    char* position = reinterpret_cast<char*>(0x1);  // ignored when s is given
    char* t = ZVStrTokA(text, ",", &position);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t, "a");
    EXPECT_EQ(t, text + 2);
    EXPECT_EQ(position, text + 4);
    t = ZVStrTokA(nullptr, ",", &position);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t, "b");
    EXPECT_EQ(t, text + 5);
    EXPECT_EQ(ZVStrTokA(nullptr, ",", &position), nullptr);
    EXPECT_EQ(position, nullptr);
    EXPECT_EQ(ZVStrTokA(nullptr, ",", &position), nullptr);

    // The last token at the end of the string leaves the position null.
    char tail[] = "x y";
    position = nullptr;
    EXPECT_STREQ(ZVStrTokA(tail, " ", &position), "x");
    EXPECT_STREQ(ZVStrTokA(nullptr, " ", &position), "y");
    EXPECT_EQ(position, nullptr);

    // Null string with null position: null, nothing changes.
    position = nullptr;
    EXPECT_EQ(ZVStrTokA(nullptr, ",", &position), nullptr);
    EXPECT_EQ(position, nullptr);

    // Empty delimiter set: the rest is one token.
    char whole[] = "a,b c";
    EXPECT_STREQ(ZVStrTokA(whole, "", &position), "a,b c");
    EXPECT_EQ(position, nullptr);

    // Only delimiters: no token.
    char none[] = ";;;";
    position = none;
    EXPECT_EQ(ZVStrTokA(none, ";", &position), nullptr);
    EXPECT_EQ(position, nullptr);

    // Two tokenisations interleaved do not disturb each other.
    char first[] = "1 2 3";
    char second[] = "x;y";
    char *p1 = nullptr, *p2 = nullptr;
    EXPECT_STREQ(ZVStrTokA(first, " ", &p1), "1");
    EXPECT_STREQ(ZVStrTokA(second, ";", &p2), "x");
    EXPECT_STREQ(ZVStrTokA(nullptr, " ", &p1), "2");
    EXPECT_STREQ(ZVStrTokA(nullptr, ";", &p2), "y");
    EXPECT_STREQ(ZVStrTokA(nullptr, " ", &p1), "3");
    EXPECT_EQ(ZVStrTokA(nullptr, ";", &p2), nullptr);

    // A high byte is an ordinary character or delimiter.
    char high[] = "a\xE9" "b";
    position = nullptr;
    EXPECT_STREQ(ZVStrTokA(high, "\xE9", &position), "a");
    EXPECT_STREQ(ZVStrTokA(nullptr, "\xE9", &position), "b");

    ZVWCHAR wide[] = u",,a,,b,";
    ZVWCHAR* wpos = nullptr;
    ZVWCHAR* wt = ZVStrTokW(wide, u",", &wpos);
    ASSERT_NE(wt, nullptr);
    EXPECT_EQ(std::u16string(wt), u"a");
    EXPECT_EQ(wpos, wide + 4);
    wt = ZVStrTokW(nullptr, u",", &wpos);
    ASSERT_NE(wt, nullptr);
    EXPECT_EQ(std::u16string(wt), u"b");
    EXPECT_EQ(ZVStrTokW(nullptr, u",", &wpos), nullptr);
    EXPECT_EQ(wpos, nullptr);
    wpos = nullptr;
    EXPECT_EQ(ZVStrTokW(nullptr, u",", &wpos), nullptr);
    // Units are compared whole: 0x012C is not a comma.
    ZVWCHAR notComma[] = {u'a', 0x012C, u'b', 0};
    EXPECT_EQ(std::u16string(ZVStrTokW(notComma, u",", &wpos)), std::u16string(notComma));
    EXPECT_EQ(wpos, nullptr);
}

TEST(Strings, DecimalParsing) {
    EXPECT_EQ(ZVStrToIA("42"), 42);
    EXPECT_EQ(ZVStrToIA("  \t\n\v\f\r-17xyz"), -17);
    EXPECT_EQ(ZVStrToIA("+8"), 8);
    EXPECT_EQ(ZVStrToIA(""), 0);
    EXPECT_EQ(ZVStrToIA("abc"), 0);
    EXPECT_EQ(ZVStrToIA("- 5"), 0);
    EXPECT_EQ(ZVStrToIA("0x1F"), 0);  // decimal only
    EXPECT_EQ(ZVStrToIA("2147483647"), INT32_MAX);
    EXPECT_EQ(ZVStrToIA("-2147483648"), INT32_MIN);
    // Out of range saturates.
    EXPECT_EQ(ZVStrToIA("2147483648"), INT32_MAX);
    EXPECT_EQ(ZVStrToIA("-2147483649"), INT32_MIN);
    EXPECT_EQ(ZVStrToIA("99999999999999999999"), INT32_MAX);
    EXPECT_EQ(ZVStrToLA("-99999999999999999999"), INT32_MIN);
    EXPECT_EQ(ZVStrToLA(" 123 "), 123);

    EXPECT_EQ(ZVStrToIW(u"  -17xyz"), -17);
    EXPECT_EQ(ZVStrToIW(u"2147483648"), INT32_MAX);
    EXPECT_EQ(ZVStrToLW(u"-2147483648"), INT32_MIN);
    EXPECT_EQ(ZVStrToLW(u""), 0);
    // A digit of another script, or a unit whose low byte is a digit, ends
    // the number.
    const ZVWCHAR fakeDigit[] = {u'1', 0x0132, 0};
    EXPECT_EQ(ZVStrToIW(fakeDigit), 1);
    const ZVWCHAR arabicDigit[] = {u'7', 0x0663, 0};
    EXPECT_EQ(ZVStrToLW(arabicDigit), 7);
    // Narrow: a high byte is not white space.
    EXPECT_EQ(ZVStrToIA("\xA0" "5"), 0);
}

TEST(Strings, UnsignedParsingWithPrefixes) {
    EXPECT_EQ(ZVStrToULA("0x1F"), 31u);
    EXPECT_EQ(ZVStrToULA("0X1f"), 31u);
    EXPECT_EQ(ZVStrToULA("017"), 15u);
    EXPECT_EQ(ZVStrToULA("17"), 17u);
    EXPECT_EQ(ZVStrToULA("0"), 0u);
    EXPECT_EQ(ZVStrToULA(""), 0u);
    EXPECT_EQ(ZVStrToULA("zz"), 0u);
    EXPECT_EQ(ZVStrToULA("   \t+25"), 25u);
    EXPECT_EQ(ZVStrToULA("019"), 1u);   // 9 is no octal digit
    EXPECT_EQ(ZVStrToULA("0x"), 0u);    // the 0 is the number
    EXPECT_EQ(ZVStrToULA("0xg"), 0u);
    EXPECT_EQ(ZVStrToULA("12abc"), 12u);
    EXPECT_EQ(ZVStrToULA("0xfFfFfFfF"), 0xFFFFFFFFu);
    EXPECT_EQ(ZVStrToULA("4294967295"), 4294967295u);
    EXPECT_EQ(ZVStrToULA("037777777777"), 4294967295u);
    // Too large: all bits set, whatever the sign.
    EXPECT_EQ(ZVStrToULA("4294967296"), 4294967295u);
    EXPECT_EQ(ZVStrToULA("0x100000000"), 4294967295u);
    EXPECT_EQ(ZVStrToULA("040000000000"), 4294967295u);
    EXPECT_EQ(ZVStrToULA("-4294967296"), 4294967295u);
    EXPECT_EQ(ZVStrToULA("99999999999999999999999"), 4294967295u);
    // '-' negates in unsigned arithmetic.
    EXPECT_EQ(ZVStrToULA("-1"), 4294967295u);
    EXPECT_EQ(ZVStrToULA("-2"), 4294967294u);
    EXPECT_EQ(ZVStrToULA("-0x10"), 0xFFFFFFF0u);
    EXPECT_EQ(ZVStrToULA("-4294967295"), 1u);
    EXPECT_EQ(ZVStrToULA("-"), 0u);

    EXPECT_EQ(ZVStrToULW(u"0x1F"), 31u);
    EXPECT_EQ(ZVStrToULW(u"017"), 15u);
    EXPECT_EQ(ZVStrToULW(u"17"), 17u);
    EXPECT_EQ(ZVStrToULW(u" -1"), 4294967295u);
    EXPECT_EQ(ZVStrToULW(u"4294967296"), 4294967295u);
    const ZVWCHAR fakeX[] = {u'0', 0x0178 /* low byte 'x' */, u'1', 0};
    EXPECT_EQ(ZVStrToULW(fakeX), 0u);
    const ZVWCHAR fakeHex[] = {u'0', u'x', u'1', 0x0141 /* low byte 'A' */, 0};
    EXPECT_EQ(ZVStrToULW(fakeHex), 1u);
}

TEST(Strings, NumberToTextInEveryRadix) {
    char buf[40];
    EXPECT_EQ(ZVLToStrA(0, buf, 10), buf);
    EXPECT_STREQ(buf, "0");
    EXPECT_STREQ(ZVLToStrA(-1, buf, 10), "-1");
    EXPECT_STREQ(ZVLToStrA(-1, buf, 16), "ffffffff");
    EXPECT_STREQ(ZVLToStrA(255, buf, 16), "ff");
    EXPECT_STREQ(ZVLToStrA(5, buf, 2), "101");
    EXPECT_STREQ(ZVLToStrA(-1, buf, 2), "11111111111111111111111111111111");
    EXPECT_STREQ(ZVLToStrA(35, buf, 36), "z");
    EXPECT_STREQ(ZVLToStrA(36, buf, 36), "10");
    EXPECT_STREQ(ZVLToStrA(-1, buf, 36), "1z141z3");
    EXPECT_STREQ(ZVLToStrA(INT32_MAX, buf, 10), "2147483647");
    EXPECT_STREQ(ZVLToStrA(8, buf, 8), "10");
    EXPECT_STREQ(ZVLToStrA(-8, buf, 8), "37777777770");

    // INT32_MIN: signed in radix 10, its 32 bits unsigned elsewhere.  The
    // guard after the longest text proves the exact length written.
    memset(buf, kGuard, sizeof buf);
    EXPECT_STREQ(ZVLToStrA(INT32_MIN, buf, 10), "-2147483648");
    EXPECT_EQ(buf[12], kGuard);
    EXPECT_STREQ(ZVLToStrA(INT32_MIN, buf, 16), "80000000");
    memset(buf, kGuard, sizeof buf);
    EXPECT_STREQ(ZVLToStrA(INT32_MIN, buf, 2), "10000000000000000000000000000000");
    EXPECT_EQ(buf[33], kGuard);
    EXPECT_STREQ(ZVLToStrA(INT32_MIN, buf, 36), "zik0zk");

    // A radix outside 2..36 writes the empty string and nothing more.
    memset(buf, kGuard, sizeof buf);
    EXPECT_STREQ(ZVLToStrA(123, buf, 1), "");
    EXPECT_EQ(buf[1], kGuard);
    EXPECT_STREQ(ZVLToStrA(123, buf, 37), "");
    EXPECT_STREQ(ZVLToStrA(123, buf, 0), "");
    EXPECT_STREQ(ZVLToStrA(123, buf, -10), "");

    ZVWCHAR w[40];
    EXPECT_EQ(ZVLToStrW(-1, w, 10), w);
    EXPECT_EQ(std::u16string(w), u"-1");
    EXPECT_EQ(std::u16string(ZVLToStrW(-1, w, 16)), u"ffffffff");
    EXPECT_EQ(std::u16string(ZVLToStrW(INT32_MIN, w, 10)), u"-2147483648");
    EXPECT_EQ(std::u16string(ZVLToStrW(INT32_MIN, w, 2)), u"10000000000000000000000000000000");
    EXPECT_EQ(std::u16string(ZVLToStrW(INT32_MIN, w, 36)), u"zik0zk");
    EXPECT_EQ(std::u16string(ZVLToStrW(1234567, w, 10)), u"1234567");
    EXPECT_EQ(std::u16string(ZVLToStrW(7, w, 99)), u"");

    // Text and parsing agree across the range.
    for (int32_t v : {0, 1, -1, 9, 10, -10, 65535, -65536, INT32_MAX, INT32_MIN}) {
        EXPECT_EQ(ZVStrToIA(ZVLToStrA(v, buf, 10)), v);
        EXPECT_EQ(ZVStrToLW(ZVLToStrW(v, w, 10)), v);
        std::string hex = std::string("0x") + ZVLToStrA(v, buf, 16);
        EXPECT_EQ(ZVStrToULA(hex.c_str()), uint32_t(v));
    }
}

TEST(Strings, CharacterClassesKnowOnlyAscii) {
    int digits = 0, alphas = 0;
    for (int c = 0; c < 256; ++c) {
        int32_t d = ZVIsDigitA(char(c));
        int32_t a = ZVIsAlphaA(char(c));
        EXPECT_TRUE(d == 0 || d == 1);
        EXPECT_TRUE(a == 0 || a == 1);
        EXPECT_EQ(d, (c >= '0' && c <= '9') ? 1 : 0) << c;
        EXPECT_EQ(a, ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) ? 1 : 0) << c;
        digits += d;
        alphas += a;
    }
    EXPECT_EQ(digits, 10);
    EXPECT_EQ(alphas, 52);
    EXPECT_EQ(ZVIsAlphaA('\xC0'), 0);
    EXPECT_EQ(ZVIsAlphaA('\xE9'), 0);

    digits = alphas = 0;
    for (uint32_t c = 0; c <= 0xFFFF; ++c) {
        digits += ZVIsDigitW(ZVWCHAR(c));
        alphas += ZVIsAlphaW(ZVWCHAR(c));
    }
    EXPECT_EQ(digits, 10);
    EXPECT_EQ(alphas, 52);
    EXPECT_EQ(ZVIsDigitW(u'7'), 1);
    EXPECT_EQ(ZVIsDigitW(0x0663), 0);  // ARABIC-INDIC DIGIT THREE
    EXPECT_EQ(ZVIsDigitW(0xFF13), 0);  // FULLWIDTH DIGIT THREE
    EXPECT_EQ(ZVIsDigitW(0x0133), 0);  // low byte is '3'
    EXPECT_EQ(ZVIsAlphaW(0x0141), 0);  // low byte is 'A'
    EXPECT_EQ(ZVIsAlphaW(0x00C0), 0);
    EXPECT_EQ(ZVIsAlphaW(u'q'), 1);
}

TEST(Strings, OversizedInputsAreHandledWithoutOverrun) {
    // A long string through every length-driven function, in a heap block
    // of exactly its size, so that a read one past the end is caught.
    const uint32_t n = 5000;
    std::string text(n, 'a');
    text[n - 1] = 'Z';
    char* s = new char[n + 1];
    memcpy(s, text.c_str(), n + 1);
    EXPECT_EQ(ZVStrLenA(s), n);
    EXPECT_EQ(ZVStrNLenA(s, n + 1), n);
    EXPECT_EQ(ZVStrRChrA(s, 'Z'), s + n - 1);
    EXPECT_EQ(ZVStrStrA(s, "aZ"), s + n - 2);
    EXPECT_EQ(ZVStrICmpA(s, text.c_str()), 0);
    ZVStrUprA(s);
    EXPECT_EQ(ZVStrNLenA(s, n), n);
    char* copy = new char[n + 1];
    ZVStrNCpyA(copy, s, n + 1);
    EXPECT_EQ(ZVStrCmpA(copy, s), 0);
    delete[] copy;
    delete[] s;

    ZVWCHAR* w = new ZVWCHAR[n + 1];
    for (uint32_t i = 0; i < n; ++i) w[i] = u'a';
    w[n - 1] = u'Z';
    w[n] = 0;
    EXPECT_EQ(ZVStrLenW(w), n);
    EXPECT_EQ(ZVStrNLenW(w, n + 1), n);
    EXPECT_EQ(ZVStrRChrW(w, u'Z'), w + n - 1);
    EXPECT_EQ(ZVStrStrW(w, u"aZ"), w + n - 2);
    ZVStrUprW(w);
    EXPECT_EQ(ZVStrChrW(w, u'a'), nullptr);
    ZVWCHAR* wcopy = new ZVWCHAR[n + 1];
    ZVStrCpyW(wcopy, w);
    EXPECT_EQ(ZVStrICmpW(wcopy, w), 0);
    delete[] wcopy;
    delete[] w;
}

}  // namespace
