#pragma once

#include "platform/KeystrokeInjector.h"
#include "platform/Typing.h"

#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tolvane::platform::x11 {

// Types into the window of the program just started, through XTest, and nowhere else:
// it waits (bounded) for that window, activates it, and types only while it holds the focus,
// checking again every few lines. Characters the layout lacks are lent spare keycodes, all in
// one keymap change; the keymap, the locks and the keys are left exactly as they were.
class X11KeystrokeInjector final : public KeystrokeInjector {
public:
    X11KeystrokeInjector() = default;
    explicit X11KeystrokeInjector(typing::Waits waits) : waits_(waits) {}

    std::string unavailableReason() override;
    Preparation prepare(const KeystrokeScript& script, std::u32string_view alphabet) override;
    std::vector<std::string> beforeLaunch() override;
    InjectionResult typeInto(const LaunchResult& target, const KeystrokeScript& script,
                             const ScriptChooser& choose = {}) override;

private:
    typing::Waits waits_;
    std::vector<unsigned long> windowsBefore_;
    std::map<pid_t, unsigned long long> processesBefore_; // process id: its start time
};

} // namespace tolvane::platform::x11
