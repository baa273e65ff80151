#pragma once

#include "platform/KeystrokeInjector.h"

#include <memory>

namespace tolvane::platform::wayland {

// Types into the started program's window on wlroots compositors (sway, Hyprland, river, labwc,
// Wayfire): a virtual keyboard with a keymap made for exactly the characters of the delivery,
// so the user's layout is never read nor changed, and the windows list of the compositor to
// find the program's window, activate it, and check before each line that it still has the
// focus.
class WaylandKeystrokeInjector final : public KeystrokeInjector {
public:
    WaylandKeystrokeInjector();
    ~WaylandKeystrokeInjector() override;

    std::string unavailableReason() override;
    Preparation prepare(const KeystrokeScript& script) override;
    std::vector<std::string> beforeLaunch() override;
    InjectionResult typeInto(const LaunchResult& target, const KeystrokeScript& script) override;

private:
    std::unique_ptr<class CompositorSession> session_;
};

} // namespace tolvane::platform::wayland
