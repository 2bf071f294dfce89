// A dynamic library for the module tests: one function and one datum
// exported, and a use of the C library so that it has a dependency whose
// exports are not its own.
#include <stdlib.h>
#include <string.h>

extern "C" {

__attribute__((visibility("default"))) int zv_test_counter = 42;

__attribute__((visibility("default"))) int ZvTestAdd(int a, int b) { return a + b; }

__attribute__((visibility("default"))) int ZvTestLength(const char* text) {
    char* copy = static_cast<char*>(malloc(strlen(text) + 1));
    strcpy(copy, text);
    int length = int(strlen(copy));
    free(copy);
    return length;
}

}  // extern "C"

// Exports whose names are 511 and 512 characters long: "ZvLongSymbol"
// followed by 499 or 500 x's.
#define ZV_X10 "xxxxxxxxxx"
#define ZV_X100 ZV_X10 ZV_X10 ZV_X10 ZV_X10 ZV_X10 ZV_X10 ZV_X10 ZV_X10 ZV_X10 ZV_X10
#define ZV_X499 ZV_X100 ZV_X100 ZV_X100 ZV_X100 ZV_X10 ZV_X10 ZV_X10 ZV_X10 ZV_X10 ZV_X10 ZV_X10 ZV_X10 ZV_X10 "xxxxxxxxx"

// An assembler name is taken as it is: the target's prefix of C names (an
// underscore on 32-bit Windows) goes in front by hand.
#define ZV_TEXT(x) #x
#define ZV_PREFIX(x) ZV_TEXT(x)

extern "C" {
#define ZV_LONG_SYMBOL ZV_PREFIX(__USER_LABEL_PREFIX__) "ZvLongSymbol" ZV_X499
__attribute__((visibility("default"))) int ZvLong511(void) __asm__(ZV_LONG_SYMBOL);
__attribute__((visibility("default"))) int ZvLong512(void) __asm__(ZV_LONG_SYMBOL "x");
int ZvLong511(void) { return 511; }
int ZvLong512(void) { return 512; }
}
