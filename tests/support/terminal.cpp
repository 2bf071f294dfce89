#include "terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

namespace zvtest {
namespace {

size_t Count(const std::string& text, const std::string& sought) {
    size_t n = 0;
    for (size_t at = text.find(sought); at != std::string::npos; at = text.find(sought, at + 1)) ++n;
    return n;
}

}  // namespace

TerminalRun RunOnTerminal(const std::function<int()>& body, const std::string& prompt,
                          const std::vector<std::string>& answers, int timeoutSeconds) {
    TerminalRun run;
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        if (master >= 0) close(master);
        return run;
    }
    std::string slaveName = ptsname(master);
    pid_t child = fork();
    if (child < 0) {
        close(master);
        return run;
    }
    if (child == 0) {
        // A new session whose first terminal opened becomes its controlling one.
        setsid();
        int slave = open(slaveName.c_str(), O_RDWR);
        if (slave < 0) _exit(120);
        dup2(slave, STDIN_FILENO);
        if (slave != STDIN_FILENO) close(slave);
        alarm(unsigned(timeoutSeconds));
        _exit(body());
    }
    run.started = true;
    size_t typed = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    bool exited = false;
    while (!exited) {
        struct pollfd poller = {master, POLLIN, 0};
        if (poll(&poller, 1, 50) > 0) {
            char chunk[512];
            ssize_t got = read(master, chunk, sizeof(chunk));
            if (got > 0) run.screen.append(chunk, size_t(got));
        }
        if (typed < answers.size() && Count(run.screen, prompt) > typed) {
            const std::string& answer = answers[typed++];
            if (write(master, answer.data(), answer.size()) < 0) break;
        }
        exited = waitpid(child, &run.status, WNOHANG) == child;
        if (!exited && std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &run.status, 0);
            run.timedOut = true;
            exited = true;
        }
    }
    // What the child wrote just before it ended.
    for (;;) {
        struct pollfd poller = {master, POLLIN, 0};
        char chunk[512];
        ssize_t got;
        if (poll(&poller, 1, 0) <= 0 || (got = read(master, chunk, sizeof(chunk))) <= 0) break;
        run.screen.append(chunk, size_t(got));
    }
    close(master);
    return run;
}

}  // namespace zvtest
