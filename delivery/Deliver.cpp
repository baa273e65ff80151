#include "delivery/Deliver.h"

#include "delivery/ReadBack.h"
#include "delivery/Scripts.h"
#include "platform/Wipe.h"

#include <algorithm>

namespace tolvane::delivery {

namespace {

using engine::Destination;

// A text shown in a message: a character that may not be typed shows as U+FFFD.
std::string shown(std::u32string text) {
    for (char32_t& c : text) {
        if (!platform::mayBeTyped(c) || c == U'\t' || c == U'\n' || c == U'\r') {
            c = 0xFFFD;
        }
    }
    return toUtf8(text);
}

// "« î »", "« î » et « é »", with the article for a fixed line when asked.
std::string characterList(std::u32string_view characters, bool article) {
    std::string list;
    for (std::size_t i = 0; i < characters.size(); ++i) {
        if (i > 0) {
            list += i + 1 == characters.size() ? " et " : ", ";
        }
        list += platform::describeCharacters(characters.substr(i, 1));
    }
    if (!article) {
        return list;
    }
    return (characters.size() > 1 ? "les " : "le ") + list;
}

// The characters of the set that a text holds, in the set's order.
std::u32string found(std::u32string_view text, std::u32string_view set) {
    std::u32string in;
    for (char32_t c : set) {
        if (text.find(c) != std::u32string_view::npos) {
            in += c;
        }
    }
    return in;
}

constexpr std::size_t kNamesShown = 3;

// What a spreadsheet still changes in typed text, and where the person turns it off.
std::string spreadsheetNote(platform::Spreadsheet spreadsheet) {
    const std::string where = spreadsheetSettings(spreadsheet);
    return "Le programme choisi est un tableur. Les champs qu'il lirait comme une formule ou un "
           "nombre (un mot de passe qui commence par « + » ou « = », un code tout en chiffres) "
           "y sont tapés de façon qu'il les garde comme du texte. Mais sa correction "
           "automatique et sa saisie semi-automatique changent encore le texte tapé "
           "(apostrophes et guillemets, majuscules en début de mot, tirets, mots complétés "
           "d'après la colonne) : pour que le texte arrive tel quel, désactivez-les dans " +
           where + ".";
}

} // namespace

std::string describeUntypable(const DeliveryRequest& request, std::u32string_view untypable) {
    std::vector<std::string> places;
    const bool editor = request.destination == Destination::Notepad;
    const auto fixedLine = [&](std::u32string_view line, const char* where) {
        if (const std::u32string in = found(line, untypable); !in.empty()) {
            places.push_back(characterList(in, true) + where);
        }
    };
    if (editor) {
        fixedLine(bannerLine(), " de la ligne d'en-tête");
    }
    if (request.titles) {
        fixedLine(*request.titles, " des titres des colonnes");
    }
    // Fields of a line: the password alone, or the name, the password and perhaps the code.
    std::u32string names, passwords, codes;
    // Room for every line at once: a buffer outgrown would be freed with passwords in it.
    std::size_t size = 0;
    for (const std::u32string& line : request.lines) {
        size += line.size();
    }
    passwords.reserve(size);
    codes.reserve(size);
    std::vector<std::u32string> namesHolding;
    for (const std::u32string& line : request.lines) {
        const auto f = splitAt(line, U'\t');
        const std::size_t password = f.size() > 1 ? 1 : 0;
        passwords += f[password];
        for (std::size_t i = password + 1; i < f.size(); ++i) {
            codes += f[i];
        }
        if (password == 1 && !found(f[0], untypable).empty()) {
            names += f[0];
            if (std::find(namesHolding.begin(), namesHolding.end(), f[0]) == namesHolding.end()) {
                namesHolding.emplace_back(f[0]);
            }
        }
    }
    if (const std::u32string in = found(names, untypable); !in.empty()) {
        std::string which = namesHolding.size() > 1 ? " dans les noms " : " dans le nom ";
        for (std::size_t i = 0; i < std::min(namesHolding.size(), kNamesShown); ++i) {
            which += (i ? ", « " : "« ") + shown(namesHolding[i]) + " »";
        }
        if (namesHolding.size() > kNamesShown) {
            which += " et " + std::to_string(namesHolding.size() - kNamesShown) + " autres";
        }
        places.push_back(characterList(in, false) + which);
    }
    if (const std::u32string in = found(passwords, untypable); !in.empty()) {
        places.push_back(characterList(in, false) + " dans les mots de passe");
    }
    if (const std::u32string in = found(codes, untypable); !in.empty()) {
        places.push_back(characterList(in, false) + " dans les codes");
    }
    if (editor) {
        fixedLine(footerLine(request.countText, request.count), " de la ligne de fin");
    }
    platform::wipe(passwords);
    platform::wipe(codes);
    std::string text;
    for (std::size_t i = 0; i < places.size(); ++i) {
        text += (i ? ", " : "") + places[i];
    }
    return text;
}

std::optional<std::string> Deliver(const DeliveryRequest& request, DeliveryServices services) {
    if (request.destination == Destination::Clipboard) {
        std::u32string text = clipboardText(request.lines);
        std::string utf8 = toUtf8(text);
        services.clipboard.setSecretText(utf8);
        platform::wipe(text);
        platform::wipe(utf8);
        return std::nullopt;
    }
    // Check that keystrokes can reach anything before starting a program for them.
    if (std::string why = services.injector.unavailableReason(); !why.empty()) {
        return why;
    }
    const bool editor = request.destination == Destination::Notepad;
    if (!editor && request.programPath.empty()) {
        return std::string("Aucun programme n'a été choisi : cliquez sur « Vers un autre "
                           "programme » pour en choisir un.");
    }
    const platform::Spreadsheet spreadsheet =
        editor ? platform::Spreadsheet::None : services.launcher.spreadsheetAt(request.programPath);
    KeystrokeScript script =
        editor ? notepadScript(request.lines, request.titles, request.countText, request.count)
               : otherProgramScript(request.lines, request.titles, spreadsheet);
    // A script holds every password: nothing of it stays in memory once typed.
    struct ScriptWiper {
        KeystrokeScript& script;
        ~ScriptWiper() {
            for (KeyAction& action : script) {
                platform::wipe(action.text);
            }
        }
    } wiper{script};
    // The one typed instead, once the target's window tells that it is a spreadsheet.
    KeystrokeScript intoSheet;
    ScriptWiper sheetWiper{intoSheet};

    // Into another program, the quote of Calc's formulas is laid out with the password
    // characters, whether or not a field needs it: a keyboard that other programs can read
    // tells nothing of the fields.
    const std::u32string alphabet = passwordCharacters() + (editor ? U"" : U"\"");
    platform::Preparation prepared = services.injector.prepare(script, alphabet);
    if (!prepared.error.empty()) {
        return prepared.error;
    }
    bool paste = false;
    if (!prepared.untypable.empty()) {
        const std::string what =
            std::string(prepared.layoutLacks
                            ? "Ces caractères ne peuvent pas être tapés avec la disposition du "
                              "clavier en service : "
                            : "Ces caractères ne peuvent pas être tapés au clavier : ") +
            describeUntypable(request, prepared.untypable) + ".";
        platform::wipe(prepared.untypable);
        if (!editor || !prepared.layoutLacks || !services.injector.canPaste()) {
            return what + " Rien n'a été tapé." +
                   (prepared.layoutLacks ? " Choisissez « Vers le presse-papier »." : "");
        }
        const platform::MessageAnswer answer = services.messages.show(
            what + "\n\nTolvane peut plutôt coller le texte dans l'éditeur : il passera par le "
                   "presse-papier, marqué secret, et en sera retiré dès que l'éditeur l'aura "
                   "lu. Coller le texte ?",
            platform::MessageIcon::Question, platform::MessageButtons::YesNo, "Coller le texte ?");
        if (answer != platform::MessageAnswer::Yes) {
            return std::nullopt; // the user's choice: nothing is typed
        }
        paste = true;
    }

    const auto note = [&](platform::Spreadsheet sheet) {
        if (!(request.spreadsheetNoted && *request.spreadsheetNoted)) {
            services.messages.show(spreadsheetNote(sheet), platform::MessageIcon::Information,
                                   platform::MessageButtons::Ok, "Tableur");
            if (request.spreadsheetNoted) {
                *request.spreadsheetNoted = true;
            }
        }
    };
    if (spreadsheet != platform::Spreadsheet::None) {
        note(spreadsheet);
    }
    std::vector<std::string> environment = services.injector.beforeLaunch();
    if (services.readBack) {
        for (std::string& variable : services.readBack->beforeLaunch()) {
            environment.push_back(std::move(variable));
        }
    }
    if (paste) {
        // Put there before the editor starts, while this program's window has the focus,
        // which a Wayland desktop asks of a program that fills the clipboard.
        std::u32string text = typedText(script);
        std::string utf8 = toUtf8(text);
        services.clipboard.setSecretText(utf8);
        platform::wipe(text);
        platform::wipe(utf8);
    }
    const platform::LaunchResult target =
        editor ? services.launcher.startTextEditor(environment)
               : services.launcher.startProgram(request.programPath, environment);
    if (!target.started) {
        services.injector.launchFailed();
        if (paste) {
            services.clipboard.takeOffOnceRead(std::chrono::milliseconds(0));
        }
        return target.error;
    }
    // The program stays unreaped while keys are meant for it, so that its process id cannot go
    // to another process meanwhile.
    struct Release {
        platform::ProgramLauncher& launcher;
        const platform::LaunchResult& target;
        ~Release() { launcher.release(target); }
    } release{services.launcher, target};

    if (paste) {
        const platform::InjectionResult pasted =
            services.injector.pasteInto(target, [&] { services.clipboard.countReadsFromNow(); });
        const bool read = services.clipboard.takeOffOnceRead(
            pasted.complete ? std::chrono::milliseconds(kPasteLimit)
                            : std::chrono::milliseconds(0));
        if (!pasted.complete) {
            return pasted.error;
        }
        if (!read) {
            return "L'éditeur n'a pas lu le texte à coller dans les " +
                   std::to_string(kPasteLimit.count()) +
                   " secondes : il a été retiré du presse-papier, vérifiez le texte reçu.";
        }
        return std::nullopt;
    }
    // A program the path did not tell apart (a launcher script of another name, a snap, a
    // flatpak) may show a spreadsheet's window, or a spreadsheet only known as one may tell
    // which: its fields then go as that spreadsheet keeps them as text.
    platform::Spreadsheet seen = platform::Spreadsheet::None;
    platform::ScriptChooser choose;
    if (!editor && (spreadsheet == platform::Spreadsheet::None ||
                    spreadsheet == platform::Spreadsheet::Other)) {
        choose = [&](const std::vector<std::string>& windowNames) -> const KeystrokeScript* {
            seen = platform::spreadsheetOfWindow(windowNames);
            if (seen == platform::Spreadsheet::None) {
                return nullptr;
            }
            for (KeyAction& action : intoSheet) { // a buffer given up is freed holding nothing
                platform::wipe(action.text);
            }
            intoSheet = otherProgramScript(request.lines, request.titles, seen);
            return &intoSheet;
        };
    }
    const platform::InjectionResult typed = services.injector.typeInto(target, script, choose);
    // The note comes once the keys are sent: a box shown before would take the focus from the
    // target's window.
    if (spreadsheet == platform::Spreadsheet::None && seen != platform::Spreadsheet::None) {
        note(seen);
    }
    if (!typed.complete) {
        return typed.error;
    }
    if (!services.readBack) {
        return std::nullopt;
    }
    // A spreadsheet's cells are not one text: Calc's are read one by one; a text field is
    // read only where it took every line.
    if (spreadsheet == platform::Spreadsheet::LibreOffice ||
        seen == platform::Spreadsheet::LibreOffice) {
        return cellsChangedOnArrival(request, target, *services.readBack);
    }
    if (spreadsheet == platform::Spreadsheet::None && seen == platform::Spreadsheet::None) {
        return changedOnArrival(script, target, *services.readBack);
    }
    return std::nullopt;
}

} // namespace tolvane::delivery
