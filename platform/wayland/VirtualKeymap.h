#pragma once

#include "platform/Keystrokes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tolvane::platform::wayland {

// One key of a virtual keyboard: its evdev code, whether Shift is held for it, and the character
// it types (U'\n' for Enter, U'\t' for Tab).
struct VirtualKey {
    std::uint32_t evdev = 0;
    bool shift = false;
    char32_t character = 0;
};

// Keys typed with one keymap in place. Every key types its character without any modifier, or
// with Shift alone, so the user's own layout and modifiers play no part.
struct VirtualKeymapSegment {
    std::string keymap; // XKB text format, as the virtual keyboard's keymap request takes it
    std::vector<VirtualKey> keys;
};

struct VirtualKeyPlan {
    std::vector<VirtualKeymapSegment> segments;
    std::u32string untypable; // characters with no keysym: nothing should be typed
};

// The characters a keymap holds, Return, Tab and the blank included: those three on their own
// keys, and two characters (plain and with Shift) on each key of the writing area and of the
// keypad, the keys every program reads by the character they type. Programs read other keys by what
// they stand for whatever they type (Chromium: F5 reloads the page, F6 moves to the address bar, F7
// asks about caret browsing, Help opens a page; a key the kernel does not name is dropped).
inline constexpr std::size_t kKeysPerKeymap = 3 + 2 * 65;

// Every client of the seat receives the keymaps, so they tell nothing of the text: each holds
// Return, Tab, the blank and every character of the alphabet (those any password may hold), whether
// or not the script types them, then the script's other characters (names, fixed lines) in code
// point order. The same characters give the same keymaps whatever their order in the script. When
// these do not fit on one keymap, the others are cut into several, each with the whole alphabet,
// so that what the passwords hold never changes the keymap.
VirtualKeyPlan planVirtualKeys(const KeystrokeScript& script, std::u32string_view alphabet = {},
                               std::size_t keysPerKeymap = kKeysPerKeymap);

} // namespace tolvane::platform::wayland
