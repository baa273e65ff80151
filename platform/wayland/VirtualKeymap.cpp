#include "platform/wayland/VirtualKeymap.h"

#include "platform/Wipe.h"

#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <optional>
#include <set>

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

VirtualKeyPlan planVirtualKeys(const KeystrokeScript& script, std::u32string_view alphabet,
                               std::size_t keysPerKeymap) {
    VirtualKeyPlan plan;
    std::u32string typed = typedText(script);
    // It holds every password: wiped however planning ends.
    struct Wiper {
        std::u32string& text;
        ~Wiper() { wipe(text); }
    } wiper{typed};
    for (char32_t c : typed) {
        if (keysymOf(c) == XKB_KEY_NoSymbol && plan.untypable.find(c) == std::u32string::npos) {
            plan.untypable += c;
        }
    }
    if (!plan.untypable.empty() || typed.empty()) {
        return plan;
    }

    // Return and Tab stand first on every keymap, then the alphabet, then the room left for the
    // script's other characters, each set in code point order.
    const auto isKey = [](char32_t c) { return c == U'\n' || c == U'\r' || c == U'\t'; };
    std::set<char32_t> always;
    for (char32_t c : alphabet) {
        if (!isKey(c) && keysymOf(c) != XKB_KEY_NoSymbol) {
            always.insert(c);
        }
    }
    std::set<char32_t> others;
    for (char32_t c : typed) {
        if (!isKey(c) && !always.contains(c)) {
            others.insert(c);
        }
    }
    constexpr std::size_t kFirst = 2; // Return, Tab
    keysPerKeymap = std::max(keysPerKeymap, kFirst + 1);
    if (kFirst + always.size() >= keysPerKeymap) {
        // An alphabet that leaves no room: everything is laid out in code point order.
        others.insert(always.begin(), always.end());
        always.clear();
    }
    const std::u32string fixed(always.begin(), always.end());
    const std::u32string rest(others.begin(), others.end());
    const std::size_t room = keysPerKeymap - kFirst - fixed.size();

    const auto keymapOf = [&](std::size_t part) {
        std::vector<std::uint32_t> keysyms{XKB_KEY_Return, XKB_KEY_Tab};
        for (char32_t c : fixed) {
            keysyms.push_back(keysymOf(c));
        }
        for (char32_t c : std::u32string_view(rest).substr(part * room, room)) {
            keysyms.push_back(keysymOf(c));
        }
        return keymapText(keysyms);
    };
    // The keymap a character needs, when only one of them has it.
    const auto partOf = [&](char32_t c) -> std::optional<std::size_t> {
        if (const auto at = rest.find(c); !isKey(c) && at != std::u32string::npos) {
            return at / room;
        }
        return std::nullopt;
    };
    const auto keycodeOf = [&](char32_t c) -> std::uint32_t {
        if (isKey(c)) {
            return kFirstKeycode + (c == U'\t' ? 1 : 0);
        }
        if (const auto at = fixed.find(c); at != std::u32string::npos) {
            return kFirstKeycode + static_cast<std::uint32_t>(kFirst + at);
        }
        return kFirstKeycode +
               static_cast<std::uint32_t>(kFirst + fixed.size() + rest.find(c) % room);
    };

    std::size_t part = 0;
    for (char32_t c : typed) {
        if (const auto needed = partOf(c)) {
            part = *needed;
            break;
        }
    }
    // Room for every key at once: a buffer outgrown would be freed with the keys typed so far.
    VirtualKeymapSegment segment;
    segment.keys.reserve(typed.size());
    for (char32_t c : typed) {
        if (const auto needed = partOf(c); needed && *needed != part) {
            segment.keymap = keymapOf(part);
            plan.segments.push_back(std::move(segment));
            segment = {};
            segment.keys.reserve(typed.size());
            part = *needed;
        }
        segment.keys.push_back(VirtualKey{keycodeOf(c) - 8, c});
    }
    segment.keymap = keymapOf(part);
    plan.segments.push_back(std::move(segment));
    return plan;
}

} // namespace tolvane::platform::wayland
