#include "FormFixture.h"

#include "delivery/Scripts.h"
#include "ui/Controls.h"
#include "ui/Form1Look.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPointer>

using tolvane::platform::MessageButtons;
using tolvane::platform::MessageIcon;
using tolvane::testing::FormTest;
using tolvane::ui::checkValue;

namespace {

QStringList numbers(int from, int to) {
    QStringList list;
    for (int i = from; i <= to; ++i) {
        list << QString::number(i);
    }
    return list;
}

// Check2 .. Check8 in class order.
std::vector<QCheckBox*> classBoxes(Ui::Form1& c) {
    return {c.Check2, c.Check3, c.Check4, c.Check5, c.Check6, c.Check7, c.Check8};
}

} // namespace

TEST_F(FormTest, StartUpState) {
    EXPECT_EQ(form().windowTitle(), "Tolvane - Création de mot de passe");
    EXPECT_EQ(form().size(), QSize(511, 396));
    EXPECT_EQ(items(combo(1)), numbers(3, 30));
    EXPECT_EQ(combo(1).text(), "8");
    EXPECT_EQ(combo(1).listIndex(), 5);
    EXPECT_EQ(items(combo(2)), (QStringList{"Faible", "Moyen", "Elevé", "Personalisé"}));
    EXPECT_EQ(combo(2).listIndex(), 1);
    EXPECT_EQ(combo(2).text(), "Moyen");
    EXPECT_EQ(items(combo(3)), (QStringList{"1", "2", "4"}));
    EXPECT_EQ(combo(3).text(), "1");
    EXPECT_EQ(items(combo(4)), numbers(1, 100));
    EXPECT_EQ(combo(4).text(), "1");
    EXPECT_EQ(combo(5).listCount(), 0);

    EXPECT_EQ(c().Label7->text(), "Conseillé");
    EXPECT_EQ(c().Label8->text(), "");
    EXPECT_EQ(c().Label9->text(), "1 segment de 8");
    EXPECT_EQ(c().Label9->toolTip(), "########");
    EXPECT_EQ(c().Combo3->toolTip(), "########");

    const std::vector<int> values{2, 2, 2, 0, 0, 0, 2};
    const auto boxes = classBoxes(c());
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        EXPECT_EQ(checkValue(boxes[i]), values[i]) << boxes[i]->objectName().toStdString();
        EXPECT_FALSE(boxes[i]->isEnabled());
    }
    EXPECT_TRUE(c().Option0->isChecked());
    EXPECT_FALSE(c().Option1->isChecked());
    EXPECT_FALSE(c().Text1->isEnabled());
    EXPECT_EQ(c().Text1->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(c().Check1->isChecked());
    EXPECT_FALSE(c().Check1->isEnabled());
    EXPECT_TRUE(c().Option2->isChecked());
    EXPECT_EQ(c().Option4->text(), "Vers un autre programme");
    EXPECT_TRUE(c().Check9->isEnabled());
    EXPECT_EQ(checkValue(c().Check9), 0);
    EXPECT_TRUE(c().Check10->isEnabled());
    EXPECT_EQ(checkValue(c().Check10), 0);
    for (QWidget* w : std::initializer_list<QWidget*>{c().Combo5, c().Command4, c().Command5,
                                                      c().Command6, c().Check11}) {
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    }
    for (QWidget* w :
         std::initializer_list<QWidget*>{c().List1, c().List2, c().Text2, c().Check11}) {
        EXPECT_FALSE(w->isVisible()) << w->objectName().toStdString();
    }
    EXPECT_EQ(c().List1->count(), 0);
    EXPECT_EQ(c().List2->count(), 0);
    EXPECT_TRUE(c().Combo1->hasFocus());
    EXPECT_TRUE(fakes_.log.empty());
}

struct SegmentListCase {
    const char* length;
    QStringList segments;
    const char* warning;
};

class SegmentLists : public FormTest, public ::testing::WithParamInterface<SegmentListCase> {};

TEST_P(SegmentLists, ChoosingALengthRefillsTheDivisors) {
    const auto& p = GetParam();
    choose(3, "2"); // a length choice always brings the segments back to 1
    choose(1, p.length);
    EXPECT_EQ(items(combo(3)), p.segments);
    EXPECT_EQ(combo(3).text(), "1");
    EXPECT_EQ(combo(3).listIndex(), 0);
    EXPECT_EQ(c().Label8->text(), p.warning);
    EXPECT_EQ(c().Label9->text(), QString("1 segment de ") + p.length);
    EXPECT_EQ(c().Label9->toolTip(), QString(QString(p.length).toInt(), '#'));
    EXPECT_EQ(combo(2).text(), "Moyen");
}

INSTANTIATE_TEST_SUITE_P(Lengths, SegmentLists,
                         ::testing::Values(SegmentListCase{"3", {"1"}, "/!\\ Déconseillé"},
                                           SegmentListCase{"7", {"1"}, "/!\\ Déconseillé"},
                                           SegmentListCase{"8", {"1", "2", "4"}, ""},
                                           SegmentListCase{"12", {"1", "2", "3", "4", "6"}, ""},
                                           SegmentListCase{
                                               "30", {"1", "2", "3", "5", "6", "10", "15"}, ""}),
                         [](const auto& info) { return std::string("L") + info.param.length; });

struct LayoutCase {
    const char* length;
    const char* segments;
    const char* caption;
    const char* tip;
};

class SegmentLayouts : public FormTest, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(SegmentLayouts, CaptionAndPattern) {
    const auto& p = GetParam();
    choose(1, p.length);
    choose(3, p.segments);
    EXPECT_EQ(c().Label9->text(), p.caption);
    EXPECT_EQ(c().Label9->toolTip(), p.tip);
    EXPECT_EQ(c().Combo3->toolTip(), p.tip);
    EXPECT_TRUE(fakes_.messageBox.calls.empty());
}

INSTANTIATE_TEST_SUITE_P(Layouts, SegmentLayouts,
                         ::testing::Values(LayoutCase{"8", "1", "1 segment de 8", "########"},
                                           LayoutCase{"8", "2", "2 segments de 4", "####-####..."},
                                           LayoutCase{"8", "4", "4 segments de 2", "##-##..."},
                                           LayoutCase{"30", "15", "15 segments de 2", "##-##..."},
                                           LayoutCase{"12", "3", "3 segments de 4",
                                                      "####-####..."}),
                         [](const auto& info) {
                             return std::string("L") + info.param.length + "_S" +
                                    info.param.segments;
                         });

TEST_F(FormTest, TypedLengthThatTheSegmentsDoNotDivide) {
    typeInto(1, "10"); // typing is not a choice: the segment list still holds 1, 2, 4
    EXPECT_EQ(items(combo(3)), (QStringList{"1", "2", "4"}));
    choose(3, "4");
    ASSERT_EQ(fakes_.messageBox.calls.size(), 1u);
    const auto& call = fakes_.messageBox.calls[0];
    EXPECT_EQ(call.text, "Cette combinaison n'est pas possible...");
    EXPECT_EQ(call.icon, MessageIcon::Exclamation);
    EXPECT_EQ(call.buttons, MessageButtons::Ok);
    EXPECT_EQ(call.title, "Avertissement");
    EXPECT_EQ(c().Label9->text(), "4 segments de 2,5");
    EXPECT_EQ(c().Label9->toolTip(), "##-##...");
    EXPECT_EQ(combo(1).text(), "10");
}

TEST_F(FormTest, NonNumericTextsReadByTheSegmentHandlerStopNothing) {
    for (const char* typed : {"abc", "", "0", "-8", "99999999999999999999"}) {
        typeInto(1, typed);
        choose(3, "2");
        choose(3, "1");
    }
    typeInto(1, "8");
    choose(3, "2");
    EXPECT_EQ(c().Label9->text(), "2 segments de 4");
}

struct LevelCase {
    const char* level;
    std::vector<int> values; // Check2 .. Check8
    bool enabled;
    const char* advice;
};

class Levels : public FormTest, public ::testing::WithParamInterface<LevelCase> {};

TEST_P(Levels, ClassBoxes) {
    const auto& p = GetParam();
    choose(2, QString::fromUtf8(p.level));
    const auto boxes = classBoxes(c());
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        EXPECT_EQ(checkValue(boxes[i]), p.values[i]) << boxes[i]->objectName().toStdString();
        EXPECT_EQ(boxes[i]->isEnabled(), p.enabled);
    }
    EXPECT_EQ(c().Label7->text(), p.advice);
}

INSTANTIATE_TEST_SUITE_P(
    All, Levels,
    ::testing::Values(LevelCase{"Faible", {2, 2, 0, 0, 0, 0, 0}, false, ""},
                      LevelCase{"Moyen", {2, 2, 2, 0, 0, 0, 2}, false, "Conseillé"},
                      LevelCase{"Elevé", {2, 2, 2, 2, 2, 2, 2}, false, ""},
                      LevelCase{"Personalisé", {0, 0, 0, 0, 0, 0, 0}, true, ""}),
    [](const auto& info) { return std::string("level") + std::to_string(info.index); });

TEST_F(FormTest, CustomChoicesAreDiscardedByTheNextLevel) {
    choose(2, "Personalisé");
    QTest::mouseClick(c().Check6, Qt::LeftButton);
    EXPECT_EQ(checkValue(c().Check6), 1);
    QTest::mouseClick(c().Check6, Qt::LeftButton); // the user toggles between 0 and 1 only
    EXPECT_EQ(checkValue(c().Check6), 0);
    QTest::mouseClick(c().Check6, Qt::LeftButton);
    choose(2, "Faible");
    EXPECT_EQ(checkValue(c().Check6), 0);
    EXPECT_FALSE(c().Check6->isEnabled());
    EXPECT_EQ(checkValue(c().Check2), 2);
    EXPECT_EQ(checkValue(c().Check3), 2);
    choose(2, "Personalisé");
    for (QCheckBox* box : classBoxes(c())) {
        EXPECT_EQ(checkValue(box), 0);
    }
}

// Closing the window while the desktop asks ends the generation first, then the window.
TEST_F(FormTest, ClosedWhileTheDesktopAsksTheWindowClosesOnceTheGenerationEnds) {
    bool visibleAfterClose = false;
    fakes_.injector.unavailable = "Vous avez renoncé à attendre l'accord du bureau.";
    fakes_.injector.whileAsking = [&] {
        form().close();
        visibleAfterClose = form().isVisible();
    };
    QPointer<QWidget> window = &form();
    c().Command1->click();
    EXPECT_TRUE(visibleAfterClose);
    EXPECT_TRUE(fakes_.messageBox.calls.empty()); // nothing more to say to a window closing
    QTRY_VERIFY(window.isNull() || !window->isVisible());
}

TEST_F(FormTest, GenerationAddsLinesAndDeliversToTheEditor) {
    choose(1, "12");
    choose(3, "3");
    choose(4, "2");
    c().Command1->click();
    ASSERT_EQ(c().List1->count(), 2);
    for (const QString& line : items(c().List1)) {
        EXPECT_EQ(line.size(), 14);
        EXPECT_EQ(line[4], '-');
        EXPECT_EQ(line[9], '-');
    }
    EXPECT_EQ(fakes_.log,
              (tolvane::fakes::CallLog{"sound:notify.wav", "injector:prepare",
                                       "injector:before-launch", "start:editor", "type:editor",
                                       "read-back:editor", "release:editor"}));
    ASSERT_EQ(fakes_.injector.scripts.size(), 1u);

    // A second generation appends, and its delivery types the older lines first.
    choose(4, "1");
    c().Command1->click();
    const QStringList lines = items(c().List1);
    ASSERT_EQ(lines.size(), 3);
    ASSERT_EQ(fakes_.injector.scripts.size(), 2u);
    const auto typed =
        QString::fromStdU32String(tolvane::delivery::typedText(fakes_.injector.scripts[1]));
    EXPECT_TRUE(typed.contains(lines[0] + "\n" + lines[1] + "\n" + lines[2] + "\n\n\n"));
    EXPECT_TRUE(typed.endsWith("--- Terminé :  1 code généré ---"));
}

TEST_F(FormTest, AssociationMismatchWarnsAfterTheSoundAndChangesNothing) {
    c().Check10->click();
    choose(4, "3");
    c().Command1->click();
    ASSERT_EQ(fakes_.messageBox.calls.size(), 1u);
    const auto& call = fakes_.messageBox.calls[0];
    EXPECT_EQ(call.text,
              "Le nombre d'utilisateurs ne correspond pas au nombre de mots de passe à générer !");
    EXPECT_EQ(call.icon, MessageIcon::Exclamation);
    EXPECT_EQ(call.buttons, MessageButtons::Ok);
    EXPECT_EQ(call.title, "Averitssemen(");
    EXPECT_EQ(fakes_.log.front(), "sound:notify.wav");
    EXPECT_EQ(fakes_.log.size(), 2u);
    EXPECT_EQ(c().List1->count(), 0);
}

struct BadCountCase {
    const char* name;
    int box;
    const char* text;
    const char* message;
};

class BadInput : public FormTest, public ::testing::WithParamInterface<BadCountCase> {};

TEST_P(BadInput, RefusedWithAFrenchMessageAndListKept) {
    const auto& p = GetParam();
    c().Command1->click(); // one line already there
    ASSERT_EQ(c().List1->count(), 1);
    const QStringList before = items(c().List1);
    fakes_.log.clear();
    typeInto(p.box, p.text);
    c().Command1->click();
    ASSERT_EQ(fakes_.messageBox.calls.size(), 1u);
    EXPECT_EQ(fakes_.messageBox.calls[0].text, p.message);
    EXPECT_EQ(fakes_.messageBox.calls[0].title, "Avertissement");
    EXPECT_EQ(items(c().List1), before);
    EXPECT_EQ(fakes_.injector.scripts.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, BadInput,
    ::testing::Values(
        BadCountCase{"count_huge", 4, "999999999",
                     "Le nombre de séquences à générer doit être compris entre 0 et 10000."},
        BadCountCase{"count_text", 4, "abc",
                     "Le nombre de séquences à générer doit être un nombre entier, par exemple 1."},
        BadCountCase{"length_decimal", 1, "8.5",
                     "La longueur souhaitée doit être un nombre entier, par exemple 8."},
        BadCountCase{"segments_zero", 3, "0",
                     "Le nombre de segments doit être compris entre 1 et la longueur souhaitée "
                     "(8)."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FormTest, EmptyCustomSelectionIsRefused) {
    choose(2, "Personalisé");
    c().Command1->click();
    ASSERT_EQ(fakes_.messageBox.calls.size(), 1u);
    EXPECT_EQ(fakes_.messageBox.calls[0].text, "Aucun type de caractère n'est sélectionné : cochez "
                                               "au moins une case sous « Personalisé ».");
    EXPECT_EQ(c().List1->count(), 0);
    EXPECT_TRUE(fakes_.injector.scripts.empty());
}

TEST_F(FormTest, PicturesAndIconAreDrawnForThePixelDensity) {
    // In the window: each picture at its natural size, in the screen's own pixels.
    for (const QLabel* image : {c().Image1, c().Image2, c().Image3}) {
        const QPixmap shown = image->pixmap();
        EXPECT_EQ(shown.devicePixelRatio(), image->devicePixelRatioF())
            << image->objectName().toStdString();
        EXPECT_EQ(shown.deviceIndependentSize().toSize(), image->size())
            << image->objectName().toStdString();
    }
    // Whole and fractional densities: never a smaller render enlarged.
    for (const qreal ratio : {1.0, 1.5, 2.0, 3.0}) {
        for (const char* name : {"keyring", "tools", "padlock"}) {
            const QPixmap pixmap = tolvane::ui::picture(name, ratio);
            const QSize natural = tolvane::ui::picture(name, 1.0).size();
            EXPECT_EQ(pixmap.size(), (QSizeF(natural) * ratio).toSize()) << name << " " << ratio;
        }
        const QSize icon = (QSizeF(32, 32) * ratio).toSize();
        EXPECT_EQ(form().windowIcon().pixmap(QSize(32, 32), ratio).size(), icon) << ratio;
        EXPECT_TRUE(form().windowIcon().availableSizes().contains(icon)) << ratio;
    }
}
