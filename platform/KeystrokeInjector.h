#pragma once

#include "platform/Keystrokes.h"
#include "platform/ProgramLauncher.h"
#include "platform/TextReadBack.h"

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::platform {

struct InjectionResult {
    bool complete = false;
    std::string error; // French, when typing did not start or stopped early
};

// What planning a script on the keyboard found, before anything is started.
struct Preparation {
    std::string error;        // French: the keyboard cannot be planned on now
    std::u32string untypable; // characters nothing types, each once: nothing should be typed
    bool layoutLacks = false; // they are missing from the user's layout (another may have them)
};

// Called once the target's window is found and before any key, with the names that window goes
// by: another script to type instead, or null to keep the one given. The script returned must
// stay alive until typeInto returns.
using ScriptChooser =
    std::function<const KeystrokeScript*(const std::vector<std::string>& windowNames)>;

// Types a script into the window of a program that was just started, and nowhere else.
class KeystrokeInjector {
public:
    virtual ~KeystrokeInjector() = default;
    // Run often while a delivery waits for the target and types (never while the display is
    // held for the keys): the window reads its events there, all but the person's input, so
    // that it repaints and answers assistive technologies, which learn that it is busy.
    void setMeanwhile(std::function<void()> meanwhile) { meanwhile_ = std::move(meanwhile); }
    // What the started program shows of the field its keys go to (its accessibility tree): the
    // typing waits for that field before the first key and for it to show them after the last.
    void setReadBack(TextReadBack* readBack) { readBack_ = readBack; }
    TextReadBack* readBack() const { return readBack_; }
    // Runs it, at most once every few milliseconds.
    void meanwhile() {
        const auto now = std::chrono::steady_clock::now();
        if (meanwhile_ && now - lastMeanwhile_ >= std::chrono::milliseconds(10)) {
            lastMeanwhile_ = now;
            meanwhile_();
        }
    }
    // Called at each generation before any password is drawn: what must happen once, and never
    // while passwords are in memory, happens here.
    virtual void beforeSecrets() {}
    // Empty when keystrokes can be delivered in this session; otherwise why not, in French.
    // The desktop may ask the user here: called before the passwords are drawn.
    virtual std::string unavailableReason() = 0;
    // Plans the script on the keyboard the keys will go through, before the target is started,
    // so that a script that cannot be typed starts nothing. alphabet: every character a password
    // may hold; a keyboard that other programs can read lays them all out, whether or not the
    // script holds them, so that it tells nothing of the passwords.
    virtual Preparation prepare(const KeystrokeScript& script, std::u32string_view alphabet) = 0;
    // Called just before the target program is started, so its window can be told apart.
    // Returns what the program is started with (NAME=value) for the desktop to give its window
    // the focus: an activation token of this program's window.
    virtual std::vector<std::string> beforeLaunch() { return {}; }
    // The target could not be started: what beforeLaunch set up goes.
    virtual void launchFailed() {}
    // A backend that knows no window calls no chooser and types the script given.
    virtual InjectionResult typeInto(const LaunchResult& target, const KeystrokeScript& script,
                                     const ScriptChooser& choose = {}) = 0;
    // Whether pasteInto can send the paste shortcut through the user's layout.
    virtual bool canPaste() { return false; }
    // Presses the layout's Ctrl+V in the target's window, with the same checks as typing;
    // justBefore runs right before the keys go.
    virtual InjectionResult pasteInto(const LaunchResult&, const std::function<void()>&) {
        return {false, "Le collage n'est pas possible dans cette session : rien n'a été collé."};
    }

private:
    TextReadBack* readBack_ = nullptr;
    std::function<void()> meanwhile_;
    std::chrono::steady_clock::time_point lastMeanwhile_;
};

} // namespace tolvane::platform
