// debugger_windows.cpp - a small debugger loop: what a debugger attached to
// the child would see of its debug output and its breakpoints.
#include <chrono>

#include "windows_support.h"

namespace zvtest {
namespace {

// The debug string of the event, read from the child's memory.
std::string ReadDebugString(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info) {
    const size_t unit = info.fUnicode ? 2 : 1;
    std::string bytes(size_t(info.nDebugStringLength) * unit, '\0');
    SIZE_T got = 0;
    if (bytes.empty() ||
        !ReadProcessMemory(process, info.lpDebugStringData, &bytes[0], bytes.size(), &got))
        return std::string();
    bytes.resize(got);
    if (info.fUnicode) {
        std::wstring wide(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
        return Utf8(std::wstring(wide.c_str()));
    }
    // A narrow string is in the ANSI code page (the system converts a wide
    // one to it on its way to the debugger).
    bytes = bytes.c_str();  // the terminator and past it go
    std::wstring wide(bytes.size(), L'\0');
    wide.resize(size_t(MultiByteToWideChar(CP_ACP, 0, bytes.data(), int(bytes.size()), &wide[0], int(wide.size()))));
    return Utf8(wide);
}

}  // namespace

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

DebugRun RunDebugged(const char* role, const std::string& argument, int timeoutMs) {
    DebugRun run;
    PROCESS_INFORMATION child;
    if (!StartRole(role, argument, DEBUG_ONLY_THIS_PROCESS, nullptr, &child)) return run;
    run.started = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool loaderBreak = true;
    for (bool done = false; !done;) {
        DEBUG_EVENT event;
        if (!WaitForDebugEvent(&event, 100)) {
            if (std::chrono::steady_clock::now() > deadline) {
                run.timedOut = true;
                TerminateProcess(child.hProcess, 255);
            }
            continue;
        }
        DWORD answer = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
            case OUTPUT_DEBUG_STRING_EVENT:
                run.outputs.push_back(ReadDebugString(child.hProcess, event.u.DebugString));
                run.outputThreads.push_back(event.dwThreadId);
                break;
            case EXCEPTION_DEBUG_EVENT:
                if (event.u.Exception.ExceptionRecord.ExceptionCode == EXCEPTION_BREAKPOINT ||
                    event.u.Exception.ExceptionRecord.ExceptionCode == 0x4000001F /* WOW64 breakpoint */) {
                    if (!loaderBreak) ++run.breakpoints;
                    loaderBreak = false;
                } else {
                    answer = DBG_EXCEPTION_NOT_HANDLED;
                }
                break;
            case CREATE_PROCESS_DEBUG_EVENT: CloseHandle(event.u.CreateProcessInfo.hFile); break;
            case LOAD_DLL_DEBUG_EVENT: CloseHandle(event.u.LoadDll.hFile); break;
            case EXIT_PROCESS_DEBUG_EVENT:
                run.exitCode = event.u.ExitProcess.dwExitCode;
                done = true;
                break;
            default: break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, answer);
    }
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return run;
}

}  // namespace zvtest
