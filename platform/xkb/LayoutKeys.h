// The layout's keys: modifiers, spare keys, which key and level types which keysym at what cost.
#pragma once

#include "platform/xkb/KeyPlanner.h"

#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <map>
#include <memory>

namespace tolvane::platform::xkb {

using StatePtr = std::unique_ptr<xkb_state, decltype(&xkb_state_unref)>;

// What a press costs: the modifiers held with it.
inline int cost(std::uint32_t mods) {
    return __builtin_popcount(mods);
}

// Every keysym the layout gives on a plain, Shift, AltGr or Shift+AltGr level of the group,
// with its cheapest key; the keypad and the modifier keys themselves left out, and the keys
// the targets would read otherwise (Return and Tab are always read as themselves).
std::map<xkb_keysym_t, KeyPress> keysymKeys(xkb_keymap* keymap, std::uint32_t group,
                                            const ModifierKeys& modifiers,
                                            const PlanOptions& options = {});

// Every character the layout types directly, with its cheapest key.
std::map<char32_t, KeyPress> directKeys(const std::map<xkb_keysym_t, KeyPress>& bySym);

} // namespace tolvane::platform::xkb
