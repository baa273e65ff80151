#include "platform/Keystrokes.h"

#include <cstdio>

namespace tolvane::platform {

std::u32string typedText(const KeystrokeScript& script) {
    std::u32string text;
    for (const KeyAction& action : script) {
        switch (action.kind) {
        case KeyAction::Kind::Text:
            text += action.text;
            break;
        case KeyAction::Kind::Enter:
            text += U'\n';
            break;
        case KeyAction::Kind::Tab:
            text += U'\t';
            break;
        }
    }
    return text;
}

std::string describeCharacters(std::u32string_view characters) {
    std::string list;
    for (char32_t c : characters) {
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
        list += (list.empty() ? "" : ", ") + std::string(code);
    }
    return list;
}

std::string untypableMessage(std::u32string_view characters) {
    return "Ces caractères ne peuvent pas être tapés au clavier : " +
           describeCharacters(characters) + ". Rien n'a été tapé.";
}

} // namespace tolvane::platform
