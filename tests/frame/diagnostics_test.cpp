// Trace lines and the assertion dialog.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/posix/services.h"
#include "support.h"
#include "watchdog.h"
#include "zv.h"

namespace {

using zvtest::W;
using Box = std::tuple<std::u16string, std::u16string, UINT, bool>;  // text, caption, style, wide
std::vector<std::string> g_outputs;
std::vector<Box> g_boxes;

// Collects the debug outputs and the message boxes from here on.
void Watch() {
    g_outputs.clear();
    g_boxes.clear();
    zvp::WatchDebugOutput([](const std::string& text) { g_outputs.push_back(text); });
    zvp::WatchMessageBoxes([](const std::u16string& text, const std::u16string& caption, UINT style, bool wide) {
        g_boxes.emplace_back(text, caption, style, wide);
    });
}

std::string Tag() {
    char tag[32];
    snprintf(tag, sizeof tag, "[0x%x]", unsigned(GetCurrentThreadId()));
    return tag;
}

// Asserts "e" at f:1 in one width, the box answered with `answer` (null: no
// answer is set and there is no terminal to ask on), SIGABRT handled by `handler`.
void Assert(bool wide, const char* answer, void (*handler)(int) = SIG_DFL) {
    signal(SIGABRT, handler);
    answer ? setenv("ZV_ASSERT_ANSWER", answer, 1) : unsetenv("ZV_ASSERT_ANSWER");
    if (!answer) dup2(open("/dev/null", O_RDONLY), STDIN_FILENO);
    wide ? ZVAssertW(u"e", "f", 1) : ZVAssertA("e", "f", 1);
}

void ReturningHandler(int) {
    if (write(STDERR_FILENO, "handler ran\n", 12) != 12) abort();
}

}  // namespace

TEST(Trace, SendsTheThreadTagThenTheTextCutAt511Characters) {
    Watch();
    const std::string exact(511, 'a'), over(512, 'b'), tag = Tag();
    ZVTraceA("value %d of %s", 7, "seven");
    ZVTraceW(u"wide %d %s %hs", 8, u"w\u20AC", "n\xE9");
    ZVTraceA("%s", exact.c_str());
    ZVTraceA("%s", over.c_str());
    ZVTraceW(u"%hs", exact.c_str());
    ZVTraceW(W(over.c_str()).c_str());
    EXPECT_EQ(g_outputs, (std::vector<std::string>{tag, "value 7 of seven", tag, "wide 8 w\xE2\x82\xAC n\xC3\xA9", tag,
                                                   exact, tag, over.substr(1), tag, exact, tag, over.substr(1)}));
}

TEST(Trace, ConcurrentTracesKeepEachTagNextToItsText) {
    zvtest::Watchdog watchdog(120, "concurrent traces");
    zvtest::TempDir dir;
    setenv("ZV_DEBUG_OUTPUT", dir.file("log").c_str(), 1);
    zvp::ReopenDebugOutput();
    std::vector<std::thread> threads;
    for (int t = 0; t < 16; ++t)
        threads.emplace_back([] {
            const unsigned id = unsigned(GetCurrentThreadId());
            for (int i = 0; i < 300; ++i) i % 2 ? ZVTraceA("T%x N%d\n", id, i) : ZVTraceW(u"T%x N%d\n", id, i);
        });
    for (auto& thread : threads) thread.join();
    // Each line is "[0x<tag>]T<id> N<i>" with the tag of the thread that
    // wrote it, and each thread's lines come in order.
    std::ifstream log(dir.file("log"));
    std::map<unsigned, int> next;
    for (std::string line; std::getline(log, line);) {
        unsigned tag = 0, id = 1;
        int i = -1, used = 0;
        ASSERT_EQ(sscanf(line.c_str(), "[0x%x]T%x N%d%n", &tag, &id, &i, &used), 3) << line;
        ASSERT_TRUE(size_t(used) == line.size() && tag == id && i == next[id]++) << line;
    }
    EXPECT_EQ(next.size(), 16u);
    for (const auto& [id, count] : next) EXPECT_EQ(count, 300) << id;
}

TEST(Assert, ComposesTheTraceAndTheMessageWithinTheirBuffers) {
    setenv("ZV_ASSERT_ANSWER", "ignore", 1);
    Watch();
    ZVAssertA("x > 0", "app/main", 42);
    ZVAssertW(u"x > 0", "app/main", 42);
    const std::string trace = "\nZV_ASSERT(x > 0)\n app/main:42\n";
    EXPECT_EQ(g_outputs, (std::vector<std::string>{Tag(), trace, Tag(), trace}));
    const std::u16string message = u"Zevrin Debug Assertion Failed!\n\nFile: app/main\nLine: 42\n\n"
                                   u"Expression: x > 0\n\nPress retry to debug the application.",
                         caption = u"Zevrin Debug Library";
    EXPECT_EQ(g_boxes, (std::vector<Box>{{message, caption, 0x12012, false}, {message, caption, 0x12012, true}}));

    // The most negative line needs all twelve characters in either width; a
    // message is cut at 511 characters, and so is its trace; the wide
    // assertion widens its file name as ZVFromAnsi does, into 255
    // characters, where the narrow one takes it whole.
    g_boxes.clear();
    const std::string expression(600, 'x');
    ZVAssertA("e", "f", INT32_MIN);
    ZVAssertW(u"e", "f", INT32_MIN);
    ZVAssertA(expression.c_str(), "f", 1);
    ZVAssertW(W(expression.c_str()).c_str(), "f", 1);
    for (size_t length : {255, 256}) ZVAssertW(u"e", (std::string(length - 1, 'f') + "\xE9").c_str(), 1);
    ZVAssertA("e", std::string(300, 'f').c_str(), 1);
    const std::u16string prefix = u"Zevrin Debug Assertion Failed!\n\nFile: f\nLine: 1\n\nExpression: ",
                         cut = prefix + std::u16string(511 - prefix.size(), u'x'),
                         name = u"File: " + std::u16string(254, u'f');
    const std::u16string texts[] = {u"\nLine: -2147483648\n", u"\nLine: -2147483648\n", cut, cut,
                                    name + u"\uFFE9\nLine", name + u"f\nLine", name + std::u16string(46, u'f') + u"\n"};
    ASSERT_EQ(g_boxes.size(), 7u);
    for (size_t i = 0; i < 7; ++i) EXPECT_NE(std::get<0>(g_boxes[i]).find(texts[i]), std::u16string::npos) << i;
    EXPECT_TRUE(std::get<0>(g_boxes[2]) == cut && std::get<0>(g_boxes[3]) == cut);
    EXPECT_TRUE(g_outputs.at(9).size() == 511 && g_outputs.at(11).size() == 511);
    for (bool wide : {false, true}) Assert(wide, "retry");  // with no debugger to break into, Retry returns
    EXPECT_EQ(g_boxes.size(), 9u);
}

TEST(Assert, RetryBreaksIntoAnAttachedDebuggerAndGoesOn) {
    if (zvp::DebuggerAttached()) GTEST_SKIP() << "the test itself runs under a debugger";
    for (bool wide : {false, true}) {
        const pid_t child = fork();
        if (child == 0) {
            if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(90);
            Assert(wide, "retry");
            _exit(7);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 90) GTEST_SKIP() << "ptrace is not permitted here";
        ASSERT_TRUE(WIFSTOPPED(status) && WSTOPSIG(status) == SIGTRAP) << status;  // the break
        ASSERT_EQ(ptrace(PTRACE_CONT, child, nullptr, nullptr), 0);
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << status;  // and the return
    }
}

TEST(AssertDeathTest, AbortAndABoxThatCannotBeShownEndTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (bool wide : {false, true}) {
        // Abort raises SIGABRT; when a handler returns, the process exits with code 3.
        EXPECT_EXIT(Assert(wide, "abort"), testing::KilledBySignal(SIGABRT), "");
        EXPECT_EXIT(Assert(wide, "abort", ReturningHandler), testing::ExitedWithCode(3), "handler ran");
        // A box that cannot be shown: abort(), which ends the process even past such a
        // handler; its text is on stderr first, and an answer that is none of the three
        // is named.
        EXPECT_EXIT(Assert(wide, nullptr, ReturningHandler), testing::KilledBySignal(SIGABRT),
                    "Zevrin Debug Library.*Expression: e.*cannot be shown.*handler ran");
        EXPECT_EXIT(Assert(wide, "maybe", ReturningHandler), testing::KilledBySignal(SIGABRT),
                    "Expression: e.*ZV_ASSERT_ANSWER=maybe is none of abort, retry and ignore.*handler ran");
    }
}
