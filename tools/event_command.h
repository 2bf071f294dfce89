// event_command.h - zv event: meet a component on a named event from a
// shell script.
#ifndef ZV_TOOLS_EVENT_COMMAND_H
#define ZV_TOOLS_EVENT_COMMAND_H

#include <string>
#include <vector>

namespace zvtool {

// zv event create|set|reset|pulse|wait NAME [--manual] [--timeout MS].
// Exit status 0 signalled or done, 1 timed out or failed, 2 usage error.
int Event(const std::vector<std::string>& args);

}  // namespace zvtool

#endif  // ZV_TOOLS_EVENT_COMMAND_H
