#include "platform/session/KeystrokeBackend.h"

#include "platform/portal/PortalKeystrokeInjector.h"
#include "platform/wayland/DataControlEraser.h"
#include "platform/wayland/SeatKeymap.h"
#include "platform/wayland/WaylandKeystrokeInjector.h"
#include "platform/x11/X11KeystrokeInjector.h"

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

portal::PortalKeystrokeInjector::Options portalOptions() {
    portal::PortalKeystrokeInjector::Options options;
    options.keymap = [] { return wayland::readSeatKeyboard().keymap; };
    return options;
}

} // namespace

std::unique_ptr<KeystrokeInjector> makeKeystrokeInjector(DisplayServer server, MessageBox& messages,
                                                         wl_display* window) {
    if (server == DisplayServer::Wayland) {
        return std::make_unique<WaylandKeystrokes>(
            std::make_unique<wayland::WaylandKeystrokeInjector>(window),
            std::make_unique<portal::PortalKeystrokeInjector>(
                messages, QDBusConnection::sessionBus(), portalOptions()),
            [] { return portal::PortalKeystrokeInjector::offered(); });
    }
    return std::make_unique<x11::X11KeystrokeInjector>();
}

std::unique_ptr<ClipboardEraser> makeClipboardEraser(DisplayServer server) {
    if (server == DisplayServer::Wayland) {
        return std::make_unique<wayland::DataControlEraser>();
    }
    return nullptr;
}

WaylandKeystrokes::WaylandKeystrokes(std::unique_ptr<KeystrokeInjector> virtualKeyboard,
                                     std::unique_ptr<KeystrokeInjector> portal,
                                     std::function<bool()> portalOffered)
    : virtualKeyboard_(std::move(virtualKeyboard)), portal_(std::move(portal)),
      portalOffered_(std::move(portalOffered)) {}

std::string WaylandKeystrokes::unavailableReason() {
    if (!chosen_) {
        std::string why = virtualKeyboard_->unavailableReason();
        if (why.empty()) {
            chosen_ = virtualKeyboard_.get();
            return why;
        }
        if (!portalOffered_()) {
            return why; // points to the clipboard
        }
        chosen_ = portal_.get();
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
    return chosen_ ? chosen_->beforeLaunch() : std::vector<std::string>{};
}

void WaylandKeystrokes::launchFailed() {
    if (chosen_) {
        chosen_->launchFailed();
    }
}

InjectionResult WaylandKeystrokes::typeInto(const LaunchResult& target,
                                            const KeystrokeScript& script) {
    if (!chosen_) {
        if (std::string why = unavailableReason(); !why.empty()) {
            return {false, std::move(why)};
        }
    }
    return chosen_->typeInto(target, script);
}

bool WaylandKeystrokes::canPaste() {
    return chosen_ && chosen_->canPaste();
}

InjectionResult WaylandKeystrokes::pasteInto(const LaunchResult& target) {
    return chosen_ ? chosen_->pasteInto(target) : KeystrokeInjector::pasteInto(target);
}

} // namespace tolvane::platform::session
