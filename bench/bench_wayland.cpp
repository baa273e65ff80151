// Delivery figures on a headless sway (Wayland): 5,000 characters typed into a terminal reader
// (foot) by Tolvane's virtual keyboard, then the same text by wtype. Run through
// scripts/with-sway (make bench).
#include "TextCompare.h"

#include "delivery/Deliver.h"
#include "delivery/Scripts.h"
#include "engine/CharacterClasses.h"
#include "platform/linux/ProcessLauncher.h"
#include "platform/wayland/WaylandKeystrokeInjector.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

using namespace tolvane;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

// A terminal that writes what it receives; Enter arrives as a carriage return.
fs::path makeReader(const fs::path& dir, const std::string& name) {
    const fs::path script = dir / name;
    std::ofstream(script) << "#!/bin/sh\nexec foot -a " << name << " -T " << name
                          << " sh -c 'stty raw -echo; exec cat > "
                          << (dir / (name + ".out")).string() << "'\n";
    fs::permissions(script, fs::perms::owner_all);
    return script;
}

// Waits until the file stops growing for a second; returns when it last grew.
Clock::time_point settled(const fs::path& path, Clock::time_point start) {
    std::uintmax_t last = 0;
    Clock::time_point grew = start;
    for (auto still = Clock::now(); Clock::now() - still < std::chrono::seconds(1);) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const std::uintmax_t size = fs::exists(path) ? fs::file_size(path) : 0;
        if (size != last) {
            last = size;
            grew = still = Clock::now();
        }
    }
    return grew;
}

void report(const char* tool, double seconds, const std::string& got, const std::u32string& want) {
    std::u32string received = bench::fromUtf8(got);
    for (char32_t& c : received) {
        c = c == U'\r' ? U'\n' : c;
    }
    const std::size_t wrong = bench::wrongCharacters(received, want);
    std::printf("| %-22s | %6.2f s | %6.0f keys/s | %5zu (%.1f %%) |\n", tool, seconds,
                static_cast<double>(want.size()) / seconds, wrong,
                100.0 * static_cast<double>(wrong) / static_cast<double>(want.size()));
}

} // namespace

int main() {
    const fs::path dir = fs::temp_directory_path() / ("tolvane-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    // 75 lines of 66 characters from the letters, digits and signs of the window's classes.
    const std::u32string classes =
        engine::BuildAlphabet({true, true, true, true, true, true, false});
    std::vector<std::u32string> lines;
    for (std::size_t i = 0, at = 0; i < 75; ++i) {
        std::u32string line;
        for (int k = 0; k < 66; ++k, at = (at * 31 + 7) % classes.size()) {
            line += classes[at];
        }
        lines.push_back(line);
    }
    const auto script = delivery::otherProgramScript(lines, std::nullopt);
    const std::u32string want = delivery::typedText(script);
    std::printf("%zu characters into foot on a headless sway\n\n", want.size());
    std::printf("| tool                   | time     | speed          | wrong or lost   |\n");
    std::printf("|---|---|---|---|\n");

    platform::linux_desktop::ProcessLauncher launcher;
    platform::wayland::WaylandKeystrokeInjector injector;
    injector.prepare(script, delivery::passwordCharacters());
    injector.beforeLaunch();
    const auto target = launcher.startProgram(makeReader(dir, "tolvane").string());
    const auto start = Clock::now();
    const auto result = injector.typeInto(target, script);
    const auto end = settled(dir / "tolvane.out", start);
    if (!result.complete) {
        std::printf("tolvane: %s\n", result.error.c_str());
    }
    // The window appears in the time measured: subtract nothing, it is what a user waits.
    report("tolvane", std::chrono::duration<double>(end - start).count(),
           readFile(dir / "tolvane.out"), want);
    kill(target.pid, SIGTERM);

    const auto peer = launcher.startProgram(makeReader(dir, "wtype").string());
    std::this_thread::sleep_for(std::chrono::seconds(2)); // its window up and focused
    std::ofstream(dir / "text") << delivery::toUtf8(want);
    const auto peerStart = Clock::now();
    const int status = std::system(("wtype - < " + (dir / "text").string()).c_str());
    const auto peerEnd = settled(dir / "wtype.out", peerStart);
    if (status != 0) {
        std::printf("wtype exited with %d\n", status);
    }
    report("wtype", std::chrono::duration<double>(peerEnd - peerStart).count(),
           readFile(dir / "wtype.out"), want);
    kill(peer.pid, SIGTERM);
    fs::remove_all(dir);
    return 0;
}
