#include "platform/xkb/KeyPlanner.h"

#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstdlib>
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

// Every character the layout types directly, with its cheapest key.
std::map<char32_t, KeyPress> directKeys(xkb_keymap* keymap, std::uint32_t group,
                                        const ModifierKeys& modifiers) {
    std::map<char32_t, KeyPress> keys;
    const std::uint32_t allowed = modifiers.shiftMask | modifiers.level3Mask;
    const xkb_keycode_t min = xkb_keymap_min_keycode(keymap);
    // Key codes past 255 are found in Wayland keymaps only (media keys): X clients, XWayland's
    // included, cannot receive them.
    const xkb_keycode_t max = std::min<xkb_keycode_t>(xkb_keymap_max_keycode(keymap), 255);
    auto cost = [](std::uint32_t mods) { return __builtin_popcount(mods); };
    for (xkb_keycode_t kc = min; kc <= max; ++kc) {
        if (kc == modifiers.shiftKeycode || kc == modifiers.level3Keycode ||
            group >= xkb_keymap_num_layouts_for_key(keymap, kc)) {
            continue;
        }
        const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap, kc, group);
        for (xkb_level_index_t level = 0; level < levels; ++level) {
            const xkb_keysym_t* syms = nullptr;
            if (xkb_keymap_key_get_syms_by_level(keymap, kc, group, level, &syms) != 1) {
                continue;
            }
            const char32_t c = characterOf(syms[0]);
            if (c == 0) {
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
                auto it = keys.find(c);
                if (it == keys.end() || cost(mods) < cost(it->second.mods)) {
                    keys[c] = KeyPress{kc, mods};
                }
            }
        }
    }
    return keys;
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

KeyPlan planKeystrokes(xkb_keymap* keymap, std::uint32_t group, const ModifierKeys& modifiers,
                       const std::vector<std::uint32_t>& spareKeycodes,
                       const KeystrokeScript& script) {
    KeyPlan plan;
    const std::map<char32_t, KeyPress> direct = directKeys(keymap, group, modifiers);
    // Spare levels: plain, then Shift when there is a Shift key.
    const std::size_t levelsPerSpare = modifiers.shiftMask != 0 ? 2 : 1;
    const std::size_t capacity = spareKeycodes.size() * levelsPerSpare;

    std::map<char32_t, KeyPress> lent; // characters bound in the current segment
    plan.segments.emplace_back();

    auto lend = [&](char32_t c) -> std::optional<KeyPress> {
        if (auto it = lent.find(c); it != lent.end()) {
            return it->second;
        }
        if (capacity == 0) {
            return std::nullopt;
        }
        if (lent.size() == capacity) {
            plan.segments.emplace_back();
            lent.clear();
        }
        const std::size_t slot = lent.size();
        const std::size_t spare = slot / levelsPerSpare;
        const std::size_t level = slot % levelsPerSpare;
        auto& bindings = plan.segments.back().bindings;
        if (level == 0) {
            bindings.push_back(SpareBinding{spareKeycodes[spare], {0, 0}});
        }
        bindings.back().keysyms[level] = keysymFor(c);
        const KeyPress press{spareKeycodes[spare], level == 0 ? 0u : modifiers.shiftMask};
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
        } else if (plan.untypable.find(c) == std::u32string::npos) {
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
            const int level = (press.mods & modifiers.shiftMask) != 0 ? 1 : 0;
            return b.keysyms[level] ? characterOf(b.keysyms[level]) : 0;
        }
    }
    StatePtr state(xkb_state_new(keymap), &xkb_state_unref);
    xkb_state_update_mask(state.get(), press.mods, 0, 0, 0, 0, group);
    return characterOf(xkb_state_key_get_one_sym(state.get(), press.keycode));
}

} // namespace tolvane::platform::xkb
