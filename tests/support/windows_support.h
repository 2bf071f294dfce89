// windows_support.h - what the Windows tests use to watch a child process
// as a user and a debugger would: its debug output, taken from the debug
// events; its message boxes, answered by pressing a button.
#ifndef ZV_TEST_WINDOWS_SUPPORT_H
#define ZV_TEST_WINDOWS_SUPPORT_H

#include <windows.h>

#include <string>
#include <vector>

namespace zvtest {

// Starts this program again for a child role (see child.h): the role's
// name and argument and the report handle go in its environment.
bool StartRole(const char* role, const std::string& argument, DWORD creationFlags, HANDLE report,
               PROCESS_INFORMATION* started);

struct DebugRun {
    bool started = false;
    bool timedOut = false;
    DWORD exitCode = 0;
    int breakpoints = 0;                    // after the loader's own one
    std::vector<std::string> outputs;       // each debug string, as UTF-8
    std::vector<DWORD> outputThreads;       // the thread that sent each
};

// Runs the role under a debugger loop that collects every debug string and
// goes on after each breakpoint; kills it after `timeoutMs`.
DebugRun RunDebugged(const char* role, const std::string& argument, int timeoutMs);

// A message box that a helper thread found and answered.
struct AnsweredBox {
    std::string caption, text;  // UTF-8
};

// From a thread of its own, waits up to `timeoutMs` for a message box with
// `caption` (any process), records it and presses the button `buttonId`
// (IDABORT, IDRETRY, IDIGNORE ...).  Join returns the boxes answered.
class BoxAnswerer {
  public:
    BoxAnswerer(const wchar_t* caption, int buttonId, int boxes, int timeoutMs);
    ~BoxAnswerer();
    std::vector<AnsweredBox> Join();

  private:
    static DWORD WINAPI Run(void* self);
    std::wstring caption_;
    int buttonId_, boxes_, timeoutMs_;
    std::vector<AnsweredBox> answered_;
    HANDLE thread_ = nullptr;
};

std::string Utf8(const std::wstring& text);

}  // namespace zvtest

#endif  // ZV_TEST_WINDOWS_SUPPORT_H
