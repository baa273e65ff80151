// End-to-end delivery into real programs on a virtual display: mousepad for the editor route,
// an xterm reader for the other-program route.
#include "DesktopHelpers.h"

#include "delivery/Deliver.h"
#include "delivery/Scripts.h"
#include "engine/Generator.h"
#include "platform/KernelRandomSource.h"
#include "platform/linux/ProcessLauncher.h"
#include "platform/x11/X11KeystrokeInjector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>

using namespace tolvane;
using e2e::run;
using e2e::sleepMs;

namespace {

namespace fs = std::filesystem;

std::vector<std::u32string> batchWithNamesAndCodes(int count) {
    engine::GenerationSettings s;
    s.lengthText = U"30";
    s.segmentsText = U"5";
    s.countText = std::u32string(U"") + std::u32string(1, U'0');
    const std::string countText = std::to_string(count);
    s.countText.assign(countText.begin(), countText.end());
    s.classes.fill(true);
    s.associate = true;
    s.irreversible = true;
    s.puk = U"clé-PUK";
    s.userCount = count;
    const std::u32string names[] = {U"ÿvonne", U"Œdipe", U"straße", U"Ωmega", U"zoé{+}"};
    for (int i = 0; i < count; ++i) {
        s.userNames.push_back(names[i % 5] + std::u32string(1, U'a' + i % 26));
    }
    platform::KernelRandomSource random;
    auto batch = engine::generateBatch(s, random);
    EXPECT_FALSE(batch.refusal);
    return batch.lines;
}

// The editor route's default application comes from the freedesktop MIME associations.
void chooseMousepadAsTextEditor() {
    const fs::path config = std::getenv("XDG_CONFIG_HOME");
    fs::create_directories(config);
    std::ofstream(config / "mimeapps.list")
        << "[Default Applications]\ntext/plain=org.xfce.mousepad.desktop\n";
}

struct Delivered {
    platform::LaunchResult target;
    platform::InjectionResult result;
};

class EditorDelivery : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        chooseMousepadAsTextEditor();
        run(std::string("setxkbmap ") + GetParam());
        keymapBefore_ = e2e::keymapDump();
        ASSERT_FALSE(keymapBefore_.empty());
    }
    void TearDown() override {
        for (pid_t pid : started_) {
            kill(pid, SIGKILL);
        }
        sleepMs(100);
        EXPECT_EQ(e2e::keymapDump(), keymapBefore_) << "the keymap was not restored";
        run("setxkbmap us");
    }

    Delivered deliverToEditor(const platform::KeystrokeScript& script) {
        injector_.beforeLaunch();
        Delivered d;
        d.target = launcher_.startTextEditor();
        EXPECT_TRUE(d.target.started) << d.target.error;
        EXPECT_EQ(d.target.program, "mousepad");
        started_.push_back(d.target.pid);
        d.result = injector_.typeInto(d.target, script);
        return d;
    }

    platform::linux_desktop::ProcessLauncher launcher_;
    platform::x11::X11KeystrokeInjector injector_;
    std::vector<pid_t> started_;
    std::string keymapBefore_;
};

TEST_P(EditorDelivery, HundredLinesWithNamesAndCodesArriveExactly) {
    const auto lines = batchWithNamesAndCodes(100);
    const auto script =
        delivery::notepadScript(lines, delivery::columnTitleLine(true), U"100", 100);
    const Delivered d = deliverToEditor(script);
    ASSERT_TRUE(d.result.complete) << d.result.error;
    const std::string expected = delivery::toUtf8(delivery::typedText(script));
    EXPECT_EQ(e2e::editorText(expected), expected);
}

std::string layoutName(const ::testing::TestParamInfo<const char*>& info) {
    std::string name = info.param;
    std::replace_if(
        name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Layouts, EditorDelivery,
                         ::testing::Values("us", "fr", "de", "de -variant neo"), layoutName);

class EditorFaults : public EditorDelivery {};

TEST_P(EditorFaults, CapsLockOnStillExactAndStillOn) {
    run("xdotool key Caps_Lock");
    sleepMs(200);
    ASSERT_TRUE(e2e::capsLockOn());
    const auto script =
        delivery::notepadScript({U"AbCdé\tÄäÖö", U"xyz{+}^%~"}, std::nullopt, U"2", 2);
    const Delivered d = deliverToEditor(script);
    ASSERT_TRUE(d.result.complete) << d.result.error;
    sleepMs(200);
    EXPECT_TRUE(e2e::capsLockOn());
    run("xdotool key Caps_Lock");
    const std::string expected = delivery::toUtf8(delivery::typedText(script));
    EXPECT_EQ(e2e::editorText(expected), expected);
}

TEST_P(EditorFaults, HeldShiftIsWaitedFor) {
    run("xdotool keydown Shift_L");
    auto release = std::async(std::launch::async, [] {
        sleepMs(700);
        run("xdotool keyup Shift_L");
    });
    const auto script = delivery::notepadScript({U"lower case é and 123"}, std::nullopt, U"1", 1);
    const Delivered d = deliverToEditor(script);
    release.wait();
    ASSERT_TRUE(d.result.complete) << d.result.error;
    const std::string expected = delivery::toUtf8(delivery::typedText(script));
    EXPECT_EQ(e2e::editorText(expected), expected);
}

TEST_P(EditorFaults, WindowThatTakesTheFocusReceivesNothing) {
    const fs::path stolen =
        fs::temp_directory_path() / ("tolvane-thief-" + std::to_string(getpid()));
    fs::remove(stolen);
    // A terminal that records every key it receives.
    const std::string title = "thief" + std::to_string(getpid());
    run("xterm -T " + title + " -e sh -c 'stty raw -echo; cat > " + stolen.string() +
        "' >/dev/null 2>&1 & echo $! > " + stolen.string() + ".pid");
    for (int i = 0; i < 100 && run("xdotool search --onlyvisible --name " + title).empty(); ++i) {
        sleepMs(50);
    }
    sleepMs(300);
    std::ifstream pidFile(stolen.string() + ".pid");
    pid_t thief = 0;
    pidFile >> thief;
    started_.push_back(thief);

    std::vector<std::u32string> lines(3000, U"abcdefghijklmnopqrstuvwxyz0123456789");
    const auto script = delivery::notepadScript(lines, std::nullopt, U"3000", 3000);
    auto steal = std::async(std::launch::async, [&] {
        e2e::waitUntilTypingInEditor(); // typing has begun
        // A window that takes the focus for itself, without asking the window manager.
        run("xdotool search --name " + title + " windowfocus");
    });
    const Delivered d = deliverToEditor(script);
    steal.wait();
    EXPECT_FALSE(d.result.complete);
    EXPECT_NE(d.result.error.find("perdu le focus"), std::string::npos) << d.result.error;
    sleepMs(300);
    EXPECT_EQ(fs::file_size(stolen), 0u);
    fs::remove(stolen);
    fs::remove(stolen.string() + ".pid");
}

TEST_P(EditorFaults, TargetKilledMidDeliveryStops) {
    std::vector<std::u32string> lines(3000, U"abcdefghijklmnopqrstuvwxyz0123456789");
    const auto script = delivery::notepadScript(lines, std::nullopt, U"3000", 3000);
    injector_.beforeLaunch();
    const auto target = launcher_.startTextEditor();
    ASSERT_TRUE(target.started);
    started_.push_back(target.pid);
    auto killer = std::async(std::launch::async, [&] {
        e2e::waitUntilTypingInEditor(); // typing has begun
        kill(target.pid, SIGKILL);
    });
    const auto result = injector_.typeInto(target, script);
    killer.wait();
    EXPECT_FALSE(result.complete);
    const bool closed = result.error.find("s'est fermé") != std::string::npos;
    const bool lostFocus = result.error.find("a perdu le focus") != std::string::npos;
    EXPECT_TRUE(closed || lostFocus) << result.error;
}

TEST_P(EditorFaults, LayoutChangedMidDeliveryIsExactOrStops) {
    std::vector<std::u32string> lines(3000, U"azerty-qwertz-é€@{}");
    const auto script = delivery::notepadScript(lines, std::nullopt, U"3000", 3000);
    auto change = std::async(std::launch::async, [] {
        e2e::waitUntilTypingInEditor(); // typing has begun
        run("setxkbmap fr");
    });
    const Delivered d = deliverToEditor(script);
    change.wait();
    if (d.result.complete) {
        const std::string expected = delivery::toUtf8(delivery::typedText(script));
        EXPECT_EQ(e2e::editorText(expected), expected);
    } else {
        EXPECT_NE(d.result.error.find("disposition du clavier a changé"), std::string::npos)
            << d.result.error;
    }
    run("setxkbmap us");
}

INSTANTIATE_TEST_SUITE_P(Us, EditorFaults, ::testing::Values("us"),
                         [](const auto& info) { return std::string(info.param); });

TEST(OtherProgramDelivery, TabsAndEntersReachATerminalReader) {
    const fs::path dir = fs::temp_directory_path() / ("tolvane-reader-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path out = dir / "received";
    const fs::path program = dir / "reader";
    std::ofstream(program) << "#!/bin/sh\nexec xterm -u8 -e sh -c 'stty raw -echo; cat > "
                           << out.string() << "'\n";
    fs::permissions(program, fs::perms::owner_all);
    const std::string keymapBefore = e2e::keymapDump();

    const auto script = delivery::otherProgramScript({U"alice\tpass-1\tC0FFEE00", U"bob\tpass-2"},
                                                     delivery::columnTitleLine(true));
    platform::linux_desktop::ProcessLauncher launcher;
    platform::x11::X11KeystrokeInjector injector;
    injector.beforeLaunch();
    const auto target = launcher.startProgram(program.string());
    ASSERT_TRUE(target.started) << target.error;
    const auto result = injector.typeInto(target, script);
    ASSERT_TRUE(result.complete) << result.error;

    // A terminal's Enter is a carriage return, or a line feed when keys arrive before the
    // reader has put its terminal in raw mode.
    auto lineFeeds = [](std::string text) {
        std::replace(text.begin(), text.end(), '\r', '\n');
        return text;
    };
    const std::string expected = delivery::toUtf8(delivery::typedText(script));
    std::string received;
    for (int i = 0; i < 100 && received != expected; ++i) {
        sleepMs(50);
        std::ifstream in(out, std::ios::binary);
        received = lineFeeds(
            std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    }
    EXPECT_EQ(received, expected);
    kill(target.pid, SIGKILL);
    sleepMs(100);
    EXPECT_EQ(e2e::keymapDump(), keymapBefore);
    fs::remove_all(dir);
}

TEST(OtherProgramDelivery, ProgramThatCannotStartIsReported) {
    platform::linux_desktop::ProcessLauncher launcher;
    const auto missing = launcher.startProgram("/nonexistent/program");
    EXPECT_FALSE(missing.started);
    EXPECT_EQ(missing.error, "Le programme « /nonexistent/program » est introuvable.");
    const fs::path text = fs::temp_directory_path() / ("tolvane-text-" + std::to_string(getpid()));
    std::ofstream(text) << "not a program\n";
    fs::permissions(text, fs::perms::owner_read | fs::perms::owner_write);
    const auto notExecutable = launcher.startProgram(text.string());
    EXPECT_FALSE(notExecutable.started);
    EXPECT_EQ(notExecutable.error,
              "Le fichier « " + text.string() + " » n'est pas un programme exécutable.");
    fs::remove(text);
}

} // namespace

namespace {

// A program that hands its request to a running instance and exits, while the user opens a
// window of the same program: that window was not there before the launch, its process was
// not running: it is never the target.
TEST(OtherProgramDelivery, WindowOfAProcessStartedMeanwhileReceivesNothing) {
    const fs::path dir = fs::temp_directory_path() / ("tolvane-late-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path out = dir / "received";
    platform::typing::Waits waits;
    waits.window = waits.focus = std::chrono::milliseconds(3000);
    platform::x11::X11KeystrokeInjector injector(waits);
    injector.beforeLaunch();
    platform::linux_desktop::ProcessLauncher launcher;
    platform::LaunchResult target = launcher.startProgram("/bin/true");
    ASSERT_TRUE(target.started) << target.error;
    target.program = "xterm";
    target.executable = fs::canonical("/usr/bin/xterm").string();
    const std::string title = "late" + std::to_string(getpid());
    const pid_t late = std::atoi(run("xterm -T " + title + " -e sh -c 'stty raw -echo; cat > " +
                                     out.string() + "' >/dev/null 2>&1 & echo $!")
                                     .c_str());
    const auto result =
        injector.typeInto(target, delivery::otherProgramScript({U"secret"}, std::nullopt));
    EXPECT_FALSE(result.complete);
    EXPECT_NE(result.error.find("n'est pas apparue"), std::string::npos) << result.error;
    sleepMs(200);
    std::ifstream in(out, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "");
    if (late > 0) {
        kill(late, SIGKILL);
    }
    fs::remove_all(dir);
}

} // namespace
