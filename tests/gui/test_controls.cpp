#include "FormFixture.h"

#include "ui/Controls.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>

#include <cmath>

using tolvane::testing::FormTest;
using tolvane::ui::ComboControl;

namespace {

// A bare editable combo box behind the adapter, counting the click handler's runs.
class ComboAdapter : public ::testing::Test {
protected:
    ComboAdapter() : box_(new QComboBox), combo_(box_) {
        box_->setEditable(true);
        combo_.onClick([this] {
            ++clicks_;
            if (nested_) {
                nested_();
            }
        });
    }
    ~ComboAdapter() override { delete box_; }

    QComboBox* box_;
    ComboControl combo_;
    int clicks_ = 0;
    std::function<void()> nested_;
};

TEST_F(ComboAdapter, AppendingIntoAnEmptyBoxRunsNothingAndSelectsNothing) {
    combo_.addItem("a"); // Qt alone selects it and signals currentIndexChanged
    combo_.addItem("b");
    EXPECT_EQ(clicks_, 0);
    EXPECT_EQ(combo_.listIndex(), -1);
    EXPECT_EQ(combo_.text(), "");
}

TEST_F(ComboAdapter, ClearingRunsNothing) {
    combo_.addItem("a");
    combo_.setListIndex(0);
    clicks_ = 0;
    combo_.clear(); // Qt alone signals currentIndexChanged(-1)
    EXPECT_EQ(clicks_, 0);
    EXPECT_EQ(combo_.listIndex(), -1);
    EXPECT_EQ(combo_.listCount(), 0);
}

TEST_F(ComboAdapter, SelectingFromCodeRunsTheHandlerAtOnceButNotForTheSameEntry) {
    combo_.addItem("a");
    combo_.addItem("b");
    EXPECT_TRUE(combo_.setListIndex(1));
    EXPECT_EQ(clicks_, 1);
    EXPECT_EQ(combo_.text(), "b");
    combo_.setListIndex(1);
    EXPECT_EQ(clicks_, 1);
    EXPECT_FALSE(combo_.setListIndex(5));
    EXPECT_EQ(clicks_, 1);
    EXPECT_EQ(combo_.listIndex(), 1);
}

TEST_F(ComboAdapter, NestedSelectionRunsOnceMoreAndStops) {
    combo_.addItem("a");
    combo_.addItem("b");
    combo_.addItem("c");
    nested_ = [this] { combo_.setListIndex(combo_.listCount() - 1); };
    combo_.setListIndex(0);
    EXPECT_EQ(clicks_, 2);
    EXPECT_EQ(combo_.listIndex(), 2);
}

TEST_F(ComboAdapter, UserChoiceRunsTheHandlerEvenForTheSelectedEntry) {
    combo_.addItem("a");
    combo_.setListIndex(0);
    emit box_->activated(0);
    EXPECT_EQ(clicks_, 2);
}

TEST_F(ComboAdapter, TypingRunsNothingInsertsNothingAndDeselects) {
    combo_.addItem("a");
    combo_.setListIndex(0);
    clicks_ = 0;
    int keys = 0;
    int enters = 0;
    combo_.onKeyPress([&](int& code) { code == 13 ? ++enters : ++keys; });
    box_->show();
    box_->lineEdit()->selectAll();
    QTest::keyClicks(box_->lineEdit(), "a");
    QTest::keyClick(box_->lineEdit(), Qt::Key_Return);
    QTest::keyClicks(box_->lineEdit(), "zz");
    QTest::keyClick(box_->lineEdit(), Qt::Key_Enter);
    EXPECT_EQ(clicks_, 0);
    EXPECT_EQ(keys, 3);
    EXPECT_EQ(enters, 2);
    EXPECT_EQ(combo_.listCount(), 1);
    EXPECT_EQ(combo_.listIndex(), -1);
    EXPECT_EQ(combo_.text(), "azz");
}

TEST_F(ComboAdapter, AChosenEntryIsWhollySelectedSoTheNextKeyReplacesIt) {
    combo_.addItem("alice");
    combo_.addItem("bob");
    box_->show();
    box_->setFocus();
    for (const int index : {1, 0}) {
        combo_.setListIndex(index);
        EXPECT_EQ(box_->lineEdit()->selectedText(), combo_.itemText(index));
    }
    QTest::keyClicks(box_->lineEdit(), "carole");
    EXPECT_EQ(combo_.text(), "carole");
}

TEST_F(ComboAdapter, LeavingTheFieldWithTheTextOfAnEntryChoosesNothing) {
    combo_.addItem("alice");
    combo_.addItem("bob");
    combo_.setListIndex(1);
    clicks_ = 0;
    box_->show();
    box_->lineEdit()->selectAll();
    QTest::keyClicks(box_->lineEdit(), "alice");
    emit box_->lineEdit()->editingFinished(); // as when the focus leaves
    EXPECT_EQ(clicks_, 0);
    EXPECT_EQ(combo_.listIndex(), -1);
    EXPECT_EQ(combo_.text(), "alice");
}

TEST_F(ComboAdapter, RemovingTheSelectedEntryLeavesNoneSelected) {
    combo_.addItem("a");
    combo_.addItem("b");
    combo_.setListIndex(1);
    clicks_ = 0;
    combo_.removeItem(1);
    EXPECT_EQ(clicks_, 0);
    EXPECT_EQ(combo_.listIndex(), -1);
    EXPECT_EQ(combo_.listCount(), 1);
}

TEST(CheckValues, GrayedIsSetFromCodeAndTheUserTogglesZeroAndOne) {
    QCheckBox box;
    tolvane::ui::setCheckValue(&box, 2);
    EXPECT_EQ(tolvane::ui::checkValue(&box), 2);
    tolvane::ui::setCheckValue(&box, 0);
    box.click();
    EXPECT_EQ(tolvane::ui::checkValue(&box), 1);
    box.click();
    EXPECT_EQ(tolvane::ui::checkValue(&box), 0);
}

TEST(Captions, NoCharacterBecomesAnAccessKey) {
    QRadioButton button;
    tolvane::ui::setCaption(&button, "/opt/R&D/outil");
    EXPECT_EQ(tolvane::ui::caption(&button), "/opt/R&D/outil");
    EXPECT_EQ(button.text(), "/opt/R&&D/outil");
}

// The width a caption needs inside its control, with the control's own font.
int neededWidth(const QWidget* w, const QString& text) {
    const int textWidth = QFontMetrics(w->font()).horizontalAdvance(text);
    QStyleOptionButton option;
    option.initFrom(w);
    if (qobject_cast<const QCheckBox*>(w)) {
        return textWidth + w->style()->pixelMetric(QStyle::PM_IndicatorWidth, &option, w) +
               w->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, &option, w);
    }
    if (qobject_cast<const QRadioButton*>(w)) {
        return textWidth + w->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, &option, w) +
               w->style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, &option, w);
    }
    if (qobject_cast<const QPushButton*>(w)) {
        return textWidth + 4;
    }
    return textWidth;
}

TEST_F(FormTest, EveryCaptionFitsItsControl) {
    // The longest texts the handlers write into the advisory labels.
    choose(1, "30");
    choose(3, "15");
    c().Label8->setText("/!\\ Déconseillé");
    std::vector<QWidget*> controls;
    for (QWidget* w : form().findChildren<QWidget*>()) {
        if (!w->isHidden() && (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w))) {
            controls.push_back(w);
        }
    }
    ASSERT_GT(controls.size(), 30u);
    for (QWidget* w : controls) {
        QString text;
        if (auto* label = qobject_cast<QLabel*>(w)) {
            if (label->text().isEmpty()) {
                continue;
            }
            text = label->text();
        } else {
            text = static_cast<QAbstractButton*>(w)->text();
        }
        const QFontMetrics metrics(w->font());
        EXPECT_LE(neededWidth(w, text), w->width())
            << w->objectName().toStdString() << ": \"" << text.toStdString() << "\"";
        EXPECT_LE(metrics.ascent() + metrics.descent(), w->height() + 2)
            << w->objectName().toStdString();
    }
}

TEST_F(FormTest, EveryFigureTheBoxesListShowsWhole) {
    choose(1, "30"); // the longest segment list
    for (int n = 1; n <= 4; ++n) {
        const QLineEdit* edit = combo(n).widget()->lineEdit();
        const QFontMetricsF metrics(edit->font());
        for (const QString& entry : items(combo(n))) {
            // The field draws its text 2 pixels in from either side, and keeps a pixel for the
            // caret; a text any wider scrolls out of sight.
            const int needed = static_cast<int>(std::ceil(metrics.horizontalAdvance(entry))) + 5;
            EXPECT_LE(needed, edit->width())
                << "Combo" << n << ": \"" << entry.toStdString() << '"';
        }
    }
}

QWidget* focusedControl() {
    QWidget* focus = QApplication::focusWidget();
    while (focus && focus->focusProxy()) {
        focus = focus->focusProxy();
    }
    // A combo box's edit field stands for the box.
    if (focus && qobject_cast<QComboBox*>(focus->parentWidget())) {
        focus = focus->parentWidget();
    }
    return focus;
}

TEST_F(FormTest, TabAndShiftTabStopOnlyAtTheSelectedOptionsFromTheFirstKey) {
    const std::vector<QWidget*> cycle{c().Combo1,   c().Combo3,   c().Combo2,   c().Option0,
                                      c().Command1, c().Command2, c().Command3, c().Combo4,
                                      c().Option2,  c().Check10,  c().Check9};
    for (const Qt::Key key : {Qt::Key_Tab, Qt::Key_Backtab}) {
        c().Combo1->setFocus(Qt::OtherFocusReason);
        for (std::size_t i = 1; i <= cycle.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), key);
            const std::size_t at = key == Qt::Key_Tab ? i % cycle.size() : cycle.size() - i;
            QWidget* focus = focusedControl();
            EXPECT_EQ(focus, cycle[at]) << "key " << key << " step " << i << ": "
                                        << (focus ? focus->objectName().toStdString() : "none");
        }
    }
}

} // namespace
TEST_F(FormTest, TheTwoOptionGroupsAreIndependent) {
    QTest::mouseClick(c().Option1, Qt::LeftButton);
    EXPECT_TRUE(c().Option1->isChecked());
    EXPECT_TRUE(c().Option2->isChecked());
    QTest::mouseClick(c().Option3, Qt::LeftButton);
    EXPECT_TRUE(c().Option3->isChecked());
    EXPECT_TRUE(c().Option1->isChecked());
    EXPECT_FALSE(c().Option0->isChecked());
    EXPECT_FALSE(c().Option2->isChecked());
}

namespace {

// Every interface below one, depth first.
void collect(QAccessibleInterface* iface, std::vector<QAccessibleInterface*>& out) {
    for (int i = 0; i < iface->childCount(); ++i) {
        if (QAccessibleInterface* child = iface->child(i)) {
            out.push_back(child);
            collect(child, out);
        }
    }
}

TEST_F(FormTest, EveryFocusableControlHasAFrenchNameAndItsToolTip) {
    QAccessibleInterface* root = QAccessible::queryAccessibleInterface(&form());
    ASSERT_TRUE(root);
    std::vector<QAccessibleInterface*> all;
    collect(root, all);
    int focusable = 0;
    bool sawPassword = false;
    for (QAccessibleInterface* iface : all) {
        auto* w = qobject_cast<QWidget*>(iface->object());
        if (!w || w->isHidden() || w->focusPolicy() == Qt::NoFocus ||
            qobject_cast<QLineEdit*>(w->parentWidget()) || w->objectName().isEmpty()) {
            continue;
        }
        ++focusable;
        const QString name = iface->text(QAccessible::Name);
        EXPECT_FALSE(name.trimmed().isEmpty()) << w->objectName().toStdString();
        EXPECT_NE(name, QString(QChar(0x25CF))) << w->objectName().toStdString();
        EXPECT_EQ(iface->text(QAccessible::Description), w->toolTip())
            << w->objectName().toStdString();
        if (w == c().Text1) {
            EXPECT_EQ(name, "Code PUK");
            EXPECT_TRUE(iface->state().passwordEdit);
            sawPassword = true;
        }
    }
    EXPECT_GE(focusable, 25);
    EXPECT_TRUE(sawPassword);
    // A box is named by the label beside it, not by the value it holds.
    int labelled = 0;
    for (const QLabel* label : form().findChildren<QLabel*>()) {
        if (label->buddy()) {
            ++labelled;
            QAccessibleInterface* buddy = QAccessible::queryAccessibleInterface(label->buddy());
            EXPECT_EQ(buddy->text(QAccessible::Name), label->text());
            EXPECT_NE(buddy->text(QAccessible::Value), label->text());
        }
    }
    EXPECT_GE(labelled, 4);
    QAccessibleInterface* combo = QAccessible::queryAccessibleInterface(c().Combo1);
    const auto labels = combo->relations(QAccessible::Label);
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels[0].first->text(QAccessible::Name), "Longueur souhaitée");
    choose(3, "2");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(c().Combo3)->text(QAccessible::Description),
              "####-####...");
}

} // namespace
