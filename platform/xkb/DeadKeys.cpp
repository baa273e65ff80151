// Dead keys: the characters a dead key and the next key compose through the compose table.
#include "platform/xkb/DeadKeys.h"

#include "platform/xkb/Keysyms.h"
#include "platform/xkb/LayoutKeys.h"

#include <cstdlib>

namespace tolvane::platform::xkb {

namespace {

// The one character a UTF-8 text holds; 0 when it holds none or several.
char32_t singleCharacter(const char* utf8) {
    const auto* p = reinterpret_cast<const unsigned char*>(utf8);
    char32_t c = 0;
    int more = 0;
    if (p[0] < 0x80) {
        c = p[0];
    } else if ((p[0] & 0xE0) == 0xC0) {
        c = p[0] & 0x1F;
        more = 1;
    } else if ((p[0] & 0xF0) == 0xE0) {
        c = p[0] & 0x0F;
        more = 2;
    } else if ((p[0] & 0xF8) == 0xF0) {
        c = p[0] & 0x07;
        more = 3;
    } else {
        return 0;
    }
    for (int i = 1; i <= more; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            return 0;
        }
        c = (c << 6) | (p[i] & 0x3F);
    }
    return p[more + 1] == 0 ? c : 0;
}

} // namespace

char32_t composed(xkb_compose_state* state, std::initializer_list<xkb_keysym_t> syms) {
    xkb_compose_state_reset(state);
    for (xkb_keysym_t sym : syms) {
        xkb_compose_state_feed(state, sym);
    }
    if (xkb_compose_state_get_status(state) != XKB_COMPOSE_COMPOSED) {
        return 0;
    }
    char utf8[64] = {};
    xkb_compose_state_get_utf8(state, utf8, sizeof utf8);
    return singleCharacter(utf8);
}

std::map<char32_t, DeadKeySequence> deadKeySequences(const std::map<xkb_keysym_t, KeyPress>& bySym,
                                                     xkb_compose_table* compose) {
    std::map<char32_t, DeadKeySequence> sequences;
    ComposeStatePtr state(xkb_compose_state_new(compose, XKB_COMPOSE_STATE_NO_FLAGS),
                          &xkb_compose_state_unref);
    if (!state) {
        return sequences;
    }
    for (const auto& [dead, deadPress] : bySym) {
        if (!isDeadSym(dead)) {
            continue;
        }
        for (const auto& [next, nextPress] : bySym) {
            const char32_t c = composed(state.get(), {dead, next});
            if (c == 0 || !mayBeTyped(c)) {
                continue;
            }
            const int total = cost(deadPress.mods) + cost(nextPress.mods);
            auto it = sequences.find(c);
            if (it == sequences.end() ||
                total < cost(it->second.dead.mods) + cost(it->second.next.mods)) {
                sequences[c] = DeadKeySequence{deadPress, nextPress};
            }
        }
    }
    return sequences;
}

xkb_compose_table* composeTableOfLocale(xkb_context* context) {
    const char* locale = nullptr;
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) {
            locale = value;
            break;
        }
    }
    return xkb_compose_table_new_from_locale(context, locale ? locale : "C",
                                             XKB_COMPOSE_COMPILE_NO_FLAGS);
}

} // namespace tolvane::platform::xkb
