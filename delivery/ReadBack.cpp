#include "delivery/ReadBack.h"

#include "delivery/Scripts.h"
#include "platform/Keystrokes.h"
#include "platform/Wipe.h"

#include <algorithm>
#include <vector>

namespace tolvane::delivery {

namespace {

// How many lines that differ are named; the others are counted.
constexpr std::size_t kLinesNamed = 3;
// A changed stretch longer than this is not quoted.
constexpr std::size_t kQuoted = 12;

// The text between quotes, every character that does not show (a Tab, a control) as U+FFFD.
std::string quoted(std::u32string_view text) {
    std::u32string shown(text);
    for (char32_t& c : shown) {
        if (!platform::mayBeTyped(c) || c == U'\t' || c == U'\n' || c == U'\r') {
            c = 0xFFFD;
        }
    }
    return "« " + platform::toUtf8(shown) + " »";
}

// The capital of a Latin letter; the letter itself for any other character.
char32_t capital(char32_t c) {
    if ((c >= U'a' && c <= U'z') || (c >= U'à' && c <= U'þ' && c != U'÷')) {
        return c - 0x20;
    }
    return c;
}

// The field (from 1) of a line in which a position falls.
std::size_t fieldAt(std::u32string_view line, std::size_t position) {
    return 1 + static_cast<std::size_t>(
                   std::count(line.begin(), line.begin() + std::min(position, line.size()), U'\t'));
}

std::string where(std::size_t line, std::u32string_view typedLine,
                  const std::vector<std::size_t>& columns) {
    std::string text = "ligne " + std::to_string(line);
    if (typedLine.find(U'\t') == std::u32string_view::npos || columns.empty()) {
        return text;
    }
    text += columns.size() > 1 ? ", colonnes " : ", colonne ";
    for (std::size_t i = 0; i < columns.size(); ++i) {
        text += (i == 0                    ? ""
                 : i + 1 == columns.size() ? " et "
                                           : ", ") +
                std::to_string(columns[i]);
    }
    return text;
}

void addColumn(std::vector<std::size_t>& columns, std::size_t column) {
    if (std::find(columns.begin(), columns.end(), column) == columns.end()) {
        columns.push_back(column);
    }
}

// How a line, or a cell, differs; the fields of a line it changed into `columns`.
std::string change(std::u32string_view typed, std::u32string_view shown,
                   std::vector<std::size_t>& columns) {
    std::string how;
    if (typed.size() == shown.size()) {
        // Characters replaced one for one: each replacement once, or capitals put in.
        std::vector<std::pair<char32_t, char32_t>> replaced;
        bool capitals = true;
        for (std::size_t i = 0; i < typed.size(); ++i) {
            if (typed[i] == shown[i]) {
                continue;
            }
            addColumn(columns, fieldAt(typed, i));
            capitals = capitals && capital(typed[i]) == shown[i];
            const std::pair pair{typed[i], shown[i]};
            if (std::find(replaced.begin(), replaced.end(), pair) == replaced.end()) {
                replaced.push_back(pair);
            }
        }
        if (capitals) {
            how = replaced.size() > 1 ? "des majuscules ajoutées" : "une majuscule ajoutée";
        } else {
            for (std::size_t i = 0; i < replaced.size(); ++i) {
                how += (i ? ", " : "") + quoted(std::u32string_view(&replaced[i].first, 1)) +
                       " devenu " + quoted(std::u32string_view(&replaced[i].second, 1));
            }
        }
        std::sort(columns.begin(), columns.end());
        return how;
    }
    // Otherwise the stretch between what both begin and end with.
    std::size_t prefix = 0;
    while (prefix < typed.size() && prefix < shown.size() && typed[prefix] == shown[prefix]) {
        ++prefix;
    }
    std::size_t suffix = 0;
    while (suffix < typed.size() - prefix && suffix < shown.size() - prefix &&
           typed[typed.size() - 1 - suffix] == shown[shown.size() - 1 - suffix]) {
        ++suffix;
    }
    const std::u32string_view was = typed.substr(prefix, typed.size() - prefix - suffix);
    const std::u32string_view now = shown.substr(prefix, shown.size() - prefix - suffix);
    addColumn(columns, fieldAt(typed, prefix));
    addColumn(columns, fieldAt(typed, prefix + was.size()));
    if (was.empty()) {
        const bool atEnd = prefix == typed.size();
        how = now.size() > kQuoted ? "du texte en plus" : quoted(now) + " en plus";
        how += atEnd ? " à la fin" : "";
    } else if (now.empty()) {
        how = was.size() > 1 ? std::to_string(was.size()) + " caractères en moins"
                             : "un caractère en moins";
    } else if (was == U"\t" && now.find_first_not_of(U' ') == std::u32string_view::npos) {
        how = "une tabulation devenue des espaces";
    } else if (was.size() <= kQuoted && now.size() <= kQuoted) {
        how = quoted(was) + " devenu " + quoted(now);
    } else {
        how = "le texte changé";
    }
    return how;
}

// One line that differs: where, and how.
std::string lineChange(std::size_t number, std::u32string_view typed, std::u32string_view shown) {
    std::vector<std::size_t> columns;
    const std::string how = change(typed, shown, columns);
    return where(number, typed, columns) + " : " + how;
}

std::string joined(const std::vector<std::string>& changes, std::size_t more, const char* one,
                   const char* others) {
    std::string text;
    for (std::size_t i = 0; i < changes.size(); ++i) {
        text += (i ? " ; " : "") + changes[i];
    }
    if (more) {
        text +=
            more > 1 ? " ; et " + std::to_string(more) + " " + others : std::string(" ; et ") + one;
    }
    return text;
}

// The person's message once the target changed what it received; none when it did not.
// `settings`: where the target's aids are turned off, when known.
std::optional<std::string> toldChanged(const platform::LaunchResult& target,
                                       std::string& differences, const std::string& settings = {}) {
    if (differences.empty()) {
        return std::nullopt;
    }
    std::string message =
        "Toutes les touches ont été envoyées, mais le texte que montre « " + target.program +
        " » n'est pas celui qui a été tapé : " + differences +
        ". Le programme l'a changé en le recevant (correction automatique, complétion, "
        "parenthèses fermées d'elles-mêmes…) : corrigez le texte reçu, ou désactivez ces aides "
        "dans ses réglages" +
        (settings.empty() ? std::string() : " (" + settings + ")") + " et recommencez.";
    platform::wipe(differences); // it may quote a few characters of a password
    return message;
}

// The person's message once the target showed its window but not, in time, what it received.
std::optional<std::string> toldLate(const platform::LaunchResult& target,
                                    platform::ShownText::Outcome outcome) {
    if (outcome != platform::ShownText::Outcome::Late) {
        return std::nullopt;
    }
    return "Toutes les touches ont été envoyées, mais « " + target.program +
           " » n'a pas montré à temps le texte reçu : il n'a pas pu être comparé avec celui qui "
           "a été tapé. Vérifiez-le avant de vous en servir.";
}

// Where KWrite and Kate (KDE's editor component) close brackets of their own, in their French
// menus; none for another program. Known by the program's name or the names its desktop entry
// gives its windows.
std::string editorSettings(const platform::LaunchResult& target) {
    std::vector<std::string> names = target.declaredNames;
    names.push_back(target.program);
    names.push_back(target.executable);
    for (const std::string& name : names) {
        const std::string base = name.substr(name.find_last_of("/.") + 1);
        if (base == "kwrite" || base == "kate") {
            const std::string program = base == "kate" ? "Kate" : "KWrite";
            return program + " : Configuration > Configurer " + program +
                   "... > Modification, onglet « Général » : « Fermer automatiquement les "
                   "parenthèses lors de la saisie de la parenthèse ouvrante »";
        }
    }
    return {};
}

} // namespace

std::string describeDifferences(std::u32string_view typed, std::u32string_view shown) {
    // One line break more at the very end changes no line (Chromium shows one after a text
    // area's last line break).
    if (typed.ends_with(U'\n') && shown.ends_with(U"\n\n")) {
        shown.remove_suffix(1);
    }
    const std::vector<std::u32string_view> want = splitAt(typed, U'\n');
    const std::vector<std::u32string_view> got = splitAt(shown, U'\n');
    if (got.size() < want.size()) {
        return {};
    }
    std::vector<std::string> changes;
    std::size_t more = 0;
    const auto differs = [&](std::size_t i) {
        if (changes.size() < kLinesNamed) {
            changes.push_back(lineChange(i + 1, want[i], got[i]));
        } else {
            ++more;
        }
    };
    // The lines typed up to the last one, which is empty when typing ended with Enter.
    const std::size_t last = want.size() - 1;
    for (std::size_t i = 0; i < last; ++i) {
        if (want[i] != got[i]) {
            differs(i);
        }
    }
    const bool beyond = got.size() > want.size();
    if (want[last].empty()) {
        if (beyond || !got[last].empty()) {
            const std::u32string_view extra = shown.substr(shown.size() - [&] {
                std::size_t size = got.size() - 1 - last; // the line breaks
                for (std::size_t i = last; i < got.size(); ++i) {
                    size += got[i].size();
                }
                return size;
            }());
            changes.push_back(std::string("du texte en plus après la dernière ligne") +
                              (extra.size() <= kQuoted ? " : " + quoted(extra) : ""));
        }
    } else {
        if (want[last] != got[last]) {
            differs(last);
        }
        if (beyond) {
            changes.push_back("des lignes en plus après la dernière");
        }
    }
    return joined(changes, more, "une autre ligne", "autres lignes");
}

std::string describeCellDifferences(std::u32string_view typed,
                                    const std::vector<std::u32string>& cells, std::size_t columns) {
    std::vector<std::string> changes;
    std::size_t more = 0;
    const std::vector<std::u32string_view> lines = splitAt(typed, U'\n');
    for (std::size_t row = 0; row < lines.size(); ++row) {
        const std::vector<std::u32string_view> fields = splitAt(lines[row], U'\t');
        for (std::size_t column = 0; column < columns; ++column) {
            const std::size_t at = row * columns + column;
            const std::u32string_view want =
                column < fields.size() ? fields[column] : std::u32string_view();
            if (at >= cells.size() || cells[at] == want) {
                continue;
            }
            if (changes.size() == kLinesNamed) {
                ++more;
                continue;
            }
            std::vector<std::size_t> unused;
            changes.push_back("ligne " + std::to_string(row + 1) + ", colonne " +
                              std::to_string(column + 1) + " : " + change(want, cells[at], unused));
        }
    }
    return joined(changes, more, "une autre cellule", "autres cellules");
}

// Room for what a target may add to the text typed (a bracket closed, a word completed) and
// still be read back.
constexpr std::size_t kReadBackRoom = 4096;

std::optional<std::string> changedOnArrival(const KeystrokeScript& script,
                                            const platform::LaunchResult& target,
                                            platform::TextReadBack& readBack) {
    std::u32string typed = typedText(script);
    platform::ShownText shown = readBack.read(target, 2 * typed.size() + kReadBackRoom);
    std::string differences;
    if (shown.outcome == platform::ShownText::Outcome::Read) {
        differences = describeDifferences(typed, shown.text);
    }
    platform::wipe(typed);
    platform::wipe(shown.text);
    if (std::optional<std::string> late = toldLate(target, shown.outcome)) {
        return late;
    }
    return toldChanged(target, differences, editorSettings(target));
}

std::optional<std::string> cellsChangedOnArrival(const DeliveryRequest& request,
                                                 const platform::LaunchResult& target,
                                                 platform::TextReadBack& readBack) {
    std::size_t size = request.titles ? request.titles->size() + 1 : 0;
    std::size_t columns = request.titles ? splitAt(*request.titles, U'\t').size() : 1;
    for (const std::u32string& line : request.lines) {
        size += line.size() + 1;
        columns = std::max(columns, splitAt(line, U'\t').size());
    }
    const std::size_t rows = request.lines.size() + (request.titles ? 1 : 0);
    std::size_t longest = 0;
    std::u32string typed;
    typed.reserve(size); // no copy of a password left behind by a buffer outgrown
    const auto add = [&](std::u32string_view line) {
        for (std::u32string_view field : splitAt(line, U'\t')) {
            longest = std::max(longest, field.size());
        }
        typed += line;
        typed += U'\n';
    };
    if (request.titles) {
        add(*request.titles);
    }
    for (const std::u32string& line : request.lines) {
        add(line);
    }
    platform::ShownCells shown =
        readBack.readCells(target, rows, columns, 2 * longest + kReadBackRoom);
    std::string differences;
    if (shown.outcome == platform::ShownText::Outcome::Read) {
        differences = describeCellDifferences(typed, shown.cells, columns);
    }
    platform::wipe(typed);
    for (std::u32string& cell : shown.cells) {
        platform::wipe(cell);
    }
    if (std::optional<std::string> late = toldLate(target, shown.outcome)) {
        return late;
    }
    // Only LibreOffice Calc shows its cells to assistive technologies.
    return toldChanged(target, differences,
                       spreadsheetSettings(platform::Spreadsheet::LibreOffice));
}

std::string spreadsheetSettings(platform::Spreadsheet spreadsheet) {
    using platform::Spreadsheet;
    const std::string libreOffice =
        "LibreOffice Calc : Outils > Options d'AutoCorrection (onglets « Options » et "
        "« Options linguistiques ») et Outils > AutoSaisie";
    const std::string gnumeric = "Gnumeric : Outils > Correction automatique et Affichage > "
                                 "Propriétés de la vue (« Complétion automatique »)";
    switch (spreadsheet) {
    case Spreadsheet::LibreOffice:
        return libreOffice;
    case Spreadsheet::Gnumeric:
        return gnumeric;
    default:
        return libreOffice + " ; " + gnumeric;
    }
}

} // namespace tolvane::delivery
