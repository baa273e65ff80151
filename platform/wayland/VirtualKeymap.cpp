#include "platform/wayland/VirtualKeymap.h"

#include "platform/Wipe.h"

#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <optional>
#include <set>

namespace tolvane::platform::wayland {

namespace {

// XKB keycodes are evdev codes + 8.
constexpr std::uint32_t kXkbOffset = 8;
// Return, Tab and the blank on their own keys (evdev KEY_ENTER, KEY_TAB, KEY_SPACE), as on a
// keyboard. Programs read a shifted key by its plain symbol where its own has no meaning to
// them (LibreOffice's shortcuts): a character with Shift on the key of the blank would be
// Shift+Space, which Calc takes for "select the row", dropping the character that starts a cell.
struct OwnKey {
    char32_t character;
    std::uint32_t evdev;
    xkb_keysym_t keysym;
};
constexpr OwnKey kOwnKeys[] = {
    {U'\n', 28, XKB_KEY_Return}, {U'\t', 15, XKB_KEY_Tab}, {U' ', 57, XKB_KEY_space}};

// The key of its own a character has (a carriage return is Return); none for the others.
const OwnKey* ownKeyOf(char32_t c) {
    for (const OwnKey& key : kOwnKeys) {
        if (key.character == (c == U'\r' ? U'\n' : c)) {
            return &key;
        }
    }
    return nullptr;
}

// The keys that carry characters (evdev codes): the writing area (digits to Equal, Q to the
// right bracket, A to Grave, Backslash to Slash, the key beside the left Shift), then the
// keypad (its star, 7 to the dot, its slash, equal and comma).
constexpr std::uint32_t kCharacterKeys[] = {
    2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 16, 17, 18, 19, 20, 21, 22, 23,  24, 25,
    26, 27, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 43, 44, 45, 46, 47, 48,  49, 50,
    51, 52, 53, 86, 55, 71, 72, 73, 74, 75, 76, 77, 78, 79, 80, 81, 82, 83, 98, 117, 121};
static_assert(kKeysPerKeymap == std::size(kOwnKeys) + 2 * std::size(kCharacterKeys));

// Where the i-th character after Return, Tab and the blank stands: its key, and whether with Shift.
VirtualKey slot(std::size_t i, char32_t c) {
    return VirtualKey{kCharacterKeys[i / 2], i % 2 == 1, c};
}

std::uint32_t keysymOf(char32_t c) {
    if (const OwnKey* own = ownKeyOf(c)) {
        return own->keysym;
    }
    return mayBeTyped(c) ? xkb_utf32_to_keysym(static_cast<std::uint32_t>(c)) : XKB_KEY_NoSymbol;
}

std::string keysymName(std::uint32_t keysym) {
    char name[64] = {};
    xkb_keysym_get_name(keysym, name, sizeof name);
    return name;
}

// A keymap with Return, Tab and the blank on their keys, and the i-th other keysym on slot(i).
std::string keymapText(const std::vector<std::uint32_t>& keysyms) {
    std::string keycodes;
    std::string symbols;
    const auto key = [&](std::uint32_t evdev, const std::string& levels, bool two) {
        const std::string name = "<K" + std::to_string(evdev) + ">";
        keycodes += "    " + name + " = " + std::to_string(evdev + kXkbOffset) + ";\n";
        symbols += "    key " + name + " { type = \"" + (two ? "TWO_LEVEL" : "ONE_LEVEL") +
                   "\", [ " + levels + " ] };\n";
    };
    for (const OwnKey& own : kOwnKeys) {
        key(own.evdev, keysymName(own.keysym), false);
    }
    for (std::size_t i = 0; i < keysyms.size(); i += 2) {
        const bool two = i + 1 < keysyms.size();
        key(slot(i, 0).evdev,
            keysymName(keysyms[i]) + (two ? ", " + keysymName(keysyms[i + 1]) : std::string()),
            two);
    }
    return "xkb_keymap {\nxkb_keycodes \"tolvane\" {\n    minimum = 8;\n    maximum = 255;\n" +
           keycodes +
           "};\nxkb_types \"tolvane\" { include \"complete\" };\n"
           "xkb_compatibility \"tolvane\" { include \"complete\" };\n"
           "xkb_symbols \"tolvane\" {\n" +
           symbols + "};\n};\n";
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

    // Return, Tab and the blank stand first on every keymap, then the alphabet, then the room left
    // for the script's other characters, each set in code point order.
    const auto isKey = [](char32_t c) { return ownKeyOf(c) != nullptr; };
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
    constexpr std::size_t kFirst = std::size(kOwnKeys);
    keysPerKeymap = std::clamp(keysPerKeymap, kFirst + 1, kKeysPerKeymap);
    if (kFirst + always.size() >= keysPerKeymap) {
        // An alphabet that leaves no room: everything is laid out in code point order.
        others.insert(always.begin(), always.end());
        always.clear();
    }
    const std::u32string fixed(always.begin(), always.end());
    const std::u32string rest(others.begin(), others.end());
    const std::size_t room = keysPerKeymap - kFirst - fixed.size();

    const auto keymapOf = [&](std::size_t part) {
        std::vector<std::uint32_t> keysyms;
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
    const auto keyOf = [&](char32_t c) {
        if (const OwnKey* own = ownKeyOf(c)) {
            return VirtualKey{own->evdev, false, c};
        }
        if (const auto at = fixed.find(c); at != std::u32string::npos) {
            return slot(at, c);
        }
        return slot(fixed.size() + rest.find(c) % room, c);
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
        segment.keys.push_back(keyOf(c));
    }
    segment.keymap = keymapOf(part);
    plan.segments.push_back(std::move(segment));
    return plan;
}

} // namespace tolvane::platform::wayland
