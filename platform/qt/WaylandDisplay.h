#pragma once

struct wl_display;

namespace tolvane::platform::qt {

// The Wayland connection this program's windows are on; null when they are not on Wayland
// (X11, XWayland) or before the application object exists.
wl_display* windowWaylandDisplay();

} // namespace tolvane::platform::qt
