#pragma once

#include <cstdint>

struct wl_display;
struct wl_surface;

namespace tolvane::platform::qt {

// What the toolkit's Wayland connection holds: null (0) when the program's windows are not
// on Wayland.
wl_display* waylandDisplay();
// The surface of the window that has the keyboard focus, and the serial of the last input
// event, which the desktop asks for before it lets that window hand its focus on.
wl_surface* focusedWaylandSurface();
std::uint32_t lastInputSerial();

} // namespace tolvane::platform::qt
