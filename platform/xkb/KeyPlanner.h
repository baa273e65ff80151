// The keystroke planner's interface: the layout's keys, the plan of a script, the lock keys.
#pragma once

#include "platform/Keystrokes.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct xkb_keymap;
struct xkb_compose_table;
struct xkb_context;

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

// A spare key lent to up to four characters: level 1 plain, level 2 with Shift, level 3 with
// AltGr, level 4 with Shift and AltGr (0: unused).
struct SpareBinding {
    std::uint32_t keycode = 0;
    std::uint32_t keysyms[4] = {0, 0, 0, 0};
};

// The level of a spare key that a press with these modifiers reads: 0 to 3.
int spareLevel(const ModifierKeys& modifiers, std::uint32_t mods);

struct PlannedKey {
    KeyPress press;
    char32_t character = 0; // what it types; U'\n' for Enter, U'\t' for Tab
    bool endsLine = false;  // an Enter: a good moment to check that the target still listens
    // A dead key: it types nothing itself, the next key completes the character (the same
    // character is given for both). Typing never stops between the two.
    bool composing = false;
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

struct PlanOptions {
    // Levels lent on each spare key: 1 (plain), 2 (and Shift), or 4 (and AltGr, Shift+AltGr,
    // where the keyboard has a four-level key type set by these modifiers). Without a Shift
    // key, one.
    std::size_t spareLevels = 2;
    // Characters on keys that carry an editing or navigation keysym too (see
    // keysCarryingBindings) are typed on spare keys.
    bool avoidKeysCarryingBindings = false;
    // Whether the targets read a key of the layout as the keysym planned for it; a character
    // whose key they may read otherwise is typed on a spare key. Empty: every key is read as
    // planned.
    std::function<bool(const KeyPress&, std::uint32_t keysym)> readsAsPlanned;
    // Modifiers locked while the keys go (Caps Lock), left as they are: each key is chosen for
    // what it types with them on, and only where every program reads it so (no case changed
    // for a lock the key's type ignores).
    std::uint32_t locked = 0;
};

// Keys that type a character on a plain, Shift, AltGr or Shift+AltGr level of the group and
// also carry, on a level of that group, an editing or navigation keysym (Insert, Delete,
// BackSpace, the arrows, Home, End, the page keys...). Toolkits that match their key bindings
// on any level of a key (Xt's, xterm's Shift+Insert among them) may read such a key as the
// binding rather than as the character.
std::vector<std::uint32_t> keysCarryingBindings(xkb_keymap* keymap, std::uint32_t group,
                                                const ModifierKeys& modifiers);

// Plans a script on a keymap's layout (group). Characters the layout gives on a plain, Shift,
// AltGr or Shift+AltGr level are typed with that key, when the targets read it as planned; the
// others are bound to spare keys, as many at once as there are spare levels, so the keymap
// changes once per segment and never between characters of a segment. Without spare keys, and given
// the compose table the target applies, a character may be typed as a dead key of the layout
// followed by a base key, a second dead key or Space, as that table composes them.
KeyPlan planKeystrokes(xkb_keymap* keymap, std::uint32_t group, const ModifierKeys& modifiers,
                       const std::vector<std::uint32_t>& spareKeycodes,
                       const KeystrokeScript& script, xkb_compose_table* compose = nullptr,
                       const PlanOptions& options = {});

// The character a planned press produces on the keymap with the segment's bindings in place;
// 0 when none. The inverse of the planner, for checking it.
char32_t translate(xkb_keymap* keymap, std::uint32_t group, const ModifierKeys& modifiers,
                   const std::vector<SpareBinding>& bindings, const KeyPress& press);

// The text a segment's keys type, dead keys composed through the table, these modifiers
// locked: the inverse of the planner, for checking it. A key or sequence that types nothing
// gives U+FFFD.
std::u32string typeBack(xkb_keymap* keymap, std::uint32_t group, const ModifierKeys& modifiers,
                        const PlanSegment& segment, xkb_compose_table* compose,
                        std::uint32_t locked = 0);

// The compose table of the locale the environment names (LC_ALL, LC_CTYPE, LANG), as the
// programs started from here load it; null when there is none.
xkb_compose_table* composeTableOfLocale(xkb_context* context);

// Keys that take the locks off and give them back: the locked modifiers that change what keys
// type (Caps Lock, Shift Lock, level locks; not Num Lock, which changes only the keypad) are
// switched off by pressing and releasing the keys of off in order, as a person would, and on
// again by those of on. Nothing locked: both empty. Locks no key takes off: cleared false.
struct LockKeys {
    std::vector<std::uint32_t> off;
    std::vector<std::uint32_t> on;
    bool cleared = true;
};
LockKeys keysClearingLocks(xkb_keymap* keymap, std::uint32_t group, std::uint32_t lockedMods);

} // namespace tolvane::platform::xkb
