// conversion.cpp - the library's fixed mapping between wide and narrow text.
//
// No code page is consulted: narrowing keeps each unit's low 8 bits,
// widening sign-extends each byte, so the result never depends on the
// system's language settings and narrow text survives a trip through wide.
//
// Each conversion first finds the source's length and then converts a
// counted run, terminator included: counted loops over fixed-size blocks are
// what the compiler turns into vector code.
#include <stdint.h>
#include <string.h>

#include "platform/win32.h"
#include "zv.h"

namespace {

constexpr size_t kBlockUnits = 32;
constexpr uintptr_t kBlockBytes = kBlockUnits * sizeof(ZVWCHAR);

// The length of a wide string.  Units are read one by one up to a 64-byte
// boundary, then in aligned blocks of 64 bytes; a block that holds the
// terminator lies on the same page as it, so reading it whole is safe.  An
// odd address (never a valid wide string) stays on the unit-by-unit road.
ZV_VECTOR_VARIANTS ZV_READS_ALIGNED_BLOCKS size_t WideLength(const ZVWCHAR* s) {
    const ZVWCHAR* p = s;
    while (reinterpret_cast<uintptr_t>(p) % kBlockBytes != 0) {
        if (*p == 0) return size_t(p - s);
        ++p;
    }
    for (;; p += kBlockUnits) {
        uint16_t smallest = 0xFFFF;
        for (size_t i = 0; i < kBlockUnits; ++i) {
            uint16_t unit = p[i];
            smallest = unit < smallest ? unit : smallest;
        }
        if (smallest == 0) break;
    }
    while (*p != 0) ++p;
    return size_t(p - s);
}

ZV_VECTOR_VARIANTS void Narrow(char* __restrict dest, const ZVWCHAR* __restrict source,
                               size_t count) {
    size_t i = 0;
    for (; i + kBlockUnits <= count; i += kBlockUnits) {
        for (size_t j = 0; j < kBlockUnits; ++j) dest[i + j] = char(uint8_t(source[i + j]));
    }
    for (; i < count; ++i) dest[i] = char(uint8_t(source[i]));
}

// Sign extension: 0xE9 becomes 0xFFE9, which narrowing turns back into 0xE9,
// so every byte string round-trips.
ZV_VECTOR_VARIANTS void Widen(ZVWCHAR* __restrict dest, const char* __restrict source,
                              size_t count) {
    size_t i = 0;
    for (; i + kBlockUnits <= count; i += kBlockUnits) {
        for (size_t j = 0; j < kBlockUnits; ++j) {
            dest[i + j] = ZVWCHAR(uint16_t(int16_t(int8_t(source[i + j]))));
        }
    }
    for (; i < count; ++i) dest[i] = ZVWCHAR(uint16_t(int16_t(int8_t(source[i]))));
}

}  // namespace

extern "C" {

// One byte per unit, terminator included.
ZV_API void ZVToAnsi(char* dest, const ZVWCHAR* source) {
    Narrow(dest, source, WideLength(source) + 1);
}
ZV_API void ZVUnicodeToAnsi(char* dest, const ZVWCHAR* source) ZV_ALIAS_OF(ZVToAnsi);

// One unit per byte, terminator included.
ZV_API void ZVFromAnsi(ZVWCHAR* dest, const char* source) {
    Widen(dest, source, strlen(source) + 1);
}
ZV_API void ZVAnsiToUnicode(ZVWCHAR* dest, const char* source) ZV_ALIAS_OF(ZVFromAnsi);

// The native text is already wide: converting it to Unicode is a copy.
ZV_API ZVWCHAR* ZVToUnicode(ZVWCHAR* dest, const ZVWCHAR* source) { return ZVStrCpyW(dest, source); }
ZV_API ZVWCHAR* ZVFromUnicode(ZVWCHAR* dest, const ZVWCHAR* source) ZV_ALIAS_OF(ZVToUnicode);

}  // extern "C"
