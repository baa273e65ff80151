// Lock keys: the keys that take the locks off for a delivery and put them back afterwards.
#include "platform/xkb/KeyPlanner.h"

#include "platform/xkb/LayoutKeys.h"

#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <deque>
#include <optional>
#include <utility>

namespace tolvane::platform::xkb {

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
