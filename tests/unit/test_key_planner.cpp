#include "delivery/Scripts.h"
#include "engine/CharacterClasses.h"
#include "platform/xkb/KeyPlanner.h"

#include <xkbcommon/xkbcommon.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace tolvane::platform::xkb;
using tolvane::platform::KeystrokeScript;

namespace {

using KeymapPtr = std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)>;

// A layout of xkeyboard-config, compiled as a client compiles it.
KeymapPtr shippedLayout(const char* layout, const char* variant) {
    std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(
        xkb_context_new(XKB_CONTEXT_NO_FLAGS), &xkb_context_unref);
    const xkb_rule_names names{"evdev", "pc105", layout, variant, ""};
    return KeymapPtr(xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS),
                     &xkb_keymap_unref);
}

struct Layout {
    const char* layout;
    const char* variant;
};

void PrintTo(const Layout& l, std::ostream* os) {
    *os << l.layout;
}

class KeyPlannerTest : public ::testing::TestWithParam<Layout> {
protected:
    void SetUp() override {
        context_.reset(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
        ASSERT_TRUE(context_);
        const xkb_rule_names names{"evdev", "pc105", GetParam().layout, GetParam().variant, ""};
        keymap_.reset(
            xkb_keymap_new_from_names(context_.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
        ASSERT_TRUE(keymap_) << GetParam().layout;
        modifiers_ = findModifierKeys(keymap_.get());
        spares_ = findSpareKeycodes(keymap_.get());
    }

    // Every planned key gives back its character, and all of them the script's text.
    void expectRoundTrip(const KeystrokeScript& script, const KeyPlan& plan) {
        ASSERT_TRUE(plan.untypable.empty());
        std::u32string typed;
        for (const PlanSegment& segment : plan.segments) {
            EXPECT_LE(segment.bindings.size(), spares_.size());
            for (const PlannedKey& key : segment.keys) {
                const char32_t back =
                    translate(keymap_.get(), 0, modifiers_, segment.bindings, key.press);
                EXPECT_EQ(static_cast<std::uint32_t>(back),
                          static_cast<std::uint32_t>(key.character))
                    << "keycode " << key.press.keycode << " mods " << key.press.mods;
                EXPECT_EQ(key.press.mods & ~(modifiers_.shiftMask | modifiers_.level3Mask), 0u);
                typed += key.character;
            }
        }
        EXPECT_EQ(typed, tolvane::delivery::typedText(script));
    }

    std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context_{nullptr,
                                                                        &xkb_context_unref};
    std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap_{nullptr, &xkb_keymap_unref};
    ModifierKeys modifiers_;
    std::vector<std::uint32_t> spares_;
};

TEST_P(KeyPlannerTest, FindsShiftAltGrAndSpareKeys) {
    EXPECT_NE(modifiers_.shiftKeycode, 0u);
    EXPECT_EQ(modifiers_.shiftMask, 0x1u);
    EXPECT_GE(spares_.size(), 8u);
}

TEST_P(KeyPlannerTest, WholeAlphabetRoundTrips) {
    tolvane::engine::ClassSelection all;
    all.fill(true);
    KeystrokeScript script;
    tolvane::delivery::appendLiteral(script, tolvane::engine::BuildAlphabet(all));
    const KeyPlan plan = planKeystrokes(keymap_.get(), 0, modifiers_, spares_, script);
    expectRoundTrip(script, plan);
    // The layout's own characters never borrow a key, and the rest fit in one keymap change.
    EXPECT_EQ(plan.segments.size(), 1u);
}

TEST_P(KeyPlannerTest, NamesBeyondTheAlphabetRoundTrip) {
    const std::vector<std::u32string> lines{U"ÿves\tŒdipe\tß", U"Ωmega\t😀 émoji", U"\U0001F510x"};
    const KeystrokeScript script =
        tolvane::delivery::notepadScript(lines, tolvane::delivery::columnTitleLine(true), U"3", 3);
    expectRoundTrip(script, planKeystrokes(keymap_.get(), 0, modifiers_, spares_, script));
}

TEST_P(KeyPlannerTest, MoreCharactersThanSpareKeysSplitIntoSegments) {
    std::u32string greek;
    for (char32_t c = 0x3B1; c <= 0x3C9; ++c) { // α .. ω, and their capitals
        greek += c;
        if (c != U'ς') { // the final sigma has none (U+03A2 is unassigned)
            greek += c - 0x20;
        }
    }
    std::u32string cyrillic;
    for (char32_t c = 0x430; c <= 0x44F; ++c) {
        cyrillic += c;
    }
    KeystrokeScript script;
    tolvane::delivery::appendLiteral(script, greek + U"-" + cyrillic + U"-" + greek);
    const KeyPlan plan = planKeystrokes(keymap_.get(), 0, modifiers_, spares_, script);
    EXPECT_GT(plan.segments.size(), 1u);
    expectRoundTrip(script, plan);
}

// A key the targets would read otherwise gives its character to a spare key; spare keys are
// lent on four levels where the layout has AltGr.
TEST_P(KeyPlannerTest, KeysReadOtherwiseGiveTheirCharactersToSpareKeys) {
    KeystrokeScript script;
    tolvane::delivery::appendLiteral(script, U"aAzZ-ЖжΩω€");
    PlanOptions options;
    options.spareLevels = 4;
    options.readsAsPlanned = [](const KeyPress&, std::uint32_t keysym) {
        return keysym != XKB_KEY_a && keysym != XKB_KEY_A;
    };
    // Fewer spare keys than characters lent, room for them all.
    spares_.resize(modifiers_.level3Mask ? 2 : 4);
    const KeyPlan plan =
        planKeystrokes(keymap_.get(), 0, modifiers_, spares_, script, nullptr, options);
    expectRoundTrip(script, plan);
    ASSERT_EQ(plan.segments.size(), 1u);
    const auto& bindings = plan.segments[0].bindings;
    std::u32string lent;
    for (const PlannedKey& key : plan.segments[0].keys) {
        if (std::any_of(bindings.begin(), bindings.end(),
                        [&](const auto& b) { return b.keycode == key.press.keycode; })) {
            lent += key.character;
        }
    }
    EXPECT_NE(lent.find(U'a'), std::u32string::npos);
    EXPECT_NE(lent.find(U'A'), std::u32string::npos);
    EXPECT_EQ(lent.find_first_of(U"zZ-"), std::u32string::npos);
    // Every spare key is lent a plain level before any is lent a level that needs a modifier;
    // AltGr's levels where the layout has AltGr.
    ASSERT_EQ(bindings.size(), spares_.size());
    for (const SpareBinding& b : bindings) {
        EXPECT_NE(b.keysyms[0], 0u);
    }
    EXPECT_EQ(std::any_of(bindings.begin(), bindings.end(),
                          [](const auto& b) { return b.keysyms[2] != 0; }),
              modifiers_.level3Mask != 0);
}

TEST_P(KeyPlannerTest, ControlCharactersAreUntypable) {
    KeystrokeScript script;
    tolvane::delivery::appendLiteral(script, U"a\u0001b\u007F");
    const KeyPlan plan = planKeystrokes(keymap_.get(), 0, modifiers_, spares_, script);
    EXPECT_EQ(plan.untypable, U"\u0001\u007F");
}

INSTANTIATE_TEST_SUITE_P(Layouts, KeyPlannerTest,
                         ::testing::Values(Layout{"us", ""}, Layout{"fr", ""}, Layout{"de", ""},
                                           Layout{"ch", "fr"}),
                         [](const auto& info) {
                             return std::string(info.param.layout) +
                                    (*info.param.variant ? "_" : "") + info.param.variant;
                         });

TEST(KeyPlannerFr, UsesAltGrAndNeverDeadKeys) {
    const KeymapPtr keymap = shippedLayout("fr", "");
    const ModifierKeys mods = findModifierKeys(keymap.get());
    ASSERT_NE(mods.level3Keycode, 0u);
    KeystrokeScript script;
    tolvane::delivery::appendLiteral(script, U"@^¨€{");
    const KeyPlan plan =
        planKeystrokes(keymap.get(), 0, mods, findSpareKeycodes(keymap.get()), script);
    ASSERT_EQ(plan.segments.size(), 1u);
    const auto& keys = plan.segments[0].keys;
    ASSERT_EQ(keys.size(), 5u);
    EXPECT_EQ(keys[0].press.mods, mods.level3Mask); // @ is AltGr+à on a French keyboard
    // "^" and "¨" are dead keys there: they come from AltGr levels or spare keys instead.
    for (const auto& key : keys) {
        const char32_t back =
            translate(keymap.get(), 0, mods, plan.segments[0].bindings, key.press);
        EXPECT_EQ(back, key.character);
    }
}

} // namespace

// Only keys that carry nothing are lent: a key with an action, a modifier mapping or a symbol
// would lose it when given back.
TEST(SpareKeys, KeysCarryingAnythingAreNeverLent) {
    const char* text = R"(xkb_keymap {
        xkb_keycodes { minimum = 8; maximum = 16;
            <EMPT> = 9; <ACTN> = 10; <MMAP> = 11; <SYMB> = 12; <LFSH> = 13; <NOSY> = 14; };
        xkb_types { include "complete" };
        xkb_compat { include "complete" };
        xkb_symbols {
            key <LFSH> { [ Shift_L ] };
            key <ACTN> { [ NoSymbol ], actions[Group1] = [ SetMods(modifiers = Mod2) ] };
            modifier_map Mod3 { <MMAP> };
            key <SYMB> { [ a, A ] };
            key <NOSY> { [ NoSymbol, NoSymbol ] };
        };
    };)";
    std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(
        xkb_context_new(XKB_CONTEXT_NO_FLAGS), &xkb_context_unref);
    std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
        xkb_keymap_new_from_string(context.get(), text, XKB_KEYMAP_FORMAT_TEXT_V1,
                                   XKB_KEYMAP_COMPILE_NO_FLAGS),
        &xkb_keymap_unref);
    ASSERT_TRUE(keymap);
    const std::vector<std::uint32_t> spares = findSpareKeycodes(keymap.get());
    auto lent = [&](std::uint32_t kc) {
        return std::find(spares.begin(), spares.end(), kc) != spares.end();
    };
    EXPECT_TRUE(lent(9));
    for (std::uint32_t kc : {8u, 10u, 11u, 12u, 13u, 14u}) {
        EXPECT_FALSE(lent(kc)) << "keycode " << kc;
    }
}

// Neo's <HYPR> has no symbol but the action that sets NumLock.
TEST(SpareKeys, NeoNumLockKeyIsNotLent) {
    const KeymapPtr keymap = shippedLayout("de", "neo");
    ASSERT_TRUE(keymap);
    const xkb_keycode_t hyper = xkb_keymap_key_by_name(keymap.get(), "HYPR");
    ASSERT_NE(hyper, XKB_KEYCODE_INVALID);
    const auto spares = findSpareKeycodes(keymap.get());
    EXPECT_EQ(std::count(spares.begin(), spares.end(), hyper), 0);
    EXPECT_GE(spares.size(), 8u);
}

// Neo's Ä key holds Insert, its Q key KP_Add (xterm grows its font on Shift+KP_Add), its 9 key
// KP_Divide: none types its own characters.
TEST(SpareKeys, NeoKeysCarryingBindings) {
    const KeymapPtr keymap = shippedLayout("de", "neo");
    ASSERT_TRUE(keymap);
    const auto carriers = keysCarryingBindings(keymap.get(), 0, findModifierKeys(keymap.get()));
    for (const char* name : {"AB03", "AD10", "AE09"}) {
        const xkb_keycode_t kc = xkb_keymap_key_by_name(keymap.get(), name);
        EXPECT_EQ(std::count(carriers.begin(), carriers.end(), kc), 1) << name;
    }
}

// A block freed while a plan is made, or while a text is drawn from the passwords, is looked
// through for the password, in UTF-8 and UTF-32 (keysyms of Latin characters are their code
// points), and for any one of its characters no layout has, which a record of one character
// (a node of a map) holds alone: buffers that held them are wiped first.
#include "delivery/Deliver.h"
#include "platform/Wipe.h"
#include "platform/portal/PortalKeys.h"
#include "platform/wayland/VirtualKeymap.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <malloc.h>
#include <new>

namespace {

// Not on the heap: only the code looked at puts copies there.
constexpr std::u32string_view kMarker = U"Mq7#Zx2!Kp9&wé";
constexpr std::string_view kMarkerUtf8 = "Mq7#Zx2!Kp9&wé";
constexpr std::u32string_view kAlone = U"ꜧꝏ";
std::atomic<bool> looking{false};
std::atomic<bool> lookingForOne{false}; // also for a character of kAlone by itself
std::atomic<int> blocksHoldingIt{0};

void lookThrough(void* block) {
    if (!block || !looking.load()) {
        return;
    }
    const std::size_t size = malloc_usable_size(block);
    const auto holds = [&](const void* needle, std::size_t length) {
        return memmem(block, size, needle, length) != nullptr;
    };
    // Records of one character each (a key, a keysym) spread the text, a code point every
    // few bytes.
    const auto spread = [&](std::size_t stride) {
        const auto* bytes = static_cast<const unsigned char*>(block);
        constexpr std::size_t kShown = 8;
        for (std::size_t at = 0; at + (kShown - 1) * stride + 4 <= size; at += 4) {
            std::size_t i = 0;
            for (; i < kShown; ++i) {
                std::uint32_t value;
                std::memcpy(&value, bytes + at + i * stride, sizeof value);
                if (value != static_cast<std::uint32_t>(kMarker[i])) {
                    break;
                }
            }
            if (i == kShown) {
                return true;
            }
        }
        return false;
    };
    const auto alone = [&] {
        for (std::size_t at = 0; at + sizeof(char32_t) <= size; at += sizeof(char32_t)) {
            char32_t value;
            std::memcpy(&value, static_cast<const char*>(block) + at, sizeof value);
            if (kAlone.find(value) != std::u32string_view::npos) {
                return true;
            }
        }
        return false;
    };
    if (holds(kMarkerUtf8.data(), kMarkerUtf8.size()) ||
        holds(kMarker.data(), kMarker.size() * sizeof(char32_t)) || spread(8) || spread(12) ||
        spread(16) || spread(24) || (lookingForOne.load() && alone())) {
        ++blocksHoldingIt;
    }
}

} // namespace

void* operator new(std::size_t size) {
    if (void* block = std::malloc(size ? size : 1)) {
        return block;
    }
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
    lookThrough(block);
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    lookThrough(block);
    std::free(block);
}

namespace {

TEST(FreedMemory, NoPlanLeavesThePasswordInWhatItFrees) {
    const KeymapPtr keymap = shippedLayout("us", "");
    char* text = xkb_keymap_get_as_string(keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1);
    const tolvane::platform::portal::UserKeyboard keyboard{text, false, 0, 0};
    free(text);
    // Built in place: no copy of the password is freed before the plans are looked at.
    KeystrokeScript script(2);
    script[0].text.reserve(2 * kMarker.size() + kAlone.size());
    script[0].text.append(kMarker).append(kMarker).append(kAlone);
    script[1].kind = tolvane::platform::KeyAction::Kind::Enter;
    // Lines of the result list, a name before each password.
    tolvane::delivery::DeliveryRequest request;
    request.destination = tolvane::engine::Destination::OtherProgram;
    request.lines.resize(2);
    for (std::u32string& line : request.lines) {
        line.reserve(kMarker.size() + 6);
        line.append(U"nom\t").append(kMarker);
    }
    struct Row {
        const char* backend;
        bool oneByOne; // whether a character by itself is looked for
        std::function<void()> plan;
    };
    const Row plans[] = {
        {"x11", true,
         [&] {
             KeyPlan plan = planKeystrokes(keymap.get(), 0, findModifierKeys(keymap.get()),
                                           findSpareKeycodes(keymap.get()), script);
             for (auto& segment : plan.segments) {
                 tolvane::platform::wipeRecords(segment.keys);
                 tolvane::platform::wipeRecords(segment.bindings);
             }
         }},
        {"portal", true,
         [&] {
             auto plan = tolvane::platform::portal::planPortalKeys(keyboard, script);
             tolvane::platform::wipeRecords(plan.keys);
             tolvane::platform::wipe(plan.untypable);
         }},
        {"UTF-8", true,
         [&] {
             std::string utf8 = tolvane::platform::toUtf8(script[0].text);
             tolvane::platform::wipe(utf8);
         }},
        {"the clipboard's text", true,
         [&] {
             std::u32string text = tolvane::delivery::clipboardText(request.lines);
             tolvane::platform::wipe(text);
         }},
        {"the characters no key types, named", true,
         [&] { tolvane::delivery::describeUntypable(request, U"é"); }},
        // The keymaps hold every character a password may hold, and those of the names and
        // fixed lines, one by one: characters by themselves tell nothing there.
        {"wayland", false, [&] {
             auto plan = tolvane::platform::wayland::planVirtualKeys(script);
             for (auto& segment : plan.segments) {
                 tolvane::platform::wipe(segment.keymap);
                 tolvane::platform::wipeRecords(segment.keys);
             }
         }}};
    for (const auto& [backend, oneByOne, plan] : plans) {
        blocksHoldingIt = 0;
        lookingForOne = oneByOne;
        looking = true;
        plan();
        looking = false;
        EXPECT_EQ(blocksHoldingIt.load(), 0) << backend;
    }
}

} // namespace
