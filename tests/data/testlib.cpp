// A dynamic library for the module tests: one function and one datum
// exported, and a use of the C library so that it has a dependency whose
// exports are not its own.  Its unload notification leaves a mark when the
// process names a file in ZVTEST_UNLOAD_MARK (the process-end tests).
#include <stdlib.h>
#include <string.h>
#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

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

// The unload notification: DllMain's process detach on Windows, the
// destructor on POSIX.  The mark is made with the system's own calls.
#if defined(_WIN32)
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    char path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("ZVTEST_UNLOAD_MARK", path, MAX_PATH);
    if (reason == DLL_PROCESS_DETACH && length > 0 && length < MAX_PATH) {
        HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
    return TRUE;
}
#else
__attribute__((destructor)) static void Unloaded() {
    const char* path = getenv("ZVTEST_UNLOAD_MARK");
    const int fd = path ? open(path, O_CREAT | O_WRONLY, 0600) : -1;
    if (fd >= 0) close(fd);
}
#endif

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
