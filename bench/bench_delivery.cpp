// Delivery figures on a virtual display: a 5,000-character script typed into mousepad by
// Tolvane, then the same text by `xdotool type` (default delay, then --delay 0).
// Run through scripts/with-xvfb (make bench).
#include "../tests/e2e/DesktopHelpers.h"

#include "delivery/Deliver.h"
#include "delivery/Scripts.h"
#include "engine/CharacterClasses.h"
#include "platform/linux/ProcessLauncher.h"
#include "platform/linux/X11KeystrokeInjector.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace tolvane;
using e2e::run;
using e2e::sleepMs;

namespace {

using Clock = std::chrono::steady_clock;

std::u32string fromUtf8(const std::string& s) {
    std::u32string out;
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        char32_t cp = n == 1 ? c : c & (0x7F >> n);
        for (int k = 1; k < n && i + k < s.size(); ++k) {
            cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        }
        out += cp;
        i += n;
    }
    return out;
}

// Characters wrong or lost: the edit distance between what arrived and what was meant.
std::size_t wrongCharacters(const std::u32string& got, const std::u32string& want) {
    std::vector<std::size_t> row(want.size() + 1);
    for (std::size_t j = 0; j <= want.size(); ++j) {
        row[j] = j;
    }
    for (std::size_t i = 1; i <= got.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= want.size(); ++j) {
            const std::size_t up = row[j];
            row[j] = std::min(
                {row[j] + 1, row[j - 1] + 1, diagonal + (got[i - 1] == want[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[want.size()];
}

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
};

pid_t startMousepad() {
    run("mousepad >/dev/null 2>&1 & echo $! > /tmp/tolvane-bench.pid");
    for (int i = 0; i < 200 && run("xdotool search --onlyvisible --class mousepad").empty(); ++i) {
        sleepMs(50);
    }
    sleepMs(500);
    std::ifstream in("/tmp/tolvane-bench.pid");
    pid_t pid = 0;
    in >> pid;
    return pid;
}

Figure xdotool(const std::u32string& text, const std::string& delay) {
    std::ofstream("/tmp/tolvane-bench.txt") << delivery::toUtf8(text);
    const pid_t pid = startMousepad();
    run("xdotool search --onlyvisible --class mousepad windowactivate --sync");
    const auto start = Clock::now();
    run("xdotool type " + delay + " --file /tmp/tolvane-bench.txt");
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    sleepMs(500);
    const std::string raw = e2e::editorText(delivery::toUtf8(text), 3000);
    const std::u32string got = fromUtf8(raw);
    kill(pid, SIGKILL);
    sleepMs(300);
    return {seconds, text.size(), wrongCharacters(got, text)};
}

void report(const char* what, const Figure& f) {
    std::printf("%-34s %8.2f s %9.0f keys/s %6zu wrong or lost of %zu (%.1f %%)\n", what, f.seconds,
                f.keys / f.seconds, f.wrong, f.keys, 100.0 * f.wrong / f.keys);
}

} // namespace

int main() {
    run("setxkbmap us");
    const auto lines = benchLines();
    const auto script = delivery::otherProgramScript(lines, std::nullopt);
    const std::u32string text = delivery::typedText(script);
    std::printf("script: %zu characters, %zu lines\n", text.size(), lines.size());

    platform::linux_desktop::ProcessLauncher launcher;
    platform::linux_desktop::X11KeystrokeInjector injector;
    {
        injector.beforeLaunch();
        const auto target = launcher.startProgram("/usr/bin/mousepad");
        for (int i = 0; i < 200 && run("xdotool search --onlyvisible --class mousepad").empty();
             ++i) {
            sleepMs(50);
        }
        sleepMs(500); // the editor is up: the figure is the typing alone
        const auto start = Clock::now();
        const auto result = injector.typeInto(target, script);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const std::u32string got = fromUtf8(e2e::editorText(delivery::toUtf8(text), 5000));
        if (!result.complete) {
            std::printf("tolvane: %s\n", result.error.c_str());
        }
        report("tolvane", {seconds, text.size(), wrongCharacters(got, text)});
        kill(target.pid, SIGKILL);
        sleepMs(300);
    }
    report("xdotool type --delay 0", xdotool(text, "--delay 0"));
    report("xdotool type (default 12 ms delay)", xdotool(text, ""));
    return 0;
}
