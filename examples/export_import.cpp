// export_import.cpp - a registry tree to a configuration file and back, with
// an undo file.  Run it in a scratch folder with ZV_REGISTRY set to a scratch
// file: it writes settings.cfg, edited.cfg and ~dited.cfg there.
#include <stdio.h>

#include "zv.h"

namespace {

const char* Narrow(const ZVWCHAR* text) {
    static char narrow[256];
    ZVToAnsi(narrow, text);
    return narrow;
}

void PrintFile(const char* name) {
    printf("---- %s\n", name);
    FILE* file = fopen(name, "r");
    if (!file) {
        printf("(missing)\n");
        return;
    }
    char line[512];
    while (fgets(line, sizeof line, file)) fputs(line, stdout);
    fclose(file);
    printf("----\n");
}

void WriteFile(const char* name, const char* text) {
    FILE* file = fopen(name, "w");
    if (!file) return;
    fputs(text, file);
    fclose(file);
}

const ZVWCHAR kApp[] = ZV_W("Software\\ZVExample\\App");

void Show(const ZVWCHAR* name, const char* label) {
    ZVWCHAR buffer[256];
    if (SUCCEEDED(ZVGetRegistryEntry(HKEY_LOCAL_MACHINE, kApp, name, buffer))) {
        printf("%s = %s\n", label, Narrow(buffer));
    } else {
        printf("%s is not set\n", label);
    }
}

}  // namespace

int main() {
    ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, kApp, nullptr, ZV_W("on"));
    ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, kApp, ZV_W("Name"), ZV_W("Demo"));
    ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, kApp, ZV_W("Level"), ZV_W("3"));
    ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, ZV_W("Software\\ZVExample\\App\\Paths"), ZV_W("Data"),
                       ZV_W("/var/lib/demo"));

    // One section per key with string values; the default value is "default".
    const ZVWCHAR* tree = ZV_W("Software\\ZVExample");
    HRESULT status = ZVExportRegistryEntry(HKEY_LOCAL_MACHINE, tree, ZV_W("settings.cfg"));
    printf("export: 0x%08X\n", unsigned(status));
    PrintFile("settings.cfg");
    status = ZVExportRegistryEntry(HKEY_LOCAL_MACHINE, tree, ZV_W("settings.cfg"));
    printf("export to an existing file: 0x%08X\n", unsigned(status));

    // A hand-written file: comments go between sections, an empty line ends
    // a section.
    WriteFile("edited.cfg",
              "; raise the level, pick a mode\n"
              "[ZV_HKEY_CONFIG\\Software\\ZVExample\\App]\n"
              "Level = 5\n"
              "Mode = fast\n"
              "\n");
    // With the undo flag, the values about to be overwritten go to the undo
    // file, named with the first character replaced by "~".
    status = ZVImportRegistryEntry(ZV_W("edited.cfg"), 1);
    printf("import edited.cfg with undo: 0x%08X\n", unsigned(status));
    Show(ZV_W("Level"), "Level");
    Show(ZV_W("Mode"), "Mode");
    PrintFile("~dited.cfg");

    // Importing the undo file puts the old values back; a value that did not
    // exist before (Mode) stays.
    status = ZVImportRegistryEntry(ZV_W("~dited.cfg"), 0);
    printf("import ~dited.cfg: 0x%08X\n", unsigned(status));
    Show(ZV_W("Level"), "Level");
    Show(ZV_W("Mode"), "Mode");

    status = ZVImportRegistryEntry(ZV_W("missing.cfg"), 0);
    printf("import a missing file: 0x%08X\n", unsigned(status));
    ZVDeleteRegistryEntry(HKEY_LOCAL_MACHINE, ZV_W("Software\\ZVExample"));
    return 0;
}
