#include "platform/portal/PortalKeys.h"

#include "platform/Wipe.h"
#include "platform/portal/PortalProtocol.h"
#include "platform/xkb/KeyPlanner.h"

#include <xkbcommon/xkbcommon.h>

#include <memory>

namespace tolvane::platform::portal {

namespace {

constexpr std::uint32_t kEvdevOffset = 8; // XKB key codes are evdev codes plus 8

using KeymapPtr = std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)>;

KeymapPtr compile(const std::string& text) {
    std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(
        xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES), &xkb_context_unref);
    if (!context || text.empty()) {
        return {nullptr, &xkb_keymap_unref};
    }
    return {xkb_keymap_new_from_string(context.get(), text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                       XKB_KEYMAP_COMPILE_NO_FLAGS),
            &xkb_keymap_unref};
}

PortalKeyPlan byKeysym(const KeystrokeScript& script) {
    KeysymPlan keysyms = planKeysyms(script);
    PortalKeyPlan plan;
    plan.untypable = keysyms.untypable;
    for (const std::uint32_t keysym : keysyms.keysyms) {
        plan.keys.push_back({true, keysym, true});
        plan.keys.push_back({true, keysym, false});
    }
    wipeRecords(keysyms.keysyms);
    return plan;
}

} // namespace

PortalKeyPlan planPortalKeys(const std::string& keymapText, const KeystrokeScript& script) {
    // Control characters are never typed, whatever the route.
    PortalKeyPlan plan = byKeysym(script);
    const KeymapPtr keymap = compile(keymapText);
    if (!plan.untypable.empty() || !keymap || xkb_keymap_num_layouts(keymap.get()) != 1) {
        return plan;
    }
    wipeRecords(plan.keys);
    plan.onLayout = true;
    const xkb::ModifierKeys modifiers = xkb::findModifierKeys(keymap.get());
    xkb::KeyPlan keys = xkb::planKeystrokes(keymap.get(), 0, modifiers, {}, script);
    plan.untypable = keys.untypable;
    if (plan.untypable.empty()) {
        const std::pair<std::uint32_t, std::uint32_t> held[] = {
            {modifiers.shiftMask, modifiers.shiftKeycode},
            {modifiers.level3Mask, modifiers.level3Keycode}};
        for (const xkb::PlanSegment& segment : keys.segments) {
            for (const xkb::PlannedKey& key : segment.keys) {
                for (auto [mask, keycode] : held) {
                    if (mask && (key.press.mods & mask)) {
                        plan.keys.push_back({false, keycode - kEvdevOffset, true});
                    }
                }
                plan.keys.push_back({false, key.press.keycode - kEvdevOffset, true});
                plan.keys.push_back({false, key.press.keycode - kEvdevOffset, false});
                for (auto it = std::rbegin(held); it != std::rend(held); ++it) {
                    if (it->first && (key.press.mods & it->first)) {
                        plan.keys.push_back({false, it->second - kEvdevOffset, false});
                    }
                }
            }
        }
    }
    for (xkb::PlanSegment& segment : keys.segments) {
        wipeRecords(segment.keys);
    }
    wipe(keys.untypable);
    return plan;
}

} // namespace tolvane::platform::portal
