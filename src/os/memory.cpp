// memory.cpp - heap blocks and raw memory operations.
//
// The heap calls go to the runtime library's heap, so a block from ZVMalloc,
// ZVCalloc or ZVReAlloc is released with ZVFree and nothing else.
#include <stdlib.h>
#include <string.h>

#include "platform/win32.h"
#include "zv.h"

namespace {

// Zero, fill and copy run whole 32-bit words first, then the remaining
// bytes; copying runs strictly forward.  memcpy of 4 bytes is the portable
// way to store a word at any alignment and compiles to one move.
inline void StoreWord(unsigned char* p, uint32_t word) { memcpy(p, &word, 4); }

inline uint32_t LoadWord(const unsigned char* p) {
    uint32_t word;
    memcpy(&word, p, 4);
    return word;
}

}  // namespace

extern "C" {

ZV_API void* ZVMalloc(uint32_t size) { return malloc(size); }

ZV_API void* ZVCalloc(uint32_t count, uint32_t size) { return calloc(count, size); }

ZV_API void* ZVReAlloc(void* block, uint32_t size) { return realloc(block, size); }

ZV_API void ZVFree(void* block) { free(block); }

ZV_API void ZVFillMemory(void* dest, uint32_t length, int32_t fill) {
    unsigned char* p = static_cast<unsigned char*>(dest);
    const uint32_t byte = uint32_t(fill) & 0xFFu;
    const uint32_t word = byte * 0x01010101u;
    uint32_t words = length / 4;
    for (uint32_t i = 0; i < words; ++i, p += 4) StoreWord(p, word);
    for (uint32_t i = 0; i < length % 4; ++i) *p++ = static_cast<unsigned char>(byte);
}

ZV_API void ZVZeroMemory(void* dest, uint32_t length) { ZVFillMemory(dest, length, 0); }

ZV_API void ZVCopyMemory(void* dest, const void* source, uint32_t length) {
    unsigned char* d = static_cast<unsigned char*>(dest);
    const unsigned char* s = static_cast<const unsigned char*>(source);
    uint32_t words = length / 4;
    for (uint32_t i = 0; i < words; ++i, d += 4, s += 4) StoreWord(d, LoadWord(s));
    for (uint32_t i = 0; i < length % 4; ++i) *d++ = *s++;
}

ZV_API void* ZVMoveMemory(void* dest, const void* source, uint32_t length) {
    return memmove(dest, source, length);
}

ZV_API int32_t ZVCompareMemory(const void* first, const void* second, uint32_t length) {
    const unsigned char* a = static_cast<const unsigned char*>(first);
    const unsigned char* b = static_cast<const unsigned char*>(second);
    for (uint32_t i = 0; i < length; ++i) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

}  // extern "C"
