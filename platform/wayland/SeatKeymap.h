#pragma once

#include <cstdint>
#include <string>

struct wl_display;

namespace tolvane::platform::wayland {

// The seat's keyboard as the compositor describes it to one client.
struct SeatKeyboard {
    std::string keymap; // XKB text: the user's layout, as every client receives it
    // Sent only while a window of the client has the keyboard focus: the modifiers held,
    // latched and locked (Caps Lock), and the active layout.
    bool focused = false;
    std::uint32_t depressed = 0;
    std::uint32_t latched = 0;
    std::uint32_t locked = 0;
    std::uint32_t group = 0;
};

// Asks the compositor about its seat's keyboard: over a connection of its own (the keymap
// only), or on the connection given, which a window of this program has, with an event queue
// of its own (then also the locks and the active layout while that window has the focus).
// An empty keymap when there is no compositor or no keyboard.
SeatKeyboard readSeatKeyboard(wl_display* shared = nullptr);

} // namespace tolvane::platform::wayland
