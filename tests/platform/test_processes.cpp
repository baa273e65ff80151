#include "platform/linux/Processes.h"
#include "platform/linux/TypingRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace tolvane::platform::linux_desktop;

struct StatCase {
    const char* name;
    const char* line;
    pid_t parent;
    unsigned long long startTime;
    unsigned long long cpuTime = 0;
};

void PrintTo(const StatCase& c, std::ostream* os) {
    *os << c.name;
}

class StatLines : public ::testing::TestWithParam<StatCase> {};

TEST_P(StatLines, ParentStartTimeAndCpuTimeAreRead) {
    const auto& c = GetParam();
    const ProcessStat stat = parseStat(c.line);
    EXPECT_EQ(stat.parent, c.parent);
    EXPECT_EQ(stat.startTime, c.startTime);
    EXPECT_EQ(stat.cpuTime, c.cpuTime);
}

// Fields after the name: state, ppid, pgrp, session, tty, tpgid, flags, minflt, cminflt,
// majflt, cmajflt, utime, stime, cutime, cstime, priority, nice, threads, itrealvalue,
// starttime.
INSTANTIATE_TEST_SUITE_P(
    Lines, StatLines,
    ::testing::Values(
        StatCase{"plain",
                 "4242 (mousepad) S 17 4242 4242 0 -1 4194560 1 0 0 0 3 1 0 0 20 0 3 0 "
                 "987654 1000 200",
                 17, 987654, 4},
        // A name may hold blanks and parentheses: only the last one ends it.
        StatCase{"name_with_parentheses",
                 "77 (a) S 1 (b) R 99 77 77 0 -1 0 0 0 0 0 0 0 0 0 20 "
                 "0 1 0 5555 1 1",
                 99, 5555},
        StatCase{"name_with_blanks",
                 "12 (Web Content) S 3 12 12 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 "
                 "0 42",
                 3, 42},
        StatCase{"cut_before_start_time", "5 (x) S 2 5 5", 2, 0},
        StatCase{"no_name", "5 x S 2 5 5", 0, 0}, StatCase{"empty", "", 0, 0},
        StatCase{"garbage_after_name", "5 (x) ? ? ?", 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Processes, AChildIsSeenWithItsParentStartTimeAndExecutable) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        pause();
        _exit(0);
    }
    // However the test ends, the child ends with it.
    struct Reaper {
        pid_t pid;
        bool reaped = false;
        void reap() {
            if (!reaped) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
                reaped = true;
            }
        }
        ~Reaper() { reap(); }
    } reaper{child};
    const auto running = runningProcesses();
    EXPECT_EQ(statOf(child).parent, getpid());
    ASSERT_TRUE(running.count(child));
    ASSERT_TRUE(running.count(getpid()));
    EXPECT_EQ(running.at(child), statOf(child).startTime);
    EXPECT_GT(running.at(child), 0u);
    EXPECT_TRUE(descendsFrom(child, getpid()));
    EXPECT_TRUE(descendsFrom(child, child));
    EXPECT_FALSE(descendsFrom(getpid(), child));
    EXPECT_EQ(executableOf(child), executableOf(getpid()));
    EXPECT_FALSE(executableOf(getpid()).empty());
    EXPECT_EQ(loadsLibrary(child, "libc."), true);
    EXPECT_EQ(loadsLibrary(child, "libQt5Gui"), false);
    reaper.reap();
    // Gone: nothing is read, nothing descends from it.
    EXPECT_EQ(statOf(child).parent, 0);
    EXPECT_EQ(executableOf(child), "");
    EXPECT_FALSE(descendsFrom(child, getpid()));
    EXPECT_EQ(loadsLibrary(child, "libc."), std::nullopt);
    // A file opened but no longer readable (a folder here; a process's file once the process
    // has ended since the opening) reads as nothing: never an exception.
    EXPECT_EQ(readProcFile("/proc"), "");
}

} // namespace

// When a window counts as ready, look by look (one every 50 ms): the first look at which it is.
TEST(Processes, AWindowIsReadyOnceItAndItsProgramAreQuiet) {
    namespace typing = tolvane::platform::typing;
    struct Case {
        const char* name;
        // What the look of this index sees: shown, stirred, processor ticks so far.
        std::function<typing::Sight(int)> sight;
        int readyAt;
    };
    const auto sight = [](bool shown, bool stirred, unsigned long long ticks) {
        typing::Sight s;
        s.shown = shown;
        s.stirred = stirred;
        s.cpuTicks = ticks;
        return s;
    };
    const Case cases[] = {
        {"there and idle at the first look: a glance", [&](int) { return sight(true, false, 7); },
         1},
        {"coming up at the third look", [&](int i) { return sight(i >= 2, i == 2, 0); }, 18},
        {"there, its program using a little now and then",
         [&](int i) { return sight(true, false, i >= 1 ? 2 : 0); }, 16},
        {"there, busy until the tenth look",
         [&](int i) { return sight(true, false, 3ull * std::min(i, 10)); }, 26},
        {"there, retitled at the second look", [&](int i) { return sight(true, i == 1, 0); }, 17},
        {"gone for the second look", [&](int i) { return sight(i != 1, false, 0); }, 17},
    };
    for (const Case& c : cases) {
        typing::Readiness readiness(typing::kSettled);
        const auto start = std::chrono::steady_clock::time_point{};
        int readyAt = -1;
        for (int i = 0; i < 100 && readyAt < 0; ++i) {
            if (readiness.ready(c.sight(i), start + i * typing::kLookEvery)) {
                readyAt = i;
            }
        }
        EXPECT_EQ(readyAt, c.readyAt) << c.name;
    }
}
