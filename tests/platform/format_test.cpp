// The wide formatter over 16-bit units.
#include <errno.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdio.h>

#include <string>
#include <tuple>

#include "platform/win32.h"
#include "support.h"

namespace {

std::u16string Format(const char16_t* format, ...) {
    char16_t buffer[512];
    va_list args;
    va_start(args, format);
    int n = _vsnwprintf(buffer, 511, format, args);
    va_end(args);
    EXPECT_GE(n, 0);
    buffer[511] = 0;
    return buffer;
}

// The same conversion through the host's narrow formatter and ours.
template <class T>
void ExpectLikeHost(const char* format, T value) {
    char narrow[512];
    snprintf(narrow, sizeof(narrow), format, value);
    std::u16string wideFormat = zvtest::W(format);
    char16_t wide[512];
    int n = _snwprintf(wide, 512, wideFormat.c_str(), value);
    EXPECT_EQ(n, int(strlen(narrow))) << format;
    EXPECT_EQ(zvtest::N(wide), std::string(narrow)) << format;
}

}  // namespace

TEST(WideFormatter, NumbersAndPointersMatchTheHost) {
    for (const char* format : {"%d", "%i", "%5d", "%-5d|", "%05d", "%+d", "% d", "%.3d", "%8.3d", "%-+8.3d|",
                             "%.0d", "%+.0d", "%05.1d", "%x", "%X", "%#x", "%#X", "%#o", "%o", "%#.0o",
                             "%08x", "%#08x", "%-#8x|", "%u", "%10u", "%#5x"}) {
        for (int value : {0, 1, -1, 42, -42, 420, INT_MAX, INT_MIN}) ExpectLikeHost(format, value);
    }
    for (const char* format : {"%ld", "%lu", "%lx", "%lld", "%llx", "%#llo", "%-20lld|"}) {
        for (long long value : {0LL, -1LL, LLONG_MAX, LLONG_MIN, 1234567890123LL}) ExpectLikeHost(format, value);
    }
    ExpectLikeHost("%hd", 70000);   // cut to short
    ExpectLikeHost("%hhd", 300);    // cut to char
    ExpectLikeHost("%zu", size_t(12345));
    EXPECT_EQ(Format(u"%I64d %I32d %Id", -5LL, 7, intptr_t(-9)), u"-5 7 -9");
    EXPECT_EQ(Format(u"%*d|%-*d|%.*d", 4, 1, 3, 2, 3, 5), u"   1|2  |005");
    EXPECT_EQ(Format(u"%*d|", -4, 1), u"1   |");
    EXPECT_EQ(Format(u"%.*d", -1, 7), u"7");
    for (const char* format : {"%f", "%.2f", "%10.3f", "%-10.1f|", "%g", "%G", "%#g", "%010.2f", "%a",
                             "%.0f", "%#.0f", "% f"}) {
        for (double value : {0.0, -0.0, 1.5, -2.25, 3.14159265358979, 1.0 / 0.0, -1.0 / 0.0})
            ExpectLikeHost(format, value);
    }
    // Exponents have at least three digits, as the Windows runtime writes them.
    for (auto [format, value, text] :
         {std::tuple<const char16_t*, double, const char16_t*>{u"%e", 1e8, u"1.000000e+008"},
          {u"%+E", -1.5e-5, u"-1.500000E-005"}, {u"%e", 0.0, u"0.000000e+000"}, {u"%g", 1e8, u"1e+008"},
          {u"%G", 1e-10, u"1E-010"}, {u"%#g", 1e300, u"1.00000e+300"}, {u"%012.2e", -1e8, u"-001.00e+008"},
          {u"%-11.1e|", 1e8, u"1.0e+008   |"}, {u"%e", 1.0 / 0.0, u"inf"}, {u"%a", 1.0, u"0x1p+0"}})
        EXPECT_EQ(Format(format, value), text) << zvtest::N(format);
    ExpectLikeHost("%Lf", 2.5L);
    // Pointers as the Windows runtime writes them: all digits, upper case.
    void* p = reinterpret_cast<void*>(uintptr_t(0x12AB));
    const std::u16string digits = sizeof(void*) == 8 ? u"00000000000012AB" : u"000012AB";
    EXPECT_EQ(Format(u"%p|%#p|%-20p|%020p|%+p", p, p, p, p, p),
              digits + u"|0X" + digits + u"|" + digits + std::u16string(20 - digits.size(), u' ') + u"|" +
                  std::u16string(20 - digits.size(), u' ') + digits + u"|" + digits);
    EXPECT_EQ(Format(u"%p", static_cast<void*>(nullptr)), std::u16string(digits.size(), u'0'));
    // Absurd precisions are refused, not formatted into a huge host buffer.
    char16_t buffer[16];
    errno = 0;
    EXPECT_EQ(_snwprintf(buffer, 16, u"a%.100000f", 1.0), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(std::u16string(buffer), u"a");
}

TEST(WideFormatter, StringsAndCharactersOfBothWidths) {
    const char16_t wide[] = {u'w', 0x20AC, 0xD83D, 0xDE00, 0};
    EXPECT_EQ(Format(u"%s|%ls|%ws", wide, wide, wide), std::u16string(wide) + u"|" + wide + u"|" + wide);
    // Narrow text is ISO-8859-1: the byte 0xE9 is U+00E9, not sign-extended.
    EXPECT_EQ(Format(u"%hs|%S", "caf\xE9", "n"), u"caf\u00E9|n");
    EXPECT_EQ(Format(u"%lS", wide), std::u16string(wide));
    EXPECT_EQ(Format(u"%c%c|%hc|%C|%lc|%wc", u'a', 0x20AC, 0xE9, 0xE9, 0x20AC, u'z'), u"a\u20AC|\u00E9|\u00E9|\u20AC|z");
    EXPECT_EQ(Format(u"[%5s][%-5s][%.2s][%5.1hs]", u"ab", u"ab", u"abc", "xyz"), u"[   ab][ab   ][ab][    x]");
    EXPECT_EQ(Format(u"[%3c][%-3c]", u'q', u'q'), u"[  q][q  ]");
    EXPECT_EQ(Format(u"%s %hs", static_cast<const char16_t*>(nullptr), static_cast<const char*>(nullptr)),
              u"(null) (null)");
    EXPECT_EQ(Format(u"100%% sure"), u"100% sure");
    // The precision bounds how far a string is read: no terminator needed.
    const char16_t unterminated[3] = {u'x', u'y', u'z'};
    EXPECT_EQ(Format(u"%.3s", unterminated), u"xyz");
    // Units beyond ASCII in the format itself pass through.
    EXPECT_EQ(Format(u"\u00E9\u20AC%d", 1), u"\u00E9\u20AC1");
    // Unknown conversions and %n stand for themselves and take no argument.
    EXPECT_EQ(Format(u"%y %n %d", 5), u"%y %n 5");
    EXPECT_EQ(Format(u"end%"), u"end%");
}

TEST(WideFormatter, CountRulesOfTheRuntimeLibrary) {
    // Fits with its terminator: the length.  Exactly the count: all of it,
    // no terminator, the count.  Longer: the first count units, no
    // terminator, -1.  Huge widths stream their padding; count 0 writes nothing.
    for (auto [count, format, result, after] :
         {std::tuple<size_t, const char16_t*, int, const char16_t*>{8, u"%d", 7, u"1234567\0"},
          {7, u"%d", 7, u"1234567#"}, {4, u"%d", -1, u"1234####"}, {4, u"%100000d", -1, u"    ####"},
          {0, u"", 0, u"########"}, {0, u"x", -1, u"########"}}) {
        char16_t buffer[8];
        std::fill(buffer, buffer + 8, u'#');
        EXPECT_EQ(_snwprintf(buffer, count, format, 1234567), result) << count << " " << zvtest::N(format);
        EXPECT_EQ(std::u16string(buffer, 8), std::u16string(after, 8)) << count << " " << zvtest::N(format);
    }
    char16_t buffer[8];
    // No buffer and no count: the length needed, to size a buffer with.
    EXPECT_EQ(_snwprintf(nullptr, 0, u""), 0);
    EXPECT_EQ(_snwprintf(nullptr, 0, u"%d|%s", 12345, u"ab"), 8);
    errno = 0;
    EXPECT_EQ(_snwprintf(nullptr, 4, u"x"), -1);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(_snwprintf(buffer, 8, nullptr), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(_snwprintf(buffer, 4, u"%.2000000000d%2147483647s", 1, u"x"), -1);
    EXPECT_EQ(_snwprintf(buffer, 4, u"%99999999999999999999d", 1), -1);  // width saturates
}
