// The window's handlers for the user list and the encoding mode with its PUK entry.
#include "ui/Form1.h"

#include "engine/Choices.h"
#include "platform/Keystrokes.h"
#include "ui/Form1Look.h"
#include "ui_Form1.h"

namespace tolvane::ui {

using platform::MessageButtons;
using platform::MessageIcon;

void Form1::Check10_Click() {
    QWidget* const buttons[] = {ui_->Command4, ui_->Command5, ui_->Command6};
    if (checkValue(ui_->Check10) != 0) {
        showUsable(ui_->Combo5, true, 4);
        ui_->Combo5->setEnabled(true);
        for (QWidget* b : buttons) {
            b->setEnabled(true);
        }
    } else {
        ui_->Combo5->setEnabled(false);
        showUsable(ui_->Combo5, false, 4);
        for (QWidget* b : buttons) {
            b->setEnabled(false);
        }
    }
}

void Form1::Combo5_Click() {
    combo5_->setListIndex(combo5_->listCount() - 1);
    combo4_->setListIndex(combo5_->listCount() - 1);
}

void Form1::Combo5_KeyPress(int& keyAscii) {
    if (keyAscii == 13) {
        Command4_Click();
    }
}

void Form1::Combo5_LostFocus() {
    combo4_->setListIndex(combo5_->listCount() - 1);
}

void Form1::Command4_Click() {
    const QString name = combo5_->text();
    if (name.isEmpty()) {
        return;
    }
    if (combo5_->listCount() >= kMaxUsers) {
        warn("La liste ne peut pas contenir plus de " + std::to_string(kMaxUsers) +
             " utilisateurs : ce nom n'a pas été ajouté.");
        ui_->Combo5->setFocus(Qt::OtherFocusReason);
        return;
    }
    // A name is one field of a row: no Tab or line end, and nothing no key may type.
    const std::u32string typed = name.toStdU32String();
    char32_t refused = platform::firstNotTypable(typed);
    for (char32_t separator : {U'\t', U'\n', U'\r'}) {
        if (!refused && typed.find(separator) != std::u32string::npos) {
            refused = separator;
        }
    }
    if (refused) {
        warn("Ce nom contient un caractère qui ne peut pas être tapé (" +
             platform::describeCharacters(std::u32string(1, refused)) +
             ") : il n'a pas été ajouté.");
        ui_->Combo5->setFocus(Qt::OtherFocusReason);
        return;
    }
    combo5_->addItem(name);
    ui_->List2->addItem(name);
    // Selecting the first entry brings the box to the last name and the count to the number
    // of names; when the first entry is already the selected one, nothing would run.
    const bool moves = combo5_->listIndex() != 0;
    combo5_->setListIndex(0);
    if (!moves) {
        Combo5_Click();
    }
    ui_->Combo5->setFocus(Qt::OtherFocusReason);
}

void Form1::Command5_Click() {
    const int selected = combo5_->listIndex();
    if (selected >= 0) {
        combo5_->removeItem(selected);
        if (selected < ui_->List2->count()) {
            delete ui_->List2->takeItem(selected);
        }
        if (combo5_->listCount() > 0) {
            combo5_->setListIndex(0);
        } else {
            // The last name is gone: an empty box; the count keeps its number, as after "Vider".
            combo5_->setText(QString());
        }
    }
    ui_->Combo5->setFocus(Qt::OtherFocusReason);
}

void Form1::Command6_Click() {
    const auto answer =
        services_.messageBox.show("Vider la liste complètement ?", MessageIcon::Exclamation,
                                  MessageButtons::YesNo, "Avertissement");
    if (answer == platform::MessageAnswer::Yes) {
        combo5_->clear();
        ui_->List2->clear();
    }
}

void Form1::Option0_Click() {
    showUsable(ui_->Text1, false, 11);
    ui_->Text1->setEnabled(false);
    ui_->Check1->setEnabled(false);
    services_.messageBox.show("Ce type de cryptage laisse apparaître le mot de passe en clair...",
                              MessageIcon::Information, MessageButtons::Ok, "Info");
}

void Form1::Option1_Click() {
    services_.messageBox.show("Entrez un code PUK (personal user code)\nqui servira à crypter le "
                              "code secret généré...",
                              MessageIcon::Information, MessageButtons::Ok, "Code PUK");
    showUsable(ui_->Text1, true, 11);
    ui_->Text1->setEnabled(true);
    ui_->Text1->setFocus(Qt::OtherFocusReason);
    ui_->Text1->setSelection(0, static_cast<int>(ui_->Text1->text().size()));
    ui_->Check1->setEnabled(true);
}

void Form1::Check1_Click() {
    showPukMasked(*ui_, ui_->Check1->isChecked());
}

void Form1::Text1_LostFocus() {
    if (engine::pukTooShort(combo1_->text().toStdU32String(), ui_->Text1->text().toUcs4().size())) {
        warn("Il est souhaitable d'utiliser un code PUK plus long !");
    }
}

} // namespace tolvane::ui
