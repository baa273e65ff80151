#include "platform/portal/PortalKeys.h"

#include <xkbcommon/xkbcommon.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using tolvane::platform::KeyAction;
using tolvane::platform::KeystrokeScript;
using tolvane::platform::portal::planPasteKeys;
using tolvane::platform::portal::planPortalKeys;
using tolvane::platform::portal::UserKeyboard;

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

// Events written "30+" (key 30 down), "30-" (up), "k61+" (keysym 0x61 down), "|" before
// each event typing may stop at; the locks given back follow.
std::vector<std::string> events(const tolvane::platform::portal::PortalKeyPlan& plan) {
    std::vector<std::string> out;
    for (const auto* keys : {&plan.keys, &plan.restore}) {
        for (const auto& key : *keys) {
            char text[24];
            std::snprintf(text, sizeof text, key.keysym ? "%sk%x%c" : "%s%u%c",
                          key.startsCharacter ? "|" : "", key.value, key.down ? '+' : '-');
            out.emplace_back(text);
        }
    }
    return out;
}

constexpr std::uint32_t kCapsLock = 0x2; // the Lock modifier, locked

struct PortalKeysCase {
    const char* name;
    const char* layouts;
    KeystrokeScript script;
    std::vector<std::string> events;
    std::u32string untypable;
    bool onLayout;
    std::uint32_t locked = 0; // as the compositor tells the window
    std::uint32_t group = 0;  // the active layout, told
    bool stateKnown = false;
    const char* layoutUnknown = ""; // why the target's layout cannot be told
    const char* error = "";
};

void PrintTo(const PortalKeysCase& c, std::ostream* os) {
    *os << c.name;
}

class PortalKeys : public ::testing::TestWithParam<PortalKeysCase> {};

TEST_P(PortalKeys, EachCharacterIsTheKeysThatTypeItOnTheUsersLayout) {
    const auto& c = GetParam();
    const auto plan = planPortalKeys(
        UserKeyboard{keymapText(c.layouts), c.stateKnown, c.locked, c.group, c.layoutUnknown},
        c.script);
    EXPECT_EQ(events(plan), c.events);
    EXPECT_EQ(plan.error, c.error);
    EXPECT_EQ(plan.untypable, c.untypable);
    EXPECT_EQ(plan.onLayout, c.onLayout);
}

const KeyAction kEnter{KeyAction::Kind::Enter, {}};
const KeyAction kTab{KeyAction::Kind::Tab, {}};

KeyAction text(const char32_t* t) {
    return {KeyAction::Kind::Text, t};
}

// Evdev codes: a 30, b 48, q 16, e 18, 2 3, Tab 15, Enter 28, <> 86, Shift 42, Caps Lock 58,
// the fr dead circumflex 26, and 84 for the key evdev keymaps give ISO_Level3_Shift (AltGr).
INSTANTIATE_TEST_SUITE_P(
    Layouts, PortalKeys,
    ::testing::Values(
        PortalKeysCase{"us_shift_tab_enter",
                       "us",
                       {text(U"aB"), kTab, kEnter},
                       {"|30+", "30-", "|42+", "48+", "48-", "42-", "|15+", "15-", "|28+", "28-"},
                       U"",
                       true},
        PortalKeysCase{"fr_plain_and_altgr",
                       "fr",
                       {text(U"a<é€")},
                       {"|16+", "16-", "|86+", "86-", "|3+", "3-", "|84+", "18+", "18-", "84-"},
                       U"",
                       true},
        // A dead key and the key it composes with: one character, never cut in two.
        PortalKeysCase{"fr_dead_circumflex",
                       "fr",
                       {text(U"êÊ")},
                       {"|26+", "26-", "18+", "18-", "|26+", "26-", "42+", "18+", "18-", "42-"},
                       U"",
                       true},
        // Typed through Caps Lock, which stays on however typing ends; taken off first and
        // put back at the end only when a character would come out changed through it (ç
        // turned into Ç).
        PortalKeysCase{"us_caps_lock_on",
                       "us",
                       {text(U"aB")},
                       {"|42+", "30+", "30-", "42-", "|48+", "48-"},
                       U"",
                       true,
                       kCapsLock,
                       0,
                       true},
        PortalKeysCase{"fr_caps_lock_on_would_change_a_letter",
                       "fr",
                       {text(U"aç")},
                       {"|58+", "58-", "|16+", "16-", "|10+", "10-", "|58+", "58-"},
                       U"",
                       true,
                       kCapsLock,
                       0,
                       true},
        // Not on the layout, not even with its dead keys: refused, not left to the desktop.
        PortalKeysCase{"us_lacks_accents", "us", {text(U"aéЖé")}, {}, U"éЖ", true},
        // Several layouts: the active one, when the window was told which.
        PortalKeysCase{
            "second_layout_active", "us,ru", {text(U"ж")}, {"|39+", "39-"}, U"", true, 0, 1, true},
        // The target's window may get another of the layouts: nothing planned, and why; with a
        // single layout, that one.
        PortalKeysCase{
            "target_layout_unknown", "us,ru", {text(U"a")}, {}, U"", false, 0, 0, true, "?", "?"},
        PortalKeysCase{"target_layout_unknown_of_one",
                       "us",
                       {text(U"a")},
                       {"|30+", "30-"},
                       U"",
                       true,
                       0,
                       0,
                       true,
                       "?"},
        // Without the keymap, or with several layouts and the active one untold, the desktop
        // looks the keysyms up.
        PortalKeysCase{
            "no_keymap", "", {text(U"aé")}, {"|k61+", "k61-", "|ke9+", "ke9-"}, U"", false},
        PortalKeysCase{
            "two_layouts_untold", "us,ru", {text(U"Ж")}, {"|k6f6+", "k6f6-"}, U"", false},
        // A control character is never typed, on any route.
        PortalKeysCase{"control_character", "us", {text(U"a\b")}, {}, U"\b", false}),
    [](const auto& info) { return std::string(info.param.name); });

// Ctrl+V on the layout: the key of "v" on the active layout, else on another of the keymap's.
TEST(PortalPaste, ControlAndTheKeyOfV) {
    struct Case {
        const char* layouts;
        std::uint32_t group;
        std::vector<std::string> events;
    };
    for (const Case& c : {Case{"us", 0, {"|29+", "47+", "47-", "29-"}},
                          Case{"fr", 0, {"|29+", "47+", "47-", "29-"}},
                          Case{"us,ru", 1, {"|29+", "47+", "47-", "29-"}}, Case{"ru", 0, {}}}) {
        const auto plan = planPasteKeys(UserKeyboard{keymapText(c.layouts), true, 0, c.group});
        EXPECT_EQ(events(plan), c.events) << c.layouts;
        EXPECT_EQ(plan.error.empty(), !c.events.empty()) << c.layouts;
    }
}

} // namespace
