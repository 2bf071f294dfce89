// registry.cpp - writing, reading and deleting string values.  Run it with
// ZV_REGISTRY set to a scratch file (or :memory:) to keep it out of your
// own registry.
#include <stdio.h>

#include "zv.h"

namespace {

// Narrows wide text for printing (fewer than 256 units).
const char* Narrow(const ZVWCHAR* text) {
    static char narrow[256];
    ZVToAnsi(narrow, text);
    return narrow;
}

const ZVWCHAR kKey[] = ZV_W("Software\\ZVExample\\Settings");

void Get(HKEY root, const ZVWCHAR* key, const ZVWCHAR* name, const char* label) {
    // Room for 256 units holds the longest value either family can read.
    ZVWCHAR buffer[256];
    HRESULT status = ZVGetRegistryEntry(root, key, name, buffer);
    if (SUCCEEDED(status)) {
        printf("%s = %s\n", label, Narrow(buffer));
    } else {
        printf("%s: failed, 0x%08X\n", label, unsigned(status));
    }
}

}  // namespace

int main() {
    // Keys and their parents are created as needed.
    HRESULT status = ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, kKey, ZV_W("Color"), ZV_W("blue"));
    printf("add Color: 0x%08X\n", unsigned(status));
    // A null (or empty) value name is the key's default value.
    ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, kKey, nullptr, ZV_W("the default"));
    Get(HKEY_LOCAL_MACHINE, kKey, ZV_W("Color"), "Color");
    Get(HKEY_LOCAL_MACHINE, kKey, ZV_W("color"), "color (names ignore case)");
    Get(HKEY_LOCAL_MACHINE, kKey, ZV_W(""), "default");
    Get(HKEY_LOCAL_MACHINE, kKey, ZV_W("Size"), "Size");

    // HKEY_CLASSES_ROOT is a view of HKEY_LOCAL_MACHINE\Software\Classes.
    ZVAddRegistryEntry(HKEY_CLASSES_ROOT, ZV_W("ZVExample.Document"), nullptr, ZV_W("A document"));
    Get(HKEY_LOCAL_MACHINE, ZV_W("Software\\Classes\\ZVExample.Document"), nullptr,
        "HKLM\\Software\\Classes\\ZVExample.Document");

    // A value of 126 characters is the longest that reads back on every
    // family; a longer one is written but does not read back on NT.
    ZVWCHAR longValue[127];
    for (int i = 0; i < 126; ++i) longValue[i] = ZVWCHAR('a' + i % 26);
    longValue[126] = 0;
    ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, kKey, ZV_W("Long"), longValue);
    ZVWCHAR buffer[256];
    status = ZVGetRegistryEntry(HKEY_LOCAL_MACHINE, kKey, ZV_W("Long"), buffer);
    printf("126 characters: 0x%08X, %u read\n", unsigned(status), unsigned(ZVStrLenW(buffer)));

    // Deleting a key takes everything below it.
    status = ZVDeleteRegistryEntry(HKEY_LOCAL_MACHINE, ZV_W("Software\\ZVExample"));
    printf("delete Software\\ZVExample: 0x%08X\n", unsigned(status));
    Get(HKEY_LOCAL_MACHINE, kKey, ZV_W("Color"), "Color after the delete");
    status = ZVDeleteRegistryEntry(HKEY_LOCAL_MACHINE, ZV_W("Software\\ZVExample"));
    printf("delete it again: 0x%08X\n", unsigned(status));
    ZVDeleteRegistryEntry(HKEY_CLASSES_ROOT, ZV_W("ZVExample.Document"));
    return 0;
}
