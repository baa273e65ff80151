// Through the window: a target that does not start and keystrokes that cannot arrive. The lines
// are kept in the result list, nothing is typed, and one warning says why.
#include "FormFixture.h"

using tolvane::platform::MessageIcon;
using tolvane::testing::FormTest;

namespace {

class DeliveryFailure : public FormTest {};

TEST_F(DeliveryFailure, TheEditorDoesNotStart) {
    fakes_.launcher.fail = true;
    c().Command1->click();
    EXPECT_EQ(c().List1->count(), 1);
    ASSERT_EQ(fakes_.messageBox.calls.size(), 1u);
    EXPECT_EQ(fakes_.messageBox.calls[0].text, "Le programme « editor » ne peut pas être lancé.");
    EXPECT_EQ(fakes_.messageBox.calls[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(fakes_.messageBox.calls[0].title, "Avertissement");
    EXPECT_TRUE(fakes_.injector.scripts.empty());
}

TEST_F(DeliveryFailure, TheChosenProgramDoesNotStart) {
    fakes_.fileDialog.answers = {std::string("/opt/reader")};
    QTest::mouseClick(c().Option4, Qt::LeftButton);
    fakes_.launcher.fail = true;
    c().Command1->click();
    EXPECT_EQ(c().List1->count(), 1);
    ASSERT_EQ(fakes_.messageBox.calls.size(), 1u);
    EXPECT_EQ(fakes_.messageBox.calls[0].text,
              "Le programme « /opt/reader » ne peut pas être lancé.");
    EXPECT_TRUE(fakes_.injector.scripts.empty());
}

TEST_F(DeliveryFailure, KeystrokesCannotArriveSoNothingStarts) {
    fakes_.injector.unavailable = "Les frappes ne peuvent pas arriver dans cette session.";
    c().Command1->click();
    EXPECT_EQ(c().List1->count(), 1);
    ASSERT_EQ(fakes_.messageBox.calls.size(), 1u);
    EXPECT_EQ(fakes_.messageBox.calls[0].text,
              "Les frappes ne peuvent pas arriver dans cette session.");
    for (const std::string& call : fakes_.log) {
        EXPECT_NE(call.rfind("start:", 0), 0u) << call;
    }
    EXPECT_TRUE(fakes_.injector.scripts.empty());
}

} // namespace
