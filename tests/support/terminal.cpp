#include "terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

namespace zvtest {

TerminalRun RunOnTerminal(const std::function<int()>& body, const std::string& prompt,
                          const std::vector<std::string>& answers, int timeoutSeconds) {
    TerminalRun run;
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        if (master >= 0) close(master);
        return run;
    }
    const std::string slaveName = ptsname(master);
    const pid_t child = fork();
    if (child == 0) {
        // A new session whose first terminal opened becomes its controlling one.
        setsid();
        const int slave = open(slaveName.c_str(), O_RDWR);
        if (slave < 0 || dup2(slave, STDIN_FILENO) < 0) _exit(120);
        alarm(unsigned(timeoutSeconds));
        _exit(body());
    }
    run.started = child > 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    size_t typed = 0, searchFrom = 0;
    // Reads the screen until the child has ended and all it wrote is read;
    // each time the prompt appears once more, types the next answer.
    for (bool exited = !run.started;;) {
        struct pollfd poller = {master, POLLIN, 0};
        char chunk[512];
        const ssize_t got = poll(&poller, 1, exited ? 0 : 50) > 0 ? read(master, chunk, sizeof chunk) : 0;
        if (got > 0) run.screen.append(chunk, size_t(got));
        else if (exited) break;
        const size_t at = run.screen.find(prompt, searchFrom);
        if (typed < answers.size() && at != std::string::npos) {
            searchFrom = at + 1;
            if (write(master, answers[typed].data(), answers[typed].size()) < 0) break;
            ++typed;
        }
        exited = exited || waitpid(child, &run.status, WNOHANG) == child;
        if (!exited && std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &run.status, 0);
            run.timedOut = exited = true;
        }
    }
    close(master);
    return run;
}

}  // namespace zvtest
