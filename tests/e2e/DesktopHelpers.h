#pragma once

// Helpers for tests that run on a virtual display with a window manager.

#include <array>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace tolvane::e2e {

// Runs a shell command and returns what it printed.
inline std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        return out;
    }
    std::array<char, 4096> buffer{};
    std::size_t n = 0;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        out.append(buffer.data(), n);
    }
    pclose(pipe);
    return out;
}

inline std::string keymapDump() {
    return run("xkbcomp -xkb \"$DISPLAY\" - 2>/dev/null");
}

inline bool capsLockOn() {
    return run("xset q").find("Caps Lock:   on") != std::string::npos;
}

inline void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Waits until the editor's window is there and the keys have begun to arrive in it (mousepad
// marks a changed document's title with '*'), at most 20 s: an interruption then lands while
// the delivery types, however long the target took to be ready.
inline void waitUntilTypingInEditor() {
    for (int i = 0; i < 400; ++i) {
        const std::string titles =
            run("xdotool search --onlyvisible --class mousepad getwindowname %@ 2>/dev/null");
        if (titles.starts_with('*') || titles.find("\n*") != std::string::npos) {
            return;
        }
        sleepMs(50);
    }
}

// The text of the focused editor window, read through its own select-all and copy.
inline std::string editorText(const std::string& expected, int timeoutMs = 8000) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        run("xdotool key --clearmodifiers ctrl+a ctrl+c");
        sleepMs(150);
        text = run("timeout 2 xclip -o -selection clipboard 2>/dev/null");
        if (text == expected) {
            break;
        }
        sleepMs(200);
    }
    return text;
}

} // namespace tolvane::e2e
