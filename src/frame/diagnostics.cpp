// diagnostics.cpp - trace lines on the debug output and the assertion dialog.
//
// Every text is built in a fixed buffer on the stack.  Text longer than its
// buffer is cut, never written past the end: a trace keeps its first 511
// characters, an assertion message its first 511, a file name given to
// ZVAssertW its first 255.
#include "frame/frame.h"
#include "platform/win32.h"
#include "zv.h"

namespace {

constexpr uint32_t kTraceBuffer = 512;
constexpr uint32_t kMessageBuffer = 512;
constexpr uint32_t kLineText = 12;  // "-2147483648" and its terminator, in either width
constexpr uint32_t kWideFileName = 256;

constexpr UINT kAssertStyle = MB_ABORTRETRYIGNORE | MB_ICONHAND | MB_TASKMODAL | MB_SETFOREGROUND;
static_assert(kAssertStyle == 0x00012012, "three buttons, stop icon, task-modal, foreground");

// Appends as much of `piece` as fits, keeping the terminator inside `size`.
void Append(char* message, uint32_t size, const char* piece) {
    uint32_t used = ZVStrLenA(message);
    if (used + 1 < size) ZVStrNCatA(message, piece, size - 1 - used);
}

void Append(ZVWCHAR* message, uint32_t size, const ZVWCHAR* piece) {
    uint32_t used = ZVStrLenW(message);
    if (used + 1 < size) ZVStrNCatW(message, piece, size - 1 - used);
}

void ActOnAnswer(int answer) {
    switch (answer) {
        case IDABORT:
            // A SIGABRT handler may end the process its own way; if it
            // returns, the process ends here with code 3.
            raise(SIGABRT);
            exit(3);
        case IDRETRY:
            // Breaks into an attached debugger; the caller goes on after it.
            DebugBreak();
            return;
        case IDIGNORE: return;
        default:
            // The box could not be shown: never go on unreported.
            abort();
    }
}

}  // namespace

extern "C" {

// The thread tag and the text are two outputs under one lock, so the tag
// stays next to its text and traces of different threads do not mix.
ZV_API void ZVTraceA(const char* format, ...) {
    char buffer[kTraceBuffer];
    EnterCriticalSection(&zv::g_traceLock);
    snprintf(buffer, kTraceBuffer, "[%#x]", unsigned(GetCurrentThreadId()));
    OutputDebugStringA(buffer);
    va_list args;
    va_start(args, format);
    if (vsnprintf(buffer, kTraceBuffer, format, args) < 0) buffer[0] = '\0';
    va_end(args);
    OutputDebugStringA(buffer);
    LeaveCriticalSection(&zv::g_traceLock);
}

ZV_API void ZVTraceW(const ZVWCHAR* format, ...) {
    ZVWCHAR buffer[kTraceBuffer];
    EnterCriticalSection(&zv::g_traceLock);
    _snwprintf(buffer, kTraceBuffer, ZV_W("[%#x]"), unsigned(GetCurrentThreadId()));
    OutputDebugStringW(buffer);
    va_list args;
    va_start(args, format);
    // One unit is kept back for the terminator, which the formatter leaves
    // out when the text fills or overflows the count.
    _vsnwprintf(buffer, kTraceBuffer - 1, format, args);
    va_end(args);
    buffer[kTraceBuffer - 1] = 0;
    OutputDebugStringW(buffer);
    LeaveCriticalSection(&zv::g_traceLock);
}

ZV_API void ZVAssertA(const char* expression, const char* file, int32_t line) {
    ZVTraceA("\nZV_ASSERT(%s)\n %s:%d\n", expression, file, int(line));

    char lineText[kLineText];
    ZVLToStrA(line, lineText, 10);
    char message[kMessageBuffer];
    ZVStrCpyA(message, "Zevrin Debug Assertion Failed!\n\n");
    Append(message, kMessageBuffer, "File: ");
    Append(message, kMessageBuffer, file);
    Append(message, kMessageBuffer, "\nLine: ");
    Append(message, kMessageBuffer, lineText);
    Append(message, kMessageBuffer, "\n\nExpression: ");
    Append(message, kMessageBuffer, expression);
    Append(message, kMessageBuffer, "\n\nPress retry to debug the application.");

    // Shown without the trace lock: other threads go on tracing meanwhile.
    ActOnAnswer(MessageBoxA(nullptr, message, "Zevrin Debug Library", kAssertStyle));
}

ZV_API void ZVAssertW(const ZVWCHAR* expression, const char* file, int32_t line) {
    ZVWCHAR wideFile[kWideFileName];
    if (ZVStrNLenA(file, kWideFileName) < kWideFileName) {
        ZVFromAnsi(wideFile, file);
    } else {
        char cut[kWideFileName];
        ZVStrNCpyA(cut, file, kWideFileName - 1);
        cut[kWideFileName - 1] = '\0';
        ZVFromAnsi(wideFile, cut);
    }
    ZVTraceW(ZV_W("\nZV_ASSERT(%s)\n %s:%d\n"), expression, wideFile, int(line));

    ZVWCHAR lineText[kLineText];
    ZVLToStrW(line, lineText, 10);
    ZVWCHAR message[kMessageBuffer];
    ZVStrCpyW(message, ZV_W("Zevrin Debug Assertion Failed!\n\n"));
    Append(message, kMessageBuffer, ZV_W("File: "));
    Append(message, kMessageBuffer, wideFile);
    Append(message, kMessageBuffer, ZV_W("\nLine: "));
    Append(message, kMessageBuffer, lineText);
    Append(message, kMessageBuffer, ZV_W("\n\nExpression: "));
    Append(message, kMessageBuffer, expression);
    Append(message, kMessageBuffer, ZV_W("\n\nPress retry to debug the application."));

    ActOnAnswer(MessageBoxW(nullptr, message, ZV_W("Zevrin Debug Library"), kAssertStyle));
}

}  // extern "C"
