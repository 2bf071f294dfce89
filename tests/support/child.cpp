#include "child.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

extern char** environ;

namespace zvtest {
namespace {

using Clock = std::chrono::steady_clock;

long long MillisecondsUntil(Clock::time_point deadline) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
}

}  // namespace

bool RegisterChildRole(const char* name, ChildRoleFn role) {
    const char* wanted = getenv("ZVTEST_CHILD_ROLE");
    if (!wanted || strcmp(wanted, name) != 0) return false;
    const char* argument = getenv("ZVTEST_CHILD_ARG");
    // exit, not _exit: the role's process ends as an ordinary one does.
    exit(role(argument ? argument : "", 3));
}

// One write per line: a report line is far shorter than a pipe's atomic size.
void Report(int reportFd, const std::string& line) { dprintf(reportFd, "%s\n", line.c_str()); }

Child::Child(const char* role, const std::string& argument, const std::vector<std::string>& environment) {
    // Everything the child needs is built before fork: between fork and
    // exec only async-signal-safe calls are made.
    // The child's own variables come first: getenv finds the first of a name.
    std::vector<std::string> variables(environment);
    variables.push_back(std::string("ZVTEST_CHILD_ROLE=") + role);
    variables.push_back("ZVTEST_CHILD_ARG=" + argument);
    std::vector<char*> envp;
    for (std::string& v : variables) envp.push_back(&v[0]);
    for (char** e = environ; *e; ++e) envp.push_back(*e);
    envp.push_back(nullptr);
    char name[] = "zvtest-child";
    char* argv[] = {name, nullptr};
    // Under a user-mode emulator (ZVTEST_EMULATOR, as scripts/test-m32.sh
    // runs the 32-bit suite) the program starts again through it: the host
    // cannot run it by itself.  The emulator shows the program's own file
    // as /proc/self/exe.
    char* emulator = getenv("ZVTEST_EMULATOR");
    char self[4096] = "";
    if (emulator && readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return;
    char* emulated[] = {emulator, self, nullptr};
    char* const* args = emulator ? emulated : argv;
    const char* program = emulator ? emulator : "/proc/self/exe";
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        // The report pipe becomes descriptor 3 (dup2 clears close-on-exec).
        if ((fds[1] == 3 ? fcntl(3, F_SETFD, 0) : dup2(fds[1], 3)) < 0) _exit(127);
        execve(program, args, envp.data());
        _exit(127);
    }
    close(fds[1]);
    if (pid_ > 0) readFd_ = fds[0];
    else close(fds[0]);
}

Child::~Child() {
    Wait(0);  // kills it if it still runs
    if (readFd_ >= 0) close(readFd_);
}

bool Child::ReadLine(std::string* line, int timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t end;
    while ((end = pending_.find('\n')) == std::string::npos) {
        const long long left = MillisecondsUntil(deadline);
        struct pollfd poller = {readFd_, POLLIN, 0};
        const int ready = readFd_ < 0 || left <= 0 ? 0 : poll(&poller, 1, int(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        char buffer[4096];
        const ssize_t n = read(readFd_, buffer, sizeof buffer);
        if (n > 0) pending_.append(buffer, size_t(n));
        if (n == 0 || (n < 0 && errno != EINTR)) {  // what is pending may still hold a whole line
            close(readFd_);
            readFd_ = -1;
        }
    }
    *line = pending_.substr(0, end);
    pending_.erase(0, end + 1);
    return true;
}

int Child::Wait(int timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (pid_ > 0 && !reaped_) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done < 0 && errno != EINTR) return -1;
        if (done == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
        } else if (MillisecondsUntil(deadline) <= 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            status_ = -1;
        } else {
            usleep(2000);
            continue;
        }
        reaped_ = true;
    }
    return status_;
}

void Child::Kill(int signal) {
    if (pid_ > 0 && !reaped_) kill(pid_, signal);
}

}  // namespace zvtest
