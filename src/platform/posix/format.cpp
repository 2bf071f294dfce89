// format.cpp - the runtime library's wide formatter over 16-bit units.
//
// printf rules in wide form: %s and %c take wide text, %hs/%S and %hc/%C
// narrow text (read as ISO-8859-1, the machine's ANSI code page, one unit
// per byte), %ls/%ws and %lc/%wc wide text.  Length modifiers follow the
// host's C types (l is long); I64, I32 and I (pointer-sized) are accepted
// too.  A conversion the formatter does not know, %n included, is copied
// through as text and consumes no argument.
//
// Result, as the runtime library's: the number of units written when the
// output and its terminator fit; the count, without a terminator, when the
// output is exactly count units long; -1 when it is longer (the buffer then
// holds the first count units, unterminated).  With no buffer and a count of
// 0 it is the length the text needs, as a way to size a buffer.  %e, %E, %g
// and %G write at least three exponent digits, as the Windows runtime does.
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdarg.h>
#include <string.h>

#include <cmath>
#include <string>

#include "platform/win32.h"

namespace {

// Floating-point precisions beyond this are refused rather than formatted
// into an ever larger host buffer; a double has no more digits to show.
constexpr int kMaxFloatPrecision = 4096;

class Output {
  public:
    Output(WCHAR* buffer, size_t count) : buffer_(buffer), count_(count) {}
    void Put(char16_t unit) {
        if (length_ < count_) buffer_[length_] = unit;
        ++length_;
    }
    // Padding past the count is only counted, so a huge width costs nothing.
    void Repeat(char16_t unit, size_t n) {
        size_t room = length_ < count_ ? count_ - length_ : 0;
        for (size_t i = 0; i < n && i < room; ++i) buffer_[length_ + i] = unit;
        length_ += n;
    }
    void PutNarrow(const char* text, size_t n) {
        for (size_t i = 0; i < n; ++i) Put(char16_t(static_cast<unsigned char>(text[i])));
    }
    size_t length() const { return length_; }

  private:
    WCHAR* buffer_;
    size_t count_;
    size_t length_ = 0;
};

enum class Size { Default, Char, Short, Long, LongLong, IntMax, SizeT, PtrDiff, LongDouble, Int32, Int64, Pointer, Wide };

struct Directive {
    bool left = false, plus = false, space = false, alternate = false, zero = false;
    size_t width = 0;
    int precision = -1;  // -1: none given
    Size size = Size::Default;
    char16_t conversion = 0;
};

void Pad(Output& out, size_t used, const Directive& directive, char16_t unit = u' ') {
    if (directive.width > used) out.Repeat(unit, directive.width - used);
}

// Text fields (%s, %c): width pads with blanks on the left or right.
template <class C>
void PutText(Output& out, const Directive& directive, const C* text, size_t length) {
    if (!directive.left) Pad(out, length, directive);
    for (size_t i = 0; i < length; ++i) {
        if (sizeof(C) == 1)
            out.Put(char16_t(static_cast<unsigned char>(text[i])));
        else
            out.Put(char16_t(text[i]));
    }
    if (directive.left) Pad(out, length, directive);
}

template <class C>
void PutString(Output& out, const Directive& directive, const C* text) {
    static const C null[] = {'(', 'n', 'u', 'l', 'l', ')', 0};
    if (!text) text = null;
    size_t length = 0;
    // The precision bounds how far the text is read, as well as written.
    while ((directive.precision < 0 || length < size_t(directive.precision)) && text[length]) ++length;
    PutText(out, directive, text, length);
}

void PutInteger(Output& out, const Directive& directive, unsigned long long magnitude, bool negative) {
    char16_t conversion = directive.conversion;
    bool isSigned = conversion == u'd' || conversion == u'i';
    unsigned base = conversion == u'o' ? 8 : (conversion == u'x' || conversion == u'X') ? 16 : 10;
    const char* digitSet = conversion == u'X' ? "0123456789ABCDEF" : "0123456789abcdef";

    char digits[32];
    size_t count = 0;
    for (unsigned long long v = magnitude; v != 0; v /= base) digits[count++] = digitSet[v % base];
    // A precision of 0 prints nothing for the value 0; otherwise one digit.
    if (magnitude == 0 && directive.precision != 0) digits[count++] = '0';

    size_t zeros = directive.precision > 0 && size_t(directive.precision) > count ? size_t(directive.precision) - count : 0;
    // '#' with octal: the first digit is a 0.
    if (directive.alternate && base == 8 && zeros == 0 && (count == 0 || digits[count - 1] != '0')) zeros = 1;

    char16_t sign = 0;
    if (isSigned) sign = negative ? u'-' : directive.plus ? u'+' : directive.space ? u' ' : 0;
    const char16_t* prefix = nullptr;
    if (directive.alternate && base == 16 && magnitude != 0) prefix = conversion == u'X' ? u"0X" : u"0x";

    size_t used = (sign ? 1 : 0) + (prefix ? 2 : 0) + zeros + count;
    bool zeroFill = directive.zero && !directive.left && directive.precision < 0;
    if (!directive.left && !zeroFill) Pad(out, used, directive);
    if (sign) out.Put(sign);
    if (prefix) {
        out.Put(prefix[0]);
        out.Put(prefix[1]);
    }
    if (zeroFill) Pad(out, used, directive, u'0');
    out.Repeat(u'0', zeros);
    while (count > 0) out.Put(char16_t(digits[--count]));
    if (directive.left) Pad(out, used, directive);
}

// Floating point and pointers: the host's narrow formatter makes the
// digits (the width is applied here).
std::string HostText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string HostText(const char* format, ...) {
    va_list args, copy;
    va_start(args, format);
    va_copy(copy, args);
    char small[128];
    int length = vsnprintf(small, sizeof(small), format, args);
    va_end(args);
    std::string text;
    if (length >= 0 && size_t(length) < sizeof(small)) {
        text.assign(small, size_t(length));
    } else if (length > 0) {
        text.resize(size_t(length) + 1);
        vsnprintf(&text[0], text.size(), format, copy);
        text.resize(size_t(length));
    }
    va_end(copy);
    return text;
}

// The Windows runtime writes at least three exponent digits (1.0e+008),
// where the host writes two.
std::string WindowsExponent(std::string text) {
    size_t e = text.find_first_of("eE");
    if (e == std::string::npos || e + 2 >= text.size()) return text;
    size_t digits = text.size() - (e + 2);
    if (digits < 3) text.insert(e + 2, 3 - digits, '0');
    return text;
}

// Zeros of the 0 flag go after the sign and any 0x prefix.
void PutPadded(Output& out, const Directive& directive, const std::string& text, bool zeroFillAllowed) {
    size_t used = text.size();
    bool zeroFill = directive.zero && !directive.left && zeroFillAllowed;
    if (!directive.left && !zeroFill) Pad(out, used, directive);
    size_t lead = 0;
    if (zeroFill) {
        if (lead < used && (text[0] == '-' || text[0] == '+' || text[0] == ' ')) lead = 1;
        if (lead + 1 < used && text[lead] == '0' && (text[lead + 1] == 'x' || text[lead + 1] == 'X'))
            lead += 2;
        out.PutNarrow(text.data(), lead);
        Pad(out, used, directive, u'0');
    }
    out.PutNarrow(text.data() + lead, used - lead);
    if (directive.left) Pad(out, used, directive);
}

// Reads a decimal number of the format, saturating far above any real
// width; returns false when the format holds none.
bool ReadNumber(const WCHAR*& p, size_t* value) {
    if (*p < u'0' || *p > u'9') return false;
    size_t v = 0;
    while (*p >= u'0' && *p <= u'9') {
        if (v < size_t(INT_MAX)) v = v * 10 + size_t(*p - u'0');
        ++p;
    }
    *value = v > size_t(INT_MAX) ? size_t(INT_MAX) : v;
    return true;
}

Size ReadSize(const WCHAR*& p) {
    switch (*p) {
        case u'h':
            ++p;
            if (*p == u'h') {
                ++p;
                return Size::Char;
            }
            return Size::Short;
        case u'l':
            ++p;
            if (*p == u'l') {
                ++p;
                return Size::LongLong;
            }
            return Size::Long;
        case u'L': ++p; return Size::LongDouble;
        case u'j': ++p; return Size::IntMax;
        case u'z': ++p; return Size::SizeT;
        case u't': ++p; return Size::PtrDiff;
        case u'w': ++p; return Size::Wide;
        case u'I':
            if (p[1] == u'6' && p[2] == u'4') {
                p += 3;
                return Size::Int64;
            }
            if (p[1] == u'3' && p[2] == u'2') {
                p += 3;
                return Size::Int32;
            }
            ++p;
            return Size::Pointer;
        default: return Size::Default;
    }
}

long long SignedArgument(Size size, va_list* args) {
    switch (size) {
        case Size::Char: return static_cast<signed char>(va_arg(*args, int));
        case Size::Short: return static_cast<short>(va_arg(*args, int));
        case Size::Long: return va_arg(*args, long);
        case Size::LongLong:
        case Size::Int64: return va_arg(*args, long long);
        case Size::IntMax: return va_arg(*args, intmax_t);
        case Size::SizeT:
        case Size::PtrDiff:
        case Size::Pointer: return va_arg(*args, ptrdiff_t);
        case Size::Int32:
        default: return va_arg(*args, int);
    }
}

unsigned long long UnsignedArgument(Size size, va_list* args) {
    switch (size) {
        case Size::Char: return static_cast<unsigned char>(va_arg(*args, unsigned));
        case Size::Short: return static_cast<unsigned short>(va_arg(*args, unsigned));
        case Size::Long: return va_arg(*args, unsigned long);
        case Size::LongLong:
        case Size::Int64: return va_arg(*args, unsigned long long);
        case Size::IntMax: return va_arg(*args, uintmax_t);
        case Size::SizeT:
        case Size::PtrDiff:
        case Size::Pointer: return va_arg(*args, size_t);
        case Size::Int32:
        default: return va_arg(*args, unsigned);
    }
}

// The host format for a floating-point conversion, flags and
// precision included, width left out.
std::string HostFormat(const Directive& directive) {
    std::string format = "%";
    if (directive.plus) format += '+';
    if (directive.space) format += ' ';
    if (directive.alternate) format += '#';
    if (directive.precision >= 0) format += "." + std::to_string(directive.precision);
    if (directive.size == Size::LongDouble) format += 'L';
    format += char(directive.conversion);
    return format;
}

// Formats one conversion; false when its arguments cannot be formatted.
bool Convert(Output& out, Directive& directive, va_list* args) {
    switch (directive.conversion) {
        case u'%': out.Put(u'%'); return true;
        case u'd':
        case u'i': {
            long long value = SignedArgument(directive.size, args);
            unsigned long long magnitude = value < 0 ? 0ull - static_cast<unsigned long long>(value)
                                                     : static_cast<unsigned long long>(value);
            PutInteger(out, directive, magnitude, value < 0);
            return true;
        }
        case u'u':
        case u'o':
        case u'x':
        case u'X': PutInteger(out, directive, UnsignedArgument(directive.size, args), false); return true;
        case u'c':
        case u'C': {
            bool narrow = directive.size == Size::Short || (directive.conversion == u'C' && directive.size != Size::Long &&
                                                       directive.size != Size::Wide);
            int value = va_arg(*args, int);
            char16_t unit = narrow ? char16_t(static_cast<unsigned char>(value)) : char16_t(value);
            PutText(out, directive, &unit, 1);
            return true;
        }
        case u's':
        case u'S': {
            bool narrow = directive.size == Size::Short || (directive.conversion == u'S' && directive.size != Size::Long &&
                                                       directive.size != Size::Wide);
            if (narrow)
                PutString(out, directive, va_arg(*args, const char*));
            else
                PutString(out, directive, va_arg(*args, const WCHAR*));
            return true;
        }
        case u'p': {
            // Windows' form: every digit of the address, upper case, "0X"
            // only with '#'; the 0 flag does not apply.
            unsigned long long address = reinterpret_cast<uintptr_t>(va_arg(*args, void*));
            PutPadded(out, directive,
                      HostText("%s%0*llX", directive.alternate ? "0X" : "", int(2 * sizeof(void*)), address),
                      false);
            return true;
        }
        case u'e':
        case u'E':
        case u'f':
        case u'F':
        case u'g':
        case u'G':
        case u'a':
        case u'A': {
            if (directive.precision > kMaxFloatPrecision) return false;
            std::string format = HostFormat(directive);
            std::string text;
            bool finite;
            if (directive.size == Size::LongDouble) {
                long double value = va_arg(*args, long double);
                text = HostText(format.c_str(), value), finite = std::isfinite(value);
            } else {
                double value = va_arg(*args, double);
                text = HostText(format.c_str(), value), finite = std::isfinite(value);
            }
            bool decimal = strchr("eEgG", char(directive.conversion)) != nullptr;
            PutPadded(out, directive, decimal && finite ? WindowsExponent(text) : text, finite);
            return true;
        }
        default: return false;
    }
}

bool IsConversion(char16_t c) { return c && strchr("%diuoxXcCsSpeEfFgGaA", char(c)) && c < 0x80; }

// Formats into out; false when an argument could not be formatted.
bool Format(Output& out, const WCHAR* format, va_list* args) {
    for (const WCHAR* p = format; *p;) {
        if (*p != u'%') {
            out.Put(*p++);
            continue;
        }
        const WCHAR* start = p++;
        Directive directive;
        for (;; ++p) {
            if (*p == u'-') directive.left = true;
            else if (*p == u'+') directive.plus = true;
            else if (*p == u' ') directive.space = true;
            else if (*p == u'#') directive.alternate = true;
            else if (*p == u'0') directive.zero = true;
            else break;
        }
        if (*p == u'*') {
            ++p;
            int width = va_arg(*args, int);
            if (width < 0) {
                directive.left = true;
                width = width == INT_MIN ? INT_MAX : -width;
            }
            directive.width = size_t(width);
        } else {
            ReadNumber(p, &directive.width);
        }
        if (*p == u'.') {
            ++p;
            if (*p == u'*') {
                ++p;
                int precision = va_arg(*args, int);
                directive.precision = precision < 0 ? -1 : precision;
            } else {
                size_t precision = 0;
                ReadNumber(p, &precision);
                directive.precision = int(precision);
            }
        }
        directive.size = ReadSize(p);
        if (!IsConversion(*p)) {
            // Not a conversion: the text stands for itself.
            if (*p) ++p;
            while (start < p) out.Put(*start++);
            continue;
        }
        directive.conversion = *p++;
        if (!Convert(out, directive, args)) return false;
    }
    return true;
}

}  // namespace

int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args) {
    if (!format || (!buffer && count > 0)) {
        errno = EINVAL;
        return -1;
    }
    Output out(buffer, count);
    va_list copy;
    va_copy(copy, args);
    bool ok = Format(out, format, &copy);
    va_end(copy);
    size_t length = out.length();
    if (length < count) buffer[length] = 0;
    if (!ok) {
        errno = EINVAL;
        return -1;
    }
    if (length > size_t(INT_MAX)) return -1;
    // No buffer and no count: the length the text needs.
    if (!buffer) return int(length);
    if (length > count) return -1;
    return int(length);
}

int _snwprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    int result = _vsnwprintf(buffer, count, format, args);
    va_end(args);
    return result;
}
