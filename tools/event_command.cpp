// event_command.cpp - zv event.
//
// Named events belong to the whole emulated machine, so a script and a
// component in another process meet on a name.  The event lives while some
// process holds it: `create` therefore holds the event it makes until it is
// signalled, which is what a script waiting for a component wants; `wait`
// waits on an event someone else holds; set, reset and pulse act on one.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>

#include "platform/win32.h"
#include "tools/event_command.h"
#include "tools/text.h"
#include "zv.h"

namespace zvtool {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char kEventUsage[] = "event create|set|reset|pulse|wait NAME [--manual] [--timeout MS]";

struct EventArgs {
    std::string action;
    WString name;
    bool manual = false;
    DWORD timeout = INFINITE;
    bool timed = false;
};

bool ParseTimeout(const std::string& text, DWORD* timeout) {
    if (text.empty() || text[0] < '0' || text[0] > '9') return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long value = strtoull(text.c_str(), &end, 10);
    // INFINITE itself is not a time-out one can ask for by number.
    if (errno != 0 || *end != 0 || value >= INFINITE) return false;
    *timeout = DWORD(value);
    return true;
}

// Fills `parsed`; false on a usage error.
bool Parse(const std::vector<std::string>& args, EventArgs* parsed) {
    std::vector<std::string> words;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--manual") {
            parsed->manual = true;
        } else if (args[i] == "--timeout") {
            if (++i == args.size() || !ParseTimeout(args[i], &parsed->timeout)) return false;
            parsed->timed = true;
        } else {
            words.push_back(args[i]);
        }
    }
    if (words.size() != 2 || words[1].empty()) return false;
    parsed->action = words[0];
    parsed->name = Wide(words[1]);
    const bool waits = parsed->action == "create" || parsed->action == "wait";
    if (parsed->manual && parsed->action != "create") return false;
    if (parsed->timed && !waits) return false;
    return waits || parsed->action == "set" || parsed->action == "reset" || parsed->action == "pulse";
}

const ZVWCHAR* WideName(const EventArgs& parsed) { return parsed.name.c_str(); }

int Fail(const char* what, const std::string& name) {
    fprintf(stderr, "zv: %s '%s' failed: Win32 error %u\n", what, name.c_str(), unsigned(GetLastError()));
    return kExitFailure;
}

int WaitOn(ZVHANDLE event, DWORD timeout, const std::string& name) {
    const DWORD result = WaitForSingleObject(static_cast<HANDLE>(event), timeout);
    ZVCloseEvent(event);
    if (result == WAIT_OBJECT_0) {
        puts("signalled");
        return kExitOk;
    }
    if (result == WAIT_TIMEOUT) {
        puts("timed out");
        return kExitFailure;
    }
    return Fail("waiting on", name);
}

}  // namespace

int Event(const std::vector<std::string>& args) {
    EventArgs parsed;
    if (!Parse(args, &parsed)) {
        fprintf(stderr, "zv: usage: zv %s\n(see zv --help)\n", kEventUsage);
        return kExitUsage;
    }
    const std::string name = Utf8(WideName(parsed));
    if (parsed.action == "create") {
        ZVHANDLE event = ZVCreateEvent(parsed.manual ? 1 : 0, 0, WideName(parsed));
        if (event == ZV_INVALID_HANDLE) return Fail("creating", name);
        puts(GetLastError() == ERROR_ALREADY_EXISTS ? "opened existing" : "created");
        fflush(stdout);
        return WaitOn(event, parsed.timeout, name);
    }
    ZVHANDLE event = ZVOpenEvent(WideName(parsed));
    if (event == ZV_INVALID_HANDLE) return Fail("opening", name);
    if (parsed.action == "wait") return WaitOn(event, parsed.timeout, name);
    int32_t done = parsed.action == "set" ? ZVSetEvent(event)
                   : parsed.action == "reset" ? ZVResetEvent(event)
                                              : ZVPulseEvent(event);
    ZVCloseEvent(event);
    if (!done) return Fail(parsed.action.c_str(), name);
    return kExitOk;
}

}  // namespace zvtool
