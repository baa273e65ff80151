#pragma once

#include <cstdint>
#include <string>

struct wl_display;
struct wl_surface;

namespace tolvane::platform::wayland {

// An activation token for a program about to be started, taken for this program's focused
// window on the connection it has (the toolkit's), with the serial of the user's last input:
// the desktop then gives the started program's window the focus, as it does for programs a
// launcher starts. Empty when the compositor offers no activation or gives no token.
std::string activationToken(wl_display* shared, wl_surface* focused, std::uint32_t serial,
                            const std::string& appId);

} // namespace tolvane::platform::wayland
