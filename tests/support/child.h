// child.h - runs a part of a test program in a child process of its own.
//
// A test starts this same program again with a role name; the role runs in
// place of the tests (before main) and exits with its result.  The child
// talks back through a pipe on its descriptor 3.
#ifndef ZV_TEST_CHILD_H
#define ZV_TEST_CHILD_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace zvtest {

typedef int (*ChildRoleFn)(const std::string& argument, int reportFd);

// Registers a role; when this process was started for it, runs it now and
// exits with its result.
bool RegisterChildRole(const char* name, ChildRoleFn role);

#define ZVTEST_CHILD_ROLE(name)                                                        \
    static int ChildRole_##name(const std::string& argument, int reportFd);             \
    static const bool g_childRole_##name = ::zvtest::RegisterChildRole(#name, ChildRole_##name); \
    static int ChildRole_##name(const std::string& argument, int reportFd)

// Writes one line to the parent.
void Report(int reportFd, const std::string& line);

class Child {
  public:
    // Starts the role with an argument and extra NAME=VALUE environment.
    Child(const char* role, const std::string& argument = std::string(),
          const std::vector<std::string>& environment = std::vector<std::string>());
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The next line the child reported, without its newline; false at the
    // end of its reports or when none came within the timeout.
    bool ReadLine(std::string* line, int timeoutMs);

    // Waits for the child to end: its exit code, 128 + the signal that
    // ended it, or -1 when it was still running at the timeout (it is then
    // killed).
    int Wait(int timeoutMs);

    void Kill(int signal);

  private:
#if defined(_WIN32)
    void* process_ = nullptr;
    void* readPipe_ = nullptr;
    int exitCode_ = -1;
#else
    pid_t pid_ = -1;
    int readFd_ = -1;
#endif
    std::string pending_;
    bool reaped_ = false;
    int status_ = -1;
};

}  // namespace zvtest

#endif  // ZV_TEST_CHILD_H
