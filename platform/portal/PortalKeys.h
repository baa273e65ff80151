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
};

struct PortalKeyPlan {
    std::vector<PortalKey> keys;
    std::u32string untypable; // each character once; nothing is typed when not empty
    bool onLayout = false;    // planned as keys of the user's layout
};

// With the user's keymap (XKB text, one layout): each character as the key that types it on
// that layout, Shift and AltGr pressed around it, so that the desktop looks nothing up; the
// characters the layout lacks cannot be typed. Without it, or with several layouts (which one
// is active is not known): one keysym per character, which the desktop looks up itself.
PortalKeyPlan planPortalKeys(const std::string& keymap, const KeystrokeScript& script);

} // namespace tolvane::platform::portal
