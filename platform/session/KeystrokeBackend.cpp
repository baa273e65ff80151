#include "platform/session/KeystrokeBackend.h"

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

std::unique_ptr<KeystrokeInjector> makeKeystrokeInjector(DisplayServer server) {
    if (server == DisplayServer::Wayland) {
        return std::make_unique<wayland::WaylandKeystrokeInjector>();
    }
    return std::make_unique<x11::X11KeystrokeInjector>();
}

} // namespace tolvane::platform::session
