// strings.cpp - narrow and wide string functions.
//
// The wide family runs its own loops over ZVWCHAR: the C library's wide
// functions work on wchar_t, which is not 16 bits everywhere.  Where the
// narrow family has rules of its own (ASCII-only folding, signed characters
// in case-insensitive comparison), they are written out here too.
#include <stdint.h>
#include <string.h>

#include <type_traits>

#include "platform/win32.h"
#include "zv.h"

namespace {

// ---- Character rules ------------------------------------------------------

// Narrow case rules know only ASCII; the wide ones fold 'A'-'Z' and 'a'-'z',
// which is all the default locale folds.
template <typename C>
inline uint32_t Code(C c) {
    return uint32_t(static_cast<typename std::make_unsigned<C>::type>(c));
}

template <typename C>
inline bool IsUpper(C c) {
    return Code(c) >= 0x41 && Code(c) <= 0x5A;
}

template <typename C>
inline bool IsLower(C c) {
    return Code(c) >= 0x61 && Code(c) <= 0x7A;
}

template <typename C>
inline bool IsDigit(C c) {
    return Code(c) >= 0x30 && Code(c) <= 0x39;
}

// White space as isspace in the C locale: blank, tab, LF, VT, FF, CR.
template <typename C>
inline bool IsSpace(C c) {
    return Code(c) == 0x20 || (Code(c) >= 0x09 && Code(c) <= 0x0D);
}

// Digit value in radix up to 36, or 99 for a character that is no digit.
template <typename C>
inline uint32_t DigitValue(C c) {
    uint32_t u = Code(c);
    if (u >= 0x30 && u <= 0x39) return u - 0x30;
    if (u >= 0x61 && u <= 0x7A) return u - 0x61 + 10;
    if (u >= 0x41 && u <= 0x5A) return u - 0x41 + 10;
    return 99;
}

// Wide comparisons fold to lower case, units compared as unsigned values.
inline int32_t FoldW(ZVWCHAR c) { return int32_t(IsUpper(c) ? Code(c) + 0x20 : Code(c)); }

// ---- Shared by both widths ------------------------------------------------

template <typename C>
uint32_t Length(const C* s) {
    const C* p = s;
    while (*p) ++p;
    return uint32_t(p - s);
}

template <typename C>
uint32_t BoundedLength(const C* s, uint32_t n) {
    uint32_t count = 0;
    while (count < n && s[count] != 0) ++count;
    return count;
}

// Unsigned comparison of at most n characters; -1, 0 or +1.
template <typename C>
int32_t Compare(const C* a, const C* b, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t ca = Code(a[i]), cb = Code(b[i]);
        if (ca != cb) return ca < cb ? -1 : 1;
        if (ca == 0) break;
    }
    return 0;
}

template <typename C>
C* FindFirst(const C* s, C c) {
    for (;; ++s) {
        if (*s == c) return const_cast<C*>(s);
        if (*s == 0) return nullptr;
    }
}

// Steps back from the terminator, the terminator included.
template <typename C>
C* FindLast(const C* s, C c) {
    const C* p = s + Length(s);
    for (;;) {
        if (*p == c) return const_cast<C*>(p);
        if (p == s) return nullptr;
        --p;
    }
}

template <typename C>
C* FindString(const C* s, const C* sought) {
    if (*sought == 0) return const_cast<C*>(s);
    for (; *s; ++s) {
        if (*s != *sought) continue;
        const C* a = s;
        const C* b = sought;
        while (*b && *a == *b) ++a, ++b;
        if (*b == 0) return const_cast<C*>(s);
    }
    return nullptr;
}

template <typename C>
C* CopyBounded(C* dest, const C* s, uint32_t n) {
    uint32_t i = 0;
    for (; i < n && s[i] != 0; ++i) dest[i] = s[i];
    for (; i < n; ++i) dest[i] = 0;
    return dest;
}

template <typename C>
C* AppendBounded(C* dest, const C* s, uint32_t n) {
    C* d = dest + Length(dest);
    uint32_t i = 0;
    for (; i < n && s[i] != 0; ++i) d[i] = s[i];
    d[i] = 0;
    return dest;
}

template <typename C>
bool IsDelimiter(C c, const C* delimiters) {
    for (; *delimiters; ++delimiters) {
        if (*delimiters == c) return true;
    }
    return false;
}

// strtok with the position kept in the caller's variable.
template <typename C>
C* Token(C* s, const C* delimiters, C** position) {
    C* p = s ? s : *position;
    if (p == nullptr) return nullptr;
    while (*p != 0 && IsDelimiter(*p, delimiters)) ++p;
    if (*p == 0) {
        *position = nullptr;
        return nullptr;
    }
    C* token = p;
    while (*p != 0 && !IsDelimiter(*p, delimiters)) ++p;
    if (*p == 0) {
        *position = nullptr;
    } else {
        *p = 0;
        *position = p + 1;
    }
    return token;
}

// atoi/atol: white space, sign, decimal digits.  A value out of range
// saturates at the nearest 32-bit limit.
template <typename C>
int32_t ToInt(const C* s) {
    while (IsSpace(*s)) ++s;
    bool negative = false;
    if (Code(*s) == '-' || Code(*s) == '+') negative = Code(*s++) == '-';
    const uint32_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
    uint32_t magnitude = 0;
    bool overflow = false;
    for (; IsDigit(*s); ++s) {
        uint32_t digit = Code(*s) - 0x30;
        if (overflow || magnitude > (limit - digit) / 10) {
            overflow = true;
            continue;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (overflow) magnitude = limit;
    return negative ? int32_t(0u - magnitude) : int32_t(magnitude);
}

// strtoul with base 0 in 32-bit arithmetic.
template <typename C>
uint32_t ToUnsigned(const C* s) {
    while (IsSpace(*s)) ++s;
    bool negative = false;
    if (Code(*s) == '-' || Code(*s) == '+') negative = Code(*s++) == '-';
    uint32_t radix = 10;
    if (Code(s[0]) == '0') {
        // "0x" counts as a prefix only before a hexadecimal digit; otherwise
        // the 0 is the number and the x ends it.
        if ((Code(s[1]) == 'x' || Code(s[1]) == 'X') && DigitValue(s[2]) < 16) {
            radix = 16;
            s += 2;
        } else {
            radix = 8;
        }
    }
    uint32_t value = 0;
    bool overflow = false;
    for (uint32_t digit; (digit = DigitValue(*s)) < radix; ++s) {
        if (value > (0xFFFFFFFFu - digit) / radix) overflow = true;
        value = value * radix + digit;
    }
    if (overflow) return 0xFFFFFFFFu;
    return negative ? 0u - value : value;
}

// Digits of value in radix; radix 10 signs negative values, every other
// radix writes the 32 bits unsigned.  A radix outside 2..36 has no digits
// and writes the empty string.
template <typename C>
C* ToText(int32_t value, C* dest, int32_t radix) {
    C* d = dest;
    if (radix < 2 || radix > 36) {
        *d = 0;
        return dest;
    }
    uint32_t magnitude = uint32_t(value);
    if (radix == 10 && value < 0) {
        *d++ = C('-');
        magnitude = 0u - magnitude;
    }
    C digits[32];
    int count = 0;
    do {
        uint32_t digit = magnitude % uint32_t(radix);
        digits[count++] = C(digit < 10 ? 0x30 + digit : 0x61 + digit - 10);
        magnitude /= uint32_t(radix);
    } while (magnitude != 0);
    while (count > 0) *d++ = digits[--count];
    *d = 0;
    return dest;
}

// Narrow case-insensitive comparison: signed characters, 'A'-'Z' folded
// down; the result is the difference of the last folded pair.
inline int32_t FoldA(char c) {
    int32_t v = int32_t(static_cast<signed char>(c));
    return (v >= 0x41 && v <= 0x5A) ? v + 0x20 : v;
}

}  // namespace

extern "C" {

// ---- Length and case ------------------------------------------------------

ZV_API uint32_t ZVStrLenA(const char* s) { return uint32_t(strlen(s)); }

ZV_API uint32_t ZVStrLenW(const ZVWCHAR* s) { return Length(s); }

ZV_API uint32_t ZVStrNLenA(const char* s, uint32_t n) { return BoundedLength(s, n); }

ZV_API uint32_t ZVStrNLenW(const ZVWCHAR* s, uint32_t n) { return BoundedLength(s, n); }

ZV_API char* ZVStrUprA(char* s) {
    for (char* p = s; *p; ++p) {
        if (IsLower(*p)) *p = char(Code(*p) - 0x20);
    }
    return s;
}

ZV_API ZVWCHAR* ZVStrUprW(ZVWCHAR* s) {
    for (ZVWCHAR* p = s; *p; ++p) {
        if (IsLower(*p)) *p = ZVWCHAR(*p - 0x20);
    }
    return s;
}

// ---- Comparison -----------------------------------------------------------

ZV_API int32_t ZVStrCmpA(const char* a, const char* b) { return Compare(a, b, 0xFFFFFFFFu); }

ZV_API int32_t ZVStrCmpW(const ZVWCHAR* a, const ZVWCHAR* b) {
    return Compare(a, b, 0xFFFFFFFFu);
}

ZV_API int32_t ZVStrNCmpA(const char* a, const char* b, uint32_t n) { return Compare(a, b, n); }

ZV_API int32_t ZVStrNCmpW(const ZVWCHAR* a, const ZVWCHAR* b, uint32_t n) {
    return Compare(a, b, n);
}

ZV_API int32_t ZVStrICmpA(const char* a, const char* b) {
    for (;; ++a, ++b) {
        int32_t fa = FoldA(*a), fb = FoldA(*b);
        if (fa == 0 || fa != fb) return fa - fb;
    }
}

ZV_API int32_t ZVStrNICmpA(const char* a, const char* b, uint32_t n) {
    int32_t fa = 0, fb = 0;
    for (uint32_t i = 0; i < n; ++i) {
        fa = FoldA(a[i]);
        fb = FoldA(b[i]);
        if (fa == 0 || fa != fb) break;
    }
    return fa - fb;
}

ZV_API int32_t ZVStrNICmpW(const ZVWCHAR* a, const ZVWCHAR* b, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        int32_t fa = FoldW(a[i]), fb = FoldW(b[i]);
        if (fa != fb) return fa - fb;
        if (fa == 0) break;
    }
    return 0;
}

ZV_API int32_t ZVStrICmpW(const ZVWCHAR* a, const ZVWCHAR* b) {
    return ZVStrNICmpW(a, b, 0xFFFFFFFFu);
}

// ---- Search ---------------------------------------------------------------

ZV_API char* ZVStrChrA(const char* s, char c) { return FindFirst(s, c); }

ZV_API ZVWCHAR* ZVStrChrW(const ZVWCHAR* s, ZVWCHAR c) { return FindFirst(s, c); }

ZV_API char* ZVStrRChrA(const char* s, char c) { return FindLast(s, c); }

ZV_API ZVWCHAR* ZVStrRChrW(const ZVWCHAR* s, ZVWCHAR c) { return FindLast(s, c); }

ZV_API char* ZVStrStrA(const char* s, const char* sought) {
    return const_cast<char*>(strstr(s, sought));
}

ZV_API ZVWCHAR* ZVStrStrW(const ZVWCHAR* s, const ZVWCHAR* sought) {
    return FindString(s, sought);
}

// ---- Copy and append ------------------------------------------------------

ZV_API char* ZVStrCpyA(char* dest, const char* s) {
    memcpy(dest, s, strlen(s) + 1);
    return dest;
}

ZV_API ZVWCHAR* ZVStrCpyW(ZVWCHAR* dest, const ZVWCHAR* s) {
    ZVWCHAR* d = dest;
    while ((*d++ = *s++) != 0) {
    }
    return dest;
}

ZV_API char* ZVStrNCpyA(char* dest, const char* s, uint32_t n) {
    return CopyBounded(dest, s, n);
}

ZV_API ZVWCHAR* ZVStrNCpyW(ZVWCHAR* dest, const ZVWCHAR* s, uint32_t n) {
    return CopyBounded(dest, s, n);
}

ZV_API char* ZVStrCatA(char* dest, const char* s) {
    ZVStrCpyA(dest + strlen(dest), s);
    return dest;
}

ZV_API ZVWCHAR* ZVStrCatW(ZVWCHAR* dest, const ZVWCHAR* s) {
    ZVStrCpyW(dest + Length(dest), s);
    return dest;
}

ZV_API char* ZVStrNCatA(char* dest, const char* s, uint32_t n) {
    return AppendBounded(dest, s, n);
}

ZV_API ZVWCHAR* ZVStrNCatW(ZVWCHAR* dest, const ZVWCHAR* s, uint32_t n) {
    return AppendBounded(dest, s, n);
}

// ---- Tokens ---------------------------------------------------------------

ZV_API char* ZVStrTokA(char* s, const char* delimiters, char** position) {
    return Token(s, delimiters, position);
}

ZV_API ZVWCHAR* ZVStrTokW(ZVWCHAR* s, const ZVWCHAR* delimiters, ZVWCHAR** position) {
    return Token(s, delimiters, position);
}

// ---- Numbers --------------------------------------------------------------

ZV_API int32_t ZVStrToIA(const char* s) { return ToInt(s); }

ZV_API int32_t ZVStrToIW(const ZVWCHAR* s) { return ToInt(s); }

ZV_API int32_t ZVStrToLA(const char* s) { return ToInt(s); }

ZV_API int32_t ZVStrToLW(const ZVWCHAR* s) { return ToInt(s); }

ZV_API uint32_t ZVStrToULA(const char* s) { return ToUnsigned(s); }

ZV_API uint32_t ZVStrToULW(const ZVWCHAR* s) { return ToUnsigned(s); }

ZV_API char* ZVLToStrA(int32_t value, char* dest, int32_t radix) {
    return ToText(value, dest, radix);
}

ZV_API ZVWCHAR* ZVLToStrW(int32_t value, ZVWCHAR* dest, int32_t radix) {
    return ToText(value, dest, radix);
}

// ---- Character classes ----------------------------------------------------

ZV_API int32_t ZVIsDigitA(char c) { return IsDigit(c) ? 1 : 0; }

ZV_API int32_t ZVIsDigitW(ZVWCHAR c) { return IsDigit(c) ? 1 : 0; }

ZV_API int32_t ZVIsAlphaA(char c) { return IsUpper(c) || IsLower(c) ? 1 : 0; }

ZV_API int32_t ZVIsAlphaW(ZVWCHAR c) { return IsUpper(c) || IsLower(c) ? 1 : 0; }

}  // extern "C"
