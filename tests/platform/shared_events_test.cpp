// Named events between processes of one emulated machine: every rule of the
// in-process events across processes, processes killed at any moment, names
// reclaimed, and shared-memory files that do not pile up.  Each test runs
// on a registry file of its own, which makes it a machine of its own.
#include <signal.h>
#include <stdlib.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "child.h"
#include "platform/posix/machine.h"
#include "platform/posix/waitable.h"
#include "platform_util.h"
#include "support.h"
#include "watchdog.h"

namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

std::u16string Wide(const std::string& utf8) { return zvp::Utf8ToUtf16(utf8); }

// Runs a script of commands separated by ';' and reports one line for each:
//   ca:NAME:M:I                CreateEventA (NAME in Latin-1) -> "c OK ERROR"
//   oa:NAME                    OpenEventA -> "o OK ERROR"
//   w:MS                       wait, -1 for INFINITE -> "w RESULT ELAPSED_MS"
//   s r p c                    set, reset, pulse, close -> "s OK" ...
//   lock / lockmachine         take the event's or the machine's lock -> "locked"
//   hammer                     set, pulse, reset and wait at random, forever
//   seg                        the machine's segment name -> "seg NAME"
//   z                          report "z", then hold everything until killed
// Commands act on the last handle opened or created.
ZVTEST_CHILD_ROLE(EventScript) {
    HANDLE event = nullptr;
    std::stringstream script(argument);
    std::string command;
    while (std::getline(script, command, ';')) {
        std::string op = command.substr(0, command.find(':'));
        std::string rest = command.size() > op.size() ? command.substr(op.size() + 1) : "";
        std::string name = rest.substr(0, rest.find(':'));
        std::string line = op;
        if (op == "ca") {
            const BOOL manual = rest[name.size() + 1] == '1', initial = rest[name.size() + 3] == '1';
            event = CreateEventA(nullptr, manual, initial, name.c_str());
            line = "c " + std::to_string(event != nullptr) + " " + std::to_string(GetLastError());
        } else if (op == "oa") {
            SetLastError(0);
            HANDLE opened = OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str());
            if (opened) event = opened;
            line = "o " + std::to_string(opened != nullptr) + " " + std::to_string(GetLastError());
        } else if (op == "w") {
            const auto start = Clock::now();
            const DWORD result = WaitForSingleObject(event, rest == "-1" ? INFINITE : DWORD(atoi(rest.c_str())));
            line = "w " + std::to_string(result) + " " + std::to_string(MsSince(start));
        } else if (op == "s" || op == "r" || op == "p" || op == "c") {
            const BOOL ok = op == "s" ? SetEvent(event) : op == "r" ? ResetEvent(event)
                          : op == "p" ? PulseEvent(event) : CloseHandle(event);
            line += " " + std::to_string(ok);
        } else if (op == "lock" || op == "lockmachine") {
            if (!(op == "lock" ? zvp::LockSharedEventForTesting(event) : zvp::LockMachineForTesting())) return 3;
            line = "locked";
        } else if (op == "hammer") {
            zvtest::Report(reportFd, "hammer");
            for (std::minstd_rand random{unsigned(getpid())};;) {
                switch (random() % 4) {
                    case 0: SetEvent(event); break;
                    case 1: PulseEvent(event); break;
                    case 2: ResetEvent(event); break;
                    default: WaitForSingleObject(event, 1); break;
                }
            }
        } else if (op == "seg") {
            line = "seg " + zvp::machine::SegmentName();
        } else if (op != "z") {
            return 2;
        }
        zvtest::Report(reportFd, line);
        if (op == "z" || op == "lock" || op == "lockmachine") pause();
    }
    return 0;
}

struct SharedEvents : ::testing::Test {
    void SetUp() override { setenv("ZV_REGISTRY", registry_.c_str(), 1); }

    // A child running a script on this test's machine.
    std::unique_ptr<zvtest::Child> Run(const std::string& script, const std::string& registry = "") {
        return std::make_unique<zvtest::Child>("EventScript", script,
                                               std::vector<std::string>{"ZV_REGISTRY=" + (registry.empty() ? registry_ : registry)});
    }

    static std::string Next(zvtest::Child& child, int timeoutMs = 10000) {
        std::string line;
        return child.ReadLine(&line, timeoutMs) ? line : "(none)";
    }

    // How many of the children report a line within `ms`.
    static int Reporting(std::vector<std::unique_ptr<zvtest::Child>>& children, std::vector<bool>& done, int ms) {
        const auto start = Clock::now();
        int count = 0;
        while (MsSince(start) < ms) {
            for (size_t i = 0; i < children.size(); ++i) {
                std::string line;
                if (!done[i] && children[i]->ReadLine(&line, 5)) {
                    EXPECT_EQ(line.substr(0, 4), "w 0 ");
                    done[i] = true;
                    ++count;
                }
            }
        }
        return count;
    }

    zvtest::Watchdog watchdog_{120};
    zvtest::TempDir dir_;
    std::string registry_ = dir_.file("registry.db");
};

// Creation, flags, spellings and case of a name; automatic reset releases
// exactly one waiter of another process per set or pulse; a manual pulse
// releases the waiters present and leaves the event reset; timed waits; a
// name lives while any process holds it; a handle closed while a thread of
// this process waits keeps that wait.
TEST_F(SharedEvents, RulesHoldAcrossProcesses) {
    const std::string name = "zv-ev-caf\xc3\xa9", latin1 = "zv-ev-caf\xe9";
    // The wide spelling where the family has it (9x lacks the W calls).
    SetLastError(0);
    HANDLE automatic = zvtest::Family9x() ? CreateEventA(nullptr, FALSE, FALSE, latin1.c_str())
                                          : CreateEventW(nullptr, FALSE, FALSE, Wide(name).c_str());
    ASSERT_NE(automatic, nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    {
        // The narrow spelling meets the wide one; the second creation's flags
        // are ignored; names are case-sensitive.
        auto child = Run("ca:" + latin1 + ":1:1;w:0;oa:ZV-EV-CAF\xc9;w:20000");
        EXPECT_EQ(Next(*child), "c 1 183");
        EXPECT_EQ(Next(*child).substr(0, 6), "w 258 ");
        EXPECT_EQ(Next(*child), "o 0 2");
        ASSERT_TRUE(zvtest::WaitUntil([&] { return zvp::WaitingThreads(automatic) == 1; }));
        EXPECT_TRUE(SetEvent(automatic));
        EXPECT_EQ(Next(*child).substr(0, 4), "w 0 ");
        EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);
        EXPECT_EQ(child->Wait(10000), 0);
    }
    {
        std::vector<std::unique_ptr<zvtest::Child>> waiters;
        for (int i = 0; i < 3; ++i) waiters.push_back(Run("oa:" + latin1 + ";w:30000"));
        for (auto& child : waiters) EXPECT_EQ(Next(*child), "o 1 0");
        ASSERT_TRUE(zvtest::WaitUntil([&] { return zvp::WaitingThreads(automatic) == 3; }));
        std::vector<bool> done(3, false);
        for (int round = 0; round < 3; ++round) {
            EXPECT_TRUE(round == 1 ? PulseEvent(automatic) : SetEvent(automatic));
            EXPECT_EQ(Reporting(waiters, done, 300), 1) << "round " << round;
        }
        EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);
    }
    HANDLE manual = CreateEventA(nullptr, TRUE, FALSE, "zv-ev-manual");
    {
        std::vector<std::unique_ptr<zvtest::Child>> waiters;
        for (int i = 0; i < 2; ++i) waiters.push_back(Run("oa:zv-ev-manual;w:30000"));
        for (auto& child : waiters) EXPECT_EQ(Next(*child), "o 1 0");
        ASSERT_TRUE(zvtest::WaitUntil([&] { return zvp::WaitingThreads(manual) == 2; }));
        std::vector<bool> done(2, false);
        EXPECT_TRUE(PulseEvent(manual));
        EXPECT_EQ(Reporting(waiters, done, 2000), 2);
        auto late = Run("oa:zv-ev-manual;w:150;s;w:0;w:0");
        EXPECT_EQ(Next(*late), "o 1 0");
        const std::string timed = Next(*late);
        EXPECT_EQ(timed.substr(0, 6), "w 258 ");
        EXPECT_GE(atoi(timed.c_str() + 6), 149);
        EXPECT_EQ(Next(*late), "s 1");
        EXPECT_EQ(Next(*late).substr(0, 4), "w 0 ");
        EXPECT_EQ(Next(*late).substr(0, 4), "w 0 ");
    }
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);  // set by the late child
    EXPECT_TRUE(CloseHandle(manual));
    {
        // Held by a child alone, the name lives; gone with the child, it goes.
        auto holder = Run("oa:zv-ev-manual;z");
        EXPECT_EQ(Next(*holder), "o 0 2");
        auto second = Run("ca:zv-ev-life:1:0;z");
        EXPECT_EQ(Next(*second), "c 1 0");
        EXPECT_EQ(Next(*second), "z");
        HANDLE life = OpenEventA(EVENT_ALL_ACCESS, FALSE, "zv-ev-life");
        EXPECT_NE(life, nullptr);
        EXPECT_TRUE(CloseHandle(life));
        second->Kill(SIGKILL);
        second->Wait(10000);
        EXPECT_FAILS(OpenEventA(EVENT_ALL_ACCESS, FALSE, "zv-ev-life"), ERROR_FILE_NOT_FOUND);
    }
    {
        // Closed while a thread waits: the wait goes on and another process's
        // set ends it.
        std::thread waiter([&] { EXPECT_EQ(WaitForSingleObject(automatic, 20000), WAIT_OBJECT_0); });
        ASSERT_TRUE(zvtest::WaitUntil([&] { return zvp::WaitingThreads(automatic) == 1; }));
        EXPECT_TRUE(CloseHandle(automatic));
        auto setter = Run("oa:" + latin1 + ";s");
        EXPECT_EQ(Next(*setter), "o 1 0");
        EXPECT_EQ(Next(*setter), "s 1");
        waiter.join();
    }
}

// Processes killed while they wait, hold the event's or the machine's lock,
// or set, pulse, reset and wait at random: the event stays usable, no wake
// goes to a dead waiter, and names and files of the dead are reclaimed.
TEST_F(SharedEvents, KilledProcessesDoNoHarm) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, "zv-ev-kill");
    ASSERT_NE(event, nullptr);
    for (const char* script : {"oa:zv-ev-kill;w:-1", "oa:zv-ev-kill;lock", "lockmachine"}) {
        auto child = Run(script);
        if (std::string(script) == "lockmachine") {
            EXPECT_EQ(Next(*child), "locked");
        } else {
            EXPECT_EQ(Next(*child), "o 1 0");
            if (strstr(script, "lock")) EXPECT_EQ(Next(*child), "locked");
            else ASSERT_TRUE(zvtest::WaitUntil([&] { return zvp::WaitingThreads(event) == 1; }));
        }
        child->Kill(SIGKILL);
        child->Wait(10000);
        // The dead waiter is passed over: the set stays for the next wait.
        EXPECT_TRUE(SetEvent(event)) << script;
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0) << script;
        EXPECT_EQ(zvp::WaitingThreads(event), 0u) << script;
        HANDLE fresh = CreateEventA(nullptr, TRUE, FALSE, "zv-ev-fresh");
        EXPECT_NE(fresh, nullptr) << script;
        EXPECT_TRUE(CloseHandle(fresh));
    }
    {
        // The only holder of a name dies: the name is made anew, not reopened.
        auto orphan = Run("ca:zv-ev-orphan:1:1;z");
        EXPECT_EQ(Next(*orphan), "c 1 0");
        EXPECT_EQ(Next(*orphan), "z");
        orphan->Kill(SIGKILL);
        orphan->Wait(10000);
        SetLastError(0);
        HANDLE again = CreateEventA(nullptr, FALSE, FALSE, "zv-ev-orphan");
        EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
        EXPECT_EQ(WaitForSingleObject(again, 0), WAIT_TIMEOUT);
        EXPECT_TRUE(CloseHandle(again));
    }
    // Kills at random moments of a busy child, while a thread here waits
    // and sets: after each, a set and a wait here still meet at once.
    std::mt19937 random(7);
    const auto start = Clock::now();
    for (int round = 0; round < (zvtest::kThreadSanitizer ? 15 : 40) && MsSince(start) < 30000; ++round) {
        auto child = Run("oa:zv-ev-kill;hammer");
        EXPECT_EQ(Next(*child), "o 1 0");
        EXPECT_EQ(Next(*child), "hammer");
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 5000));
        child->Kill(SIGKILL);
        child->Wait(10000);
        EXPECT_TRUE(ResetEvent(event));
        EXPECT_TRUE(SetEvent(event));
        ASSERT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0) << "round " << round;
    }
    std::thread waiter([&] { EXPECT_EQ(WaitForSingleObject(event, 20000), WAIT_OBJECT_0); });
    ASSERT_TRUE(zvtest::WaitUntil([&] { return zvp::WaitingThreads(event) == 1; }));
    auto setter = Run("oa:zv-ev-kill;s");
    EXPECT_EQ(Next(*setter), "o 1 0");
    EXPECT_EQ(Next(*setter), "s 1");
    waiter.join();
    EXPECT_TRUE(CloseHandle(event));
}

// The file of a machine whose last process was killed is removed by the next
// process that attaches to any machine of the user; one whose last process
// ends normally is removed at its exit.  Files are the user's, mode 0600.
TEST_F(SharedEvents, SegmentFilesAreCleanedAndPrivate) {
    auto killed = Run("ca:x:0:0;seg;z", dir_.file("other.db"));
    EXPECT_EQ(Next(*killed), "c 1 0");
    const std::string segment = "/dev/shm/" + Next(*killed).substr(4);
    EXPECT_EQ(Next(*killed), "z");
    struct stat info;
    ASSERT_EQ(stat(segment.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(info.st_uid, getuid());
    killed->Kill(SIGKILL);
    killed->Wait(10000);
    EXPECT_EQ(stat(segment.c_str(), &info), 0);  // nobody has cleaned yet
    auto normal = Run("ca:y:0:0;seg", dir_.file("third.db"));
    EXPECT_EQ(Next(*normal), "c 1 0");
    const std::string own = "/dev/shm/" + Next(*normal).substr(4);
    EXPECT_EQ(normal->Wait(10000), 0);
    EXPECT_NE(stat(segment.c_str(), &info), 0);
    EXPECT_NE(stat(own.c_str(), &info), 0);
}

// A file in the segment's place that is not private is refused, not used.
TEST_F(SharedEvents, ASegmentFileOfTheWrongModeIsRefused) {
    const std::string path = "/dev/shm/" + zvp::machine::SegmentName();
    FILE* squatter = fopen(path.c_str(), "w");
    ASSERT_NE(squatter, nullptr);
    fclose(squatter);
    chmod(path.c_str(), 0644);
    EXPECT_FAILS(CreateEventA(nullptr, FALSE, FALSE, "zv-ev-squat"), ERROR_ACCESS_DENIED);
    unlink(path.c_str());
}

}  // namespace

namespace {

// The longest name in its widest UTF-8 form (260 three-byte characters) is
// shared whole; one character more is refused.
TEST_F(SharedEvents, LongestNamesFitTheSharedSlot) {
    if (zvtest::Family9x()) GTEST_SKIP() << "the wide calls are missing on 9x";
    std::u16string longest(260, u'\u20ac');
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, longest.c_str());
    ASSERT_NE(event, nullptr);
    std::string utf8;
    for (int i = 0; i < 260; ++i) utf8 += "\xe2\x82\xac";
    EXPECT_TRUE(zvp::SharedEventExists(utf8));
    EXPECT_FALSE(zvp::SharedEventExists(utf8.substr(3)));
    HANDLE again = OpenEventW(EVENT_ALL_ACCESS, FALSE, longest.c_str());
    EXPECT_NE(again, nullptr);
    EXPECT_TRUE(CloseHandle(again));
    EXPECT_FAILS(CreateEventW(nullptr, TRUE, FALSE, (longest + u'\u20ac').c_str()), ERROR_FILENAME_EXCED_RANGE);
    EXPECT_FAILS(OpenEventW(EVENT_ALL_ACCESS, FALSE, (longest + u'\u20ac').c_str()), ERROR_FILENAME_EXCED_RANGE);
    EXPECT_TRUE(CloseHandle(event));
}

}  // namespace

namespace {

// Processes that start at once on a new machine meet in one segment: one
// creates the name, the others open it.
TEST_F(SharedEvents, FirstProcessesOfAMachineMeet) {
    std::vector<std::unique_ptr<zvtest::Child>> children;
    for (int i = 0; i < 6; ++i) children.push_back(Run("ca:zv-ev-race:0:0;z"));
    int created = 0, opened = 0;
    for (auto& child : children) {
        const std::string line = Next(*child);
        created += line == "c 1 0";
        opened += line == "c 1 183";
    }
    EXPECT_EQ(created, 1);
    EXPECT_EQ(opened, 5);
}

}  // namespace

namespace {

// A process that has used up its file descriptors cannot read /proc: the
// other holder of a name, and this process itself, still count as alive,
// so the name opens and this process's own events keep their slots.
TEST_F(SharedEvents, AProcessWithoutFreeDescriptorsTakesNobodyForDead) {
    auto holder = Run("ca:zv-ev-theirs:1:0;z");
    ASSERT_EQ(Next(*holder), "c 1 0");
    ASSERT_EQ(Next(*holder), "z");
    HANDLE mine = CreateEventA(nullptr, TRUE, TRUE, "zv-ev-mine");
    ASSERT_NE(mine, nullptr);

    rlimit before;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &before), 0);
    rlimit low = before;
    low.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> filler;
    for (int fd; (fd = open("/dev/null", O_RDONLY)) >= 0;) filler.push_back(fd);
    HANDLE theirs = OpenEventA(EVENT_ALL_ACCESS, FALSE, "zv-ev-theirs");
    const DWORD openError = GetLastError();
    HANDLE fresh = CreateEventA(nullptr, TRUE, FALSE, "zv-ev-fresh");
    for (int fd : filler) close(fd);
    setrlimit(RLIMIT_NOFILE, &before);

    EXPECT_NE(theirs, nullptr) << "error " << openError;
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(WaitForSingleObject(mine, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(zvp::SharedEventExists("zv-ev-mine"));
    if (theirs) {
        EXPECT_TRUE(CloseHandle(theirs));
    }
    EXPECT_TRUE(CloseHandle(fresh));
    EXPECT_TRUE(CloseHandle(mine));
}

}  // namespace
