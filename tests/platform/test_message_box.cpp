#include "platform/qt/QtMessageBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

using namespace tolvane::platform;

namespace {

struct Shown {
    QString title;
    QStringList buttons;
    QString text;
};

// Shows a box, reads it while it is up, and answers with the button of that caption.
Shown showAndAnswer(MessageButtons buttons, const std::string& title, const QString& answer,
                    MessageAnswer& pressed) {
    Shown shown;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        shown.title = box->windowTitle();
        shown.text = box->text();
        for (QAbstractButton* b : box->buttons()) {
            shown.buttons << b->text().remove('&');
            if (b->text().remove('&') == answer) {
                b->click();
            }
        }
    });
    qt::QtMessageBox messageBox;
    pressed = messageBox.show("Souhaitez-vous réellement quitter le programme ?",
                              MessageIcon::Question, buttons, title);
    return shown;
}

TEST(MessageBox, FrenchButtonsTheTitleAndTheAnswer) {
    MessageAnswer pressed{};
    const Shown shown = showAndAnswer(MessageButtons::YesNoCancel, "Quitter ?", "Non", pressed);
    EXPECT_EQ(shown.title, "Quitter ?");
    EXPECT_EQ(shown.text, "Souhaitez-vous réellement quitter le programme ?");
    EXPECT_TRUE(shown.buttons.contains("Oui"));
    EXPECT_TRUE(shown.buttons.contains("Non"));
    EXPECT_TRUE(shown.buttons.contains("Annuler"));
    EXPECT_EQ(pressed, MessageAnswer::No);
}

TEST(MessageBox, WithoutATitleItShowsTheApplicationTitle) {
    MessageAnswer pressed{};
    const Shown shown = showAndAnswer(MessageButtons::Ok, "", "OK", pressed);
    EXPECT_EQ(shown.title, "Kestrio");
    EXPECT_EQ(pressed, MessageAnswer::Ok);
}

} // namespace

#include "platform/qt/QtWaitNotice.h"

#include <QDialog>
#include <QPushButton>
#include <QTest>
#include <QWidget>

namespace {

// While the desktop asks, the notice: the answer ends the wait; "Annuler", or closing the
// program's window, gives up (the window, left to close itself, is not closed by the notice);
// a click or key aimed at the program's window meanwhile reaches nothing.
TEST(WaitNotice, TheAnswerOrGivingUpEndTheWait) {
    enum class Act { Answer, Cancel, CloseWindow, Nothing };
    struct Case {
        const char* name;
        Act act;
        WaitNotice::Outcome outcome;
    };
    for (const Case& c : {Case{"the desktop answers", Act::Answer, WaitNotice::Outcome::Done},
                          Case{"Annuler", Act::Cancel, WaitNotice::Outcome::GivenUp},
                          Case{"the window closed", Act::CloseWindow, WaitNotice::Outcome::GivenUp},
                          Case{"no answer in time", Act::Nothing, WaitNotice::Outcome::TimedOut}}) {
        QWidget window;
        window.show();
        int clicks = 0;
        auto* button = new QPushButton(QStringLiteral("Générer"), &window);
        QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
        bool answered = false;
        QTimer::singleShot(1000, [&] {
            QTest::mouseClick(button, Qt::LeftButton);
            switch (c.act) {
            case Act::Answer:
                answered = true;
                break;
            case Act::Cancel:
                for (QWidget* w : QApplication::topLevelWidgets()) {
                    if (auto* dialog = qobject_cast<QDialog*>(w); dialog && dialog->isVisible()) {
                        for (auto* b : dialog->findChildren<QPushButton*>()) {
                            if (b->text() == QStringLiteral("Annuler")) {
                                b->click();
                            }
                        }
                    }
                }
                break;
            case Act::CloseWindow:
                window.close();
                break;
            case Act::Nothing:
                break;
            }
        });
        qt::QtWaitNotice notice;
        const auto outcome = notice.waitUntil(
            "Tolvane attend la réponse du bureau.", [&] { return answered; },
            std::chrono::milliseconds(2500));
        EXPECT_EQ(outcome, c.outcome) << c.name;
        EXPECT_EQ(clicks, 0) << c.name;
    }
}

} // namespace
