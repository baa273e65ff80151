#include "platform/xkb/KeyPlanner.h"

#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace tolvane::platform::xkb {

namespace {

using StatePtr = std::unique_ptr<xkb_state, decltype(&xkb_state_unref)>;

bool isKeypadSym(xkb_keysym_t sym) {
    return sym >= XKB_KEY_KP_Space && sym <= XKB_KEY_KP_9;
}

// Dead keys wait for the next key; the planner never uses them.
bool isDeadSym(xkb_keysym_t sym) {
    return sym >= XKB_KEY_dead_grave && sym <= 0xfe8f;
}

// The character a keysym stands for, with Return and Tab as line feed and tab.
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

int cost(std::uint32_t mods) {
    return __builtin_popcount(mods);
}

// Editing and navigation keysyms, the keys that move between fields, and the keypad's
// operators (xterm changes its font size on Shift with KP_Add or KP_Subtract, and the toolkit
// matches a key on any of its levels): what programs bind, with or without Shift.
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

bool carriesBinding(xkb_keymap* keymap, xkb_keycode_t kc, std::uint32_t group) {
    const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap, kc, group);
    for (xkb_level_index_t level = 0; level < levels; ++level) {
        const xkb_keysym_t* syms = nullptr;
        const int n = xkb_keymap_key_get_syms_by_level(keymap, kc, group, level, &syms);
        for (int i = 0; i < n; ++i) {
            if (isBindingSym(syms[i])) {
                return true;
            }
        }
    }
    return false;
}

// Every keysym the layout gives on a plain, Shift, AltGr or Shift+AltGr level of the group,
// with its cheapest key; the keypad and the modifier keys themselves left out, and the keys
// the targets would read otherwise (Return and Tab are always read as themselves).
std::map<xkb_keysym_t, KeyPress> keysymKeys(xkb_keymap* keymap, std::uint32_t group,
                                            const ModifierKeys& modifiers,
                                            const PlanOptions& options = {}) {
    std::map<xkb_keysym_t, KeyPress> keys;
    const std::uint32_t allowed = modifiers.shiftMask | modifiers.level3Mask;
    const xkb_keycode_t min = xkb_keymap_min_keycode(keymap);
    // Key codes past 255 are found in Wayland keymaps only (media keys): X clients, XWayland's
    // included, cannot receive them.
    const xkb_keycode_t max = std::min<xkb_keycode_t>(xkb_keymap_max_keycode(keymap), 255);
    for (xkb_keycode_t kc = min; kc <= max; ++kc) {
        if (kc == modifiers.shiftKeycode || kc == modifiers.level3Keycode ||
            group >= xkb_keymap_num_layouts_for_key(keymap, kc)) {
            continue;
        }
        const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap, kc, group);
        for (xkb_level_index_t level = 0; level < levels; ++level) {
            const xkb_keysym_t* syms = nullptr;
            if (xkb_keymap_key_get_syms_by_level(keymap, kc, group, level, &syms) != 1 ||
                isKeypadSym(syms[0])) {
                continue;
            }
            xkb_mod_mask_t masks[16];
            const std::size_t n =
                xkb_keymap_key_get_mods_for_level(keymap, kc, group, level, masks, 16);
            for (std::size_t i = 0; i < n; ++i) {
                const std::uint32_t mods = masks[i];
                if ((mods & ~allowed) != 0) {
                    continue;
                }
                const bool field = syms[0] == XKB_KEY_Return || syms[0] == XKB_KEY_Tab;
                if (!field &&
                    ((options.avoidKeysCarryingBindings && carriesBinding(keymap, kc, group)) ||
                     (options.readsAsPlanned &&
                      !options.readsAsPlanned(KeyPress{kc, mods}, syms[0])))) {
                    continue;
                }
                auto it = keys.find(syms[0]);
                if (it == keys.end() || cost(mods) < cost(it->second.mods)) {
                    keys[syms[0]] = KeyPress{kc, mods};
                }
            }
        }
    }
    return keys;
}

// Every character the layout types directly, with its cheapest key.
std::map<char32_t, KeyPress> directKeys(const std::map<xkb_keysym_t, KeyPress>& bySym) {
    std::map<char32_t, KeyPress> keys;
    for (const auto& [sym, press] : bySym) {
        const char32_t c = characterOf(sym);
        if (c == 0) {
            continue;
        }
        auto it = keys.find(c);
        if (it == keys.end() || cost(press.mods) < cost(it->second.mods)) {
            keys[c] = press;
        }
    }
    return keys;
}

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

using ComposeStatePtr = std::unique_ptr<xkb_compose_state, decltype(&xkb_compose_state_unref)>;

// What a compose state gives for these keysyms fed in order: the character composed, 0 while
// composing or when the sequence composes nothing.
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

struct DeadKeySequence {
    KeyPress dead;
    KeyPress next;
};

// The characters two keys type through the compose table, a dead key first, each with its
// cheapest pair of keys.
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

} // namespace

ModifierKeys findModifierKeys(xkb_keymap* keymap) {
    ModifierKeys found;
    const xkb_keycode_t min = xkb_keymap_min_keycode(keymap);
    const xkb_keycode_t max = xkb_keymap_max_keycode(keymap);
    for (xkb_keycode_t kc = min; kc <= max; ++kc) {
        const xkb_keysym_t* syms = nullptr;
        if (xkb_keymap_num_layouts_for_key(keymap, kc) == 0 ||
            xkb_keymap_key_get_syms_by_level(keymap, kc, 0, 0, &syms) != 1) {
            continue;
        }
        const bool shift = syms[0] == XKB_KEY_Shift_L && found.shiftKeycode == 0;
        const bool level3 = syms[0] == XKB_KEY_ISO_Level3_Shift && found.level3Keycode == 0;
        if (!shift && !level3) {
            continue;
        }
        // The modifiers a key sets are what a fresh state holds while it is down.
        StatePtr state(xkb_state_new(keymap), &xkb_state_unref);
        xkb_state_update_key(state.get(), kc, XKB_KEY_DOWN);
        const std::uint32_t mask = xkb_state_serialize_mods(state.get(), XKB_STATE_MODS_DEPRESSED);
        if (mask == 0) {
            continue;
        }
        if (shift) {
            found.shiftKeycode = kc;
            found.shiftMask = mask;
        } else {
            found.level3Keycode = kc;
            found.level3Mask = mask;
        }
    }
    return found;
}

std::vector<std::uint32_t> findSpareKeycodes(xkb_keymap* keymap) {
    // A key that has no group has no symbol, no type, no action and no behaviour. Its modifier
    // mapping, virtual modifier mapping and explicit components would still show in the
    // symbols section of the keymap's text, under the key's name: it must not appear there.
    std::string symbols;
    if (char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1)) {
        symbols = text;
        std::free(text);
    }
    const auto section = symbols.find("xkb_symbols");
    symbols.erase(0, section == std::string::npos ? symbols.size() : section);

    std::vector<std::uint32_t> spare;
    // Keycode 8 is left alone: some clients treat the lowest keycode specially.
    const xkb_keycode_t min = std::max<xkb_keycode_t>(xkb_keymap_min_keycode(keymap), 9);
    const xkb_keycode_t max = std::min<xkb_keycode_t>(xkb_keymap_max_keycode(keymap), 255);
    for (xkb_keycode_t kc = min; kc <= max; ++kc) {
        if (xkb_keymap_num_layouts_for_key(keymap, kc) != 0) {
            continue;
        }
        const char* name = xkb_keymap_key_get_name(keymap, kc);
        if (name && symbols.find("<" + std::string(name) + ">") != std::string::npos) {
            continue;
        }
        spare.push_back(kc);
    }
    return spare;
}

int spareLevel(const ModifierKeys& modifiers, std::uint32_t mods) {
    return ((mods & modifiers.shiftMask) != 0 ? 1 : 0) +
           (modifiers.level3Mask != 0 && (mods & modifiers.level3Mask) != 0 ? 2 : 0);
}

std::vector<std::uint32_t> keysCarryingBindings(xkb_keymap* keymap, std::uint32_t group,
                                                const ModifierKeys& modifiers) {
    std::vector<std::uint32_t> keys;
    for (const auto& [sym, press] : keysymKeys(keymap, group, modifiers)) {
        const char32_t c = characterOf(sym);
        if (c != 0 && c != U'\n' && c != U'\t' && carriesBinding(keymap, press.keycode, group) &&
            std::find(keys.begin(), keys.end(), press.keycode) == keys.end()) {
            keys.push_back(press.keycode);
        }
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

KeyPlan planKeystrokes(xkb_keymap* keymap, std::uint32_t group, const ModifierKeys& modifiers,
                       const std::vector<std::uint32_t>& spareKeycodes,
                       const KeystrokeScript& script, xkb_compose_table* compose,
                       const PlanOptions& options) {
    KeyPlan plan;
    const std::map<xkb_keysym_t, KeyPress> bySym = keysymKeys(keymap, group, modifiers, options);
    const std::map<char32_t, KeyPress> direct = directKeys(bySym);
    // Worked out at the first character that needs it.
    std::optional<std::map<char32_t, DeadKeySequence>> sequences;
    // Spare levels: plain, Shift when there is a Shift key, AltGr and Shift+AltGr when asked
    // for and there is an AltGr key.
    std::size_t levelsPerSpare =
        modifiers.shiftMask != 0 ? std::clamp<std::size_t>(options.spareLevels, 1, 4) : 1;
    if (levelsPerSpare > 2 && modifiers.level3Mask == 0) {
        levelsPerSpare = 2;
    }
    const std::uint32_t levelMods[4] = {0, modifiers.shiftMask, modifiers.level3Mask,
                                        modifiers.shiftMask | modifiers.level3Mask};
    const std::size_t capacity = spareKeycodes.size() * levelsPerSpare;

    // Each segment's records get room for the whole script at once (a dead key and its base
    // for every character at most): a buffer outgrown would be freed with the characters typed
    // so far in it.
    const std::size_t characters = keyCount(script);
    const auto newSegment = [&] {
        PlanSegment& segment = plan.segments.emplace_back();
        segment.keys.reserve(2 * characters);
        segment.bindings.reserve(spareKeycodes.size());
    };

    std::map<char32_t, KeyPress> lent; // characters bound in the current segment
    newSegment();

    auto lend = [&](char32_t c) -> std::optional<KeyPress> {
        if (auto it = lent.find(c); it != lent.end()) {
            return it->second;
        }
        if (capacity == 0) {
            return std::nullopt;
        }
        if (lent.size() == capacity) {
            newSegment();
            lent.clear();
        }
        const std::size_t slot = lent.size();
        const std::size_t spare = slot / levelsPerSpare;
        const std::size_t level = slot % levelsPerSpare;
        auto& bindings = plan.segments.back().bindings;
        if (level == 0) {
            bindings.push_back(SpareBinding{spareKeycodes[spare], {0, 0, 0, 0}});
        }
        bindings.back().keysyms[level] = keysymFor(c);
        const KeyPress press{spareKeycodes[spare], levelMods[level]};
        lent[c] = press;
        return press;
    };

    auto add = [&](char32_t c) {
        if (auto it = direct.find(c); it != direct.end()) {
            plan.segments.back().keys.push_back(PlannedKey{it->second, c, c == U'\n'});
            return;
        }
        if (keysymFor(c) == 0) {
            if (plan.untypable.find(c) == std::u32string::npos) {
                plan.untypable += c;
            }
            return;
        }
        if (auto press = lend(c)) {
            plan.segments.back().keys.push_back(PlannedKey{*press, c, false});
            return;
        }
        if (compose && !sequences) {
            sequences = deadKeySequences(bySym, compose);
        }
        if (sequences) {
            if (auto it = sequences->find(c); it != sequences->end()) {
                plan.segments.back().keys.push_back(PlannedKey{it->second.dead, c, false, true});
                plan.segments.back().keys.push_back(PlannedKey{it->second.next, c, false});
                return;
            }
        }
        if (plan.untypable.find(c) == std::u32string::npos) {
            plan.untypable += c;
        }
    };

    for (const KeyAction& action : script) {
        switch (action.kind) {
        case KeyAction::Kind::Text:
            for (char32_t c : action.text) {
                add(c);
            }
            break;
        case KeyAction::Kind::Enter:
            add(U'\n');
            break;
        case KeyAction::Kind::Tab:
            add(U'\t');
            break;
        }
    }
    return plan;
}

char32_t translate(xkb_keymap* keymap, std::uint32_t group, const ModifierKeys& modifiers,
                   const std::vector<SpareBinding>& bindings, const KeyPress& press) {
    for (const SpareBinding& b : bindings) {
        if (b.keycode == press.keycode) {
            const int level = spareLevel(modifiers, press.mods);
            return b.keysyms[level] ? characterOf(b.keysyms[level]) : 0;
        }
    }
    StatePtr state(xkb_state_new(keymap), &xkb_state_unref);
    xkb_state_update_mask(state.get(), press.mods, 0, 0, 0, 0, group);
    return characterOf(xkb_state_key_get_one_sym(state.get(), press.keycode));
}

std::u32string typeBack(xkb_keymap* keymap, std::uint32_t group, const ModifierKeys& modifiers,
                        const PlanSegment& segment, xkb_compose_table* compose) {
    std::u32string text;
    ComposeStatePtr state(compose ? xkb_compose_state_new(compose, XKB_COMPOSE_STATE_NO_FLAGS)
                                  : nullptr,
                          &xkb_compose_state_unref);
    StatePtr keys(xkb_state_new(keymap), &xkb_state_unref);
    std::optional<xkb_keysym_t> dead;
    for (const PlannedKey& key : segment.keys) {
        xkb_keysym_t sym = XKB_KEY_NoSymbol;
        bool lent = false;
        for (const SpareBinding& b : segment.bindings) {
            if (b.keycode == key.press.keycode) {
                sym = b.keysyms[spareLevel(modifiers, key.press.mods)];
                lent = true;
            }
        }
        if (!lent) {
            xkb_state_update_mask(keys.get(), key.press.mods, 0, 0, 0, 0, group);
            sym = xkb_state_key_get_one_sym(keys.get(), key.press.keycode);
        }
        if (dead) {
            const char32_t c = state ? composed(state.get(), {*dead, sym}) : 0;
            text += c ? c : U'\uFFFD';
            dead.reset();
        } else if (isDeadSym(sym)) {
            dead = sym;
        } else {
            const char32_t c = characterOf(sym);
            text += c ? c : U'\uFFFD';
        }
    }
    if (dead) {
        text += U'\uFFFD';
    }
    return text;
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

LockKeys keysClearingLocks(xkb_keymap* keymap, std::uint32_t group, std::uint32_t lockedMods) {
    const auto pressed = [&](std::uint32_t locked, std::uint32_t kc) {
        StatePtr state(xkb_state_new(keymap), &xkb_state_unref);
        xkb_state_update_mask(state.get(), 0, 0, locked, 0, 0, group);
        xkb_state_update_key(state.get(), kc, XKB_KEY_DOWN);
        xkb_state_update_key(state.get(), kc, XKB_KEY_UP);
        return xkb_state_serialize_mods(state.get(), XKB_STATE_MODS_LOCKED);
    };
    std::vector<std::uint32_t> candidates;
    std::uint32_t numLock = 0;
    const xkb_keycode_t max = std::min<xkb_keycode_t>(xkb_keymap_max_keycode(keymap), 255);
    for (xkb_keycode_t kc = xkb_keymap_min_keycode(keymap); kc <= max; ++kc) {
        const xkb_keysym_t* syms = nullptr;
        if (xkb_keymap_num_layouts_for_key(keymap, kc) <= group ||
            xkb_keymap_key_get_syms_by_level(keymap, kc, group, 0, &syms) != 1) {
            continue;
        }
        switch (syms[0]) {
        case XKB_KEY_Num_Lock:
            numLock |= pressed(0, kc);
            break;
        case XKB_KEY_Caps_Lock:
        case XKB_KEY_Shift_Lock:
        case XKB_KEY_ISO_Lock:
        case XKB_KEY_ISO_Level3_Lock:
        case XKB_KEY_ISO_Level5_Lock:
            candidates.push_back(kc);
            break;
        default:
            break;
        }
    }
    const std::uint32_t keep = lockedMods & numLock;
    // The shortest presses from one lock state to another, three keys at most.
    const auto path = [&](std::uint32_t from,
                          std::uint32_t to) -> std::optional<std::vector<std::uint32_t>> {
        std::deque<std::pair<std::uint32_t, std::vector<std::uint32_t>>> queue{{from, {}}};
        while (!queue.empty()) {
            auto [locked, keys] = queue.front();
            queue.pop_front();
            if (locked == to) {
                return keys;
            }
            if (keys.size() == 3) {
                continue;
            }
            for (std::uint32_t kc : candidates) {
                auto next = keys;
                next.push_back(kc);
                queue.emplace_back(pressed(locked, kc), std::move(next));
            }
        }
        return std::nullopt;
    };
    LockKeys result;
    if (lockedMods == keep) {
        return result;
    }
    const auto off = path(lockedMods, keep);
    result.cleared = off.has_value();
    if (off) {
        result.off = *off;
        result.on = path(keep, lockedMods).value_or(std::vector<std::uint32_t>{});
    }
    return result;
}

} // namespace tolvane::platform::xkb
