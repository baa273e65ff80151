#pragma once

#include "platform/Keystrokes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tolvane::platform::wayland {

// One key of a virtual keyboard: its evdev code, and the character it types (U'\n' for Enter,
// U'\t' for Tab).
struct VirtualKey {
    std::uint32_t evdev = 0;
    char32_t character = 0;
};

// Keys typed with one keymap in place. Every key types its character on the first level,
// without any modifier, so the user's own layout and modifiers play no part.
struct VirtualKeymapSegment {
    std::string keymap; // XKB text format, as the virtual keyboard's keymap request takes it
    std::vector<VirtualKey> keys;
};

struct VirtualKeyPlan {
    std::vector<VirtualKeymapSegment> segments;
    std::u32string untypable; // characters with no keysym: nothing should be typed
};

// A keymap holds keycodes 9 to 255.
inline constexpr std::size_t kKeysPerKeymap = 247;

// Every client of the seat receives the keymaps, so they tell nothing of the text: each holds
// Return, Tab and every character of the alphabet (those any password may hold), whether or not
// the script types them, then the script's other characters (names, fixed lines) in code point
// order. The same characters give the same keymaps whatever their order in the script. When
// these do not fit on one keymap, the others are cut into several, each with the whole alphabet,
// so that what the passwords hold never changes the keymap.
VirtualKeyPlan planVirtualKeys(const KeystrokeScript& script, std::u32string_view alphabet = {},
                               std::size_t keysPerKeymap = kKeysPerKeymap);

} // namespace tolvane::platform::wayland
