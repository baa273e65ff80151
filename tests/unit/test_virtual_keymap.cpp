#include "delivery/Scripts.h"
#include "platform/Typing.h"
#include "platform/session/KeystrokeBackend.h"
#include "platform/wayland/CompositorSession.h"
#include "platform/wayland/VirtualKeymap.h"
#include "platform/wayland/WaylandKeystrokeInjector.h"

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace tolvane::platform;
namespace delivery = tolvane::delivery;

namespace {

KeystrokeScript textLine(std::u32string text) {
    return {KeyAction{KeyAction::Kind::Text, std::move(text)}, KeyAction{KeyAction::Kind::Tab, {}},
            KeyAction{KeyAction::Kind::Text, U"x"}, KeyAction{KeyAction::Kind::Enter, {}}};
}

using Keymap = std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)>;

Keymap compiled(const std::string& text) {
    static const std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(
        xkb_context_new(XKB_CONTEXT_NO_FLAGS), xkb_context_unref);
    return Keymap(xkb_keymap_new_from_string(context.get(), text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                             XKB_KEYMAP_COMPILE_NO_FLAGS),
                  xkb_keymap_unref);
}

char32_t character(xkb_keysym_t sym) {
    return sym == XKB_KEY_Return ? U'\n'
           : sym == XKB_KEY_Tab  ? U'\t'
                                 : static_cast<char32_t>(xkb_keysym_to_utf32(sym));
}

// What each planned key types once its segment's keymap is compiled as a client compiles it.
std::u32string typedBack(const wayland::VirtualKeyPlan& plan) {
    std::u32string out;
    for (const auto& segment : plan.segments) {
        const Keymap keymap = compiled(segment.keymap);
        EXPECT_TRUE(keymap) << segment.keymap;
        if (!keymap) {
            return out;
        }
        std::unique_ptr<xkb_state, decltype(&xkb_state_unref)> state(xkb_state_new(keymap.get()),
                                                                     xkb_state_unref);
        const xkb_mod_mask_t shift = 1u
                                     << xkb_keymap_mod_get_index(keymap.get(), XKB_MOD_NAME_SHIFT);
        for (const auto& key : segment.keys) {
            // Shift on the blank's key is a shortcut to programs that read the plain symbol
            // (Calc selects the row): no character is typed so.
            xkb_state_update_mask(state.get(), 0, 0, 0, 0, 0, 0);
            EXPECT_FALSE(key.shift &&
                         xkb_state_key_get_one_sym(state.get(), key.evdev + 8) == XKB_KEY_space);
            xkb_state_update_mask(state.get(), key.shift ? shift : 0, 0, 0, 0, 0, 0);
            out += character(xkb_state_key_get_one_sym(state.get(), key.evdev + 8));
        }
    }
    return out;
}

// Whether a keymap has a key for each of these characters.
bool laysOut(const std::string& text, std::u32string_view characters) {
    const Keymap keymap = compiled(text);
    std::u32string all;
    for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap.get());
         code <= xkb_keymap_max_keycode(keymap.get()); ++code) {
        for (xkb_level_index_t level = 0;
             level < xkb_keymap_num_levels_for_key(keymap.get(), code, 0); ++level) {
            const xkb_keysym_t* syms = nullptr;
            if (xkb_keymap_key_get_syms_by_level(keymap.get(), code, 0, level, &syms) == 1) {
                all += character(syms[0]);
            }
        }
    }
    return std::all_of(characters.begin(), characters.end(),
                       [&](char32_t c) { return all.find(c) != std::u32string::npos; });
}

struct KeymapCase {
    const char* name;
    std::u32string text;
    std::u32string alphabet;
    std::size_t keysPerKeymap;
    std::size_t segments;
};

class VirtualKeymaps : public ::testing::TestWithParam<KeymapCase> {};

TEST_P(VirtualKeymaps, EveryKeyTypesItsCharacterAloneOrWithShiftAndEveryKeymapTheAlphabet) {
    const auto& c = GetParam();
    const auto plan = wayland::planVirtualKeys(textLine(c.text), c.alphabet, c.keysPerKeymap);
    EXPECT_TRUE(plan.untypable.empty());
    EXPECT_EQ(plan.segments.size(), c.segments);
    EXPECT_EQ(typedBack(plan), c.text + U"\tx\n");
    for (const auto& segment : plan.segments) {
        EXPECT_TRUE(laysOut(segment.keymap, c.alphabet));
    }
}

std::u32string manyCharacters(std::size_t count) {
    std::u32string text;
    for (char32_t c = 0x4E00; c < 0x4E00 + count; ++c) {
        text += c;
    }
    return text;
}

const std::u32string kPasswords = delivery::passwordCharacters();

INSTANTIATE_TEST_SUITE_P(
    Scripts, VirtualKeymaps,
    ::testing::Values(
        KeymapCase{"AllClasses", kPasswords, kPasswords, wayland::kKeysPerKeymap, 1},
        // Beside the alphabet a keymap has room for a few characters: names in other scripts go
        // through several keymaps.
        KeymapCase{"NamesInFourScripts", U"Жанна Ελένη 李雷 ÉLODIE ŀ", kPasswords,
                   wayland::kKeysPerKeymap, 4},
        // Names past one keymap: each keymap holds the alphabet, so passwords never change it.
        KeymapCase{"NamesPastOneKeymap", manyCharacters(300) + U"Zq7#" + manyCharacters(10),
                   kPasswords, wayland::kKeysPerKeymap, 45},
        KeymapCase{"MoreCharactersThanKeycodes", manyCharacters(600), U"x", wayland::kKeysPerKeymap,
                   5},
        KeymapCase{"SmallKeymapsCutOften", U"abcdefabc", U"", 5, 6}),
    [](const auto& info) { return std::string(info.param.name); });

// Every client of the seat receives the keymaps: the same characters, whatever their order, and
// whatever passwords of the alphabet, give the same keymaps.
TEST(VirtualKeymaps, TheKeymapsTellNothingOfThePasswords) {
    const auto keymaps = [](std::u32string text) {
        std::vector<std::string> out;
        for (auto& segment :
             wayland::planVirtualKeys(textLine(std::move(text)), kPasswords).segments) {
            out.push_back(segment.keymap);
        }
        return out;
    };
    for (const auto& [one, other] :
         {std::pair<std::u32string, std::u32string>{U"Zq7#Wm2!", U"!2mW#7qZ"},
          {U"Zq7#Wm2!", U"aaaa-aaaa"},
          {U"Жанна\tZq7#", U"анЖна\t!2mW"},
          {manyCharacters(300) + U"Zq7#", U"!2mW" + manyCharacters(300)}}) {
        EXPECT_EQ(keymaps(one), keymaps(other));
    }
}

TEST(VirtualKeymaps, ACharacterWithoutKeysymTypesNothing) {
    const auto plan = wayland::planVirtualKeys(textLine(U"a\U0010FFFFb"));
    EXPECT_EQ(plan.untypable, U"\U0010FFFF");
    EXPECT_TRUE(plan.segments.empty());
}

// The windows list does not say whose a window is: its app id ties it to the started program.
TEST(TargetWindows, AnAppIdNamesTheProgramWhenItIsOneOfItsNames) {
    struct Case {
        const char* appId;
        std::vector<std::string> names;
        bool ours;
    };
    for (const Case& c :
         {Case{"foot", {"lecteur", "foot"}, true}, Case{"org.kde.kwrite", {"kwrite"}, true},
          Case{"mousepad", {"org.xfce.mousepad"}, true}, Case{"Alacritty", {"alacritty"}, true},
          Case{"voleur", {"lecteur", "foot", "dash"}, false}, Case{"footclient", {"foot"}, false},
          Case{"", {"", "foot"}, false}}) {
        EXPECT_EQ(tolvane::platform::typing::windowGoesByOneOf(c.appId, c.names), c.ours)
            << c.appId;
    }
}

// Without WAYLAND_DISPLAY nothing is connected to, not even the default socket, which may be
// another session's compositor; the user is pointed to the clipboard.
TEST(WaylandSessions, NoDisplayNamedNoConnection) {
    const std::string runtime =
        ::testing::TempDir() + "tolvane-runtime-" + std::to_string(getpid());
    mkdir(runtime.c_str(), 0700);
    const int listening = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = runtime + "/wayland-0";
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listening, 4), 0);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    wayland::WaylandKeystrokeInjector injector;
    EXPECT_NE(injector.unavailableReason().find("« Vers le presse-papier »"), std::string::npos);
    injector.beforeLaunch();
    LaunchResult target;
    target.started = true;
    EXPECT_FALSE(injector.typeInto(target, textLine(U"a")).complete);
    EXPECT_LT(accept(listening, nullptr, nullptr), 0);
    close(listening);
    unlink(path.c_str());
    rmdir(runtime.c_str());
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
