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
