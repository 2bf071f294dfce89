// cli.cpp - messages, flags and dispatch of the zv tool.
#include "tools/cli.h"

#include <stdio.h>

namespace zvtool {

int UsageError(const std::string& message) {
    fprintf(stderr, "zv: %s\n(see zv --help)\n", message.c_str());
    return kExitUsage;
}

int Fail(const std::string& cause, HRESULT status) {
    fprintf(stderr, "zv: %s [%s]\n", cause.c_str(), StatusText(status).c_str());
    return kExitFailure;
}

int FailWin32(const std::string& cause, LONG error) {
    fprintf(stderr, "zv: %s [%s]\n", cause.c_str(), Win32ErrorText(error).c_str());
    return kExitFailure;
}

void Warn(const std::string& text) { fprintf(stderr, "zv: warning: %s\n", text.c_str()); }

Args WithoutFlag(const Args& args, const char* flag, bool* seen) {
    Args rest;
    *seen = false;
    for (const std::string& arg : args) {
        if (arg == flag) *seen = true;
        else rest.push_back(arg);
    }
    return rest;
}

int Dispatch(const std::string& group, std::initializer_list<Command> commands, const Args& args) {
    if (args.empty()) return UsageError(group.empty() ? "no command" : group + " needs a subcommand");
    Args rest(args.begin() + 1, args.end());
    for (const Command& command : commands)
        if (args[0] == command.name) return command.run(rest);
    return UsageError("unknown " + (group.empty() ? "command" : group + " subcommand") + " '" + args[0] + "'");
}

}  // namespace zvtool
