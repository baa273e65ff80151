#include "platform/Typing.h"

#include <algorithm>
#include <cctype>

namespace tolvane::platform::typing {

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string lastPart(const std::string& name) {
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(dot + 1);
}

std::string quoted(const std::string& program) {
    return "« " + program + " »";
}

} // namespace

bool windowGoesByOneOf(std::string_view windowName, const std::vector<std::string>& names) {
    const std::string id = lower(windowName);
    if (id.empty()) {
        return false;
    }
    return std::any_of(names.begin(), names.end(), [&](const std::string& name) {
        const std::string n = lower(name);
        return !n.empty() && (n == id || n == lastPart(id) || lastPart(n) == id);
    });
}

std::string nothingTyped(std::string_view why) {
    return std::string(why) + " : rien n'a été tapé.";
}

std::string windowNotShown(const std::string& program) {
    return nothingTyped("La fenêtre de " + quoted(program) + " n'est pas apparue");
}

std::string windowTookNoFocus(const std::string& program) {
    return nothingTyped("La fenêtre de " + quoted(program) + " n'a pas pris le focus");
}

std::string windowNotAnswering(const std::string& program) {
    return nothingTyped("La fenêtre de " + quoted(program) + " ne répond pas");
}

std::string thisWindowKeptTheKeyboard(const std::string& program) {
    return nothingTyped("La fenêtre de Tolvane a gardé le clavier après l'arrivée de celle de " +
                        quoted(program));
}

std::string keysHeld() {
    return "Des touches du clavier restent enfoncées : relâchez-les, puis générez à nouveau. "
           "Rien n'a été tapé.";
}

std::string noFieldTakesKeys(const std::string& program, std::chrono::milliseconds waited) {
    return nothingTyped("La fenêtre de " + quoted(program) +
                        " n'a placé le curseur dans aucun champ de saisie") +
           " Quand une page ne le place pas elle-même, cliquez dans son champ pendant que "
           "Tolvane attend (" +
           std::to_string(std::chrono::duration_cast<std::chrono::seconds>(waited).count()) +
           " secondes).";
}

std::string stopped(std::string_view why, bool typedSome) {
    return typedSome ? std::string(why) + " : la frappe a été interrompue, vérifiez le texte reçu."
                     : nothingTyped(why);
}

std::string lostFocus(const std::string& program) {
    return "La fenêtre de " + quoted(program) + " a perdu le focus";
}

std::string programClosed(const std::string& program) {
    return "Le programme " + quoted(program) + " s'est fermé";
}

std::string noLongerAnswering(const std::string& program) {
    return "La fenêtre de " + quoted(program) + " ne répond plus";
}

std::string focusGoneAtTheEnd(const std::string& program) {
    return "Toutes les touches sont parties, mais la fenêtre de " + quoted(program) +
           " n'avait plus le focus quand elle les a lues : vérifiez le texte reçu.";
}

std::string fieldShowsFewer(const std::string& program) {
    return "Toutes les touches sont parties, mais le champ de " + quoted(program) +
           " ne les montre pas toutes : vérifiez le texte reçu.";
}

} // namespace tolvane::platform::typing
