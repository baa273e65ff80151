#include "platform/session/KeystrokeBackend.h"
#include "platform/wayland/VirtualKeymap.h"

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon.h>

#include <memory>

using namespace tolvane::platform;

namespace {

KeystrokeScript textLine(std::u32string text) {
    return {KeyAction{KeyAction::Kind::Text, std::move(text)}, KeyAction{KeyAction::Kind::Tab, {}},
            KeyAction{KeyAction::Kind::Text, U"x"}, KeyAction{KeyAction::Kind::Enter, {}}};
}

// What each planned key types once its segment's keymap is compiled as a client compiles it.
std::u32string typedBack(const wayland::VirtualKeyPlan& plan) {
    std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(
        xkb_context_new(XKB_CONTEXT_NO_FLAGS), xkb_context_unref);
    std::u32string out;
    for (const auto& segment : plan.segments) {
        std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
            xkb_keymap_new_from_string(context.get(), segment.keymap.c_str(),
                                       XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS),
            xkb_keymap_unref);
        EXPECT_TRUE(keymap) << segment.keymap;
        if (!keymap) {
            return out;
        }
        std::unique_ptr<xkb_state, decltype(&xkb_state_unref)> state(xkb_state_new(keymap.get()),
                                                                     xkb_state_unref);
        for (const auto& key : segment.keys) {
            const xkb_keysym_t sym = xkb_state_key_get_one_sym(state.get(), key.evdev + 8);
            out += sym == XKB_KEY_Return ? U'\n'
                   : sym == XKB_KEY_Tab  ? U'\t'
                                         : static_cast<char32_t>(xkb_keysym_to_utf32(sym));
        }
    }
    return out;
}

struct KeymapCase {
    const char* name;
    std::u32string text;
    std::size_t keysPerKeymap;
    std::size_t segments;
};

class VirtualKeymaps : public ::testing::TestWithParam<KeymapCase> {};

TEST_P(VirtualKeymaps, EveryKeyTypesItsCharacterWithoutModifiers) {
    const auto& c = GetParam();
    const auto plan = wayland::planVirtualKeys(textLine(c.text), c.keysPerKeymap);
    EXPECT_TRUE(plan.untypable.empty());
    EXPECT_EQ(plan.segments.size(), c.segments);
    EXPECT_EQ(typedBack(plan), c.text + U"\tx\n");
}

std::u32string manyCharacters() {
    std::u32string text;
    for (char32_t c = 0x4E00; c < 0x4E00 + 600; ++c) {
        text += c;
    }
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, VirtualKeymaps,
    ::testing::Values(
        KeymapCase{
            "AllClasses",
            U"0123456789AZERTYazerty+/=*^><²³.,%éèàâêûîôÄËÜÏÖäëüïöÂÊÛÎÔ&|@#'(§!çà)_¨$[]£%µ`~;"
            U":\\€{} ",
            wayland::kKeysPerKeymap, 1},
        KeymapCase{"NamesInFourScripts", U"Жанна Ελένη 李雷 ÉLODIE ŀ", wayland::kKeysPerKeymap, 1},
        KeymapCase{"MoreCharactersThanKeycodes", manyCharacters(), wayland::kKeysPerKeymap, 3},
        KeymapCase{"SmallKeymapsCutOften", U"abcdefabc", 3, 4}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VirtualKeymaps, ACharacterWithoutKeysymTypesNothing) {
    const auto plan = wayland::planVirtualKeys(textLine(U"a\U0010FFFFb"));
    EXPECT_EQ(plan.untypable, U"\U0010FFFF");
    EXPECT_TRUE(plan.segments.empty());
}

TEST(DisplayServers, WaylandWhenTheSessionSaysSo) {
    using session::DisplayServer;
    struct Case {
        const char* waylandDisplay;
        const char* sessionType;
        DisplayServer expected;
    };
    for (const Case& c :
         {Case{nullptr, nullptr, DisplayServer::X11}, Case{"", "x11", DisplayServer::X11},
          Case{"wayland-0", nullptr, DisplayServer::Wayland},
          Case{nullptr, "wayland", DisplayServer::Wayland},
          Case{"wayland-1", "x11", DisplayServer::Wayland}}) {
        EXPECT_EQ(session::detectDisplayServer(c.waylandDisplay, c.sessionType), c.expected)
            << (c.waylandDisplay ? c.waylandDisplay : "-") << " "
            << (c.sessionType ? c.sessionType : "-");
    }
}

} // namespace
