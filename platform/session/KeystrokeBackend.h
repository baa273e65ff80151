#pragma once

#include "platform/KeystrokeInjector.h"

#include <memory>
#include <string>

namespace tolvane::platform::session {

enum class DisplayServer { X11, Wayland };

// The session the desktop runs: Wayland when it says so (WAYLAND_DISPLAY, XDG_SESSION_TYPE),
// even when this program's own window goes through XWayland, since keys sent through X11
// reach X clients only.
DisplayServer detectDisplayServer(const char* waylandDisplay, const char* sessionType);
DisplayServer detectDisplayServer();

// The keystroke injector for the session.
std::unique_ptr<KeystrokeInjector> makeKeystrokeInjector(DisplayServer server);

} // namespace tolvane::platform::session
