// The emulated debug output and message box: where output goes, that writers
// of several processes never tear it, and where the box takes its answer.
// What the trace and the assertion make of them is tested with the library.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <set>
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
    if (target) setenv("ZV_DEBUG_OUTPUT", target, 1);
    else unsetenv("ZV_DEBUG_OUTPUT");
    zvp::ReopenDebugOutput();
}

constexpr UINT kBoxStyle = MB_ABORTRETRYIGNORE | MB_ICONHAND | MB_TASKMODAL | MB_SETFOREGROUND;

}  // namespace

TEST(PlatformDebugOutput, GoesWhereTheEnvironmentSays) {
    zvtest::TempDir dir;
    const std::string log = dir.file("debug.log");
    for (const char* target : {static_cast<const char*>(nullptr), "", "stderr"}) {  // the first two: nowhere
        SinkTo(target);
        testing::internal::CaptureStderr();
        OutputDebugStringA("narrow\n");
        OutputDebugStringW(u"wide\n");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), target && *target ? "narrow\nwide\n" : "");
    }
    // A file is appended to, never truncated; narrow text is ISO-8859-1.
    std::ofstream(log) << "earlier\n";
    SinkTo(log.c_str());
    OutputDebugStringA("caf\xE9 ");
    OutputDebugStringW(u"caf\u00E9 \u20AC \U0001F600\n");
    OutputDebugStringA(nullptr);
    OutputDebugStringW(nullptr);
    EXPECT_EQ(ReadFile(log), "earlier\ncaf\xC3\xA9 caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\n");
    // A path that cannot be opened: output is dropped, nothing fails.
    SinkTo(dir.file("no/such/dir/log").c_str());
    OutputDebugStringA("dropped\n");
    SinkTo(nullptr);
}

TEST(PlatformDebugOutput, ConcurrentWritersOfProcessesAndThreadsNeverTear) {
    alarm(120);  // a hang fails the test instead of blocking the run
    zvtest::TempDir dir;
    const std::string log = dir.file("shared.log");
    SinkTo(log.c_str());
    constexpr int kThreads = 8, kLines = 100;
    constexpr size_t kLength = 6000;  // well beyond an atomic pipe write
    // Each line is "<tag>" + kLength copies of the thread's letter + "<tag>".
    auto writeLines = [&](char process) {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([=] {
                for (int i = 0; i < kLines; ++i) {
                    std::string tag = "<" + std::string(1, process) + std::to_string(t) + ":" + std::to_string(i) + ">";
                    std::string line = tag + std::string(kLength, char('a' + t)) + tag + "\n";
                    if (i % 2) OutputDebugStringA(line.c_str());
                    else OutputDebugStringW(zvtest::W(line.c_str()).c_str());
                }
            });
        for (auto& thread : threads) thread.join();
    };
    pid_t child = fork();  // the other process appends to the same file meanwhile
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
    std::set<std::string> tags;
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        ASSERT_GT(line.size(), 2u) << "line " << count;
        std::string tag = line.substr(0, line.find('>') + 1);
        ASSERT_EQ(line, tag + std::string(kLength, char('a' + (line[2] - '0'))) + tag);
        tags.insert(tag);
    }
    EXPECT_EQ(count, 2 * kThreads * kLines);
    EXPECT_EQ(tags.size(), size_t(count));
    alarm(0);
}

// A target that cannot be opened is said on stderr, once.
TEST(PlatformDebugOutputDeathTest, ATargetThatCannotBeOpenedIsSaid) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto emit = [] {
        SinkTo("/nonexistent/folder/log");
        OutputDebugStringA("first");
        OutputDebugStringW(u"second");
        exit(0);
    };
    EXPECT_EXIT(emit(), testing::ExitedWithCode(0),
                "^zv platform: ZV_DEBUG_OUTPUT=/nonexistent/folder/log cannot be opened \\(No such file or directory\\): "
                "debug output goes nowhere\n$");
}

// The answers the library's assertion takes from the environment, and the
// box without any, are checked there; here case, the kind of box, and the
// terminal.
TEST(PlatformMessageBox, AnswerComesFromTheEnvironmentThenTheTerminal) {
    for (auto [answer, result] : {std::pair<const char*, int>{"Ignore", IDIGNORE}, {"RETRY", IDRETRY}}) {
        setenv("ZV_ASSERT_ANSWER", answer, 1);
        EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", kBoxStyle), result) << answer;
        EXPECT_EQ(MessageBoxW(nullptr, u"text", u"caption", kBoxStyle), result) << answer;
    }
    // Only the abort/retry/ignore box can be answered.
    setenv("ZV_ASSERT_ANSWER", "ignore", 1);
    SetLastError(0);
    EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", 0 /* MB_OK */), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_SUPPORTED));

    // The answer given on the terminal, or 0 when there is none; an answer
    // in the environment wins over the terminal.
    auto ask = [](auto box, std::vector<std::string> keys, std::string* screen) {
        zvtest::TerminalRun run = zvtest::RunOnTerminal(box, "(a)bort, (r)etry or (i)gnore? ", keys);
        *screen = run.screen;
        EXPECT_TRUE(!run.started || WIFEXITED(run.status)) << run.screen;
        return run.started ? WEXITSTATUS(run.status) : -1;
    };
    auto narrowBox = [] { return MessageBoxA(nullptr, "Line one\nline caf\xE9", "The Caption", kBoxStyle); };
    std::string screen;
    const int preset = ask(narrowBox, {}, &screen);
    if (preset == -1) GTEST_SKIP() << "no pseudo-terminal available";
    EXPECT_EQ(preset, IDIGNORE);
    EXPECT_EQ(screen.find("The Caption"), std::string::npos);
    unsetenv("ZV_ASSERT_ANSWER");
    EXPECT_EQ(ask(narrowBox, {"r\n"}, &screen), IDRETRY);
    EXPECT_NE(screen.find("The Caption"), std::string::npos) << screen;
    EXPECT_NE(screen.find("line caf\xC3\xA9"), std::string::npos) << screen;
    // A wrong key asks again; the answer's case does not matter.
    auto wideBox = [] { return MessageBoxW(nullptr, u"wide \u20AC", u"Wide Caption", kBoxStyle); };
    EXPECT_EQ(ask(wideBox, {"x\n", "  I\n"}, &screen), IDIGNORE);
    EXPECT_NE(screen.find("wide \xE2\x82\xAC"), std::string::npos) << screen;
    // The terminal closes its input (end of file): nobody can answer.
    EXPECT_EQ(ask(narrowBox, {"\x04"}, &screen), 0);
}
