// The keystroke planner on arbitrary Unicode against the us, fr and de keymaps: every planned
// key types back its own character, and together they type the script, less what no key can.
#include "FuzzSupport.h"

#include "delivery/Scripts.h"
#include "platform/xkb/KeyPlanner.h"

#include <xkbcommon/xkbcommon.h>

#include <array>

using namespace tolvane;

namespace {

struct Layout {
    xkb_keymap* keymap = nullptr;
    platform::xkb::ModifierKeys modifiers;
    std::vector<std::uint32_t> spares;
};

const std::array<Layout, 3>& layouts() {
    static const std::array<Layout, 3> all = [] {
        std::array<Layout, 3> out;
        xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        const char* names[] = {"us", "fr", "de"};
        for (std::size_t i = 0; i < out.size(); ++i) {
            const xkb_rule_names rules{"evdev", "pc105", names[i], "", ""};
            out[i].keymap = xkb_keymap_new_from_names(context, &rules, XKB_KEYMAP_COMPILE_NO_FLAGS);
            fuzz::check(out[i].keymap != nullptr, "a keymap did not compile");
            out[i].modifiers = platform::xkb::findModifierKeys(out[i].keymap);
            out[i].spares = platform::xkb::findSpareKeycodes(out[i].keymap);
        }
        return out;
    }();
    return all;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const Layout& layout = layouts()[data[0] % 3];
    platform::KeystrokeScript script;
    delivery::appendLiteral(script, fuzz::decode(data + 1, size - 1));

    const auto plan =
        platform::xkb::planKeystrokes(layout.keymap, 0, layout.modifiers, layout.spares, script);
    std::u32string typed;
    for (const auto& segment : plan.segments) {
        fuzz::check(segment.bindings.size() <= layout.spares.size(), "too many spare keys");
        for (const auto& key : segment.keys) {
            const char32_t back = platform::xkb::translate(layout.keymap, 0, layout.modifiers,
                                                           segment.bindings, key.press);
            fuzz::check(back == key.character, "a key does not type its character");
            typed += key.character;
        }
    }
    std::u32string expected;
    for (char32_t c : delivery::typedText(script)) {
        if (plan.untypable.find(c) == std::u32string::npos) {
            expected += c;
        }
    }
    fuzz::check(typed == expected, "the keys do not type the script");
    return 0;
}
