#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tolvane::platform {

// One step of a keystroke script: a literal text, or a press of Enter or Tab.
struct KeyAction {
    enum class Kind { Text, Enter, Tab };
    Kind kind = Kind::Text;
    std::u32string text; // only for Kind::Text; every character is typed as itself

    friend bool operator==(const KeyAction&, const KeyAction&) = default;
};

using KeystrokeScript = std::vector<KeyAction>;

// The characters a script types, Enter as '\n' and Tab as '\t'.
std::u32string typedText(const KeystrokeScript& script);

// How many characters a script types (one per character, Enter or Tab).
std::size_t keyCount(const KeystrokeScript& script);

// What may be typed into another program, on every route: Tab and line ends (as their keys),
// and the characters of text. Never a control character (a key would erase, escape or delete
// in the target instead), a line or paragraph separator, a private-use, noncharacter,
// surrogate or unassigned code point.
bool mayBeTyped(char32_t c);

// The first character of a text that may not be typed, or 0.
char32_t firstNotTypable(std::u32string_view text);

// UTF-8 text of a UTF-32 string; a code point that is not one becomes U+FFFD.
std::string toUtf8(std::u32string_view text);

// Characters as a person reads them in a message: "« é », « Ж »"; those that show nothing (a
// control character, a blank) by their code point, "U+0008".
std::string describeCharacters(std::u32string_view characters);

// Why nothing was typed: these characters have no key on the keyboard as it is now.
std::string untypableMessage(std::u32string_view characters);

// Why a Wayland desktop that offers no way to type into another program is not typed into.
inline constexpr const char* kDesktopCannotType =
    "Ce bureau Wayland ne permet pas à Tolvane de taper dans un autre programme. Choisissez « "
    "Vers le presse-papier ».";

} // namespace tolvane::platform
