// strings.cpp - narrow and wide string functions.
#include "platform/win32.h"
#include "zv.h"

extern "C" {

ZV_API uint32_t ZVStrLenW(const ZVWCHAR* s) {
    const ZVWCHAR* p = s;
    while (*p) ++p;
    return uint32_t(p - s);
}

ZV_API ZVWCHAR* ZVStrCpyW(ZVWCHAR* dest, const ZVWCHAR* s) {
    ZVWCHAR* d = dest;
    while ((*d++ = *s++) != 0) {
    }
    return dest;
}

}  // extern "C"
