#include "delivery/Scripts.h"

#include "engine/CharacterClasses.h"
#include "engine/Generator.h"
#include "platform/Version.h"
#include "platform/Wipe.h"

#include <algorithm>

namespace tolvane::delivery {

namespace {

using platform::wipe;

void appendKey(KeystrokeScript& script, KeyAction::Kind kind) {
    script.push_back(KeyAction{kind, {}});
}

std::u32string ascii(const std::string& text) {
    return std::u32string(text.begin(), text.end());
}

// The longest piece of a field put in one string of a Calc formula, in UTF-16 code units:
// LibreOffice reads at most 1022 in one string (one more gives Err:513), whether or not its
// quotes are doubled.
constexpr std::size_t kCalcPiece = 1000;

// A line into a spreadsheet: each field read as something else than text goes as text.
void appendCells(KeystrokeScript& script, std::u32string_view line, Spreadsheet spreadsheet) {
    for (std::size_t start = 0;;) {
        const std::size_t tab = line.find(U'\t', start);
        const std::u32string_view field = line.substr(start, tab - start);
        if (!readAsOtherThanText(field)) {
            appendLiteral(script, field);
        } else if (spreadsheet == Spreadsheet::LibreOffice) {
            // ="…", or ="…"&"…" for a field longer than a string Calc reads in a formula.
            std::u32string formula;
            // No copy of the field left behind.
            formula.reserve(2 * field.size() + 4 * (field.size() / kCalcPiece + 1) + 1);
            formula = U"=\"";
            std::size_t units = 0; // UTF-16 code units in the piece, as Calc counts
            for (char32_t c : field) {
                const std::size_t size = c > 0xFFFF ? 2 : 1;
                if (units + size > kCalcPiece) {
                    formula += U"\"&\"";
                    units = 0;
                }
                units += size;
                formula += c;
                if (c == U'"') {
                    formula += c;
                }
            }
            formula += U'"';
            appendLiteral(script, formula);
            wipe(formula);
        } else {
            appendLiteral(script, U"'");
            appendLiteral(script, field);
        }
        if (tab == std::u32string_view::npos) {
            return;
        }
        appendKey(script, KeyAction::Kind::Tab);
        start = tab + 1;
    }
}

// The optional title line, then every line, each ended by Enter.
void appendRows(KeystrokeScript& script, const std::vector<std::u32string>& lines,
                const std::optional<std::u32string>& titleLine,
                Spreadsheet spreadsheet = Spreadsheet::None) {
    const auto append = [&](std::u32string_view line) {
        if (spreadsheet == Spreadsheet::None) {
            appendLiteral(script, line);
        } else {
            appendCells(script, line, spreadsheet);
        }
        appendKey(script, KeyAction::Kind::Enter);
    };
    if (titleLine) {
        append(*titleLine);
    }
    for (const auto& line : lines) {
        append(line);
    }
}

} // namespace

std::u32string bannerLine() {
    const auto& v = platform::kVersion;
    return U"--------- MORVANTE " + ascii(std::to_string(v.major)) + U"." +
           ascii(std::to_string(v.minor)) + U" " + ascii(std::to_string(v.revision)) +
           U" ---------";
}

std::u32string footerLine(std::u32string_view countText, std::int64_t count) {
    std::u32string footer = U"--- Terminé :  ";
    footer += countText;
    footer += count > 1 ? U" codes générés ---" : U" code généré ---";
    return footer;
}

std::u32string columnTitleLine(bool irreversible) {
    std::u32string line = U"Utilisateur\tMot de passe";
    if (irreversible) {
        line += U"\tChaîne cryptée";
    }
    return line;
}

void appendLiteral(KeystrokeScript& script, std::u32string_view text) {
    for (char32_t c : text) {
        if (c == U'\t') {
            appendKey(script, KeyAction::Kind::Tab);
        } else if (c == U'\r' || c == U'\n') {
            appendKey(script, KeyAction::Kind::Enter);
        } else {
            if (script.empty() || script.back().kind != KeyAction::Kind::Text) {
                script.push_back(KeyAction{KeyAction::Kind::Text, {}});
            }
            script.back().text += c;
        }
    }
}

KeystrokeScript notepadScript(const std::vector<std::u32string>& lines,
                              const std::optional<std::u32string>& titleLine,
                              std::u32string_view countText, std::int64_t count) {
    KeystrokeScript script;
    appendLiteral(script, bannerLine());
    for (int i = 0; i < 3; ++i) {
        appendKey(script, KeyAction::Kind::Enter);
    }
    appendRows(script, lines, titleLine);
    appendKey(script, KeyAction::Kind::Enter);
    appendKey(script, KeyAction::Kind::Enter);
    appendLiteral(script, footerLine(countText, count));
    return script;
}

KeystrokeScript otherProgramScript(const std::vector<std::u32string>& lines,
                                   const std::optional<std::u32string>& titleLine,
                                   Spreadsheet spreadsheet) {
    KeystrokeScript script;
    appendRows(script, lines, titleLine, spreadsheet);
    return script;
}

bool readAsOtherThanText(std::u32string_view field) {
    if (field.empty()) {
        return false;
    }
    if (std::u32string_view(U"=+-@'#").find(field.front()) != std::u32string_view::npos) {
        return true;
    }
    // A truth value, in English or French.
    for (std::u32string_view word : {U"true", U"false", U"vrai", U"faux"}) {
        if (field.size() == word.size() &&
            std::equal(field.begin(), field.end(), word.begin(), [](char32_t a, char32_t b) {
                return (a >= U'A' && a <= U'Z' ? a + (U'a' - U'A') : a) == b;
            })) {
            return true;
        }
    }
    // Digits with what numbers, dates, times, fractions, percentages and amounts hold.
    constexpr std::u32string_view numberSigns = U" .,:;/-+%()$€£eE";
    bool digit = false;
    for (char32_t c : field) {
        if (c >= U'0' && c <= U'9') {
            digit = true;
        } else if (numberSigns.find(c) == std::u32string_view::npos) {
            return false;
        }
    }
    return digit;
}

std::u32string clipboardText(const std::vector<std::u32string>& lines) {
    // Its final size at once: a buffer outgrown would be freed with part of the text in it.
    std::size_t size = 0;
    for (const auto& line : lines) {
        size += line.size() + 1;
    }
    std::u32string text;
    text.reserve(size);
    for (const auto& line : lines) {
        text += line;
        text += U'\n';
    }
    return text;
}

std::u32string passwordCharacters() {
    engine::ClassSelection all;
    all.fill(true);
    return engine::BuildAlphabet(all) + engine::kSegmentSeparator;
}

std::vector<std::u32string_view> splitAt(std::u32string_view text, char32_t separator) {
    std::vector<std::u32string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::u32string_view::npos ? end : end - start));
        if (end == std::u32string_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

} // namespace tolvane::delivery
