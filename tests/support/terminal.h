// terminal.h - runs code in a child process that has a terminal of its own.
#ifndef ZV_TEST_TERMINAL_H
#define ZV_TEST_TERMINAL_H

#include <functional>
#include <string>
#include <vector>

namespace zvtest {

struct TerminalRun {
    bool started = false;  // false when no pseudo-terminal could be made
    bool timedOut = false;
    int status = -1;       // the child's wait status
    std::string screen;    // everything written to the terminal, echo included
};

// Runs `body` in a forked child whose controlling terminal and standard
// input are a new pseudo-terminal; the child exits with body's result.
// Each time `prompt` appears once more on the screen, the next of
// `answers` is typed.  The child is killed after `timeoutSeconds`.
TerminalRun RunOnTerminal(const std::function<int()>& body, const std::string& prompt,
                          const std::vector<std::string>& answers, int timeoutSeconds = 30);

}  // namespace zvtest

#endif  // ZV_TEST_TERMINAL_H
