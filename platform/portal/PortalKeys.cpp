#include "platform/portal/PortalKeys.h"

#include "platform/Wipe.h"
#include "platform/portal/PortalProtocol.h"
#include "platform/xkb/KeyPlanner.h"

#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon.h>

#include <functional>
#include <memory>

namespace tolvane::platform::portal {

namespace {

constexpr std::uint32_t kEvdevOffset = 8; // XKB key codes are evdev codes plus 8

using ContextPtr = std::unique_ptr<xkb_context, decltype(&xkb_context_unref)>;
using KeymapPtr = std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)>;
using ComposePtr = std::unique_ptr<xkb_compose_table, decltype(&xkb_compose_table_unref)>;

KeymapPtr compile(xkb_context* context, const std::string& text) {
    if (!context || text.empty()) {
        return {nullptr, &xkb_keymap_unref};
    }
    return {xkb_keymap_new_from_string(context, text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                       XKB_KEYMAP_COMPILE_NO_FLAGS),
            &xkb_keymap_unref};
}

// Keys of this keymap would type another layout's characters than those planned.
bool layoutUnknown(const UserKeyboard& keyboard, xkb_keymap* keymap, PortalKeyPlan& plan) {
    if (keyboard.layoutUnknown.empty() || !keymap || xkb_keymap_num_layouts(keymap) < 2) {
        return false;
    }
    wipeRecords(plan.keys);
    plan.error = keyboard.layoutUnknown;
    return true;
}

PortalKeyPlan byKeysym(const KeystrokeScript& script) {
    KeysymPlan keysyms = planKeysyms(script);
    PortalKeyPlan plan;
    plan.untypable = keysyms.untypable;
    plan.keys.reserve(keysyms.keysyms.size() * 2);
    for (const std::uint32_t keysym : keysyms.keysyms) {
        plan.keys.push_back({true, keysym, true, true});
        plan.keys.push_back({true, keysym, false, false});
    }
    wipeRecords(keysyms.keysyms);
    return plan;
}

// Events of the user's layout: the locks given taken off, the presses the caller adds, the locks
// put back. False, with the error set, when a lock cannot be taken off.
bool onLayout(const UserKeyboard& keyboard, std::uint32_t lockedOff, xkb_keymap* keymap,
              PortalKeyPlan& plan, const std::function<void(std::vector<PortalKey>&)>& presses) {
    const xkb::LockKeys locks = xkb::keysClearingLocks(keymap, keyboard.group, lockedOff);
    if (!locks.cleared) {
        plan.error = "Un verrouillage du clavier (majuscules ou niveau) est actif et aucune "
                     "touche de la disposition ne le lève : désactivez-le, puis générez à "
                     "nouveau. Rien n'a été tapé.";
        return false;
    }
    const auto toggle = [&](const std::vector<std::uint32_t>& keycodes,
                            std::vector<PortalKey>& out) {
        // Taken off or given back whole: typing stops only before the first of them.
        for (std::uint32_t kc : keycodes) {
            out.push_back({false, kc - kEvdevOffset, true, out.empty()});
            out.push_back({false, kc - kEvdevOffset, false, false});
        }
    };
    toggle(locks.off, plan.keys);
    plan.lockEvents = plan.keys.size();
    presses(plan.keys);
    toggle(locks.on, plan.restore);
    plan.onLayout = true;
    return true;
}

} // namespace

PortalKeyPlan planPortalKeys(const UserKeyboard& keyboard, const KeystrokeScript& script) {
    // Control characters are never typed, whatever the route.
    PortalKeyPlan plan = byKeysym(script);
    const ContextPtr context(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES), &xkb_context_unref);
    const KeymapPtr keymap = compile(context.get(), keyboard.keymap);
    if (layoutUnknown(keyboard, keymap.get(), plan) || !plan.untypable.empty() || !keymap ||
        (xkb_keymap_num_layouts(keymap.get()) != 1 && !keyboard.stateKnown) ||
        keyboard.group >= xkb_keymap_num_layouts(keymap.get())) {
        return plan;
    }
    wipeRecords(plan.keys);
    const ComposePtr compose(xkb::composeTableOfLocale(context.get()), &xkb_compose_table_unref);
    const xkb::ModifierKeys modifiers = xkb::findModifierKeys(keymap.get());
    // Typed through the locks, which then stay as the person set them however typing ends
    // (the desktop may end the session before they could be given back); taken off around
    // the typing only where some character cannot be typed through them.
    xkb::PlanOptions throughLocks;
    throughLocks.locked = keyboard.stateKnown ? keyboard.locked : 0;
    xkb::KeyPlan keys = xkb::planKeystrokes(keymap.get(), keyboard.group, modifiers, {}, script,
                                            compose.get(), throughLocks);
    std::uint32_t lockedOff = 0;
    if (!keys.untypable.empty() && throughLocks.locked) {
        for (xkb::PlanSegment& segment : keys.segments) {
            wipeRecords(segment.keys);
        }
        wipe(keys.untypable);
        keys =
            xkb::planKeystrokes(keymap.get(), keyboard.group, modifiers, {}, script, compose.get());
        lockedOff = keyboard.locked;
    }
    plan.untypable = keys.untypable;
    if (plan.untypable.empty()) {
        onLayout(keyboard, lockedOff, keymap.get(), plan, [&](std::vector<PortalKey>& out) {
            const std::pair<std::uint32_t, std::uint32_t> held[] = {
                {modifiers.shiftMask, modifiers.shiftKeycode},
                {modifiers.level3Mask, modifiers.level3Keycode}};
            std::size_t total = 0;
            for (const xkb::PlanSegment& segment : keys.segments) {
                total += segment.keys.size();
            }
            out.reserve(out.size() + total * 6 + 8);
            bool inSequence = false;
            for (const xkb::PlanSegment& segment : keys.segments) {
                for (const xkb::PlannedKey& key : segment.keys) {
                    bool first = !inSequence;
                    const bool composing = key.composing;
                    for (auto [mask, keycode] : held) {
                        if (mask && (key.press.mods & mask)) {
                            out.push_back(
                                {false, keycode - kEvdevOffset, true, first, first && composing});
                            first = false;
                        }
                    }
                    out.push_back(
                        {false, key.press.keycode - kEvdevOffset, true, first, first && composing});
                    out.push_back({false, key.press.keycode - kEvdevOffset, false, false});
                    for (auto it = std::rbegin(held); it != std::rend(held); ++it) {
                        if (it->first && (key.press.mods & it->first)) {
                            out.push_back({false, it->second - kEvdevOffset, false, false});
                        }
                    }
                    inSequence = key.composing;
                }
            }
        });
    } else {
        plan.onLayout = true;
    }
    for (xkb::PlanSegment& segment : keys.segments) {
        wipeRecords(segment.keys);
    }
    wipe(keys.untypable);
    return plan;
}

PortalKeyPlan planPasteKeys(const UserKeyboard& keyboard) {
    PortalKeyPlan plan;
    const ContextPtr context(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES), &xkb_context_unref);
    const KeymapPtr keymap = compile(context.get(), keyboard.keymap);
    const std::string noShortcut = "Le raccourci de collage (Ctrl+V) ne peut pas être tapé "
                                   "avec la disposition du clavier en service : rien n'a été "
                                   "collé.";
    if (layoutUnknown(keyboard, keymap.get(), plan)) {
        return plan;
    }
    if (!keymap || keyboard.group >= xkb_keymap_num_layouts(keymap.get())) {
        plan.error = noShortcut;
        return plan;
    }
    // The key that gives "v" on the active layout, else the one that gives it on another layout
    // of the keymap, which toolkits take for the shortcut on a layout without Latin letters.
    std::uint32_t control = 0, v = 0;
    const xkb_keycode_t max = std::min<xkb_keycode_t>(xkb_keymap_max_keycode(keymap.get()), 255);
    for (xkb_layout_index_t pass = 0; pass < 2 && !v; ++pass) {
        for (xkb_keycode_t kc = xkb_keymap_min_keycode(keymap.get()); kc <= max; ++kc) {
            const xkb_layout_index_t layouts = xkb_keymap_num_layouts_for_key(keymap.get(), kc);
            for (xkb_layout_index_t g = 0; g < layouts; ++g) {
                if ((pass == 0) != (g == keyboard.group)) {
                    continue;
                }
                const xkb_keysym_t* syms = nullptr;
                if (xkb_keymap_key_get_syms_by_level(keymap.get(), kc, g, 0, &syms) != 1) {
                    continue;
                }
                if (syms[0] == XKB_KEY_Control_L && !control) {
                    control = kc;
                }
                if (syms[0] == XKB_KEY_v && !v) {
                    v = kc;
                }
            }
        }
    }
    if (!control || !v) {
        plan.error = noShortcut;
        return plan;
    }
    onLayout(keyboard, keyboard.locked, keymap.get(), plan, [&](std::vector<PortalKey>& out) {
        out.push_back({false, control - kEvdevOffset, true, true});
        out.push_back({false, v - kEvdevOffset, true, false});
        out.push_back({false, v - kEvdevOffset, false, false});
        out.push_back({false, control - kEvdevOffset, false, false});
    });
    return plan;
}

} // namespace tolvane::platform::portal
