#pragma once

#include "platform/ClipboardEraser.h"
#include "platform/KeystrokeInjector.h"
#include "platform/MessageBox.h"
#include "platform/WaitNotice.h"

#include <functional>
#include <memory>
#include <string>

struct wl_display;

namespace tolvane::platform::session {

enum class DisplayServer { X11, Wayland };

// The session the desktop runs: Wayland when it says so (WAYLAND_DISPLAY, XDG_SESSION_TYPE),
// even when this program's own window goes through XWayland, since keys sent through X11
// reach X clients only.
DisplayServer detectDisplayServer(const char* waylandDisplay, const char* sessionType);
DisplayServer detectDisplayServer();

// The keystroke injector for the session. The messages and the notice are for the desktop's
// permission, which some Wayland desktops ask for; the relay (tolvane-bus-relay) speaks to the
// desktop portal for this program; the read-back tells where the started program's keys go.
std::unique_ptr<KeystrokeInjector> makeKeystrokeInjector(DisplayServer server, MessageBox& messages,
                                                         WaitNotice& notice,
                                                         const std::string& relay,
                                                         TextReadBack* readBack = nullptr);

// What a program started now is given (NAME=value) for the desktop to hand it the focus: an
// activation token of this program's focused window, as desktop launchers pass it.
std::vector<std::string> waylandActivation();

// What takes our text off a clipboard someone else serves now: on Wayland where the
// compositor offers data control; none on X11, where the toolkit's connection does it.
std::unique_ptr<ClipboardEraser> makeClipboardEraser(DisplayServer server);

// On Wayland: the compositor's virtual keyboard where it offers one (wlroots desktops),
// otherwise the desktop portal (GNOME, KDE), otherwise why neither can type. Chosen at the
// first delivery, and kept once one of them works.
class WaylandKeystrokes final : public KeystrokeInjector {
public:
    WaylandKeystrokes(std::unique_ptr<KeystrokeInjector> virtualKeyboard,
                      std::unique_ptr<KeystrokeInjector> portal,
                      std::function<bool()> portalOffered,
                      std::function<std::vector<std::string>()> activation = {});

    void beforeSecrets() override;
    std::string unavailableReason() override;
    Preparation prepare(const KeystrokeScript& script, std::u32string_view alphabet) override;
    std::vector<std::string> beforeLaunch() override;
    void launchFailed() override;
    InjectionResult typeInto(const LaunchResult& target, const KeystrokeScript& script,
                             const ScriptChooser& choose = {}) override;
    bool canPaste() override;
    InjectionResult pasteInto(const LaunchResult& target,
                              const std::function<void()>& justBefore) override;

private:
    // The virtual keyboard where it works, else the portal where the desktop offers it;
    // otherwise why neither can type.
    std::string choose();

    std::unique_ptr<KeystrokeInjector> virtualKeyboard_;
    std::unique_ptr<KeystrokeInjector> portal_;
    std::function<bool()> portalOffered_;
    std::function<std::vector<std::string>()> activation_;
    KeystrokeInjector* chosen_ = nullptr;
};

} // namespace tolvane::platform::session
