// cli.h - what every zv command shares: arguments, exit statuses, messages
// and the command tables.
#ifndef ZV_TOOLS_CLI_H
#define ZV_TOOLS_CLI_H

#include <initializer_list>
#include <string>
#include <vector>

#include "tools/support.h"

namespace zvtool {

typedef std::vector<std::string> Args;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// "zv: MESSAGE" and a pointer to the help on stderr; returns kExitUsage.
int UsageError(const std::string& message);
// "zv: CAUSE [0x80004005 (E_FAIL)]" on stderr; returns kExitFailure.
int Fail(const std::string& cause, HRESULT status);
// The same with a Win32 error code: "zv: CAUSE [0x00000002 (ERROR_FILE_NOT_FOUND)]".
int FailWin32(const std::string& cause, LONG error);
// "zv: warning: TEXT" on stderr.
void Warn(const std::string& text);

// The arguments without `flag`; *seen tells whether it was there.
Args WithoutFlag(const Args& args, const char* flag, bool* seen);

struct Command {
    const char* name;
    int (*run)(const Args&);
};
// Runs the command of `commands` that args[0] names, with the arguments
// after it; `group` is the command they are subcommands of, empty at the top.
int Dispatch(const std::string& group, std::initializer_list<Command> commands, const Args& args);

// The commands, one file each.
int RegCommand(const Args& args);    // reg_command.cpp
int ExportCommand(const Args& args); // reg export: export_command.cpp
int ImportCommand(const Args& args); // reg import: import_command.cpp
int ComCommand(const Args& args);    // com_command.cpp
int InfoCommand(const Args& args);   // info_command.cpp
int UriCommand(const Args& args);    // support.cpp
int Demo(const Args& args);          // demo.cpp

}  // namespace zvtool

#endif  // ZV_TOOLS_CLI_H
