#include "delivery/Scripts.h"

#include "engine/CharacterClasses.h"
#include "engine/Generator.h"
#include "platform/Version.h"

namespace tolvane::delivery {

namespace {

void appendKey(KeystrokeScript& script, KeyAction::Kind kind) {
    script.push_back(KeyAction{kind, {}});
}

std::u32string ascii(const std::string& text) {
    return std::u32string(text.begin(), text.end());
}

// The optional title line, then every line, each ended by Enter.
void appendRows(KeystrokeScript& script, const std::vector<std::u32string>& lines,
                const std::optional<std::u32string>& titleLine) {
    if (titleLine) {
        appendLiteral(script, *titleLine);
        appendKey(script, KeyAction::Kind::Enter);
    }
    for (const auto& line : lines) {
        appendLiteral(script, line);
        appendKey(script, KeyAction::Kind::Enter);
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
                                   const std::optional<std::u32string>& titleLine) {
    KeystrokeScript script;
    appendRows(script, lines, titleLine);
    return script;
}

std::u32string clipboardText(const std::vector<std::u32string>& lines) {
    std::u32string text;
    for (const auto& line : lines) {
        text += line;
        text += U'\n';
    }
    return text;
}

std::size_t keyCount(const KeystrokeScript& script) {
    std::size_t keys = 0;
    for (const auto& action : script) {
        keys += action.kind == KeyAction::Kind::Text ? action.text.size() : 1;
    }
    return keys;
}

std::u32string passwordCharacters() {
    engine::ClassSelection all;
    all.fill(true);
    return engine::BuildAlphabet(all) + engine::kSegmentSeparator;
}

} // namespace tolvane::delivery
