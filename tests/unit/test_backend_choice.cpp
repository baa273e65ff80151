#include "fakes/FakePlatform.h"
#include "platform/session/KeystrokeBackend.h"

#include <gtest/gtest.h>

using namespace tolvane;
using platform::session::WaylandKeystrokes;

namespace {

TEST(WaylandBackendChoice, VirtualKeyboardThenPortalThenTheReasonNeitherCanType) {
    const std::string noKeyboard = "pas de clavier virtuel, choisissez « Vers le presse-papier »";
    const std::string portalRefused = "refusé par l'utilisateur";
    struct Case {
        const char* name;
        std::string keyboardReason;
        bool portalOffered;
        std::string portalReason;
        std::string expectedReason;
        const char* typedBy; // "keyboard", "portal", or "" when nothing types
    };
    const std::vector<Case> cases = {
        {"wlroots", "", true, "", "", "keyboard"},
        {"wlroots without portal", "", false, "", "", "keyboard"},
        {"GNOME or KDE", noKeyboard, true, "", "", "portal"},
        {"portal refused", noKeyboard, true, portalRefused, portalRefused, ""},
        {"neither", noKeyboard, false, "", noKeyboard, ""},
    };
    for (const Case& c : cases) {
        fakes::CallLog keyboardLog, portalLog;
        auto keyboard = std::make_unique<fakes::FakeInjector>(keyboardLog);
        auto portal = std::make_unique<fakes::FakeInjector>(portalLog);
        keyboard->unavailable = c.keyboardReason;
        portal->unavailable = c.portalReason;
        int portalAsked = 0;
        WaylandKeystrokes choice(std::move(keyboard), std::move(portal), [&] {
            ++portalAsked;
            return c.portalOffered;
        });
        EXPECT_EQ(choice.unavailableReason(), c.expectedReason) << c.name;
        EXPECT_EQ(portalAsked, c.keyboardReason.empty() ? 0 : 1) << c.name;
        if (!c.expectedReason.empty()) {
            continue;
        }
        choice.beforeLaunch();
        platform::LaunchResult target;
        target.started = true;
        target.program = "editeur";
        EXPECT_TRUE(choice.typeInto(target, {}).complete) << c.name;
        const fakes::CallLog typed{"injector:before-launch", "type:editeur"};
        EXPECT_EQ(keyboardLog, std::string(c.typedBy) == "keyboard" ? typed : fakes::CallLog{})
            << c.name;
        EXPECT_EQ(portalLog, std::string(c.typedBy) == "portal" ? typed : fakes::CallLog{})
            << c.name;
        // Kept for the next delivery, without asking again.
        EXPECT_EQ(choice.unavailableReason(), "") << c.name;
        EXPECT_EQ(portalAsked, c.keyboardReason.empty() ? 0 : 1) << c.name;
    }
}

} // namespace
