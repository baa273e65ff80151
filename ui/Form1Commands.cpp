// The window's handlers for the destination, quitting, resetting and the maker's address.
#include "ui/Form1.h"

#include "platform/Version.h"
#include "ui/Form1Look.h"
#include "ui_Form1.h"

namespace tolvane::ui {

using platform::MessageButtons;
using platform::MessageIcon;

namespace {

std::string aboutText() {
    const platform::Version& v = platform::kVersion;
    return "Tolvane, version " + std::to_string(v.major) + "." + std::to_string(v.minor) + "." +
           std::to_string(v.revision) +
           "\nCréation de mots de passe.\n\n"
           "Logiciel libre distribué sous licence MIT : vous pouvez l'utiliser, le copier, le "
           "modifier et le redistribuer, sans aucune garantie.\n"
           "© 2026 Les développeurs de Tolvane.";
}

} // namespace

void Form1::Option2_Click() {
    ui_->Check9->setEnabled(true);
}

void Form1::Option3_Click() {
    ui_->Check9->setEnabled(false);
}

void Form1::Option4_Click() {
    // Column titles are typed into the other program too, so the box is offered there.
    ui_->Check9->setEnabled(true);
    const std::vector<platform::FileFilter> filters{
        {"fichiers exécutable (*.exe)", "*.exe"},
        {" Tous les fichiers (*.*)", " *.*"},
    };
    if (auto chosen =
            services_.fileDialog.getOpenFileName("Envoyer vers...", filters, dialogFileName_)) {
        dialogFileName_ = *chosen;
    }
    if (!dialogFileName_.empty()) {
        chosenProgram_ = dialogFileName_;
        setCaption(ui_->Option4, QString::fromStdString(chosenProgram_));
    }
}

void Form1::Command2_Click() {
    if (generating_) {
        return; // closing the window is the way to leave during a generation
    }
    const auto answer =
        services_.messageBox.show("Souhaitez-vous réellement quitter le programme ?",
                                  MessageIcon::Question, MessageButtons::YesNoCancel, "Quitter ?");
    if (answer == platform::MessageAnswer::Yes) {
        lifecycle_.quit();
    }
}

void Form1::Command3_Click() {
    if (generating_) {
        return; // the window's lists are in use
    }
    lifecycle_.reload();
}

void Form1::Label6_MouseMove() {
    setAboutHovered(*ui_, true);
}

void Form1::Form_MouseMove() {
    setAboutHovered(*ui_, false);
}

void Form1::Label6_Click() {
    Form_MouseMove();
    services_.messageBox.show(aboutText(), MessageIcon::Information, MessageButtons::Ok, "");
}

} // namespace tolvane::ui
