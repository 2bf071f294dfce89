// zv - look into and change what the ZV library keeps: registry values,
// component registrations, configuration files; parse addresses.
//
// A thin front: every operation is one of the library's exports.  Only the
// tree view walks the registry itself, through the Win32 calls, because the
// library has no export that enumerates.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "tools/host.h"
#include "tools/registry_view.h"
#include "tools/support.h"
#include "zv.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

using Args = std::vector<std::string>;

const char kUsage[] =
    "usage: zv COMMAND [ARGS]\n"
    "\n"
    "  zv reg get KEY [NAME]          print a string value (the default value without NAME)\n"
    "  zv reg set KEY [NAME] VALUE    write a string value, creating the key\n"
    "  zv reg delete KEY              delete a key with everything below it\n"
    "  zv reg tree KEY                draw the key's subtree with its string values\n"
    "  zv reg export KEY FILE         write the subtree's string values to a new file\n"
    "  zv reg import FILE [--undo]    write a file's values into the registry\n"
    "  zv com register SERVER PROGID DESCRIPTION CLSID\n"
    "  zv com unregister PROGID CLSID\n"
    "  zv com create PROGID           create an object of a registered class\n"
    "  zv uri TEXT [--json]           split an address into its parts\n"
    "  zv info                        the library, the platform and the registry in use\n"
    "  zv demo                        walk one request through the library, step by step\n"
    "\n"
    "KEY is a root and a path: ZV_HKEY_CONFIG\\Software\\Demo, ZV_HKEY_CLASSES\\CLSID, or\n"
    "HKLM\\..., HKCR\\..., HKCU\\..., HKU\\...\n"
    "Exit status: 0 success, 1 failure, 2 usage error.\n";

int UsageError(const std::string& message) {
    fprintf(stderr, "zv: %s\n(see zv --help)\n", message.c_str());
    return kExitUsage;
}

bool WantsHelp(const Args& args) {
    for (const std::string& arg : args)
        if (arg == "--help" || arg == "-h") return true;
    return false;
}

int Failed(const std::string& what, HRESULT status) {
    fprintf(stderr, "zv: %s failed: %s\n", what.c_str(), zvtool::StatusText(status).c_str());
    return kExitFailure;
}

struct Command {
    const char* name;
    int (*run)(const Args&);
};

// Runs the command of `commands` that args[0] names, with the arguments after
// it; `group` is the command they are subcommands of, empty at the top.
int Dispatch(const std::string& group, std::initializer_list<Command> commands, const Args& args) {
    if (args.empty()) return UsageError(group.empty() ? "no command" : group + " needs a subcommand");
    Args rest(args.begin() + 1, args.end());
    for (const Command& command : commands)
        if (args[0] == command.name) return command.run(rest);
    return UsageError("unknown " + (group.empty() ? "command" : group + " subcommand") + " '" + args[0] + "'");
}

// The arguments without `flag`; *seen tells whether it was there.
Args WithoutFlag(const Args& args, const char* flag, bool* seen) {
    Args rest;
    *seen = false;
    for (const std::string& arg : args) {
        if (arg == flag) *seen = true;
        else rest.push_back(arg);
    }
    return rest;
}

// ---- reg -----------------------------------------------------------------

// Checks that there are `least` to `most` arguments and reads the key that
// the first names; the exit status of a usage error, else 0.
int KeyArguments(const Args& args, size_t least, size_t most, const char* usage, zvtool::KeyName* key) {
    if (args.size() < least || args.size() > most) return UsageError(usage);
    if (!zvtool::ParseKey(args[0], key)) return UsageError("unknown root in '" + args[0] + "'");
    return kExitOk;
}

int RegGet(const Args& args) {
    zvtool::KeyName key;
    if (int usage = KeyArguments(args, 1, 2, "reg get KEY [NAME]", &key)) return usage;
    zvtool::WString name = args.size() > 1 ? zvtool::Wide(args[1]) : zvtool::WString();
    // The library reads at most 255 units; room for the widest answer.
    ZVWCHAR value[256] = {};
    HRESULT status = ZVGetRegistryEntry(key.root, key.path.c_str(),
                                        args.size() > 1 ? name.c_str() : nullptr, value);
    if (FAILED(status)) return Failed("reading " + args[0], status);
    printf("%s\n", zvtool::Utf8(value).c_str());
    return kExitOk;
}

int RegSet(const Args& args) {
    zvtool::KeyName key;
    if (int usage = KeyArguments(args, 2, 3, "reg set KEY [NAME] VALUE", &key)) return usage;
    zvtool::WString name = args.size() == 3 ? zvtool::Wide(args[1]) : zvtool::WString();
    zvtool::WString value = zvtool::Wide(args.back());
    HRESULT status = ZVAddRegistryEntry(key.root, key.path.c_str(),
                                        args.size() == 3 ? name.c_str() : nullptr, value.c_str());
    if (FAILED(status)) return Failed("writing " + args[0], status);
    return kExitOk;
}

int RegDelete(const Args& args) {
    zvtool::KeyName key;
    if (int usage = KeyArguments(args, 1, 1, "reg delete KEY", &key)) return usage;
    if (key.path.empty()) return UsageError("refusing to delete a whole root");
    HRESULT status = ZVDeleteRegistryEntry(key.root, key.path.c_str());
    if (FAILED(status)) return Failed("deleting " + args[0], status);
    return kExitOk;
}

int RegTree(const Args& args) {
    zvtool::KeyName key;
    if (int usage = KeyArguments(args, 1, 1, "reg tree KEY", &key)) return usage;
    std::string drawing;
    LONG error = zvtool::DrawTree(key, args[0], &drawing);
    if (error != ERROR_SUCCESS) {
        fprintf(stderr, "zv: cannot open %s: Win32 error %ld\n", args[0].c_str(), long(error));
        return kExitFailure;
    }
    fputs(drawing.c_str(), stdout);
    return kExitOk;
}

int RegExport(const Args& args) {
    zvtool::KeyName key;
    if (int usage = KeyArguments(args, 2, 2, "reg export KEY FILE", &key)) return usage;
    zvtool::WString file = zvtool::Wide(args[1]);
    HRESULT status = ZVExportRegistryEntry(key.root, key.path.c_str(), file.c_str());
    if (FAILED(status)) return Failed("exporting " + args[0] + " to " + args[1], status);
    return kExitOk;
}

int RegImport(const Args& args) {
    bool undo = false;
    Args rest = WithoutFlag(args, "--undo", &undo);
    if (rest.size() != 1) return UsageError("reg import FILE [--undo]");
    zvtool::WString file = zvtool::Wide(rest[0]);
    HRESULT status = ZVImportRegistryEntry(file.c_str(), undo ? 1 : 0);
    if (FAILED(status)) return Failed("importing " + rest[0], status);
    return kExitOk;
}

int Reg(const Args& args) {
    return Dispatch("reg", {{"get", RegGet}, {"set", RegSet}, {"delete", RegDelete}, {"tree", RegTree},
                            {"export", RegExport}, {"import", RegImport}},
                    args);
}

// ---- com -----------------------------------------------------------------

int ComRegister(const Args& args) {
    if (args.size() != 4) return UsageError("com register SERVER PROGID DESCRIPTION CLSID");
    CLSID parsed;
    if (!zvtool::ParseClsid(args[3], &parsed))
        return UsageError("'" + args[3] + "' is not a class identifier {XXXXXXXX-XXXX-...}");
    zvtool::WString server = zvtool::Wide(args[0]), progId = zvtool::Wide(args[1]);
    zvtool::WString description = zvtool::Wide(args[2]), clsid = zvtool::Wide(args[3]);
    HRESULT status = ZVRegisterComponent(server.c_str(), progId.c_str(), description.c_str(),
                                         clsid.c_str());
    if (FAILED(status)) return Failed("registering " + args[1], status);
    return kExitOk;
}

int ComUnregister(const Args& args) {
    if (args.size() != 2) return UsageError("com unregister PROGID CLSID");
    zvtool::WString progId = zvtool::Wide(args[0]), clsid = zvtool::Wide(args[1]);
    ZVUnregisterComponent(progId.c_str(), clsid.c_str());
    return kExitOk;
}

int ComCreate(const Args& args) {
    if (args.size() != 1) return UsageError("com create PROGID");
    zvtool::WString progId = zvtool::Wide(args[0]);
    ZVInitializeZCom();
    CLSID clsid = {};
    HRESULT status = ZVClsidFromProgId(progId.c_str(), &clsid);
    int result = kExitOk;
    if (FAILED(status)) {
        result = Failed("looking up " + args[0], status);
    } else {
        void* object = nullptr;
        status = ZVCreateObject(0, &clsid, nullptr, &IID_IUnknown, &object);
        if (FAILED(status)) {
            result = Failed("creating " + args[0] + " " + zvtool::ClsidText(clsid), status);
        } else {
            printf("created an object of %s %s: %s\n", args[0].c_str(),
                   zvtool::ClsidText(clsid).c_str(), zvtool::StatusText(status).c_str());
            static_cast<IUnknown*>(object)->Release();
        }
    }
    ZVUninitializeZCom();
    return result;
}

int Com(const Args& args) {
    return Dispatch("com", {{"register", ComRegister}, {"unregister", ComUnregister}, {"create", ComCreate}}, args);
}

// ---- uri, info -----------------------------------------------------------

int Uri(const Args& args) {
    bool json = false;
    Args rest = WithoutFlag(args, "--json", &json);
    if (rest.size() != 1) return UsageError("uri TEXT [--json]");
    zvtool::WString text = zvtool::Wide(rest[0]);
    ParsedURI parsed;
    bool ok = ParseURI(&text[0], &parsed) == 0;
    fputs((json ? zvtool::UriJson(ok, parsed) : zvtool::UriText(ok, parsed)).c_str(), stdout);
    if (!ok && !json) fprintf(stderr, "zv: '%s' is not an address\n", rest[0].c_str());
    return ok ? kExitOk : kExitFailure;
}

int Info(const Args& args) {
    if (!args.empty()) return UsageError("info takes no arguments");
    printf("library:     ZV %s, %s, %s, byte order %d\n", zvtool::Utf8(ZVCompilerTypeString()).c_str(),
           zvtool::Utf8(ZVHardwareTypeString()).c_str(), zvtool::Utf8(ZVPlatformTypeString()).c_str(),
           ZVHWEndian());
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    printf("platform:    %s family, wide calls %s, %u processors\n", zvtool::WideCalls() ? "NT" : "9x",
           zvtool::WideCalls() ? "on" : "off", unsigned(system.dwNumberOfProcessors));
    printf("registry:    %s\n", zvtool::RegistryLocation().c_str());
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    Args args(argv + 1, argv + argc);
    if (!args.empty() && WantsHelp(args)) {
        fputs(kUsage, stdout);
        return kExitOk;
    }
    return Dispatch("", {{"reg", Reg}, {"com", Com}, {"uri", Uri}, {"info", Info}, {"demo", zvtool::Demo}},
                    args);
}
