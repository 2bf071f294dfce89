// The emulated debug output, debug break and message box.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/services.h"
#include "platform/win32.h"
#include "support.h"
#include "terminal.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void SinkTo(const char* target) {
    if (target)
        setenv("ZV_DEBUG_OUTPUT", target, 1);
    else
        unsetenv("ZV_DEBUG_OUTPUT");
    zvp::ReopenDebugOutput();
}

std::mutex g_seenLock;
std::vector<std::string> g_seenOutputs;

void RememberOutput(const std::string& text) {
    std::lock_guard<std::mutex> guard(g_seenLock);
    g_seenOutputs.push_back(text);
}

struct SeenBox {
    std::u16string text, caption;
    UINT type;
    bool wide;
};
std::vector<SeenBox> g_seenBoxes;

void RememberBox(const std::u16string& text, const std::u16string& caption, UINT type, bool wide) {
    g_seenBoxes.push_back({text, caption, type, wide});
}

// Standard input from /dev/null for one scope: no terminal to ask on.
class NoTerminal {
  public:
    NoTerminal() : saved_(dup(STDIN_FILENO)) {
        int null = open("/dev/null", O_RDONLY);
        dup2(null, STDIN_FILENO);
        close(null);
    }
    ~NoTerminal() {
        dup2(saved_, STDIN_FILENO);
        close(saved_);
    }

  private:
    int saved_;
};

constexpr UINT kBoxStyle = MB_ABORTRETRYIGNORE | MB_ICONHAND | MB_TASKMODAL | MB_SETFOREGROUND;

}  // namespace

TEST(PlatformDebugOutput, GoesWhereTheEnvironmentSays) {
    zvtest::TempDir dir;
    const std::string log = dir.file("debug.log");

    // Unset and empty: nowhere.
    for (const char* target : {static_cast<const char*>(nullptr), ""}) {
        SinkTo(target);
        testing::internal::CaptureStderr();
        OutputDebugStringA("lost\n");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    }

    SinkTo("stderr");
    testing::internal::CaptureStderr();
    OutputDebugStringA("to stderr\n");
    OutputDebugStringW(u"wide to stderr\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "to stderr\nwide to stderr\n");

    // A file is appended to, never truncated.
    std::ofstream(log) << "earlier\n";
    SinkTo(log.c_str());
    OutputDebugStringA("caf\xE9 ");           // ISO-8859-1
    OutputDebugStringW(u"caf\u00E9 \u20AC ");  // UTF-16
    OutputDebugStringW(u"\U0001F600\n");
    OutputDebugStringA("");
    OutputDebugStringA(nullptr);
    OutputDebugStringW(nullptr);
    EXPECT_EQ(ReadFile(log), "earlier\ncaf\xC3\xA9 caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\n");

    // A path that cannot be opened: output is dropped, nothing fails.
    SinkTo(dir.file("no/such/dir/log").c_str());
    OutputDebugStringA("dropped\n");
    SinkTo(nullptr);
}

TEST(PlatformDebugOutput, WatcherSeesEachOutputOnItsOwn) {
    SinkTo(nullptr);
    g_seenOutputs.clear();
    zvp::WatchDebugOutput(RememberOutput);
    OutputDebugStringA("one");
    OutputDebugStringW(u"two");
    OutputDebugStringA("");
    zvp::WatchDebugOutput(nullptr);
    OutputDebugStringA("unseen");
    EXPECT_EQ(g_seenOutputs, (std::vector<std::string>{"one", "two", ""}));
}

TEST(PlatformDebugOutput, ConcurrentWritersOfProcessesAndThreadsNeverTear) {
    alarm(120);  // a hang fails the test instead of blocking the run
    zvtest::TempDir dir;
    const std::string log = dir.file("shared.log");
    SinkTo(log.c_str());
    constexpr int kThreads = 8, kLines = 100;
    constexpr size_t kLength = 6000;  // well beyond an atomic pipe write

    auto writeLines = [&](char process) {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([=] {
                for (int i = 0; i < kLines; ++i) {
                    char tag[32];
                    snprintf(tag, sizeof(tag), "<%c%d:%d>", process, t, i);
                    std::string line = tag + std::string(kLength, char('a' + t)) + tag + "\n";
                    if (i % 2)
                        OutputDebugStringA(line.c_str());
                    else
                        OutputDebugStringW(zvtest::W(line.c_str()).c_str());
                }
            });
        }
        for (auto& thread : threads) thread.join();
    };
    // The other process appends to the same file meanwhile.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        zvp::ReopenDebugOutput();
        writeLines('C');
        _exit(0);
    }
    writeLines('P');
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    SinkTo(nullptr);

    std::istringstream lines(ReadFile(log));
    std::map<std::string, int> seen;
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        size_t close = line.find('>');
        ASSERT_NE(close, std::string::npos) << "line " << count;
        std::string tag = line.substr(0, close + 1);
        int thread = line[2] - '0';
        ASSERT_EQ(line.size(), 2 * tag.size() + kLength) << tag;
        ASSERT_EQ(line.substr(tag.size(), kLength), std::string(kLength, char('a' + thread))) << tag;
        ASSERT_EQ(line.substr(tag.size() + kLength), tag);
        ++seen[tag];
    }
    EXPECT_EQ(count, 2 * kThreads * kLines);
    EXPECT_EQ(seen.size(), size_t(2 * kThreads * kLines));
    alarm(0);
}

TEST(PlatformDebugBreak, TrapsOnlyWhenADebuggerIsAttached) {
    if (zvp::DebuggerAttached()) GTEST_SKIP() << "the test itself runs under a debugger";
    DebugBreak();  // no debugger: nothing happens

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The parent becomes this process's tracer, as a debugger would.
        if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(90);
        if (!zvp::DebuggerAttached()) _exit(91);
        DebugBreak();
        _exit(7);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 90) GTEST_SKIP() << "ptrace is not permitted here";
    ASSERT_FALSE(WIFEXITED(status)) << "exit code " << WEXITSTATUS(status);
    ASSERT_TRUE(WIFSTOPPED(status));
    EXPECT_EQ(WSTOPSIG(status), SIGTRAP);
    // The debugger lets it go on past the break.
    ASSERT_EQ(ptrace(PTRACE_CONT, child, nullptr, nullptr), 0);
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7);
}

TEST(PlatformMessageBox, AnswerComesFromTheEnvironment) {
    NoTerminal noTerminal;
    struct Case {
        const char* answer;
        int result;
    } cases[] = {{"abort", IDABORT}, {"retry", IDRETRY}, {"ignore", IDIGNORE}, {"Ignore", IDIGNORE},
                 {"RETRY", IDRETRY}, {"maybe", 0},        {"", 0}};
    for (const Case& c : cases) {
        setenv("ZV_ASSERT_ANSWER", c.answer, 1);
        EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", kBoxStyle), c.result) << c.answer;
        EXPECT_EQ(MessageBoxW(nullptr, u"text", u"caption", kBoxStyle), c.result) << c.answer;
    }
    // Unset, and no terminal: the box cannot be shown.
    unsetenv("ZV_ASSERT_ANSWER");
    EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", kBoxStyle), 0);
    EXPECT_EQ(MessageBoxW(nullptr, u"text", u"caption", kBoxStyle), 0);
    // Only the abort/retry/ignore box can be answered.
    setenv("ZV_ASSERT_ANSWER", "ignore", 1);
    SetLastError(0);
    EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", 0 /* MB_OK */), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_SUPPORTED));
    unsetenv("ZV_ASSERT_ANSWER");
}

TEST(PlatformMessageBox, WatcherSeesTextCaptionAndStyleOfBothWidths) {
    setenv("ZV_ASSERT_ANSWER", "ignore", 1);
    g_seenBoxes.clear();
    zvp::WatchMessageBoxes(RememberBox);
    MessageBoxA(nullptr, "caf\xE9", "cap", kBoxStyle);
    MessageBoxW(nullptr, u"\u20AC", u"wcap", kBoxStyle);
    zvp::WatchMessageBoxes(nullptr);
    ASSERT_EQ(g_seenBoxes.size(), 2u);
    EXPECT_EQ(g_seenBoxes[0].text, u"caf\u00E9");
    EXPECT_EQ(g_seenBoxes[0].caption, u"cap");
    EXPECT_EQ(g_seenBoxes[0].type, kBoxStyle);
    EXPECT_FALSE(g_seenBoxes[0].wide);
    EXPECT_EQ(g_seenBoxes[1].text, u"\u20AC");
    EXPECT_EQ(g_seenBoxes[1].caption, u"wcap");
    EXPECT_TRUE(g_seenBoxes[1].wide);
    unsetenv("ZV_ASSERT_ANSWER");
}

TEST(PlatformMessageBox, AsksOnTheTerminalWhenNoAnswerIsSet) {
    unsetenv("ZV_ASSERT_ANSWER");
    const std::string prompt = "(a)bort, (r)etry or (i)gnore? ";
    auto narrowBox = [] { return MessageBoxA(nullptr, "Line one\nline caf\xE9", "The Caption", kBoxStyle); };
    auto wideBox = [] { return MessageBoxW(nullptr, u"wide \u20AC", u"Wide Caption", kBoxStyle); };

    zvtest::TerminalRun retry = zvtest::RunOnTerminal(narrowBox, prompt, {"r\n"});
    if (!retry.started) GTEST_SKIP() << "no pseudo-terminal available";
    ASSERT_FALSE(retry.timedOut) << retry.screen;
    ASSERT_TRUE(WIFEXITED(retry.status)) << retry.screen;
    EXPECT_EQ(WEXITSTATUS(retry.status), IDRETRY);
    EXPECT_NE(retry.screen.find("The Caption"), std::string::npos) << retry.screen;
    EXPECT_NE(retry.screen.find("line caf\xC3\xA9"), std::string::npos) << retry.screen;

    // A wrong key asks again; the answer's case does not matter.
    zvtest::TerminalRun ignore = zvtest::RunOnTerminal(wideBox, prompt, {"x\n", "  I\n"});
    ASSERT_TRUE(WIFEXITED(ignore.status)) << ignore.screen;
    EXPECT_EQ(WEXITSTATUS(ignore.status), IDIGNORE);
    EXPECT_NE(ignore.screen.find("wide \xE2\x82\xAC"), std::string::npos) << ignore.screen;
    EXPECT_NE(ignore.screen.find("Wide Caption"), std::string::npos) << ignore.screen;

    zvtest::TerminalRun abortRun = zvtest::RunOnTerminal(narrowBox, prompt, {"abort\n"});
    ASSERT_TRUE(WIFEXITED(abortRun.status)) << abortRun.screen;
    EXPECT_EQ(WEXITSTATUS(abortRun.status), IDABORT);

    // The terminal closes its input (end of file): nobody can answer.
    zvtest::TerminalRun eof = zvtest::RunOnTerminal(narrowBox, prompt, {"\x04"});
    ASSERT_TRUE(WIFEXITED(eof.status)) << eof.screen;
    EXPECT_EQ(WEXITSTATUS(eof.status), 0);

    // An answer in the environment wins over the terminal.
    zvtest::TerminalRun preset = zvtest::RunOnTerminal(
        [&] {
            setenv("ZV_ASSERT_ANSWER", "ignore", 1);
            return narrowBox();
        },
        prompt, {});
    ASSERT_TRUE(WIFEXITED(preset.status));
    EXPECT_EQ(WEXITSTATUS(preset.status), IDIGNORE);
    EXPECT_EQ(preset.screen.find("The Caption"), std::string::npos);
}
