// zv - the command-line front of the ZV library.
#include <stdio.h>
#include <string.h>

#include <string>

#include "frame/frame.h"
#include "zv.h"

namespace {

std::string Narrow(const ZVWCHAR* text) {
    std::string out(ZVStrLenW(text), '\0');
    ZVToAnsi(&out[0], text);
    return out;
}

int Info() {
    printf("library:        ZV %s %s %s (endian %d)\n", Narrow(ZVCompilerTypeString()).c_str(),
           Narrow(ZVHardwareTypeString()).c_str(), Narrow(ZVPlatformTypeString()).c_str(),
           ZVHWEndian());
    printf("platform:       %s family (wide calls %s)\n", zv::g_wideCalls ? "NT" : "9x",
           zv::g_wideCalls ? "on" : "off");
    printf("spin count:     %d\n", zv::g_spinCount);
    return 0;
}

void Usage(FILE* out) {
    fprintf(out,
            "usage: zv COMMAND\n"
            "\n"
            "commands:\n"
            "  info     the library's identity, platform family and spin count\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        Usage(stderr);
        return 2;
    }
    if (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0) {
        Usage(stdout);
        return 0;
    }
    if (strcmp(argv[1], "info") == 0) return Info();
    fprintf(stderr, "zv: unknown command '%s'\n", argv[1]);
    Usage(stderr);
    return 2;
}
