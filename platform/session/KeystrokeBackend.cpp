#include "platform/session/KeystrokeBackend.h"

#include "platform/portal/PortalKeystrokeInjector.h"
#include "platform/qt/QtWayland.h"
#include "platform/wayland/Activation.h"
#include "platform/wayland/DataControlEraser.h"
#include "platform/wayland/SeatKeymap.h"
#include "platform/wayland/WaylandKeystrokeInjector.h"
#include "platform/x11/X11KeystrokeInjector.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <cstdlib>
#include <string_view>

namespace tolvane::platform::session {

DisplayServer detectDisplayServer(const char* waylandDisplay, const char* sessionType) {
    if ((waylandDisplay && *waylandDisplay) ||
        (sessionType && std::string_view(sessionType) == "wayland")) {
        return DisplayServer::Wayland;
    }
    return DisplayServer::X11;
}

DisplayServer detectDisplayServer() {
    return detectDisplayServer(std::getenv("WAYLAND_DISPLAY"), std::getenv("XDG_SESSION_TYPE"));
}

namespace {

// The user's keyboard as the compositor tells this program's window: on the window's own
// connection, where the locks and the active layout come with the keymap while it has the
// focus; over a connection of its own (the keymap only) when the window is not on Wayland.
portal::UserKeyboard userKeyboard() {
    const wayland::SeatKeyboard seat = wayland::readSeatKeyboard(qt::waylandDisplay());
    return {seat.keymap, seat.focused, seat.locked, seat.group};
}

portal::PortalKeystrokeInjector::Options portalOptions(WaitNotice& notice,
                                                       const std::string& relay) {
    portal::PortalKeystrokeInjector::Options options;
    options.keyboard = userKeyboard;
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    options.desktop = desktop ? desktop : "";
    options.notice = &notice;
    options.relay = relay;
    return options;
}

} // namespace

std::vector<std::string> waylandActivation() {
    const std::string token = wayland::activationToken(
        qt::waylandDisplay(), qt::focusedWaylandSurface(), qt::lastInputSerial(), {});
    if (token.empty()) {
        return {};
    }
    return {"XDG_ACTIVATION_TOKEN=" + token, "DESKTOP_STARTUP_ID=" + token};
}

std::unique_ptr<KeystrokeInjector> makeKeystrokeInjector(DisplayServer server, MessageBox& messages,
                                                         WaitNotice& notice,
                                                         const std::string& relay,
                                                         TextReadBack* readBack) {
    // While keys go out, the window repaints and answers assistive technologies; the person's
    // clicks and keys wait until the delivery is over.
    const auto windowReadsItsEvents = [] {
        if (QCoreApplication::instance()) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        }
    };
    if (server == DisplayServer::Wayland) {
        auto virtualKeyboard =
            std::make_unique<wayland::WaylandKeystrokeInjector>(qt::waylandDisplay());
        virtualKeyboard->setMeanwhile(windowReadsItsEvents);
        virtualKeyboard->setReadBack(readBack);
        auto portal = std::make_unique<portal::PortalKeystrokeInjector>(
            messages, QDBusConnection::sessionBus(), portalOptions(notice, relay));
        portal->setReadBack(readBack);
        return std::make_unique<WaylandKeystrokes>(
            std::move(virtualKeyboard), std::move(portal),
            [] { return portal::PortalKeystrokeInjector::offered(); }, waylandActivation);
    }
    auto x11 = std::make_unique<x11::X11KeystrokeInjector>();
    x11->setMeanwhile(windowReadsItsEvents);
    x11->setReadBack(readBack);
    return x11;
}

std::unique_ptr<ClipboardEraser> makeClipboardEraser(DisplayServer server) {
    if (server == DisplayServer::Wayland) {
        return std::make_unique<wayland::DataControlEraser>();
    }
    return nullptr;
}

WaylandKeystrokes::WaylandKeystrokes(std::unique_ptr<KeystrokeInjector> virtualKeyboard,
                                     std::unique_ptr<KeystrokeInjector> portal,
                                     std::function<bool()> portalOffered,
                                     std::function<std::vector<std::string>()> activation)
    : virtualKeyboard_(std::move(virtualKeyboard)), portal_(std::move(portal)),
      portalOffered_(std::move(portalOffered)), activation_(std::move(activation)) {}

std::string WaylandKeystrokes::choose() {
    std::string why = virtualKeyboard_->unavailableReason();
    if (why.empty()) {
        chosen_ = virtualKeyboard_.get();
    } else if (portalOffered_()) {
        chosen_ = portal_.get();
    }
    return why; // when neither: points to the clipboard
}

void WaylandKeystrokes::beforeSecrets() {
    if (!chosen_) {
        choose();
    }
    if (chosen_) {
        chosen_->beforeSecrets();
    }
}

std::string WaylandKeystrokes::unavailableReason() {
    if (!chosen_) {
        if (std::string why = choose(); !chosen_) {
            return why;
        }
    }
    return chosen_->unavailableReason();
}

Preparation WaylandKeystrokes::prepare(const KeystrokeScript& script,
                                       std::u32string_view alphabet) {
    if (!chosen_) {
        if (std::string why = unavailableReason(); !why.empty()) {
            return {std::move(why), {}, false};
        }
    }
    return chosen_->prepare(script, alphabet);
}

std::vector<std::string> WaylandKeystrokes::beforeLaunch() {
    std::vector<std::string> environment =
        chosen_ ? chosen_->beforeLaunch() : std::vector<std::string>{};
    if (activation_) {
        for (std::string& variable : activation_()) {
            environment.push_back(std::move(variable));
        }
    }
    return environment;
}

void WaylandKeystrokes::launchFailed() {
    if (chosen_) {
        chosen_->launchFailed();
    }
}

InjectionResult WaylandKeystrokes::typeInto(const LaunchResult& target,
                                            const KeystrokeScript& script,
                                            const ScriptChooser& choose) {
    if (!chosen_) {
        if (std::string why = unavailableReason(); !why.empty()) {
            return {false, std::move(why)};
        }
    }
    return chosen_->typeInto(target, script, choose);
}

bool WaylandKeystrokes::canPaste() {
    return chosen_ && chosen_->canPaste();
}

InjectionResult WaylandKeystrokes::pasteInto(const LaunchResult& target,
                                             const std::function<void()>& justBefore) {
    return chosen_ ? chosen_->pasteInto(target, justBefore)
                   : KeystrokeInjector::pasteInto(target, justBefore);
}

} // namespace tolvane::platform::session
