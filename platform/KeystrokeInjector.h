#pragma once

#include "platform/Keystrokes.h"
#include "platform/ProgramLauncher.h"

#include <string>

namespace tolvane::platform {

struct InjectionResult {
    bool complete = false;
    std::string error; // French, when typing did not start or stopped early
};

// Types a script into the window of a program that was just started, and nowhere else.
class KeystrokeInjector {
public:
    virtual ~KeystrokeInjector() = default;
    // Empty when keystrokes can be delivered in this session; otherwise why not, in French.
    virtual std::string unavailableReason() = 0;
    // Called just before the target program is started, so its window can be told apart.
    virtual void beforeLaunch() {}
    virtual InjectionResult typeInto(const LaunchResult& target, const KeystrokeScript& script) = 0;
};

} // namespace tolvane::platform
