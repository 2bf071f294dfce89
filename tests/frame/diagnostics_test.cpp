// Trace lines and the assertion dialog.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/handles.h"
#include "platform/posix/services.h"
#include "support.h"
#include "zv.h"

namespace {

std::mutex g_lock;
std::vector<std::string> g_outputs;

void RememberOutput(const std::string& text) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_outputs.push_back(text);
}

struct Box {
    std::u16string text, caption;
    UINT type;
    bool wide;
};
std::vector<Box> g_boxes;

void RememberBox(const std::u16string& text, const std::u16string& caption, UINT type, bool wide) {
    g_boxes.push_back({text, caption, type, wide});
}

// Watches the debug output and the message boxes for one test.
class Watch {
  public:
    Watch() {
        g_outputs.clear();
        g_boxes.clear();
        zvp::WatchDebugOutput(RememberOutput);
        zvp::WatchMessageBoxes(RememberBox);
    }
    ~Watch() {
        zvp::WatchDebugOutput(nullptr);
        zvp::WatchMessageBoxes(nullptr);
    }
};

std::string ThreadTag() {
    char tag[32];
    snprintf(tag, sizeof(tag), "[0x%x]", unsigned(GetCurrentThreadId()));
    return tag;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::u16string Widened(const char* narrow) {
    std::u16string out(strlen(narrow) + 1, u'\0');
    ZVFromAnsi(&out[0], narrow);
    out.pop_back();
    return out;
}

void NoTerminal() {
    int null = open("/dev/null", O_RDONLY);
    dup2(null, STDIN_FILENO);
    close(null);
}

void ReturningAbortHandler(int) {
    static const char note[] = "handler ran\n";
    if (write(STDERR_FILENO, note, sizeof(note) - 1) < 0) {
    }
}

const std::u16string kCaption = u"Zevrin Debug Library";
constexpr UINT kStyle = 0x00012012;

}  // namespace

TEST(Trace, SendsTheThreadTagThenTheTextAndNothingElse) {
    Watch watch;
    ZVTraceA("value %d of %s", 7, "seven");
    ZVTraceW(u"wide %d %s %hs", 8, u"w\u20AC", "n\xE9");
    ZVTraceA("no line break");
    const std::string tag = ThreadTag();
    ASSERT_EQ(g_outputs.size(), 6u);
    EXPECT_EQ(g_outputs[0], tag);
    EXPECT_EQ(g_outputs[1], "value 7 of seven");
    EXPECT_EQ(g_outputs[2], tag);
    EXPECT_EQ(g_outputs[3], "wide 8 w\xE2\x82\xAC n\xC3\xA9");
    EXPECT_EQ(g_outputs[4], tag);
    EXPECT_EQ(g_outputs[5], "no line break");
    EXPECT_EQ(tag.substr(0, 3), "[0x");
}

TEST(Trace, ReachesTheDebugOutputFile) {
    zvtest::TempDir dir;
    const std::string log = dir.file("trace.log");
    setenv("ZV_DEBUG_OUTPUT", log.c_str(), 1);
    zvp::ReopenDebugOutput();
    ZVTraceA("first\n");
    ZVTraceW(u"second\n");
    unsetenv("ZV_DEBUG_OUTPUT");
    zvp::ReopenDebugOutput();
    const std::string tag = ThreadTag();
    EXPECT_EQ(ReadFile(log), tag + "first\n" + tag + "second\n");
}

TEST(Trace, TextBeyondTheBufferIsCutAt511Characters) {
    Watch watch;
    const std::string exact(511, 'a');
    const std::string over(512, 'b');
    const std::string far(600, 'c');
    ZVTraceA("%s", exact.c_str());
    ZVTraceA("%s", over.c_str());
    ZVTraceA("%s", far.c_str());
    ZVTraceA("%s%d", std::string(509, 'd').c_str(), 123);
    ZVTraceW(u"%hs", exact.c_str());
    ZVTraceW(u"%hs", over.c_str());
    ZVTraceW(zvtest::W(far.c_str()).c_str());
    ZVTraceW(u"%hs%d", std::string(509, 'd').c_str(), 123);
    ASSERT_EQ(g_outputs.size(), 16u);
    for (int width = 0; width < 2; ++width) {
        EXPECT_EQ(g_outputs[8 * width + 1], exact);
        EXPECT_EQ(g_outputs[8 * width + 3], std::string(511, 'b'));
        EXPECT_EQ(g_outputs[8 * width + 5], std::string(511, 'c'));
        EXPECT_EQ(g_outputs[8 * width + 7], std::string(509, 'd') + "12");
    }
}

TEST(Trace, ConcurrentTracesKeepEachTagNextToItsText) {
    alarm(120);  // a hang fails the test instead of blocking the run
    zvtest::TempDir dir;
    const std::string log = dir.file("threads.log");
    setenv("ZV_DEBUG_OUTPUT", log.c_str(), 1);
    zvp::ReopenDebugOutput();
    constexpr int kThreads = 16, kTraces = 300;
    std::vector<unsigned> ids(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&ids, t] {
            ids[t] = unsigned(GetCurrentThreadId());
            for (int i = 0; i < kTraces; ++i) {
                if (i % 2)
                    ZVTraceA("T%d N%d\n", t, i);
                else
                    ZVTraceW(u"T%d N%d\n", t, i);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    unsetenv("ZV_DEBUG_OUTPUT");
    zvp::ReopenDebugOutput();

    // Every record is "[0x<id>]T<t> N<i>\n" with the id of thread t, and each
    // thread's records come in order.
    std::istringstream records(ReadFile(log));
    std::vector<int> next(kThreads, 0);
    int count = 0;
    for (std::string line; std::getline(records, line); ++count) {
        unsigned id = 0;
        int t = -1, i = -1, used = 0;
        ASSERT_EQ(sscanf(line.c_str(), "[0x%x]T%d N%d%n", &id, &t, &i, &used), 3) << line;
        ASSERT_EQ(size_t(used), line.size()) << line;
        ASSERT_TRUE(t >= 0 && t < kThreads) << line;
        EXPECT_EQ(id, ids[t]) << line;
        EXPECT_EQ(i, next[t]++) << line;
    }
    EXPECT_EQ(count, kThreads * kTraces);
    alarm(0);
}

TEST(Assert, ComposesTheTraceAndTheMessageInBothWidths) {
    setenv("ZV_ASSERT_ANSWER", "ignore", 1);
    Watch watch;
    ZVAssertA("x > 0", "app/main", 42);
    ZVAssertW(u"x > 0", "app/main", 42);
    const std::string tag = ThreadTag();
    ASSERT_EQ(g_outputs.size(), 4u);
    EXPECT_EQ(g_outputs[0], tag);
    EXPECT_EQ(g_outputs[1], "\nZV_ASSERT(x > 0)\n app/main:42\n");
    EXPECT_EQ(g_outputs[2], tag);
    EXPECT_EQ(g_outputs[3], "\nZV_ASSERT(x > 0)\n app/main:42\n");

    const std::u16string message =
        u"Zevrin Debug Assertion Failed!\n\nFile: app/main\nLine: 42\n\nExpression: x > 0\n\n"
        u"Press retry to debug the application.";
    ASSERT_EQ(g_boxes.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(g_boxes[i].text, message);
        EXPECT_EQ(g_boxes[i].caption, kCaption);
        EXPECT_EQ(g_boxes[i].type, kStyle);
        EXPECT_EQ(g_boxes[i].wide, i == 1);
    }
}

TEST(Assert, LineNumbersAndNarrowFileNamesInTheWideMessage) {
    setenv("ZV_ASSERT_ANSWER", "ignore", 1);
    Watch watch;
    // The most negative line needs all twelve characters in either width.
    ZVAssertA("e", "f", INT32_MIN);
    ZVAssertW(u"e", "f", INT32_MIN);
    ASSERT_EQ(g_boxes.size(), 2u);
    for (const Box& box : g_boxes)
        EXPECT_NE(box.text.find(u"\nLine: -2147483648\n"), std::u16string::npos);
    EXPECT_EQ(g_outputs[1], "\nZV_ASSERT(e)\n f:-2147483648\n");
    EXPECT_EQ(g_outputs[3], "\nZV_ASSERT(e)\n f:-2147483648\n");

    // The narrow file name is widened by the library's own rule.
    g_boxes.clear();
    ZVAssertW(u"e", "dir/caf\xE9.c", 1);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_NE(g_boxes[0].text.find(u"File: " + Widened("dir/caf\xE9.c") + u"\n"), std::u16string::npos);
}

TEST(Assert, OverlongTextsAreCutInsideTheirBuffers) {
    setenv("ZV_ASSERT_ANSWER", "ignore", 1);
    Watch watch;
    const std::string prefix = "Zevrin Debug Assertion Failed!\n\nFile: f\nLine: 1\n\nExpression: ";
    const std::string expression(600, 'x');
    ZVAssertA(expression.c_str(), "f", 1);
    ZVAssertW(zvtest::W(expression.c_str()).c_str(), "f", 1);
    ASSERT_EQ(g_boxes.size(), 2u);
    for (const Box& box : g_boxes) {
        EXPECT_EQ(box.text.size(), 511u);
        EXPECT_EQ(box.text, zvtest::W((prefix + std::string(511 - prefix.size(), 'x')).c_str()));
    }
    // The trace of the assertion is cut like any trace.
    EXPECT_EQ(g_outputs[1].size(), 511u);

    // The wide assertion's file name buffer holds 255 characters.
    g_boxes.clear();
    for (size_t length : {size_t(255), size_t(256), size_t(300)}) {
        ZVAssertW(u"e", std::string(length, 'f').c_str(), 1);
    }
    ASSERT_EQ(g_boxes.size(), 3u);
    const std::u16string kept = u"File: " + std::u16string(255, u'f') + u"\nLine: 1\n";
    for (const Box& box : g_boxes) EXPECT_NE(box.text.find(kept), std::u16string::npos);
    // The narrow assertion has no such buffer: its name goes in whole.
    g_boxes.clear();
    ZVAssertA("e", std::string(300, 'f').c_str(), 1);
    EXPECT_NE(g_boxes[0].text.find(u"File: " + std::u16string(300, u'f') + u"\n"), std::u16string::npos);
}

TEST(Assert, IgnoreAndRetryReturnToTheCaller) {
    if (zvp::DebuggerAttached()) GTEST_SKIP() << "the test itself runs under a debugger";
    for (const char* answer : {"ignore", "retry"}) {
        setenv("ZV_ASSERT_ANSWER", answer, 1);
        Watch watch;
        ZVAssertA("a", "f", 1);
        ZVAssertW(u"a", "f", 1);
        EXPECT_EQ(g_boxes.size(), 2u) << answer;
        EXPECT_EQ(g_outputs.size(), 4u) << answer;
    }
}

TEST(Assert, RetryBreaksIntoAnAttachedDebuggerAndGoesOn) {
    if (zvp::DebuggerAttached()) GTEST_SKIP() << "the test itself runs under a debugger";
    for (int wide = 0; wide < 2; ++wide) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            setenv("ZV_ASSERT_ANSWER", "retry", 1);
            if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(90);
            if (wide)
                ZVAssertW(u"a", "f", 1);
            else
                ZVAssertA("a", "f", 1);
            _exit(7);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 90) GTEST_SKIP() << "ptrace is not permitted here";
        ASSERT_TRUE(WIFSTOPPED(status)) << status;
        EXPECT_EQ(WSTOPSIG(status), SIGTRAP);
        ASSERT_EQ(ptrace(PTRACE_CONT, child, nullptr, nullptr), 0);
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 7);
    }
}

TEST(AssertDeathTest, AbortRaisesSigabrtThenExitsWithCode3) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("ZV_ASSERT_ANSWER", "abort", 1);
            ZVAssertA("a", "f", 1);
        },
        testing::KilledBySignal(SIGABRT), "");
    EXPECT_EXIT(
        {
            setenv("ZV_ASSERT_ANSWER", "abort", 1);
            ZVAssertW(u"a", "f", 1);
        },
        testing::KilledBySignal(SIGABRT), "");
    // A handler that returns: the process ends with code 3.
    EXPECT_EXIT(
        {
            setenv("ZV_ASSERT_ANSWER", "abort", 1);
            signal(SIGABRT, ReturningAbortHandler);
            ZVAssertA("a", "f", 1);
        },
        testing::ExitedWithCode(3), "handler ran");
    EXPECT_EXIT(
        {
            setenv("ZV_ASSERT_ANSWER", "abort", 1);
            signal(SIGABRT, ReturningAbortHandler);
            ZVAssertW(u"a", "f", 1);
        },
        testing::ExitedWithCode(3), "handler ran");
}

TEST(AssertDeathTest, NoAnswerAndNoTerminalAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // abort() ends the process even past a handler that returns, unlike
    // the Abort answer, which then exits with code 3.
    EXPECT_EXIT(
        {
            unsetenv("ZV_ASSERT_ANSWER");
            NoTerminal();
            signal(SIGABRT, ReturningAbortHandler);
            ZVAssertA("a", "f", 1);
        },
        testing::KilledBySignal(SIGABRT), "handler ran");
    EXPECT_EXIT(
        {
            unsetenv("ZV_ASSERT_ANSWER");
            NoTerminal();
            ZVAssertW(u"a", "f", 1);
        },
        testing::KilledBySignal(SIGABRT), "");
    // An answer the box does not know cannot be given either.
    EXPECT_EXIT(
        {
            setenv("ZV_ASSERT_ANSWER", "maybe", 1);
            ZVAssertA("a", "f", 1);
        },
        testing::KilledBySignal(SIGABRT), "");
}
