// The keyboard as the user left it: after a delivery into mousepad or a terminal, on several
// layouts, after an interruption by SIGTERM and after another client grabbed the keyboard,
// the whole keymap and the XTest keyboard's keys are exactly as before, and the text that
// arrived is the text meant (or the delivery said it stopped).
#include "DesktopHelpers.h"
#include "KeyboardGrabber.h"

#include "delivery/Deliver.h"
#include "delivery/Scripts.h"
#include "platform/linux/ProcessLauncher.h"
#include "platform/linux/StopSignals.h"
#include "platform/x11/X11KeystrokeInjector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace tolvane;
using e2e::run;
using e2e::sleepMs;

namespace {

namespace fs = std::filesystem;

// The keys the XTest keyboard holds down, as "key[n]" names.
std::string xtestKeysDown() {
    std::istringstream state(run("xinput query-state 'Virtual core XTEST keyboard'"));
    std::string line, down;
    while (std::getline(state, line)) {
        if (line.find("=down") != std::string::npos) {
            down += line + " ";
        }
    }
    return down;
}

// Names in several scripts: more characters than one set of spare keys can take at once.
std::vector<std::u32string> manyScriptLines(int count) {
    const std::u32string names[] = {U"Юлия Ёжикова", U"Σοφία Ωμέγα",   U"山田太郎",  U"ÉLODIE ÀÑÇ",
                                    U"Paŀlars €uro", U"李小龍 김민수", U"Øystein Ŧæ"};
    std::vector<std::u32string> lines;
    for (int i = 0; i < count; ++i) {
        lines.push_back(names[i % 7] + U"\tx9{+}^%~-" + names[(i + 3) % 7]);
    }
    return lines;
}

std::string layoutName(const ::testing::TestParamInfo<const char*>& info) {
    std::string name = info.param;
    std::replace_if(
        name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
    return name;
}

void chooseMousepad() {
    const fs::path config = std::getenv("XDG_CONFIG_HOME");
    fs::create_directories(config);
    std::ofstream(config / "mimeapps.list")
        << "[Default Applications]\ntext/plain=org.xfce.mousepad.desktop\n";
}

class KeyboardIntact : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        chooseMousepad();
        run(std::string("setxkbmap ") + GetParam());
        keymapBefore_ = e2e::keymapDump();
        ASSERT_FALSE(keymapBefore_.empty());
        ASSERT_EQ(xtestKeysDown(), "");
    }
    void TearDown() override {
        for (pid_t pid : started_) {
            kill(pid, SIGKILL);
        }
        sleepMs(100);
        EXPECT_EQ(xtestKeysDown(), "") << "keys left down";
        EXPECT_EQ(e2e::keymapDump(), keymapBefore_) << "the keymap was not given back whole";
        run("setxkbmap us");
    }

    std::string keymapBefore_;
    std::vector<pid_t> started_;
    platform::linux_desktop::ProcessLauncher launcher_;
    // A window manager still catching up with earlier keymap changes may take its time to
    // map a new window on a loaded machine.
    platform::x11::X11KeystrokeInjector injector_{platform::typing::Waits{
        std::chrono::milliseconds(30000), std::chrono::milliseconds(10000)}};
};

TEST_P(KeyboardIntact, IntoMousepad) {
    const auto script = delivery::notepadScript(manyScriptLines(14), std::nullopt, U"14", 14);
    injector_.beforeLaunch();
    const auto target = launcher_.startTextEditor();
    ASSERT_TRUE(target.started) << target.error;
    started_.push_back(target.pid);
    const auto result = injector_.typeInto(target, script);
    ASSERT_TRUE(result.complete) << result.error;
    const std::string expected = delivery::toUtf8(delivery::typedText(script));
    EXPECT_EQ(e2e::editorText(expected), expected);
}

TEST_P(KeyboardIntact, IntoATerminal) {
    const fs::path dir = fs::temp_directory_path() / ("tolvane-term-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path out = dir / "received";
    const fs::path program = dir / "reader";
    std::ofstream(program) << "#!/bin/sh\nexec xterm -u8 -e sh -c 'stty raw -echo; cat > "
                           << out.string() << "'\n";
    fs::permissions(program, fs::perms::owner_all);
    const auto script = delivery::otherProgramScript(manyScriptLines(14), std::nullopt);
    injector_.beforeLaunch();
    const auto target = launcher_.startProgram(program.string());
    ASSERT_TRUE(target.started) << target.error;
    started_.push_back(target.pid);
    const auto result = injector_.typeInto(target, script);
    ASSERT_TRUE(result.complete) << result.error;
    // Enter is a carriage return in raw mode, a line feed before the reader set it.
    std::string expected = delivery::toUtf8(delivery::typedText(script));
    std::string received;
    for (int i = 0; i < 100 && received != expected; ++i) {
        sleepMs(50);
        std::ifstream in(out, std::ios::binary);
        received.assign(std::istreambuf_iterator<char>(in), {});
        std::replace(received.begin(), received.end(), '\r', '\n');
    }
    EXPECT_EQ(received, expected);
    fs::remove_all(dir);
}

// A Qt-based editor: it answers pings its own way, and every lent key is given back.
TEST_P(KeyboardIntact, IntoAQtEditor) {
    const fs::path dir = fs::temp_directory_path() / ("tolvane-qt-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path out = dir / "text";
    const fs::path program = dir / "editor";
    std::ofstream(program) << "#!/bin/sh\nexec " << QT_EDITOR << " " << out.string() << "\n";
    fs::permissions(program, fs::perms::owner_all);
    const auto script = delivery::notepadScript(manyScriptLines(14), std::nullopt, U"14", 14);
    injector_.beforeLaunch();
    const auto target = launcher_.startProgram(program.string());
    ASSERT_TRUE(target.started) << target.error;
    started_.push_back(target.pid);
    const auto result = injector_.typeInto(target, script);
    ASSERT_TRUE(result.complete) << result.error;
    const std::string expected = delivery::toUtf8(delivery::typedText(script));
    std::string received;
    for (int i = 0; i < 100 && received != expected; ++i) {
        std::ifstream in(out, std::ios::binary);
        received.assign(std::istreambuf_iterator<char>(in), {});
        if (received != expected) {
            sleepMs(50);
        }
    }
    EXPECT_EQ(received, expected);
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Layouts, KeyboardIntact,
                         ::testing::Values("us", "fr", "de", "de -variant neo"), layoutName);

class Interruptions : public KeyboardIntact {
protected:
    static platform::KeystrokeScript longScript() {
        return delivery::notepadScript(
            std::vector<std::u32string>(2000, U"Élevé-ÀÉÎÕÜ-abcdefghijklmnop-Юлия-Σοφία"),
            std::nullopt, U"2000", 2000);
    }
};

TEST_P(Interruptions, SigtermStopsAndGivesTheKeyboardBack) {
    platform::linux_desktop::installStopSignals();
    injector_.beforeLaunch();
    const auto target = launcher_.startTextEditor();
    ASSERT_TRUE(target.started) << target.error;
    started_.push_back(target.pid);
    auto terminate = std::async(std::launch::async, [] {
        e2e::waitUntilTypingInEditor(); // typing has begun
        kill(getpid(), SIGTERM);
    });
    const auto result = injector_.typeInto(target, longScript());
    terminate.wait();
    EXPECT_TRUE(platform::linux_desktop::stopRequested());
    platform::linux_desktop::clearStopRequest();
    EXPECT_FALSE(result.complete);
    EXPECT_NE(result.error.find("interrompue"), std::string::npos) << result.error;
}

// A client that grabs the keyboard (a menu, a screen locker) receives no key of ours.
TEST_P(Interruptions, KeyboardGrabbedByAnotherClientStops) {
    injector_.beforeLaunch();
    const auto target = launcher_.startTextEditor();
    ASSERT_TRUE(target.started) << target.error;
    started_.push_back(target.pid);
    std::atomic<int> received{0};
    std::atomic<bool> done{false};
    auto grabber = std::async(std::launch::async, [&] {
        e2e::waitUntilTypingInEditor(); // typing has begun
        return e2e::grabKeyboardUntil(done, received);
    });
    const auto result = injector_.typeInto(target, longScript());
    sleepMs(300);
    done = true;
    EXPECT_TRUE(grabber.get());
    EXPECT_FALSE(result.complete);
    EXPECT_NE(result.error.find("a pris le clavier"), std::string::npos) << result.error;
    EXPECT_EQ(received.load(), 0);
}

// A Control key held down meanwhile would turn letters into shortcuts: typing stops.
TEST_P(Interruptions, KeyHeldMidDeliveryStops) {
    injector_.beforeLaunch();
    const auto target = launcher_.startTextEditor();
    ASSERT_TRUE(target.started) << target.error;
    started_.push_back(target.pid);
    auto press = std::async(std::launch::async, [] {
        e2e::waitUntilTypingInEditor(); // typing has begun
        run("xdotool keydown Control_L");
    });
    const auto result = injector_.typeInto(target, longScript());
    press.wait();
    run("xdotool keyup Control_L");
    EXPECT_FALSE(result.complete);
    EXPECT_NE(result.error.find("Une touche du clavier est enfoncée"), std::string::npos)
        << result.error;
}

// A layout another client sets mid-delivery stops it and is the one the keyboard keeps: the
// keys lent are not written back over it.
TEST_P(Interruptions, LayoutSetMidDeliveryIsKept) {
    run("setxkbmap fr");
    const std::string fr = e2e::keymapDump();
    run(std::string("setxkbmap ") + GetParam());
    injector_.beforeLaunch();
    const auto target = launcher_.startTextEditor();
    ASSERT_TRUE(target.started) << target.error;
    started_.push_back(target.pid);
    auto change = std::async(std::launch::async, [] {
        e2e::waitUntilTypingInEditor(); // typing has begun
        run("setxkbmap fr");
    });
    const auto result = injector_.typeInto(target, longScript());
    change.wait();
    EXPECT_FALSE(result.complete);
    EXPECT_NE(result.error.find("La disposition du clavier a changé"), std::string::npos)
        << result.error;
    EXPECT_EQ(e2e::keymapDump(), fr);
    run(std::string("setxkbmap ") + GetParam());
}

// Killed outright, the typing process leaves no key down: the server only ever received
// whole presses. (The keys lent at that moment stay lent: nothing is left to give them back.)
TEST_P(Interruptions, SigkillLeavesNoKeyDown) {
    const pid_t typist = fork();
    ASSERT_GE(typist, 0);
    if (typist == 0) {
        platform::linux_desktop::ProcessLauncher launcher;
        platform::x11::X11KeystrokeInjector injector;
        injector.beforeLaunch();
        const auto target = launcher.startTextEditor();
        if (target.started) {
            injector.typeInto(target, longScript());
        }
        _exit(0);
    }
    e2e::waitUntilTypingInEditor(); // typing has begun
    kill(typist, SIGKILL);
    int status = 0;
    waitpid(typist, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    sleepMs(200);
    EXPECT_EQ(xtestKeysDown(), "");
    const std::string editor = run("xdotool search --onlyvisible --class mousepad getwindowpid");
    if (const pid_t pid = std::atoi(editor.c_str()); pid > 0) {
        started_.push_back(pid);
    }
    run(std::string("setxkbmap ") + GetParam()); // what a user would do about the lent keys
}

INSTANTIATE_TEST_SUITE_P(Us, Interruptions, ::testing::Values("us"), layoutName);

} // namespace
