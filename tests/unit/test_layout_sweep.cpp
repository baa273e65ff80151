// Every layout and variant xkeyboard-config ships (evdev rules), planned without a display:
// spare keys carry nothing, every character of the alphabet and of names in several scripts
// is planned or reported untypable, and the plan types back exactly the script, on four
// levels of the spare keys and never on a key that also carries an editing keysym.
#include "delivery/Scripts.h"
#include "engine/CharacterClasses.h"
#include "platform/xkb/KeyPlanner.h"

#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using namespace tolvane::platform::xkb;
using tolvane::platform::KeystrokeScript;

namespace {

struct LayoutName {
    std::string layout;
    std::string variant;
};

// The layouts, then each variant with its layout, from the rules' list.
std::vector<LayoutName> shippedLayouts(const std::string& listFile) {
    std::ifstream in(listFile);
    std::vector<LayoutName> names;
    std::string line, section;
    while (std::getline(in, line)) {
        if (line.rfind("! ", 0) == 0) {
            section = line.substr(2);
            continue;
        }
        std::istringstream fields(line);
        std::string first, second;
        if (!(fields >> first)) {
            continue;
        }
        if (section == "layout") {
            names.push_back({first, ""});
        } else if (section == "variant" && fields >> second && second.back() == ':') {
            names.push_back({second.substr(0, second.size() - 1), first});
        }
    }
    return names;
}

std::string describe(const LayoutName& n) {
    return n.variant.empty() ? n.layout : n.layout + "(" + n.variant + ")";
}

using KeymapPtr = std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)>;

// Listed layouts ship without symbols when they are a place for the user's own: none then.
std::optional<KeymapPtr> shipped(xkb_context* context, const LayoutName& name) {
    if (!std::ifstream("/usr/share/X11/xkb/symbols/" + name.layout)) {
        return std::nullopt;
    }
    const xkb_rule_names names{"evdev", "pc105", name.layout.c_str(), name.variant.c_str(), ""};
    return KeymapPtr(xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS),
                     &xkb_keymap_unref);
}

TEST(LayoutSweep, EveryShippedLayoutPlansExactly) {
    const char* rules = "/usr/share/X11/xkb/rules/evdev.lst";
    const std::vector<LayoutName> layouts = shippedLayouts(rules);
    ASSERT_GT(layouts.size(), 100u) << rules;

    tolvane::engine::ClassSelection all;
    all.fill(true);
    const std::vector<std::u32string> lines{
        tolvane::engine::BuildAlphabet(all), U"ÿvonne\tŒdipe\tstraße\tÉlodie\tÑúñez\tŻółć\tÅsa",
        U"Юлия\tЁжиков\tΩμέγα\tΣοφία", U"山田太郎\t李小龍\t김민수", U"Paŀlars\t€uro\tÀÉÎÕÜ"};
    const KeystrokeScript script =
        tolvane::delivery::notepadScript(lines, tolvane::delivery::columnTitleLine(true), U"4", 4);
    const std::u32string text = tolvane::delivery::typedText(script);

    std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(
        xkb_context_new(XKB_CONTEXT_NO_FLAGS), &xkb_context_unref);
    xkb_context_set_log_level(context.get(), XKB_LOG_LEVEL_CRITICAL);
    std::size_t tested = 0, withUntypable = 0, skipped = 0;
    std::vector<std::string> failed;
    std::string carrying; // layouts with keys that carry editing keysyms too, and how many
    std::map<std::string, std::size_t> carried;
    for (const LayoutName& name : layouts) {
        std::optional<KeymapPtr> compiled = shipped(context.get(), name);
        if (!compiled) {
            ++skipped;
            continue;
        }
        KeymapPtr& keymap = *compiled;
        if (!keymap) {
            failed.push_back(describe(name) + ": does not compile");
            continue;
        }
        ++tested;
        std::string fault;
        const ModifierKeys modifiers = findModifierKeys(keymap.get());
        const std::vector<std::uint32_t> spares = findSpareKeycodes(keymap.get());
        // A spare key carries nothing: no group (so no symbol, type or action), and pressing
        // it changes no modifier, group or indicator.
        std::unique_ptr<xkb_state, decltype(&xkb_state_unref)> state(xkb_state_new(keymap.get()),
                                                                     &xkb_state_unref);
        for (std::uint32_t kc : spares) {
            const auto down = xkb_state_update_key(state.get(), kc, XKB_KEY_DOWN);
            const auto up = xkb_state_update_key(state.get(), kc, XKB_KEY_UP);
            if (xkb_keymap_num_layouts_for_key(keymap.get(), kc) != 0 || down != 0 || up != 0) {
                fault = "spare keycode " + std::to_string(kc) + " carries something";
                break;
            }
        }
        const std::vector<std::uint32_t> carrier = keysCarryingBindings(keymap.get(), 0, modifiers);
        if (!carrier.empty()) {
            carried[describe(name)] = carrier.size();
            carrying += " " + describe(name) + " " + std::to_string(carrier.size());
        }
        PlanOptions options;
        options.spareLevels = 4;
        options.avoidKeysCarryingBindings = true;
        const KeyPlan plan =
            planKeystrokes(keymap.get(), 0, modifiers, spares, script, nullptr, options);
        std::u32string typed;
        for (const PlanSegment& segment : plan.segments) {
            if (segment.bindings.size() > spares.size()) {
                fault = "more bindings than spare keys";
            }
            for (const PlannedKey& key : segment.keys) {
                if (key.character != U'\n' && key.character != U'\t' &&
                    std::count(carrier.begin(), carrier.end(), key.press.keycode)) {
                    fault = "keycode " + std::to_string(key.press.keycode) +
                            " carries an editing keysym too";
                }
                if (translate(keymap.get(), 0, modifiers, segment.bindings, key.press) !=
                    key.character) {
                    fault = "keycode " + std::to_string(key.press.keycode) + " does not type U+" +
                            std::to_string(static_cast<std::uint32_t>(key.character));
                }
                typed += key.character;
            }
        }
        // Planned, or reported: the script less its untypable characters, in order.
        std::u32string expected;
        for (char32_t c : text) {
            if (plan.untypable.find(c) == std::u32string::npos) {
                expected += c;
            }
        }
        if (typed != expected) {
            fault = "the plan does not type the script back";
        }
        if (!plan.untypable.empty()) {
            ++withUntypable;
        }
        if (!fault.empty()) {
            failed.push_back(describe(name) + ": " + fault);
        }
    }
    std::printf("layouts and variants: %zu listed, %zu without symbols, %zu tested, %zu with "
                "untypable characters, %zu failed\n",
                layouts.size(), skipped, tested, withUntypable, failed.size());
    std::printf("keys typing a character that also carry an editing keysym, in %zu layouts:%s\n",
                carried.size(), carrying.c_str());
    EXPECT_EQ(carried.count("us"), 0u);
    EXPECT_EQ(carried.count("fr"), 0u);
    EXPECT_GT(carried["de(neo)"], 0u);
    for (const std::string& f : failed) {
        ADD_FAILURE() << f;
    }
}

// Without spare keys (typing through the desktop, on the user's own layout): how many layouts
// type everything of a level's alphabet and of the fixed texts, with single keys only and with
// the layout's dead keys composed through the compose table. Every sequence planned types its
// character back through the table.
TEST(LayoutSweep, DeadKeysCompleteTheLayoutsThatHaveThem) {
    const std::vector<LayoutName> layouts = shippedLayouts("/usr/share/X11/xkb/rules/evdev.lst");
    std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(
        xkb_context_new(XKB_CONTEXT_NO_FLAGS), &xkb_context_unref);
    xkb_context_set_log_level(context.get(), XKB_LOG_LEVEL_CRITICAL);
    std::unique_ptr<xkb_compose_table, decltype(&xkb_compose_table_unref)> compose(
        xkb_compose_table_new_from_locale(context.get(), "en_US.UTF-8",
                                          XKB_COMPOSE_COMPILE_NO_FLAGS),
        &xkb_compose_table_unref);
    ASSERT_TRUE(compose);

    const auto scriptOf = [](std::initializer_list<int> classes) {
        tolvane::engine::ClassSelection selected{};
        for (int c : classes) {
            selected[static_cast<std::size_t>(c)] = true;
        }
        return tolvane::delivery::notepadScript({tolvane::engine::BuildAlphabet(selected)},
                                                tolvane::delivery::columnTitleLine(true), U"2", 2);
    };
    const KeystrokeScript moyen = scriptOf({0, 1, 2, 6}); // digits, capitals, smalls, blank
    const KeystrokeScript eleve = scriptOf({0, 1, 2, 3, 4, 5, 6});
    // Layouts whose dead keys give everything the highest level and the fixed texts need.
    const std::vector<std::string> complete{"fr", "fr(oss)", "fr(bepo)", "be", "ch(fr)",
                                            "de", "it",      "es",       "gb", "us(intl)"};
    std::size_t counts[2][3] = {};
    std::vector<std::string> failed;
    for (const LayoutName& name : layouts) {
        const std::optional<KeymapPtr> keymap = shipped(context.get(), name);
        if (!keymap || !*keymap) {
            continue;
        }
        const ModifierKeys modifiers = findModifierKeys(keymap->get());
        const std::uint32_t capsLock =
            1u << xkb_keymap_mod_get_index(keymap->get(), XKB_MOD_NAME_CAPS);
        for (int level = 0; level < 2; ++level) {
            const KeystrokeScript& script = level == 0 ? moyen : eleve;
            // Single keys; dead keys; dead keys with Caps Lock on, left on.
            for (int dead = 0; dead < 3; ++dead) {
                xkb_compose_table* table = dead ? compose.get() : nullptr;
                PlanOptions options;
                options.locked = dead == 2 ? capsLock : 0;
                const KeyPlan plan =
                    planKeystrokes(keymap->get(), 0, modifiers, {}, script, table, options);
                if (!plan.untypable.empty()) {
                    if (dead == 1 && level == 1 &&
                        std::count(complete.begin(), complete.end(), describe(name))) {
                        failed.push_back(describe(name) + ": lacks characters");
                    }
                    continue;
                }
                ++counts[level][dead];
                if (typeBack(keymap->get(), 0, modifiers, plan.segments.front(), table,
                             options.locked) != tolvane::delivery::typedText(script)) {
                    failed.push_back(describe(name) + ": the keys do not type the script back");
                }
            }
        }
    }
    std::printf("layouts typing everything without spare keys:\n"
                "  Moyen and the fixed texts: %zu with single keys, %zu with dead keys, %zu so "
                "with Caps Lock on\n"
                "  Elevé and the fixed texts: %zu with single keys, %zu with dead keys, %zu so "
                "with Caps Lock on\n",
                counts[0][0], counts[0][1], counts[0][2], counts[1][0], counts[1][1], counts[1][2]);
    // What xkeyboard-config's layouts gave when dead keys were first planned.
    EXPECT_GE(counts[0][1], 233u);
    EXPECT_GE(counts[1][1], 117u);
    for (const std::string& f : failed) {
        ADD_FAILURE() << f;
    }
}

} // namespace
