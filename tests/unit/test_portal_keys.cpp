#include "platform/portal/PortalKeys.h"

#include <xkbcommon/xkbcommon.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using tolvane::platform::KeyAction;
using tolvane::platform::KeystrokeScript;
using tolvane::platform::portal::planPortalKeys;

// A keymap as a compositor hands it to its clients, for the layouts given ("" for none).
std::string keymapText(const char* layouts) {
    if (!*layouts) {
        return {};
    }
    std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(
        xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES), &xkb_context_unref);
    const xkb_rule_names names{"evdev", "pc105", layouts, "", ""};
    std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
        xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS),
        &xkb_keymap_unref);
    char* text = xkb_keymap_get_as_string(keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1);
    std::string result(text);
    free(text);
    return result;
}

// Events written "30+" (key 30 down), "30-" (up), "k61+" (keysym 0x61 down).
std::vector<std::string> events(const tolvane::platform::portal::PortalKeyPlan& plan) {
    std::vector<std::string> out;
    for (const auto& key : plan.keys) {
        char text[24];
        std::snprintf(text, sizeof text, key.keysym ? "k%x%c" : "%u%c", key.value,
                      key.down ? '+' : '-');
        out.emplace_back(text);
    }
    return out;
}

struct PortalKeysCase {
    const char* name;
    const char* layouts;
    KeystrokeScript script;
    std::vector<std::string> events;
    std::u32string untypable;
    bool onLayout;
};

void PrintTo(const PortalKeysCase& c, std::ostream* os) {
    *os << c.name;
}

class PortalKeys : public ::testing::TestWithParam<PortalKeysCase> {};

TEST_P(PortalKeys, EachCharacterIsTheKeysThatTypeItOnTheUsersLayout) {
    const auto& c = GetParam();
    const auto plan = planPortalKeys(keymapText(c.layouts), c.script);
    EXPECT_EQ(events(plan), c.events);
    EXPECT_EQ(plan.untypable, c.untypable);
    EXPECT_EQ(plan.onLayout, c.onLayout);
}

const KeyAction kEnter{KeyAction::Kind::Enter, {}};
const KeyAction kTab{KeyAction::Kind::Tab, {}};

KeyAction text(const char32_t* t) {
    return {KeyAction::Kind::Text, t};
}

// Evdev codes: a 30, b 48, q 16, e 18, 2 3, Tab 15, Enter 28, <> 86, Shift 42, and 84 for
// the key evdev keymaps give ISO_Level3_Shift (AltGr) first.
INSTANTIATE_TEST_SUITE_P(
    Layouts, PortalKeys,
    ::testing::Values(
        PortalKeysCase{"us_shift_tab_enter",
                       "us",
                       {text(U"aB"), kTab, kEnter},
                       {"30+", "30-", "42+", "48+", "48-", "42-", "15+", "15-", "28+", "28-"},
                       U"",
                       true},
        PortalKeysCase{"fr_plain_and_altgr",
                       "fr",
                       {text(U"a<é€")},
                       {"16+", "16-", "86+", "86-", "3+", "3-", "84+", "18+", "18-", "84-"},
                       U"",
                       true},
        // Not on the layout: refused, not left to the desktop to drop.
        PortalKeysCase{"us_lacks_accents", "us", {text(U"aéЖé")}, {}, U"éЖ", true},
        // Without the keymap, or with several layouts, the desktop looks the keysyms up.
        PortalKeysCase{
            "no_keymap", "", {text(U"aé")}, {"k61+", "k61-", "ke9+", "ke9-"}, U"", false},
        PortalKeysCase{"two_layouts", "us,ru", {text(U"Ж")}, {"k6f6+", "k6f6-"}, U"", false},
        // A control character is never typed, on any route.
        PortalKeysCase{"control_character", "us", {text(U"a\b")}, {}, U"\b", false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
