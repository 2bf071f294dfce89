#include "child.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace zvtest {
namespace {

long long NowMs() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

}  // namespace

bool RegisterChildRole(const char* name, ChildRoleFn role) {
    const char* wanted = getenv("ZVTEST_CHILD_ROLE");
    if (!wanted || strcmp(wanted, name) != 0) return false;
    const char* argument = getenv("ZVTEST_CHILD_ARG");
    // exit, not _exit: the role's process ends as an ordinary one does.
    exit(role(argument ? argument : "", 3));
}

void Report(int reportFd, const std::string& line) {
    std::string out = line + "\n";
    const char* p = out.data();
    size_t left = out.size();
    while (left > 0) {
        ssize_t n = write(reportFd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        left -= size_t(n);
    }
}

Child::Child(const char* role, const std::string& argument,
             const std::vector<std::string>& environment) {
    // Everything the child needs is built before fork: between fork and
    // exec only async-signal-safe calls are made.
    std::vector<std::string> variables;
    for (char** e = environ; *e; ++e) {
        if (strncmp(*e, "ZVTEST_CHILD_", 13) == 0) continue;
        bool replaced = false;
        for (const std::string& extra : environment)
            if (strncmp(*e, extra.c_str(), extra.find('=') + 1) == 0) replaced = true;
        if (!replaced) variables.push_back(*e);
    }
    for (const std::string& extra : environment) variables.push_back(extra);
    variables.push_back(std::string("ZVTEST_CHILD_ROLE=") + role);
    variables.push_back("ZVTEST_CHILD_ARG=" + argument);
    std::vector<char*> envp;
    for (std::string& v : variables) envp.push_back(&v[0]);
    envp.push_back(nullptr);
    char self[] = "/proc/self/exe";
    char name[] = "zvtest-child";
    char* argv[] = {name, nullptr};

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid_t pid = fork();
    if (pid == 0) {
        // The report pipe becomes descriptor 3 (dup2 clears close-on-exec).
        if (fds[1] == 3) {
            fcntl(3, F_SETFD, 0);
        } else if (dup2(fds[1], 3) < 0) {
            _exit(127);
        }
        execve(self, argv, envp.data());
        _exit(127);
    }
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return;
    }
    pid_ = pid;
    readFd_ = fds[0];
}

Child::~Child() {
    if (pid_ > 0 && !reaped_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (readFd_ >= 0) close(readFd_);
}

bool Child::ReadLine(std::string* line, int timeoutMs) {
    long long deadline = NowMs() + timeoutMs;
    for (;;) {
        size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            *line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return true;
        }
        if (readFd_ < 0) return false;
        long long left = deadline - NowMs();
        if (left <= 0) return false;
        struct pollfd poller = {readFd_, POLLIN, 0};
        int ready = poll(&poller, 1, int(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        char buffer[4096];
        ssize_t n = read(readFd_, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            close(readFd_);
            readFd_ = -1;
            continue;  // what is pending may still hold a whole line
        }
        pending_.append(buffer, size_t(n));
    }
}

int Child::Wait(int timeoutMs) {
    if (pid_ <= 0) return -1;
    long long deadline = NowMs() + timeoutMs;
    while (!reaped_) {
        int status = 0;
        pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            reaped_ = true;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status)
                                        : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
            break;
        }
        if (done < 0 && errno != EINTR) return -1;
        if (NowMs() >= deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            reaped_ = true;
            status_ = -1;
            break;
        }
        usleep(2000);
    }
    return status_;
}

void Child::Kill(int signal) {
    if (pid_ > 0 && !reaped_) kill(pid_, signal);
}

}  // namespace zvtest
