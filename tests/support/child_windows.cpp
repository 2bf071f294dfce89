// child_windows.cpp - child.h on Windows: the same program started again
// with CreateProcess, the role named in its environment, the reports on an
// inherited pipe.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>

#include "child.h"
#include "windows_support.h"

namespace zvtest {
namespace {

using Clock = std::chrono::steady_clock;

std::string Variable(const char* name) {
    char value[4096];
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

// The current environment block with `extra` (NAME=VALUE) in front of it.
std::string EnvironmentBlock(const std::vector<std::string>& extra) {
    std::string block;
    for (const std::string& v : extra) block.append(v).push_back('\0');
    char* current = GetEnvironmentStringsA();
    for (const char* e = current; *e; e += strlen(e) + 1) block.append(e).push_back('\0');
    FreeEnvironmentStringsA(current);
    block.push_back('\0');
    return block;
}

bool Start(const char* role, const std::string& argument, const std::vector<std::string>& environment,
           DWORD flags, HANDLE report, PROCESS_INFORMATION* started) {
    std::vector<std::string> variables(environment);
    variables.push_back(std::string("ZVTEST_CHILD_ROLE=") + role);
    variables.push_back("ZVTEST_CHILD_ARG=" + argument);
    variables.push_back("ZVTEST_CHILD_REPORT=" + std::to_string(reinterpret_cast<uintptr_t>(report)));
    std::string block = EnvironmentBlock(variables);
    char path[MAX_PATH];
    if (GetModuleFileNameA(nullptr, path, MAX_PATH) == 0) return false;
    std::string commandLine = std::string("\"") + path + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    return CreateProcessA(path, &commandLine[0], nullptr, nullptr, report != nullptr, flags, &block[0],
                          nullptr, &startup, started) != 0;
}

}  // namespace

bool StartRole(const char* role, const std::string& argument, DWORD creationFlags, HANDLE report,
               PROCESS_INFORMATION* started) {
    return Start(role, argument, {}, creationFlags, report, started);
}

bool RegisterChildRole(const char* name, ChildRoleFn role) {
    if (Variable("ZVTEST_CHILD_ROLE") != name) return false;
    const std::string report = Variable("ZVTEST_CHILD_REPORT");
    const intptr_t handle = intptr_t(strtoull(report.c_str(), nullptr, 10));
    const int fd = handle ? _open_osfhandle(handle, _O_WRONLY | _O_BINARY) : -1;
    exit(role(Variable("ZVTEST_CHILD_ARG"), fd));
}

void Report(int reportFd, const std::string& line) {
    const std::string whole = line + "\n";
    if (reportFd >= 0 && _write(reportFd, whole.data(), unsigned(whole.size())) < 0) abort();
}

Child::Child(const char* role, const std::string& argument, const std::vector<std::string>& environment) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    PROCESS_INFORMATION started;
    if (Start(role, argument, environment, 0, writeEnd, &started)) {
        CloseHandle(started.hThread);
        process_ = started.hProcess;
        readPipe_ = readEnd;
    } else {
        CloseHandle(readEnd);
    }
    CloseHandle(writeEnd);  // the child holds the only write end: its exit ends the reports
}

Child::~Child() {
    Wait(0);
    if (readPipe_) CloseHandle(readPipe_);
}

bool Child::ReadLine(std::string* line, int timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t end;
    while ((end = pending_.find('\n')) == std::string::npos) {
        DWORD available = 0;
        if (!readPipe_ || !PeekNamedPipe(readPipe_, nullptr, 0, nullptr, &available, nullptr)) {
            if (readPipe_) CloseHandle(readPipe_);  // broken: the child has gone
            readPipe_ = nullptr;
            return false;
        }
        if (available == 0) {
            if (Clock::now() > deadline) return false;
            Sleep(1);
            continue;
        }
        char buffer[4096];
        DWORD got = 0;
        if (ReadFile(readPipe_, buffer, available < sizeof buffer ? available : sizeof buffer, &got, nullptr))
            pending_.append(buffer, got);
    }
    *line = pending_.substr(0, end);
    pending_.erase(0, end + 1);
    return true;
}

int Child::Wait(int timeoutMs) {
    if (!process_) return exitCode_;
    if (WaitForSingleObject(process_, DWORD(timeoutMs < 0 ? 0 : timeoutMs)) != WAIT_OBJECT_0) {
        TerminateProcess(process_, 255);
        WaitForSingleObject(process_, INFINITE);
        exitCode_ = -1;
    } else {
        DWORD code = 0;
        GetExitCodeProcess(process_, &code);
        exitCode_ = int(code);
    }
    CloseHandle(process_);
    process_ = nullptr;
    return exitCode_;
}

void Child::Kill(int signal) {
    if (process_) TerminateProcess(process_, UINT(128 + signal));
}

}  // namespace zvtest
