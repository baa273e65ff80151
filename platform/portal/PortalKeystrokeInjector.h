#pragma once

#include "platform/KeystrokeInjector.h"
#include "platform/MessageBox.h"

#include <QDBusConnection>
#include <QPointer>
#include <QWindow>

#include <chrono>
#include <functional>
#include <memory>

namespace tolvane::platform::portal {

class PortalSession;

// Types through the desktop portal's RemoteDesktop interface (GNOME, KDE). The keys go through
// the user's own layout: each character is typed with the keys that give it on that layout
// (the keymap the compositor hands every client), and a character the layout lacks is refused
// before anything is typed. Without the keymap, one keysym per character, which the desktop
// looks up itself.
//
// The desktop asks the user's permission once per window: the first delivery explains why,
// then opens the session; it lasts, in memory only, until that window closes or is reset.
//
// These desktops tell no program which window has the keyboard: the keys go wherever the focus
// is. What is checked: this program's window had the focus when the target was started, and
// typing begins only once it lost it (the target's window came up); before every key, this
// program's window must not have the focus back, and the session must still be granted.
class PortalKeystrokeInjector final : public KeystrokeInjector {
public:
    struct Options {
        // Whether one of this program's windows has the keyboard focus; by default, from Qt.
        std::function<bool()> ownWindowFocused;
        // The user's keymap in XKB text, as the compositor gives it; empty when unknown.
        std::function<std::string()> keymap;
        std::chrono::milliseconds call{10000};
        std::chrono::milliseconds answer{25000};
        std::chrono::milliseconds permission{120000};
        std::chrono::milliseconds window{15000};   // for the target's window to take the focus
        std::chrono::milliseconds settle{300};     // then before the first key
        std::chrono::milliseconds focusBack{3000}; // for the focus to come back after the dialog
    };

    explicit PortalKeystrokeInjector(MessageBox& messages,
                                     QDBusConnection bus = QDBusConnection::sessionBus());
    PortalKeystrokeInjector(MessageBox& messages, QDBusConnection bus, Options options);
    ~PortalKeystrokeInjector() override;

    // Whether the desktop offers the portal with a keyboard (a quick question on the bus).
    static bool offered(QDBusConnection bus = QDBusConnection::sessionBus());

    // Empty once the desktop has granted the keyboard: the first time in a window, after a
    // short explanation, the desktop asks the user. Otherwise why not, in French.
    std::string unavailableReason() override;
    Preparation prepare(const KeystrokeScript& script, std::u32string_view alphabet) override;
    std::vector<std::string> beforeLaunch() override;
    InjectionResult typeInto(const LaunchResult& target, const KeystrokeScript& script) override;

    // Ends the session and forgets the permission.
    void endSession();

private:
    bool ownWindowFocused() const;
    void pumpEvents() const;
    // Waits until done() holds or the time is up; false on time up.
    bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) const;

    MessageBox& messages_;
    QDBusConnection bus_;
    Options options_;
    std::unique_ptr<PortalSession> session_;
    QPointer<QWindow> owner_; // the window the session belongs to
    QMetaObject::Connection ownerGone_;
    bool focusedAtLaunch_ = false;
};

} // namespace tolvane::platform::portal
