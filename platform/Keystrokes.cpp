#include "platform/Keystrokes.h"

#include <cstdio>
#include <locale.h>
#include <wctype.h>

namespace tolvane::platform {

namespace {

// The C library's Unicode tables: which code points are assigned, printable characters.
locale_t unicodeClasses() {
    static const locale_t classes = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    return classes;
}

bool privateUse(char32_t c) {
    return (c >= 0xE000 && c <= 0xF8FF) || c >= 0xF0000;
}

bool noncharacter(char32_t c) {
    return (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE;
}

} // namespace

std::size_t keyCount(const KeystrokeScript& script) {
    std::size_t keys = 0;
    for (const KeyAction& action : script) {
        keys += action.kind == KeyAction::Kind::Text ? action.text.size() : 1;
    }
    return keys;
}

std::u32string typedText(const KeystrokeScript& script) {
    std::u32string text;
    // Its final size at once: a buffer outgrown would be freed with part of the text in it.
    text.reserve(keyCount(script));
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

bool mayBeTyped(char32_t c) {
    if (c == U'\t' || c == U'\n' || c == U'\r') {
        return true;
    }
    if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) ||
        privateUse(c) || noncharacter(c)) {
        return false;
    }
    const locale_t classes = unicodeClasses();
    // Without the tables, what is left above is taken as assigned.
    return !classes || iswprint_l(static_cast<wint_t>(c), classes) != 0;
}

char32_t firstNotTypable(std::u32string_view text) {
    for (char32_t c : text) {
        if (!mayBeTyped(c)) {
            return c;
        }
    }
    return 0;
}

std::string toUtf8(std::u32string_view text) {
    const auto valid = [](char32_t c) {
        return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF) ? c : char32_t{0xFFFD};
    };
    // Its final size at once: a buffer outgrown would be freed with part of the text in it.
    std::size_t bytes = 0;
    for (const char32_t c : text) {
        const char32_t v = valid(c);
        bytes += v < 0x80 ? 1 : v < 0x800 ? 2 : v < 0x10000 ? 3 : 4;
    }
    std::string out;
    out.reserve(bytes);
    for (char32_t c : text) {
        c = valid(c);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string describeCharacters(std::u32string_view characters) {
    std::string list;
    for (char32_t c : characters) {
        std::string shown;
        const locale_t classes = unicodeClasses();
        if (mayBeTyped(c) && classes && iswgraph_l(static_cast<wint_t>(c), classes)) {
            shown = "« " + toUtf8(std::u32string_view(&c, 1)) + " »";
        } else {
            char code[16];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
            shown = code;
        }
        list += (list.empty() ? "" : ", ") + shown;
    }
    return list;
}

std::string untypableMessage(std::u32string_view characters) {
    return "Ces caractères ne peuvent pas être tapés avec le clavier tel qu'il est : " +
           describeCharacters(characters) + ". Rien n'a été tapé.";
}

} // namespace tolvane::platform
