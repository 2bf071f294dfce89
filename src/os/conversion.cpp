// conversion.cpp - the library's fixed mapping between wide and narrow text.
//
// No code page is consulted: narrowing keeps each unit's low 8 bits,
// widening sign-extends each byte, so the result never depends on the
// system's language settings and narrow text survives a trip through wide.
#include "platform/win32.h"
#include "zv.h"

extern "C" {

ZV_API void ZVToAnsi(char* dest, const ZVWCHAR* source) {
    // One byte per unit, terminator included.
    for (;;) {
        ZVWCHAR unit = *source++;
        *dest++ = static_cast<char>(static_cast<uint8_t>(unit & 0xFF));
        if (unit == 0) return;
    }
}
ZV_API void ZVUnicodeToAnsi(char* dest, const ZVWCHAR* source) ZV_ALIAS_OF(ZVToAnsi);

ZV_API void ZVFromAnsi(ZVWCHAR* dest, const char* source) {
    // Sign extension: 0xE9 becomes 0xFFE9, which narrowing turns back into
    // 0xE9, so every byte string round-trips.
    for (;;) {
        int8_t byte = static_cast<int8_t>(*source++);
        *dest++ = static_cast<ZVWCHAR>(static_cast<uint16_t>(static_cast<int16_t>(byte)));
        if (byte == 0) return;
    }
}
ZV_API void ZVAnsiToUnicode(ZVWCHAR* dest, const char* source) ZV_ALIAS_OF(ZVFromAnsi);

// The native text is already wide: converting it to Unicode is a copy.
ZV_API ZVWCHAR* ZVToUnicode(ZVWCHAR* dest, const ZVWCHAR* source) { return ZVStrCpyW(dest, source); }
ZV_API ZVWCHAR* ZVFromUnicode(ZVWCHAR* dest, const ZVWCHAR* source) ZV_ALIAS_OF(ZVToUnicode);

}  // extern "C"
