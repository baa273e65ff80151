#pragma once

#include <string>

namespace tolvane::platform::wayland {

// The keymap the compositor gives the seat's keyboard, in XKB text: the user's layout, as
// every client receives it. Empty when there is no compositor or no keyboard.
std::string readSeatKeymap();

} // namespace tolvane::platform::wayland
