// demo.cpp - `zv demo`: the road of one request through the library, step
// by step, in a registry of its own, so that the user's registrations of the
// sample class are never touched.
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "sample_greeter.h"
#include "tools/host.h"
#include "tools/registry_view.h"
#include "tools/cli.h"

namespace zvtool {
namespace {

const char kProgId[] = "ZVSample.Greeter.1";
const char kClsid[] = "{60F0173A-E9CD-4AD1-BC1E-A1F9003AE300}";

int g_step = 0;
bool g_failed = false;  // a step failed: the demo exits with 1

void Step(const std::string& title) { printf("\n%d. %s\n", ++g_step, title.c_str()); }

void Show(const std::string& text) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) printf("     %s\n", line.c_str());
}

bool Check(const std::string& what, HRESULT status) {
    printf("   %s: %s\n", what.c_str(), StatusText(status).c_str());
    g_failed = g_failed || FAILED(status);
    return SUCCEEDED(status);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void ShowTree(const std::string& keyText) {
    KeyName key;
    std::string drawing;
    if (ParseKey(keyText, &key) && DrawTree(key, keyText, &drawing) == ERROR_SUCCESS)
        Show(drawing);
    else
        Show(keyText + ": (no such key)");
}

std::string ReadDescription() {
    ZVWCHAR value[256] = {};
    WString progId = Wide(kProgId);
    if (FAILED(ZVGetRegistryEntry(HKEY_CLASSES_ROOT, progId.c_str(), nullptr, value)))
        return "(none)";
    return "\"" + Utf8(value) + "\"";
}

// The sample server: where the installation put it relative to this tool,
// else where the build put it.
std::string FindSampleServer() {
    const char* configured = getenv("ZV_SAMPLE_SERVER");
    if (configured && *configured) return configured;
    const std::string self = ExecutablePath();
    if (!self.empty()) {
        std::error_code error;
        auto installed = std::filesystem::u8path(self).parent_path() /
                         std::filesystem::u8path(ZV_SAMPLE_SERVER_FROM_TOOL) / ZV_SAMPLE_SERVER_FILE_NAME;
        if (std::filesystem::is_regular_file(installed, error)) return installed.lexically_normal().u8string();
    }
    return ZV_SAMPLE_SERVER_BUILD_PATH;
}

// Its full path, as `zv com register` records it: taken before the demo
// moves to its own directory.
std::string SampleServerPath() {
    std::error_code error;
    const auto found = std::filesystem::u8path(FindSampleServer());
    const auto full = std::filesystem::absolute(found, error);
    return error ? found.u8string() : full.lexically_normal().u8string();
}

int Run(const std::string& workDir, const std::string& registry, const std::string& userRegistry,
        const std::string& server) {
    const WString wServer = Wide(server), wProgId = Wide(kProgId), wClsid = Wide(kClsid);
    printf("zv demo: one request through ZV, in a registry of its own at %s\n"
           "   (removed at the end; what %s holds stays as it is)\n",
           registry.c_str(), userRegistry.c_str());

    Step("Register the sample server");
    printf("   server: %s\n", server.c_str());
    if (!Check("ZVRegisterComponent",
               ZVRegisterComponent(wServer.c_str(), wProgId.c_str(), ZV_W("ZV sample greeter"),
                                   wClsid.c_str())))
        return 1;
    ShowTree(std::string("HKCR\\") + kProgId);
    ShowTree(std::string("HKCR\\CLSID\\") + kClsid);

    Step("Start the component runtime");
    Check("ZVInitializeZCom", ZVInitializeZCom());

    Step(std::string("Resolve the programmatic identifier ") + kProgId);
    CLSID clsid = {};
    bool ok = Check("ZVClsidFromProgId", ZVClsidFromProgId(wProgId.c_str(), &clsid));
    if (ok) printf("   class: %s\n", ClsidText(clsid).c_str());

    Step("Create a greeter and call it");
    ISampleGreeter* greeter = nullptr;
    if (ok) {
        ok = Check("ZVCreateObject",
                   ZVCreateObject(0, &clsid, nullptr, &IID_ISampleGreeter,
                                  reinterpret_cast<void**>(&greeter)));
    }
    if (ok) {
        ZVWCHAR greeting[64];
        for (const char* name : {"world", "ZV"}) {
            WString wName = Wide(name);
            if (SUCCEEDED(greeter->Greet(wName.c_str(), greeting, 64)))
                printf("   Greet(\"%s\") -> \"%s\"\n", name, Utf8(greeting).c_str());
        }
        printf("   GreetingCount() -> %u\n", greeter->GreetingCount());
        greeter->Release();
    }

    Step("Export the registration to a configuration file");
    const std::string exported = "greeter.cfg";
    WString wExported = Wide(exported);
    ok = Check("ZVExportRegistryEntry",
               ZVExportRegistryEntry(HKEY_CLASSES_ROOT, wProgId.c_str(), wExported.c_str()));
    if (ok) {
        printf("   %s:\n", (std::filesystem::u8path(workDir) / exported).u8string().c_str());
        Show(ReadFile(exported));
    }

    Step("Import a changed file, keeping an undo file");
    const std::string changed = "changed.cfg";
    {
        std::string text = ReadFile(exported);
        size_t at = text.find("ZV sample greeter");
        if (at != std::string::npos) text.replace(at, 17, "ZV sample greeter, changed");
        std::ofstream(changed) << text;
    }
    printf("   description before: %s\n", ReadDescription().c_str());
    WString wChanged = Wide(changed);
    Check("ZVImportRegistryEntry (undo on)", ZVImportRegistryEntry(wChanged.c_str(), 1));
    printf("   description after:  %s\n", ReadDescription().c_str());
    // The undo file is the import file's name with its first character
    // replaced by "~".
    const std::string undo = "~" + changed.substr(1);
    printf("   undo file %s:\n", undo.c_str());
    Show(ReadFile(undo));

    Step("Restore from the undo file");
    WString wUndo = Wide("./" + undo);
    Check("ZVImportRegistryEntry", ZVImportRegistryEntry(wUndo.c_str(), 0));
    printf("   description now:    %s\n", ReadDescription().c_str());

    Step("Stop the component runtime and unregister");
    Check("ZVUninitializeZCom (releases the factory, closes the server)", ZVUninitializeZCom());
    Check("ZVUnregisterComponent", ZVUnregisterComponent(wProgId.c_str(), wClsid.c_str()));
    ShowTree(std::string("HKCR\\") + kProgId);
    ShowTree(std::string("HKCR\\CLSID\\") + kClsid);
    if (g_failed) {
        fprintf(stderr, "zv: a step of the demo failed (see above); your registry was not touched\n");
        return 1;
    }
    printf("\ndone: the demo's registry and files are removed; yours were not touched.\n");
    return 0;
}

}  // namespace

int Demo(const Args& args) {
    if (!args.empty()) {
        fprintf(stderr, "zv: demo takes no arguments\n(see zv --help)\n");
        return 2;
    }
    // The demo's files live in a directory of their own, removed at the end.
    std::string workDir;
    if (!MakePrivateDirectory(&workDir)) {
        fprintf(stderr, "zv: cannot create the demo's directory\n");
        return 1;
    }
    const std::string userRegistry = RegistryLocation();
    std::string registry;
    int result = 1;
    if (!UsePrivateRegistry(workDir, &registry)) {
        fprintf(stderr, "zv: cannot set up the demo's own registry\n");
    } else {
        const std::string server = SampleServerPath();
        std::string previous = std::filesystem::current_path().string();
        std::filesystem::current_path(workDir);
        result = Run(workDir, registry, userRegistry, server);
        std::filesystem::current_path(previous);
        DropPrivateRegistry();
    }
    std::error_code ignored;
    std::filesystem::remove_all(workDir, ignored);
    return result;
}

}  // namespace zvtool
