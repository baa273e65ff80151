#include "platform/wayland/VirtualKeymap.h"

#include <xkbcommon/xkbcommon.h>

#include <map>

namespace tolvane::platform::wayland {

namespace {

constexpr std::uint32_t kFirstKeycode = 9; // XKB keycode; evdev = XKB - 8

std::uint32_t keysymOf(char32_t c) {
    switch (c) {
    case U'\n':
    case U'\r':
        return XKB_KEY_Return;
    case U'\t':
        return XKB_KEY_Tab;
    default:
        return mayBeTyped(c) ? xkb_utf32_to_keysym(static_cast<std::uint32_t>(c))
                             : XKB_KEY_NoSymbol;
    }
}

std::string keysymName(std::uint32_t keysym) {
    char name[64] = {};
    xkb_keysym_get_name(keysym, name, sizeof name);
    return name;
}

// A keymap where keycode 9 + i gives the i-th keysym on its only level.
std::string keymapText(const std::vector<std::uint32_t>& keysyms) {
    const std::uint32_t last = kFirstKeycode + static_cast<std::uint32_t>(keysyms.size()) - 1;
    std::string text = "xkb_keymap {\nxkb_keycodes \"tolvane\" {\n    minimum = 8;\n"
                       "    maximum = " +
                       std::to_string(std::max(last, kFirstKeycode)) + ";\n";
    for (std::size_t i = 0; i < keysyms.size(); ++i) {
        text += "    <K" + std::to_string(i) + "> = " + std::to_string(kFirstKeycode + i) + ";\n";
    }
    text += "};\nxkb_types \"tolvane\" { include \"complete\" };\n"
            "xkb_compatibility \"tolvane\" { include \"complete\" };\n"
            "xkb_symbols \"tolvane\" {\n";
    for (std::size_t i = 0; i < keysyms.size(); ++i) {
        text += "    key <K" + std::to_string(i) + "> { type = \"ONE_LEVEL\", [ " +
                keysymName(keysyms[i]) + " ] };\n";
    }
    text += "};\n};\n";
    return text;
}

} // namespace

VirtualKeyPlan planVirtualKeys(const KeystrokeScript& script, std::size_t keysPerKeymap) {
    VirtualKeyPlan plan;
    const std::u32string typed = typedText(script);
    for (char32_t c : typed) {
        if (keysymOf(c) == XKB_KEY_NoSymbol && plan.untypable.find(c) == std::u32string::npos) {
            plan.untypable += c;
        }
    }
    if (!plan.untypable.empty() || typed.empty()) {
        return plan;
    }

    std::map<char32_t, std::uint32_t> keycodes; // of the segment being built
    std::vector<std::uint32_t> keysyms;
    VirtualKeymapSegment segment;
    const auto close = [&] {
        segment.keymap = keymapText(keysyms);
        plan.segments.push_back(std::move(segment));
        segment = {};
        keycodes.clear();
        keysyms.clear();
    };
    for (char32_t c : typed) {
        auto found = keycodes.find(c);
        if (found == keycodes.end()) {
            if (keysyms.size() == keysPerKeymap) {
                close();
            }
            const auto keycode = kFirstKeycode + static_cast<std::uint32_t>(keysyms.size());
            keysyms.push_back(keysymOf(c));
            found = keycodes.emplace(c, keycode).first;
        }
        segment.keys.push_back(VirtualKey{found->second - 8, c});
    }
    close();
    return plan;
}

} // namespace tolvane::platform::wayland
