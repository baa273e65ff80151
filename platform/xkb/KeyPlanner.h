#pragma once

#include "platform/Keystrokes.h"

#include <cstdint>
#include <string>
#include <vector>

struct xkb_keymap;

namespace tolvane::platform::xkb {

// The modifier keys the planner may hold, and the real modifier mask each one sets.
struct ModifierKeys {
    std::uint32_t shiftKeycode = 0;
    std::uint32_t shiftMask = 0;
    std::uint32_t level3Keycode = 0; // AltGr; 0 when the layout has none
    std::uint32_t level3Mask = 0;
};

// Finds Shift and AltGr (ISO_Level3_Shift) in a keymap.
ModifierKeys findModifierKeys(xkb_keymap* keymap);

// Keycodes that carry nothing: no symbol, type, action or behaviour, no real or virtual
// modifier mapping, no explicit component. Only such keys are lent to characters the layout
// lacks, so that giving them back is emptying them again.
std::vector<std::uint32_t> findSpareKeycodes(xkb_keymap* keymap);

// One key press: the key, with these modifiers held (a mask of ModifierKeys masks).
struct KeyPress {
    std::uint32_t keycode = 0;
    std::uint32_t mods = 0;
    friend bool operator==(const KeyPress&, const KeyPress&) = default;
};

// A spare key lent to up to two characters: level 1 plain, level 2 with Shift (0: unused).
struct SpareBinding {
    std::uint32_t keycode = 0;
    std::uint32_t keysyms[2] = {0, 0};
};

struct PlannedKey {
    KeyPress press;
    char32_t character = 0; // what it types; U'\n' for Enter, U'\t' for Tab
    bool endsLine = false;  // an Enter: a good moment to check that the target still listens
};

// Keys typed with one set of spare bindings in place.
struct PlanSegment {
    std::vector<SpareBinding> bindings;
    std::vector<PlannedKey> keys;
};

struct KeyPlan {
    std::vector<PlanSegment> segments;
    std::u32string untypable; // characters no key can produce: nothing should be typed
};

// Plans a script on a keymap's layout (group). Characters the layout gives on a plain, Shift,
// AltGr or Shift+AltGr level are typed with that key (never through a dead key); the others
// are bound to spare keys, as many at once as there are spare levels, so the keymap changes
// once per segment and never between characters of a segment.
KeyPlan planKeystrokes(xkb_keymap* keymap, std::uint32_t group, const ModifierKeys& modifiers,
                       const std::vector<std::uint32_t>& spareKeycodes,
                       const KeystrokeScript& script);

// The character a planned press produces on the keymap with the segment's bindings in place;
// 0 when none. The inverse of the planner, for checking it.
char32_t translate(xkb_keymap* keymap, std::uint32_t group, const ModifierKeys& modifiers,
                   const std::vector<SpareBinding>& bindings, const KeyPress& press);

} // namespace tolvane::platform::xkb
