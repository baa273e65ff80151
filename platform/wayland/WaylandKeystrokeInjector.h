#pragma once

#include "platform/KeystrokeInjector.h"

#include <memory>

struct wl_display;

namespace tolvane::platform::wayland {

// Types into the started program's window on wlroots compositors (sway, Hyprland, river, labwc,
// Wayfire): a virtual keyboard with keymaps of its own, which hold every character a password may
// hold, so the user's layout is never read nor changed and the keymaps, which every client of
// the seat receives, tell nothing of the passwords; the windows list of the compositor to find
// the program's window, activate it, and check before each key that it still has the focus; and
// the keyboard focus of this program's own window, which must have gone.
class WaylandKeystrokeInjector final : public KeystrokeInjector {
public:
    // window: the connection this program's window is on; null when it is not on Wayland.
    explicit WaylandKeystrokeInjector(wl_display* window = nullptr);
    ~WaylandKeystrokeInjector() override;

    std::string unavailableReason() override;
    Preparation prepare(const KeystrokeScript& script, std::u32string_view alphabet) override;
    std::vector<std::string> beforeLaunch() override;
    void launchFailed() override;
    InjectionResult typeInto(const LaunchResult& target, const KeystrokeScript& script,
                             const ScriptChooser& choose = {}) override;

private:
    wl_display* window_;
    std::u32string alphabet_;
    std::string firstKeymap_; // laid on the keyboard before the launch
    std::unique_ptr<class CompositorSession> session_;
    std::unique_ptr<class WindowFocus> focus_;
};

} // namespace tolvane::platform::wayland
