// The plan: which keys, in which segments with which spare keys lent, type a script.
#include "platform/xkb/KeyPlanner.h"

#include "platform/Wipe.h"
#include "platform/xkb/DeadKeys.h"
#include "platform/xkb/Keysyms.h"
#include "platform/xkb/LayoutKeys.h"

#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>

namespace tolvane::platform::xkb {

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

    // Characters bound in the current segment: characters of the passwords.
    WipedMap<char32_t, KeyPress> lent;
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
        // Every spare key's plain level first, then their Shift levels, then AltGr: a character
        // on a plain level costs no modifier press and release around it.
        const std::size_t slot = lent.size();
        const std::size_t spare = slot % spareKeycodes.size();
        const std::size_t level = slot / spareKeycodes.size();
        auto& bindings = plan.segments.back().bindings;
        if (level == 0) {
            bindings.push_back(SpareBinding{spareKeycodes[spare], {0, 0, 0, 0}});
        }
        bindings[spare].keysyms[level] = keysymFor(c);
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
                        const PlanSegment& segment, xkb_compose_table* compose,
                        std::uint32_t locked) {
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
            xkb_state_update_mask(keys.get(), key.press.mods, 0, locked, 0, 0, group);
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

} // namespace tolvane::platform::xkb
