// What keysyms mean to the planner: the character each types, the keysym of each character.
#include "platform/xkb/Keysyms.h"

#include "platform/Keystrokes.h"

namespace tolvane::platform::xkb {

char32_t characterOf(xkb_keysym_t sym) {
    if (sym == XKB_KEY_Return) {
        return U'\n';
    }
    if (sym == XKB_KEY_Tab) {
        return U'\t';
    }
    if (isKeypadSym(sym) || isDeadSym(sym)) {
        return 0;
    }
    // Delete, BackSpace, Escape and the like stand for control characters: not text.
    const char32_t c = xkb_keysym_to_utf32(sym);
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0) ? 0 : c;
}

std::uint32_t keysymFor(char32_t c) {
    if (c == U'\n' || c == U'\r') {
        return XKB_KEY_Return;
    }
    if (c == U'\t') {
        return XKB_KEY_Tab;
    }
    return mayBeTyped(c) ? xkb_utf32_to_keysym(c) : 0;
}

bool isBindingSym(xkb_keysym_t sym) {
    switch (sym) {
    case XKB_KEY_KP_Add:
    case XKB_KEY_KP_Subtract:
    case XKB_KEY_KP_Multiply:
    case XKB_KEY_KP_Divide:
    case XKB_KEY_BackSpace:
    case XKB_KEY_Tab:
    case XKB_KEY_ISO_Left_Tab:
    case XKB_KEY_Linefeed:
    case XKB_KEY_Clear:
    case XKB_KEY_Return:
    case XKB_KEY_Pause:
    case XKB_KEY_Escape:
    case XKB_KEY_Delete:
    case XKB_KEY_KP_Enter:
    case XKB_KEY_KP_Tab:
        return true;
    default:
        // Home to Begin, Select to Break, and their keypad forms.
        return (sym >= XKB_KEY_Home && sym <= XKB_KEY_Begin) ||
               (sym >= XKB_KEY_Select && sym <= XKB_KEY_Break) ||
               (sym >= XKB_KEY_KP_Home && sym <= XKB_KEY_KP_Delete);
    }
}

} // namespace tolvane::platform::xkb
