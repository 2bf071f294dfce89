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
