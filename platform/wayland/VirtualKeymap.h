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

// A keymap holds keycodes 9 to 255, so a script with more distinct characters is cut into
// segments, each with a keymap of its own.
inline constexpr std::size_t kKeysPerKeymap = 247;

VirtualKeyPlan planVirtualKeys(const KeystrokeScript& script,
                               std::size_t keysPerKeymap = kKeysPerKeymap);

} // namespace tolvane::platform::wayland
