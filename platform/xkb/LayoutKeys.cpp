// The layout's keys: modifiers, spare keys, which key and level types which keysym at what cost.
#include "platform/xkb/LayoutKeys.h"

#include "platform/xkb/Keysyms.h"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace tolvane::platform::xkb {

namespace {

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

} // namespace

std::map<xkb_keysym_t, KeyPress> keysymKeys(xkb_keymap* keymap, std::uint32_t group,
                                            const ModifierKeys& modifiers,
                                            const PlanOptions& options) {
    std::map<xkb_keysym_t, KeyPress> keys;
    const std::uint32_t allowed = modifiers.shiftMask | modifiers.level3Mask;
    const auto consider = [&](xkb_keycode_t kc, std::uint32_t mods, xkb_keysym_t sym) {
        if ((mods & ~allowed) != 0 || isKeypadSym(sym)) {
            return;
        }
        const bool field = sym == XKB_KEY_Return || sym == XKB_KEY_Tab;
        if (!field &&
            ((options.avoidKeysCarryingBindings && carriesBinding(keymap, kc, group)) ||
             (options.readsAsPlanned && !options.readsAsPlanned(KeyPress{kc, mods}, sym)))) {
            return;
        }
        auto it = keys.find(sym);
        if (it == keys.end() || cost(mods) < cost(it->second.mods)) {
            keys[sym] = KeyPress{kc, mods};
        }
    };
    const xkb_keycode_t min = xkb_keymap_min_keycode(keymap);
    // Key codes past 255 are found in Wayland keymaps only (media keys): X clients, XWayland's
    // included, cannot receive them.
    const xkb_keycode_t max = std::min<xkb_keycode_t>(xkb_keymap_max_keycode(keymap), 255);
    StatePtr locked(options.locked ? xkb_state_new(keymap) : nullptr, &xkb_state_unref);
    const std::uint32_t held[4] = {0, modifiers.shiftMask, modifiers.level3Mask, allowed};
    for (xkb_keycode_t kc = min; kc <= max; ++kc) {
        if (kc == modifiers.shiftKeycode || kc == modifiers.level3Keycode ||
            group >= xkb_keymap_num_layouts_for_key(keymap, kc)) {
            continue;
        }
        if (locked) {
            // What the key types with each set of modifiers held, the locks on.
            for (std::size_t i = 0; i < 4; ++i) {
                if (i > 0 && (held[i] == 0 || held[i] == held[i - 1])) {
                    continue;
                }
                xkb_state_update_mask(locked.get(), held[i], 0, options.locked, 0, 0, group);
                const xkb_keysym_t* syms = nullptr;
                if (xkb_state_key_get_syms(locked.get(), kc, &syms) == 1 &&
                    xkb_state_key_get_one_sym(locked.get(), kc) == syms[0]) {
                    consider(kc, held[i], syms[0]);
                }
            }
            continue;
        }
        const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap, kc, group);
        for (xkb_level_index_t level = 0; level < levels; ++level) {
            const xkb_keysym_t* syms = nullptr;
            if (xkb_keymap_key_get_syms_by_level(keymap, kc, group, level, &syms) != 1) {
                continue;
            }
            xkb_mod_mask_t masks[16];
            const std::size_t n =
                xkb_keymap_key_get_mods_for_level(keymap, kc, group, level, masks, 16);
            for (std::size_t i = 0; i < n; ++i) {
                consider(kc, masks[i], syms[0]);
            }
        }
    }
    return keys;
}

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

} // namespace tolvane::platform::xkb
