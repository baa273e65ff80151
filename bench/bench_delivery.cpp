// Delivery figures on a virtual display: a 5,000-character script typed into mousepad by
// Tolvane on a Latin layout (us, fr) and on non-Latin ones (ru, gr), which lend spare keys to
// most characters, then the same text by `xdotool type` on us (--delay 0, then its default
// 12 ms delay).
// Each tool types into a fresh mousepad window that holds the focus; what arrived is read
// once the editor has taken everything in (xdotool returns before that: characters it
// lends a key to make the editor reload its keymap at every key).
// Run through scripts/with-xvfb (make bench).
#include "../tests/e2e/DesktopHelpers.h"
#include "TextCompare.h"

#include "delivery/Deliver.h"
#include "delivery/Scripts.h"
#include "engine/CharacterClasses.h"
#include "platform/linux/ProcessLauncher.h"
#include "platform/linux/Processes.h"
#include "platform/x11/X11KeystrokeInjector.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace tolvane;
using e2e::run;
using e2e::sleepMs;

namespace {

using bench::fromUtf8;
using bench::wrongCharacters;

using Clock = std::chrono::steady_clock;

// Lines of the whole alphabet and of names, 5,000 characters in all.
std::vector<std::u32string> benchLines() {
    engine::ClassSelection all;
    all.fill(true);
    const std::u32string alphabet = engine::BuildAlphabet(all);
    const std::u32string names[] = {U"ÿvonne\t", U"Œdipe\t", U"straße\t", U"zoé\t"};
    std::vector<std::u32string> lines;
    std::size_t total = 0;
    for (std::size_t i = 0; total < 5000; ++i) {
        std::u32string line = names[i % 4] + alphabet.substr((i * 7) % 60, 60);
        line.resize(std::min(line.size(), 5000 - total - 1));
        total += line.size() + 1;
        lines.push_back(line);
    }
    return lines;
}

struct Figure {
    double seconds;
    std::size_t keys;
    std::size_t wrong;
    bool measured = true;
    double editorSeconds = -1; // processor time the editor spent meanwhile, when known
};

// The window of the mousepad just started (its process id is on the window).
std::string startMousepad(pid_t& pid) {
    // A window of its own: never handed to an instance still running (or still dying), and
    // with no session of an earlier, killed one to restore first.
    static int started = 0;
    const std::string data =
        "/tmp/tolvane-bench-data-" + std::to_string(getpid()) + "-" + std::to_string(++started);
    pid = static_cast<pid_t>(std::atoi(run("mkdir -p " + data + " && XDG_DATA_HOME=" + data +
                                           " mousepad --disable-server >/dev/null 2>&1 & echo $!")
                                           .c_str()));
    // The window manager may still be busy: xdotool lends a key to each character the layout
    // lacks, one keymap change per character, and the window manager takes its key grabs
    // again at each one, long after xdotool has returned.
    std::string window;
    for (int i = 0; i < 1200 && window.empty(); ++i) {
        sleepMs(100);
        window = run("xdotool search --onlyvisible --pid " + std::to_string(pid) +
                     " --class mousepad 2>/dev/null | head -n1");
    }
    while (!window.empty() && window.back() == '\n') {
        window.pop_back();
    }
    sleepMs(500);
    return window;
}

// The editor's text once it stops changing: the editor may still be reading its queue of
// key events when the typing tool returns.
std::string settledEditorText(const std::string& expected) {
    std::string previous = e2e::editorText(expected, 2000);
    const auto deadline = Clock::now() + std::chrono::seconds(120);
    while (previous != expected && Clock::now() < deadline) {
        sleepMs(1000);
        const std::string now = e2e::editorText(expected, 2000);
        if (!now.empty() && now == previous) {
            break;
        }
        previous = now;
    }
    return previous;
}

Figure xdotool(const std::u32string& text, const std::string& delay) {
    const std::string file = "/tmp/tolvane-bench-" + std::to_string(getpid()) + ".txt";
    std::ofstream(file) << delivery::toUtf8(text);
    pid_t pid = 0;
    const std::string window = startMousepad(pid);
    run("xdotool windowactivate --sync " + window + " 2>/dev/null");
    std::string focus = run("xdotool getwindowfocus");
    while (!focus.empty() && focus.back() == '\n') {
        focus.pop_back();
    }
    if (window.empty() || focus != window) {
        // Typing now would go to another window: no figure rather than a wrong one.
        kill(pid, SIGKILL);
        std::remove(file.c_str());
        return {0, text.size(), text.size(), false};
    }
    const auto start = Clock::now();
    // Into the focused window, as a user's keyboard (--window would send synthetic events,
    // which many programs ignore).
    run("xdotool type " + delay + " --file " + file);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const std::u32string got = fromUtf8(settledEditorText(delivery::toUtf8(text)));
    kill(pid, SIGKILL);
    std::remove(file.c_str());
    run("rm -rf /tmp/tolvane-bench-data-" + std::to_string(getpid()) + "-*");
    for (int i = 0; i < 100 && kill(pid, 0) == 0; ++i) {
        sleepMs(50);
    }
    return {seconds, text.size(), wrongCharacters(got, text)};
}

void report(const char* what, const Figure& f) {
    if (!f.measured) {
        std::printf("%-34s not measured: the editor did not get the focus\n", what);
        return;
    }
    std::printf("%-34s %8.2f s %9.0f keys/s %6zu wrong or lost of %zu (%.1f %%)", what, f.seconds,
                f.keys / f.seconds, f.wrong, f.keys, 100.0 * f.wrong / f.keys);
    if (f.editorSeconds >= 0) {
        // Typing ends once the editor has read every key: its own work bounds the figure.
        std::printf(", editor busy %.2f s", f.editorSeconds);
    }
    std::printf("\n");
}

} // namespace

int main() {
    const auto lines = benchLines();
    const auto script = delivery::otherProgramScript(lines, std::nullopt);
    const std::u32string text = delivery::typedText(script);
    std::printf("script: %zu characters, %zu lines\n", text.size(), lines.size());

    platform::linux_desktop::ProcessLauncher launcher;
    platform::x11::X11KeystrokeInjector injector;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const std::string dataHomeBefore = dataHome ? dataHome : "";
    for (const char* layout : {"us", "fr", "ru", "gr"}) {
        run(std::string("setxkbmap ") + layout);
        // No session of the editor killed before to restore first.
        const std::string data =
            "/tmp/tolvane-bench-data-" + std::to_string(getpid()) + "-" + layout;
        run("mkdir -p " + data);
        setenv("XDG_DATA_HOME", data.c_str(), 1);
        injector.beforeLaunch();
        const auto target = launcher.startProgram("/usr/bin/mousepad");
        for (int i = 0; i < 200 && run("xdotool search --onlyvisible --class mousepad").empty();
             ++i) {
            sleepMs(50);
        }
        // The editor is up and idle: the figure is the typing into a ready editor, until it has
        // read every key.
        sleepMs(500);
        const auto editorBefore = platform::linux_desktop::statOf(target.pid).cpuTime;
        const auto start = Clock::now();
        const auto result = injector.typeInto(target, script);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const auto editorTicks = platform::linux_desktop::statOf(target.pid).cpuTime - editorBefore;
        const std::u32string got = fromUtf8(settledEditorText(delivery::toUtf8(text)));
        if (!result.complete) {
            std::printf("tolvane: %s\n", result.error.c_str());
        }
        report((std::string("tolvane, ") + layout).c_str(),
               {seconds, text.size(), wrongCharacters(got, text), true,
                static_cast<double>(editorTicks) / static_cast<double>(sysconf(_SC_CLK_TCK))});
        kill(target.pid, SIGKILL);
        for (int i = 0; i < 100 && kill(target.pid, 0) == 0; ++i) {
            sleepMs(50);
        }
        run("rm -rf " + data);
    }
    if (dataHome) {
        setenv("XDG_DATA_HOME", dataHomeBefore.c_str(), 1);
    } else {
        unsetenv("XDG_DATA_HOME");
    }
    run("setxkbmap us");
    report("xdotool type --delay 0, us", xdotool(text, "--delay 0"));
    report("xdotool type (12 ms delay), us", xdotool(text, ""));
    return 0;
}
