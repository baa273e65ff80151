#include "FormFixture.h"

#include "delivery/Scripts.h"
#include "engine/Module1.h"
#include "ui/Controls.h"
#include "ui/Look.h"

#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPointer>

#include <algorithm>

using tolvane::platform::MessageAnswer;
using tolvane::platform::MessageButtons;
using tolvane::platform::MessageIcon;
using tolvane::testing::FormTest;
using tolvane::ui::checkValue;

namespace {

class UserList : public FormTest {
protected:
    UserList() { c().Check10->click(); }

    // Types a name and presses Enter in the name box.
    void addWithEnter(const QString& name) {
        c().Combo5->setFocus(Qt::MouseFocusReason);
        typeInto(5, name);
        QTest::keyClick(c().Combo5, Qt::Key_Return);
    }
    // Types a name and clicks "Ajouter": the name box loses the focus first.
    void addWithButton(const QString& name) {
        c().Combo5->setFocus(Qt::MouseFocusReason);
        typeInto(5, name);
        QTest::mouseClick(c().Command4, Qt::LeftButton);
    }
};

TEST_F(UserList, EnterThenAjouterForTwoNames) {
    EXPECT_TRUE(c().Combo5->isEnabled());
    EXPECT_TRUE(c().Command4->isEnabled());
    EXPECT_EQ(c().Combo5->palette().color(QPalette::Base), tolvane::ui::systemColour(5));
    addWithEnter("alice");
    EXPECT_EQ(combo(4).text(), "1");
    addWithButton("bob");
    EXPECT_EQ(items(combo(5)), (QStringList{"alice", "bob"}));
    EXPECT_EQ(combo(5).text(), "bob");
    EXPECT_EQ(items(c().List2), (QStringList{"alice", "bob"}));
    EXPECT_EQ(combo(4).text(), "2");
    EXPECT_TRUE(c().Combo5->hasFocus());
}

TEST_F(UserList, PickingTheFirstNameJumpsBackToTheLast) {
    addWithEnter("alice");
    addWithEnter("bob");
    choose(5, "alice");
    EXPECT_EQ(combo(5).text(), "bob");
    EXPECT_EQ(combo(5).listIndex(), 1);
    EXPECT_EQ(combo(4).text(), "2");
}

TEST_F(UserList, EmptyNamesAreIgnoredDuplicatesCountTwice) {
    addWithEnter("");
    EXPECT_EQ(combo(5).listCount(), 0);
    addWithEnter("same");
    addWithEnter("same");
    QTest::keyClick(c().Combo5, Qt::Key_Return); // Enter again, the box still shows "same"
    EXPECT_EQ(items(combo(5)), (QStringList{"same", "same", "same"}));
    EXPECT_EQ(items(c().List2), (QStringList{"same", "same", "same"}));
    EXPECT_EQ(combo(4).text(), "3");
}

TEST_F(UserList, SupprimerThenGenerationPairsOnlyTheNamesShown) {
    addWithEnter("alice");
    addWithEnter("bob");
    QTest::mouseClick(c().Command5, Qt::LeftButton);
    EXPECT_EQ(items(combo(5)), (QStringList{"alice"}));
    EXPECT_EQ(items(c().List2), (QStringList{"alice"}));
    EXPECT_EQ(combo(4).text(), "1");
    EXPECT_TRUE(c().Combo5->hasFocus());
    addWithEnter("carol");
    c().Command1->click();
    ASSERT_TRUE(fakes_.messageBox.calls.empty()) << fakes_.messageBox.calls[0].text;
    const QStringList lines = items(c().List1);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith("alice\t"));
    EXPECT_TRUE(lines[1].startsWith("carol\t"));
    // The names have been used: both lists are empty again, the count stays.
    EXPECT_EQ(combo(5).listCount(), 0);
    EXPECT_EQ(c().List2->count(), 0);
    EXPECT_EQ(combo(4).text(), "2");
}

TEST_F(UserList, SupprimerWithNothingSelectedOrTheLastName) {
    addWithEnter("alice");
    typeInto(5, "typed"); // typing leaves no entry selected: nothing to remove
    QTest::mouseClick(c().Command5, Qt::LeftButton);
    EXPECT_EQ(items(combo(5)), (QStringList{"alice"}));
    choose(5, "alice");
    QTest::mouseClick(c().Command5, Qt::LeftButton);
    EXPECT_EQ(combo(5).listCount(), 0);
    EXPECT_EQ(c().List2->count(), 0);
    EXPECT_EQ(combo(5).text(), "");
    EXPECT_EQ(combo(4).text(), "1");
    QTest::mouseClick(c().Command5, Qt::LeftButton); // an empty list: still nothing happens
    EXPECT_EQ(combo(5).listCount(), 0);
}

TEST_F(UserList, ViderAnsweredNoThenYes) {
    addWithEnter("alice");
    addWithEnter("bob");
    fakes_.messageBox.answers = {MessageAnswer::No, MessageAnswer::Yes};
    QTest::mouseClick(c().Command6, Qt::LeftButton);
    ASSERT_EQ(fakes_.messageBox.calls.size(), 1u);
    const auto& call = fakes_.messageBox.calls[0];
    EXPECT_EQ(call.text, "Vider la liste complètement ?");
    EXPECT_EQ(call.icon, MessageIcon::Exclamation);
    EXPECT_EQ(call.buttons, MessageButtons::YesNo);
    EXPECT_EQ(call.title, "Avertissement");
    EXPECT_EQ(combo(5).listCount(), 2);
    QTest::mouseClick(c().Command6, Qt::LeftButton);
    EXPECT_EQ(combo(5).listCount(), 0);
    EXPECT_EQ(c().List2->count(), 0);
    EXPECT_EQ(combo(4).text(), "2");
}

TEST_F(UserList, UncheckingKeepsTheNames) {
    addWithEnter("alice");
    c().Check10->click();
    EXPECT_FALSE(c().Combo5->isEnabled());
    EXPECT_FALSE(c().Command4->isEnabled());
    EXPECT_FALSE(c().Command6->isEnabled());
    EXPECT_EQ(c().Combo5->palette().color(QPalette::Base), tolvane::ui::systemColour(4));
    c().Check10->click();
    EXPECT_TRUE(c().Combo5->isEnabled());
    EXPECT_EQ(c().Combo5->palette().color(QPalette::Base), tolvane::ui::systemColour(5));
    EXPECT_EQ(items(combo(5)), (QStringList{"alice"}));
    EXPECT_EQ(items(c().List2), (QStringList{"alice"}));
}

TEST_F(UserList, LeavingAnEmptyListLeavesTheCountWithoutEntry) {
    c().Combo5->setFocus(Qt::MouseFocusReason);
    c().Combo1->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(combo(4).listIndex(), -1);
    EXPECT_EQ(combo(4).text(), "");
    c().Command1->click();
    ASSERT_EQ(fakes_.messageBox.calls.size(), 1u);
    EXPECT_EQ(fakes_.messageBox.calls[0].text,
              "Le nombre de séquences à générer doit être un nombre entier, par exemple 1.");
}

TEST_F(UserList, AHundredAndFirstNameIsRefused) {
    for (int i = 1; i <= 100; ++i) {
        addWithEnter(QString("user%1").arg(i));
    }
    EXPECT_EQ(combo(4).text(), "100");
    addWithEnter("one too many");
    EXPECT_EQ(combo(5).listCount(), 100);
    EXPECT_EQ(c().List2->count(), 100);
    ASSERT_EQ(fakes_.messageBox.calls.size(), 1u);
    EXPECT_EQ(fakes_.messageBox.calls[0].text,
              "La liste ne peut pas contenir plus de 100 utilisateurs : ce nom n'a pas été "
              "ajouté.");
}

class Puk : public FormTest {
protected:
    void chooseIrreversible() { QTest::mouseClick(c().Option1, Qt::LeftButton); }
    void leaveTheCode() { c().Combo4->setFocus(Qt::TabFocusReason); }
};

TEST_F(Puk, IrreversibleOpensTheEntryAndSelectsTheCode) {
    chooseIrreversible();
    ASSERT_EQ(fakes_.messageBox.calls.size(), 1u);
    const auto& call = fakes_.messageBox.calls[0];
    EXPECT_EQ(call.text,
              "Entrez un code PUK (personal user code)\nqui servira à crypter le code secret "
              "généré...");
    EXPECT_EQ(call.icon, MessageIcon::Information);
    EXPECT_EQ(call.title, "Code PUK");
    EXPECT_TRUE(c().Text1->isEnabled());
    EXPECT_TRUE(c().Check1->isEnabled());
    EXPECT_TRUE(c().Text1->hasFocus());
    QTest::keyClicks(c().Text1, "secret42");
    QTest::mouseClick(c().Option0, Qt::LeftButton);
    EXPECT_EQ(fakes_.messageBox.calls.back().text,
              "Ce type de cryptage laisse apparaître le mot de passe en clair...");
    EXPECT_EQ(fakes_.messageBox.calls.back().title, "Info");
    EXPECT_FALSE(c().Text1->isEnabled());
    EXPECT_FALSE(c().Check1->isEnabled());
    EXPECT_EQ(c().Text1->text(), "secret42");
    EXPECT_EQ(c().Text1->palette().color(QPalette::Base), tolvane::ui::systemColour(11));
    chooseIrreversible();
    EXPECT_EQ(c().Text1->text(), "secret42");
    EXPECT_EQ(c().Text1->selectedText(), "secret42");
    EXPECT_TRUE(c().Text1->hasFocus());
}

struct AdviceCase {
    const char* length;
    int pukLength;
    bool advice;
};

class PukAdvice : public Puk, public ::testing::WithParamInterface<AdviceCase> {};

TEST_P(PukAdvice, HalfTheLengthAtLeast) {
    const auto& p = GetParam();
    choose(1, p.length);
    chooseIrreversible();
    QTest::keyClicks(c().Text1, QString(p.pukLength, 'k'));
    fakes_.messageBox.calls.clear();
    leaveTheCode();
    ASSERT_EQ(fakes_.messageBox.calls.size(), p.advice ? 1u : 0u);
    if (p.advice) {
        EXPECT_EQ(fakes_.messageBox.calls[0].text,
                  "Il est souhaitable d'utiliser un code PUK plus long !");
        EXPECT_EQ(fakes_.messageBox.calls[0].icon, MessageIcon::Exclamation);
        EXPECT_EQ(fakes_.messageBox.calls[0].title, "Avertissement");
    }
}

INSTANTIATE_TEST_SUITE_P(Boundaries, PukAdvice,
                         ::testing::Values(AdviceCase{"8", 3, true}, AdviceCase{"8", 4, false},
                                           AdviceCase{"9", 4, true}, AdviceCase{"9", 5, false},
                                           AdviceCase{"3", 0, true}, AdviceCase{"30", 0, true},
                                           AdviceCase{"30", 15, false}),
                         [](const auto& info) {
                             return std::string("L") + info.param.length + "_P" +
                                    std::to_string(info.param.pukLength);
                         });

TEST_F(Puk, MaskingAndTheMaskedCodeCannotBeCopied) {
    chooseIrreversible();
    QTest::keyClicks(c().Text1, "s3cr3t");
    EXPECT_EQ(c().Text1->echoMode(), QLineEdit::Password);
    EXPECT_EQ(c().Text1->font().family(), "Wingdings");
    QGuiApplication::clipboard()->setText("before");
    c().Text1->selectAll();
    c().Text1->copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "before");
    QTest::mouseClick(c().Check1, Qt::LeftButton);
    EXPECT_EQ(c().Text1->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(c().Text1->font().family(), "MS Sans Serif");
    QTest::mouseClick(c().Check1, Qt::LeftButton);
    EXPECT_EQ(c().Text1->echoMode(), QLineEdit::Password);
    EXPECT_EQ(c().Text1->text(), "s3cr3t");
}

TEST_F(Puk, IrreversibleLinesEndWithTheCodeOfTheTypedPuk) {
    c().Check10->click();
    c().Combo5->setFocus(Qt::MouseFocusReason);
    typeInto(5, "alice");
    QTest::keyClick(c().Combo5, Qt::Key_Return);
    chooseIrreversible();
    c().Text1->insert("clé");
    c().Check9->click();
    fakes_.messageBox.calls.clear();
    c().Command1->click();
    ASSERT_EQ(c().List1->count(), 1);
    const QStringList fields = c().List1->item(0)->text().split('\t');
    ASSERT_EQ(fields.size(), 3);
    EXPECT_EQ(fields[0], "alice");
    const std::string code = tolvane::engine::CryptageIrreversible(
        U"clé", (fields[0] + "\t" + fields[1]).toStdU32String(), 2);
    EXPECT_EQ(fields[2].toStdString(), code);
    const auto typed =
        QString::fromStdU32String(tolvane::delivery::typedText(fakes_.injector.scripts.at(0)));
    EXPECT_TRUE(typed.contains("\n\n\nUtilisateur\tMot de passe\tChaîne cryptée\nalice\t"));
}

// However an option button or a check box is activated, its handler runs once; the selected
// option, activated again, runs it again, as a click on it does.
struct Activation {
    const char* name;
    void (*activate)(QAbstractButton*);
};

void PrintTo(const Activation& activation, std::ostream* os) {
    *os << activation.name;
}

void byAction(QAbstractButton* button, const QString& action) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(button);
    ASSERT_TRUE(iface->actionInterface()->actionNames().contains(action));
    const bool before = button->isChecked();
    iface->actionInterface()->doAction(action);
    // Carried out as a click a moment later: the check state changes, or the click ends.
    (void)QTest::qWaitFor([&] { return button->isChecked() != before || !button->isDown(); });
    QTest::qWait(20);
}

class Activations : public FormTest, public ::testing::WithParamInterface<Activation> {
protected:
    long handled(const std::string& title) const {
        long n = std::count(fakes_.log.begin(), fakes_.log.end(), "dialog:" + title);
        for (const auto& call : fakes_.messageBox.calls) {
            n += call.title == title;
        }
        return n;
    }
};

TEST_P(Activations, EachRunsTheHandlerOnce) {
    GetParam().activate(c().Option1);
    EXPECT_EQ(handled("Code PUK"), 1);
    EXPECT_TRUE(c().Text1->isEnabled());
    GetParam().activate(c().Option0);
    EXPECT_EQ(handled("Info"), 1);
    EXPECT_FALSE(c().Text1->isEnabled());
    GetParam().activate(c().Option4);
    EXPECT_EQ(handled("Envoyer vers..."), 1);
    GetParam().activate(c().Option4);
    EXPECT_EQ(handled("Envoyer vers..."), 2);
    GetParam().activate(c().Option3);
    EXPECT_FALSE(c().Check9->isEnabled());
    GetParam().activate(c().Check10);
    EXPECT_TRUE(c().Combo5->isEnabled());
    GetParam().activate(c().Check10);
    EXPECT_FALSE(c().Combo5->isEnabled());
    EXPECT_EQ(handled("Code PUK") + handled("Info"), 2);
}

// One generation at a time: "Générer", "RAZ" and "Annuler" activated while the keys go out do
// nothing, nor do their clicks still queued when the keys are all out.
TEST_P(Activations, NoCommandRunsInsideAGeneration) {
    if (std::string_view(GetParam().name) == "toggle_action") {
        GTEST_SKIP() << "push buttons offer Press, not Toggle";
    }
    QPointer<tolvane::ui::Form1> window = &form();
    fakes_.injector.whileTyping = [&] {
        for (QAbstractButton* b : {c().Command1, c().Command3, c().Command2}) {
            GetParam().activate(b);
            QTest::mousePress(b, Qt::LeftButton);
            QCoreApplication::postEvent(
                b, new QMouseEvent(QEvent::MouseButtonRelease, QPointF(5, 5),
                                   b->mapToGlobal(QPointF(5, 5)), Qt::LeftButton, Qt::NoButton,
                                   Qt::NoModifier));
        }
    };
    c().Command1->click();
    fakes_.injector.whileTyping = nullptr;
    QTest::qWait(250); // a click an assistive technology asked for comes a moment later
    EXPECT_EQ(fakes_.injector.scripts.size(), 1u);
    EXPECT_EQ(window.data(), &form());
    EXPECT_EQ(c().List1->count(), 1);
    EXPECT_TRUE(fakes_.messageBox.calls.empty());
    EXPECT_EQ(quits_, 0);
    c().Command1->click(); // and the next one runs
    EXPECT_EQ(fakes_.injector.scripts.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, Activations,
    ::testing::Values(Activation{"mouse",
                                 [](QAbstractButton* b) { QTest::mouseClick(b, Qt::LeftButton); }},
                      Activation{"space",
                                 [](QAbstractButton* b) {
                                     b->setFocus(Qt::TabFocusReason);
                                     QTest::keyClick(b, Qt::Key_Space);
                                 }},
                      Activation{"toggle_action",
                                 [](QAbstractButton* b) {
                                     byAction(b, QAccessibleActionInterface::toggleAction());
                                 }},
                      Activation{"press_action",
                                 [](QAbstractButton* b) {
                                     byAction(b, QAccessibleActionInterface::pressAction());
                                 }}),
    [](const auto& info) { return std::string(info.param.name); });

class Destinations : public FormTest {};

TEST_F(Destinations, ColumnTitlesFollowTheDestination) {
    c().Check9->click();
    QTest::mouseClick(c().Option3, Qt::LeftButton);
    EXPECT_FALSE(c().Check9->isEnabled());
    EXPECT_EQ(checkValue(c().Check9), 1);
    QTest::mouseClick(c().Option2, Qt::LeftButton);
    EXPECT_TRUE(c().Check9->isEnabled());
    QTest::mouseClick(c().Option3, Qt::LeftButton);
    QTest::mouseClick(c().Option4, Qt::LeftButton);
    EXPECT_TRUE(c().Check9->isEnabled());
}

TEST_F(Destinations, TheDialogPicksAndCancelsKeepThePath) {
    fakes_.fileDialog.answers = {std::nullopt, std::string("/opt/R&D/tableur"), std::nullopt};
    QTest::mouseClick(c().Option4, Qt::LeftButton);
    EXPECT_TRUE(c().Option4->isChecked());
    EXPECT_EQ(c().Option4->text(), "Vers un autre programme");
    EXPECT_EQ(fakes_.fileDialog.lastInitialPath, "");
    ASSERT_EQ(fakes_.fileDialog.lastFilters.size(), 2u);
    EXPECT_EQ(fakes_.fileDialog.lastFilters[0].description, "fichiers exécutable (*.exe)");
    EXPECT_EQ(fakes_.fileDialog.lastFilters[0].pattern, "*.exe");
    EXPECT_EQ(fakes_.fileDialog.lastFilters[1].description, " Tous les fichiers (*.*)");
    EXPECT_EQ(fakes_.fileDialog.lastFilters[1].pattern, " *.*");
    QTest::mouseClick(c().Option4, Qt::LeftButton);
    EXPECT_EQ(tolvane::ui::caption(c().Option4), "/opt/R&D/tableur");
    QTest::mouseClick(c().Option4, Qt::LeftButton);
    EXPECT_EQ(fakes_.fileDialog.lastInitialPath, "/opt/R&D/tableur");
    EXPECT_EQ(tolvane::ui::caption(c().Option4), "/opt/R&D/tableur");
    EXPECT_EQ(fakes_.log,
              (tolvane::fakes::CallLog{"dialog:Envoyer vers...", "dialog:Envoyer vers...",
                                       "dialog:Envoyer vers..."}));
    c().Command1->click();
    EXPECT_EQ(fakes_.log.end()[-3], "type:/opt/R&D/tableur");
}

TEST_F(Destinations, NoProgramChosenTypesNothing) {
    QTest::mouseClick(c().Option4, Qt::LeftButton); // cancelled
    c().Command1->click();
    EXPECT_EQ(c().List1->count(), 1);
    ASSERT_EQ(fakes_.messageBox.calls.size(), 1u);
    EXPECT_EQ(fakes_.messageBox.calls[0].text, "Aucun programme n'a été choisi : cliquez sur « "
                                               "Vers un autre programme » pour en choisir un.");
    EXPECT_TRUE(fakes_.injector.scripts.empty());
}

TEST_F(Destinations, ClipboardGetsTheLinesAndNothingIsTyped) {
    QTest::mouseClick(c().Option3, Qt::LeftButton);
    choose(4, "3");
    c().Command1->click();
    ASSERT_EQ(fakes_.clipboard.texts.size(), 1u);
    const QString text = QString::fromStdString(fakes_.clipboard.texts[0]);
    EXPECT_EQ(text, items(c().List1).join('\n') + '\n');
    EXPECT_TRUE(fakes_.injector.scripts.empty());
}

TEST_F(Destinations, QuitOnlyOnYes) {
    fakes_.messageBox.answers = {MessageAnswer::No, MessageAnswer::Cancel, MessageAnswer::Yes};
    c().Command2->click();
    c().Command2->click();
    EXPECT_EQ(quits_, 0);
    const auto& call = fakes_.messageBox.calls[0];
    EXPECT_EQ(call.text, "Souhaitez-vous réellement quitter le programme ?");
    EXPECT_EQ(call.icon, MessageIcon::Question);
    EXPECT_EQ(call.buttons, MessageButtons::YesNoCancel);
    EXPECT_EQ(call.title, "Quitter ?");
    c().Command2->click();
    EXPECT_EQ(quits_, 1);
}

TEST_F(Destinations, ResetBringsEveryDefaultBack) {
    c().Check10->click();
    c().Combo5->setFocus(Qt::MouseFocusReason);
    typeInto(5, "alice");
    QTest::keyClick(c().Combo5, Qt::Key_Return);
    QTest::mouseClick(c().Option1, Qt::LeftButton);
    QTest::keyClicks(c().Text1, "puk");
    choose(1, "12");
    choose(2, "Elevé");
    c().Command1->click();
    fakes_.fileDialog.answers = {std::string("/usr/bin/true")};
    QTest::mouseClick(c().Option4, Qt::LeftButton);
    ASSERT_EQ(c().List1->count(), 1);
    // Shares the list's own copy of the line: the reset overwrites it before the list goes.
    const QString shown = c().List1->item(0)->text();
    ASSERT_FALSE(shown.isEmpty());

    c().Command3->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(shown, QString(shown.size(), QChar(0)));
    EXPECT_EQ(combo(1).text(), "8");
    EXPECT_EQ(combo(2).text(), "Moyen");
    EXPECT_EQ(combo(3).text(), "1");
    EXPECT_EQ(combo(4).text(), "1");
    EXPECT_EQ(combo(5).listCount(), 0);
    EXPECT_EQ(checkValue(c().Check10), 0);
    EXPECT_TRUE(c().Option0->isChecked());
    EXPECT_EQ(c().Text1->text(), "");
    EXPECT_FALSE(c().Text1->isEnabled());
    EXPECT_TRUE(c().Option2->isChecked());
    EXPECT_EQ(c().Option4->text(), "Vers un autre programme");
    EXPECT_EQ(c().List1->count(), 0);
    EXPECT_EQ(c().List2->count(), 0);

    fakes_.injector.scripts.clear();
    c().Command1->click();
    ASSERT_EQ(fakes_.injector.scripts.size(), 1u);
    EXPECT_EQ(c().List1->count(), 1);
    const auto typed =
        QString::fromStdU32String(tolvane::delivery::typedText(fakes_.injector.scripts[0]));
    EXPECT_EQ(typed.count('\n'), 3 + 1 + 2);
}

TEST_F(Destinations, AddressHoverAndNotice) {
    QWidget* label = c().Label6;
    QMouseEvent over(QEvent::MouseMove, QPointF(5, 5), label->mapToGlobal(QPointF(5, 5)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(label, &over);
    EXPECT_TRUE(label->font().italic());
    EXPECT_TRUE(label->font().bold());
    // The navy band is part of the window's surface.
    const QPointF band(20, 200);
    QMouseEvent surface(QEvent::MouseMove, band, form().mapToGlobal(band), Qt::NoButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&form(), &surface);
    EXPECT_FALSE(label->font().italic());
    QApplication::sendEvent(label, &over);
    QTest::mouseClick(label, Qt::LeftButton);
    EXPECT_FALSE(label->font().italic());
    ASSERT_EQ(fakes_.messageBox.calls.size(), 1u);
    EXPECT_EQ(fakes_.messageBox.calls[0].title, ""); // shown as "Kestrio"
    EXPECT_NE(fakes_.messageBox.calls[0].text.find("version 1.0.2"), std::string::npos);
    EXPECT_NE(fakes_.messageBox.calls[0].text.find("licence MIT"), std::string::npos);
}

} // namespace
