// debug.cpp - debug output, debug break and the message box of the
// emulated machine.
//
// Debug output goes where ZV_DEBUG_OUTPUT says: unset or empty, nowhere (no
// debugger listens); "stderr"; or a file, appended to.  Each output is one
// write() of its whole text, so outputs of concurrent threads, and of other
// processes appending to the same file, never tear each other.
//
// The message box cannot be drawn here.  Its answer comes from
// ZV_ASSERT_ANSWER (abort, retry or ignore); without it, the user is asked
// on the terminal when there is one; otherwise the box "cannot be shown"
// and the call returns 0, as MessageBox does when it fails.  A box that
// cannot be shown writes its caption and text to stderr first, so that what
// the program meant to say is not lost when it then ends; a value of
// ZV_ASSERT_ANSWER that is none of the three is said there too.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "platform/posix/handles.h"
#include "platform/posix/services.h"

namespace zvp {
namespace {

struct DebugSink {
    std::mutex lock;
    bool chosen = false;
    int fd = -1;
    bool ownsFd = false;
};

// Never destroyed: threads may still write while the process exits.
DebugSink& Sink() {
    static DebugSink* sink = new DebugSink;
    return *sink;
}

std::atomic<DebugOutputWatcher> g_outputWatcher{nullptr};
std::atomic<MessageBoxWatcher> g_boxWatcher{nullptr};

// Writes all of it; only a short write (a signal, a full disk) takes more
// than the one call.
void WriteAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        ssize_t written = write(fd, data, length);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;
        }
        data += written;
        length -= size_t(written);
    }
}

// With the sink's lock held.
void ChooseSink(DebugSink& sink) {
    if (sink.ownsFd) close(sink.fd);
    sink.fd = -1;
    sink.ownsFd = false;
    const char* target = getenv("ZV_DEBUG_OUTPUT");
    if (target && strcmp(target, "stderr") == 0) {
        sink.fd = STDERR_FILENO;
    } else if (target && *target) {
        sink.fd = open(target, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        sink.ownsFd = sink.fd >= 0;
    }
    if (target && *target && sink.fd < 0) {
        std::string message = std::string("zv platform: ZV_DEBUG_OUTPUT=") + target +
                              " cannot be opened (" + strerror(errno) + "): debug output goes nowhere\n";
        WriteAll(STDERR_FILENO, message.data(), message.size());
    }
    sink.chosen = true;
}

void EmitDebugOutput(const std::string& text) {
    if (DebugOutputWatcher watcher = g_outputWatcher.load()) watcher(text);
    DebugSink& sink = Sink();
    std::lock_guard<std::mutex> guard(sink.lock);
    if (!sink.chosen) ChooseSink(sink);
    if (sink.fd >= 0 && !text.empty()) WriteAll(sink.fd, text.data(), text.size());
}

std::u16string WidenUnitPerByte(const char* text) {
    std::u16string out;
    for (; text && *text; ++text) out += char16_t(static_cast<unsigned char>(*text));
    return out;
}

// Reads the answer on the terminal; 0 when there is none or it goes away.
int AskOnTerminal(const std::string& text, const std::string& caption) {
    if (!isatty(STDIN_FILENO)) return 0;
    int tty = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (tty < 0) return 0;
    // One dialog at a time: two threads asking at once would mix their
    // questions and answers.
    static std::mutex* dialog = new std::mutex;
    std::lock_guard<std::mutex> guard(*dialog);
    std::string question = "\n" + caption + "\n\n" + text + "\n\n";
    WriteAll(tty, question.data(), question.size());
    int answer = 0;
    while (answer == 0) {
        static const char prompt[] = "(a)bort, (r)etry or (i)gnore? ";
        WriteAll(tty, prompt, sizeof(prompt) - 1);
        std::string line;
        char c;
        ssize_t got;
        while ((got = read(tty, &c, 1)) == 1 && c != '\n') line += c;
        if (got < 0 && errno == EINTR) continue;
        size_t first = line.find_first_not_of(" \t\r");
        char key = first == std::string::npos ? '\0' : line[first];
        if (key == 'a' || key == 'A') answer = IDABORT;
        else if (key == 'r' || key == 'R') answer = IDRETRY;
        else if (key == 'i' || key == 'I') answer = IDIGNORE;
        else if (got <= 0) break;  // end of input: nobody can answer
    }
    close(tty);
    return answer;
}

// The box that could not be shown, on stderr, before the caller acts on it.
void ReportUnshownBox(const std::string& text, const std::string& caption, const std::string& why) {
    std::string report = "\n" + caption + "\n\n" + text + "\n\n(zv platform: the message box cannot be shown: " +
                         why + ")\n";
    WriteAll(STDERR_FILENO, report.data(), report.size());
}

int ShowMessageBox(const std::u16string& text16, const std::u16string& caption16,
                   const std::string& text, const std::string& caption, UINT type, bool wide) {
    if (MessageBoxWatcher watcher = g_boxWatcher.load()) watcher(text16, caption16, type, wide);
    // Only the three-button box of the assertion dialog can be answered.
    if ((type & 0xF) != MB_ABORTRETRYIGNORE) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return 0;
    }
    const char* answer = getenv("ZV_ASSERT_ANSWER");
    if (answer && *answer) {
        if (strcasecmp(answer, "abort") == 0) return IDABORT;
        if (strcasecmp(answer, "retry") == 0) return IDRETRY;
        if (strcasecmp(answer, "ignore") == 0) return IDIGNORE;
        ReportUnshownBox(text, caption, std::string("ZV_ASSERT_ANSWER=") + answer +
                                            " is none of abort, retry and ignore");
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int result = AskOnTerminal(text, caption);
    if (result == 0) {
        ReportUnshownBox(text, caption, "no ZV_ASSERT_ANSWER, and no terminal or no answer on it");
        SetLastError(ERROR_NOT_SUPPORTED);
    }
    return result;
}

}  // namespace

void ReopenDebugOutput() {
    DebugSink& sink = Sink();
    std::lock_guard<std::mutex> guard(sink.lock);
    ChooseSink(sink);
}

void WatchDebugOutput(DebugOutputWatcher watcher) { g_outputWatcher.store(watcher); }

void WatchMessageBoxes(MessageBoxWatcher watcher) { g_boxWatcher.store(watcher); }

bool DebuggerAttached() {
    int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char status[4096];
    ssize_t got = read(fd, status, sizeof(status) - 1);
    close(fd);
    if (got <= 0) return false;
    status[got] = '\0';
    const char* field = strstr(status, "TracerPid:");
    return field && strtol(field + strlen("TracerPid:"), nullptr, 10) != 0;
}

}  // namespace zvp

void OutputDebugStringA(LPCSTR text) {
    if (!text) return;
    zvp::EmitDebugOutput(zvp::Latin1ToUtf8(text));
}

// Works on both families: the 9x family has it too.
void OutputDebugStringW(LPCWSTR text) {
    if (!text) return;
    zvp::EmitDebugOutput(zvp::Utf16ToUtf8(text));
}

// Without a debugger a breakpoint would only end the process; the call then
// does nothing, so a retried assertion goes on.
void DebugBreak(void) {
    if (zvp::DebuggerAttached()) raise(SIGTRAP);
}

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    return zvp::ShowMessageBox(zvp::WidenUnitPerByte(text), zvp::WidenUnitPerByte(caption),
                               zvp::Latin1ToUtf8(text), zvp::Latin1ToUtf8(caption), type, false);
}

int MessageBoxW(HWND, LPCWSTR text, LPCWSTR caption, UINT type) {
    std::u16string text16 = text ? std::u16string(text) : std::u16string();
    std::u16string caption16 = caption ? std::u16string(caption) : std::u16string();
    return zvp::ShowMessageBox(text16, caption16, zvp::Utf16ToUtf8(text), zvp::Utf16ToUtf8(caption),
                               type, true);
}
