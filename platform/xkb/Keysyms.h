// What keysyms mean to the planner: the character each types, the keysym of each character.
#pragma once

#include <xkbcommon/xkbcommon.h>

#include <cstdint>

namespace tolvane::platform::xkb {

inline bool isKeypadSym(xkb_keysym_t sym) {
    return sym >= XKB_KEY_KP_Space && sym <= XKB_KEY_KP_9;
}

// Dead keys wait for the next key: they type nothing by themselves.
inline bool isDeadSym(xkb_keysym_t sym) {
    return sym >= XKB_KEY_dead_grave && sym <= 0xfe8f;
}

// The character a keysym stands for, with Return and Tab as line feed and tab.
char32_t characterOf(xkb_keysym_t sym);

// The keysym that types a character: Return for line feed and carriage return, Tab for tab;
// 0 for a character that may not be typed.
std::uint32_t keysymFor(char32_t c);

// Editing and navigation keysyms, the keys that move between fields, and the keypad's
// operators (xterm changes its font size on Shift with KP_Add or KP_Subtract, and the toolkit
// matches a key on any of its levels): what programs bind, with or without Shift.
bool isBindingSym(xkb_keysym_t sym);

} // namespace tolvane::platform::xkb
