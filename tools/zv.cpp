// zv - look into and change what the ZV library keeps: registry values,
// component registrations, configuration files; parse addresses.
//
// Every change goes through the library's exports.  The tool reads the
// registry itself, through the Win32 calls, where the library has no export
// for it (enumeration, values of any length) and to find out why a call of
// the library failed: the library reports only a status code.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "tools/cli.h"
#include "tools/event_command.h"
#include "tools/host.h"

namespace {

const char kUsage[] =
    "usage: zv COMMAND [ARGS]\n"
    "\n"
    "  zv reg get KEY [NAME]          print a string value (the default value without NAME)\n"
    "  zv reg set KEY [NAME] VALUE    write a string value, creating the key\n"
    "  zv reg delete KEY              delete a key with everything below it\n"
    "  zv reg tree KEY                draw the key's subtree with its values\n"
    "  zv reg export KEY FILE         write the subtree's string values to a new file, then\n"
    "                                 check that the file carries every one\n"
    "  zv reg import FILE [--undo] [--lenient]\n"
    "                                 write a file's values into the registry; lines it cannot\n"
    "                                 import are listed and fail the command unless --lenient\n"
    "  zv com register SERVER PROGID DESCRIPTION CLSID\n"
    "  zv com unregister PROGID CLSID\n"
    "  zv com create PROGID           create an object of a registered class\n"
    "  zv uri TEXT [--json]           split an address into its parts\n"
    "  zv event create|set|reset|pulse|wait NAME [--manual] [--timeout MS]\n"
    "                                 meet other processes on a named event\n"
    "  zv info                        the library, the platform and the registry in use, checked\n"
    "  zv demo                        walk one request through the library, step by step,\n"
    "                                 in a registry of its own\n"
    "  zv --version, zv --help\n"
    "\n"
    "KEY is a root and a path: ZV_HKEY_CONFIG\\Software\\Demo, ZV_HKEY_CLASSES\\CLSID, HKLM\\...,\n"
    "HKCR\\..., HKCU\\..., HKU\\..., or HKEY_LOCAL_MACHINE\\... and the other long forms.\n"
    "Exit status: 0 success, 1 failure, 2 usage error.\n";

bool WantsHelp(const zvtool::Args& args) {
    for (const std::string& arg : args)
        if (arg == "--help" || arg == "-h") return true;
    return false;
}

int Run(const zvtool::Args& args) {
    if (!args.empty() && WantsHelp(args)) {
        fputs(kUsage, stdout);
        return zvtool::kExitOk;
    }
    if (args.size() == 1 && args[0] == "--version") {
        printf("zv %s\n", ZV_VERSION);
        return zvtool::kExitOk;
    }
    // One line per command; each command lives in a file of its own.
    return zvtool::Dispatch("", {{"reg", zvtool::RegCommand},
                                 {"com", zvtool::ComCommand},
                                 {"uri", zvtool::UriCommand},
                                 {"info", zvtool::InfoCommand},
                                 {"event", zvtool::Event},
                                 {"demo", zvtool::Demo}},
                            args);
}

}  // namespace

int main(int argc, char** argv) {
    zvtool::UseUtf8Console();
    int status = Run(zvtool::Arguments(argc, argv));
    // Output that did not arrive is a failure, whatever the command did.
    if (fflush(stdout) != 0 || ferror(stdout)) {
        fprintf(stderr, "zv: cannot write the output: %s\n", strerror(errno));
        return zvtool::kExitFailure;
    }
    return status;
}
