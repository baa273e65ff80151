#pragma once

#include "platform/Keystrokes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tolvane::platform::portal {

// One event sent to the portal: a key of the user's layout (its evdev code) or a keysym,
// pressed or released.
struct PortalKey {
    bool keysym = false;
    std::uint32_t value = 0;
    bool down = false;
    // The first event of a character (its modifiers, or a dead key that begins it): typing may
    // stop only before such an event, never inside a character.
    bool startsCharacter = false;
    // The first event of a character typed through a dead key.
    bool startsComposing = false;
};

// The user's keyboard as the compositor describes it to this program's window; where the
// desktop keeps a layout per window, with the layout the target's new window gets instead.
struct UserKeyboard {
    std::string keymap;       // XKB text; empty when unknown
    bool stateKnown = false;  // the window had the focus: the locks and the layout below are told
    std::uint32_t locked = 0; // locked modifiers (Caps Lock)
    std::uint32_t group = 0;  // the layout the target's window will type with
    // Where the target's window will type with a layout no one can tell beforehand (the desktop
    // keeps one per window): why, in French; nothing is planned on a keymap of several layouts.
    std::string layoutUnknown = {};
};

struct PortalKeyPlan {
    // The locks taken off first (lockEvents events), then the characters.
    std::vector<PortalKey> keys;
    std::size_t lockEvents = 0;
    // The locks given back: sent however typing ends, once those taken off were.
    std::vector<PortalKey> restore;
    std::u32string untypable; // each character once; nothing is typed when not empty
    bool onLayout = false;    // planned as keys of the user's layout
    std::string error;        // French: the keyboard is in a state no key plan can type through
};

// With the user's keymap: each character as the keys that type it on the active layout,
// Shift and AltGr pressed around it, or as a dead key of that layout and the key that
// completes it through the compose table of the locale, so that the desktop looks nothing up;
// the characters the layout lacks cannot be typed. The keys are chosen for what they type with
// the locks told on (Caps Lock), which are left as they are; where some character cannot be
// typed so, the locks are switched off with their keys first and back on at the end. Without the
// keymap, or with several layouts of which the active one is not told: one keysym per
// character, which the desktop looks up itself. With several layouts and the target's unknown:
// nothing, and layoutUnknown as the error.
PortalKeyPlan planPortalKeys(const UserKeyboard& keyboard, const KeystrokeScript& script);

// The layout's paste shortcut, Ctrl+V, locks off around it as for typing; empty keys and an
// error when the layout cannot give it.
PortalKeyPlan planPasteKeys(const UserKeyboard& keyboard);

} // namespace tolvane::platform::portal
