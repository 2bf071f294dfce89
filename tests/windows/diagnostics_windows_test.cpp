// Trace lines and the assertion box on Windows, watched from outside the
// process as a debugger and a user see them.
#include <gtest/gtest.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "child.h"
#include "support.h"
#include "windows_support.h"
#include "zv.h"

namespace {

using zvtest::W;

const wchar_t kCaption[] = L"Zevrin Debug Library";

ZVTEST_CHILD_ROLE(trace) {
    (void)argument, (void)reportFd;
    const std::string exact(511, 'a'), over(512, 'b');
    ZVTraceA("value %d of %s", 7, "seven");
    ZVTraceW(u"wide %d %s %hs", 8, u"w\u20AC", "n\xE9");
    ZVTraceA("%s", exact.c_str());
    ZVTraceA("%s", over.c_str());
    ZVTraceW(u"%hs", exact.c_str());
    ZVTraceW(W(over.c_str()).c_str());
    return 0;
}

// Asserts "x > 0" at app/main:42 in the width the argument names, then
// exits with 7 if the assertion returned.
ZVTEST_CHILD_ROLE(assert) {
    (void)reportFd;
    argument == "W" ? ZVAssertW(u"x > 0", "app/main", 42) : ZVAssertA("x > 0", "app/main", 42);
    return 7;
}

std::string Tag(DWORD thread) {
    char tag[32];
    snprintf(tag, sizeof tag, "[0x%x]", unsigned(thread));
    return tag;
}

TEST(WindowsTrace, ADebuggerSeesTheThreadTagThenTheTextCutAt511Characters) {
    const zvtest::DebugRun run = zvtest::RunDebugged("trace", "", 60000);
    ASSERT_TRUE(run.started && !run.timedOut);
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.outputs.size(), 12u);
    const std::string tag = Tag(run.outputThreads.at(0)), exact(511, 'a'), over(512, 'b');
    EXPECT_EQ(run.outputs, (std::vector<std::string>{tag, "value 7 of seven", tag, "wide 8 w\xE2\x82\xAC n\xC3\xA9", tag,
                                                     exact, tag, over.substr(1), tag, exact, tag, over.substr(1)}));
}

// Each answer, pressed on the box by a user: Ignore goes on, Retry breaks
// into the debugger and then goes on, Abort ends the process with code 3.
TEST(WindowsAssert, TheBoxShowsTheMessageAndActsOnTheButtonPressed) {
    const std::string message = "Zevrin Debug Assertion Failed!\n\nFile: app/main\nLine: 42\n\n"
                                "Expression: x > 0\n\nPress retry to debug the application.";
    const struct {
        int button;
        DWORD exitCode;
        int breakpoints;
    } answers[] = {{IDIGNORE, 7, 0}, {IDRETRY, 7, 1}, {IDABORT, 3, 0}};
    for (const auto& answer : answers) {
        for (const char* width : {"A", "W"}) {
            SCOPED_TRACE(std::string(width) + " answer " + std::to_string(answer.button));
            zvtest::BoxAnswerer user(kCaption, answer.button, 1, 60000);
            const zvtest::DebugRun run = zvtest::RunDebugged("assert", width, 60000);
            const std::vector<zvtest::AnsweredBox> boxes = user.Join();
            ASSERT_TRUE(run.started && !run.timedOut);
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].caption, "Zevrin Debug Library");
            EXPECT_EQ(boxes[0].text, message);
            EXPECT_EQ(run.exitCode, answer.exitCode);
            EXPECT_EQ(run.breakpoints, answer.breakpoints);
            ASSERT_EQ(run.outputs.size(), 2u);
            EXPECT_EQ(run.outputs[1], "\nZV_ASSERT(x > 0)\n app/main:42\n");
        }
    }
}

}  // namespace
