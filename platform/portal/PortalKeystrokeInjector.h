#pragma once

#include "platform/KeystrokeInjector.h"
#include "platform/MessageBox.h"
#include "platform/Typing.h"
#include "platform/WaitNotice.h"
#include "platform/portal/PortalKeys.h"

#include <QDBusConnection>
#include <QPointer>
#include <QWindow>

#include <chrono>
#include <functional>
#include <memory>
#include <sys/types.h>

namespace tolvane::platform::portal {

class PortalSession;

// Types through the desktop portal's RemoteDesktop interface (GNOME, KDE). The keys go through
// the user's own layout, read with its locks and active layout from the compositor before the
// target starts (where the desktop keeps a layout per window, the one the target's new window
// gets, or a refusal when it cannot be told): each character is typed with the keys that give
// it on that layout (Shift and AltGr around it, or a dead key and the key that completes it),
// the keys chosen for what they type with the locks on (which stay as they are, however typing
// ends; taken off and given back only when a character cannot be typed through them), and a
// character the layout lacks is reported before anything starts.
// Without the keymap, one keysym per character, which the desktop looks up itself.
//
// The desktop asks the user's permission once per window: the first delivery explains why
// (saying what to do in that desktop's dialog), then opens the session; it lasts, in memory
// only, until that window closes or is reset.
//
// These desktops tell no program which window has the keyboard: the keys go wherever the focus
// is. What is checked: this program's window had the focus when the target was started, and
// typing begins only once it lost it (the target's window came up); before every character,
// this program's window must not have the focus back, and the session must still be granted.
class PortalKeystrokeInjector final : public KeystrokeInjector {
public:
    struct Options {
        // Whether one of this program's windows has the keyboard focus; by default, from Qt.
        std::function<bool()> ownWindowFocused;
        // The user's keyboard as the compositor tells this program's window; keymap empty when
        // unknown.
        std::function<UserKeyboard()> keyboard;
        // The desktop (XDG_CURRENT_DESKTOP), whose permission dialog the explanation describes
        // and whose settings tell the layout of a new window.
        std::string desktop;
        // Shown while the desktop asks the user; without it the wait shows nothing.
        WaitNotice* notice = nullptr;
        // The program that speaks to the bus for this one (tolvane-bus-relay), so that the portal
        // knows who calls it while this process stays closed; empty: the bus given is used.
        std::string relay;
        std::chrono::milliseconds call{10000};
        std::chrono::milliseconds answer{25000};
        std::chrono::milliseconds permission{120000};
        std::chrono::milliseconds window{
            typing::kWindowWait}; // for the target's window to take the focus
        std::chrono::milliseconds settled{typing::kSettled}; // quiet then, before the first key
        std::chrono::milliseconds focusBack{3000}; // for the focus to come back after the dialog
    };

    explicit PortalKeystrokeInjector(MessageBox& messages,
                                     QDBusConnection bus = QDBusConnection::sessionBus());
    PortalKeystrokeInjector(MessageBox& messages, QDBusConnection bus, Options options);
    ~PortalKeystrokeInjector() override;

    // Whether the desktop offers the portal with a keyboard (a quick question on the bus).
    static bool offered(QDBusConnection bus = QDBusConnection::sessionBus());

    // The relay is started, while no password exists yet.
    void beforeSecrets() override;
    // Empty once the desktop has granted the keyboard: the first time in a window, after a
    // short explanation, the desktop asks the user. Otherwise why not, in French.
    std::string unavailableReason() override;
    Preparation prepare(const KeystrokeScript& script, std::u32string_view alphabet) override;
    std::vector<std::string> beforeLaunch() override;
    InjectionResult typeInto(const LaunchResult& target, const KeystrokeScript& script,
                             const ScriptChooser& choose = {}) override;
    bool canPaste() override;
    InjectionResult pasteInto(const LaunchResult& target,
                              const std::function<void()>& justBefore) override;

    // Ends the session and forgets the permission.
    void endSession();

    // The explanation shown before the desktop's question, for this desktop.
    static std::string explanation(const std::string& desktop);

private:
    // Through the relay when one is given, started once; false when it could not start.
    bool reachBus();
    void leaveRelay();
    bool ownWindowFocused() const;
    void pumpEvents() const;
    // Waits until done() holds or the time is up; false on time up.
    bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) const;
    class Delivery;
    typing::Waits waits() const;
    // Sends the keys planned into the target's window once it has the focus; justBefore runs
    // right before the first key.
    InjectionResult send(const LaunchResult& target,
                         std::function<PortalKeyPlan(const KeystrokeScript&)> planner,
                         const KeystrokeScript& script,
                         const std::function<void()>& justBefore = {});

    MessageBox& messages_;
    QDBusConnection bus_;
    Options options_;
    std::unique_ptr<PortalSession> session_;
    QPointer<QWindow> owner_; // the window the session belongs to
    QMetaObject::Connection ownerGone_;
    bool relayed_ = false;  // bus_ is the relay's connection
    pid_t relay_ = 0;       // the relay's process, collected once it ends
    UserKeyboard keyboard_; // as it was before the launch
    bool focusedAtLaunch_ = false;
    // Keys are being sent: the session the loop uses outlives it, ended only afterwards.
    bool sending_ = false;
    bool endAfterSending_ = false;
};

} // namespace tolvane::platform::portal
