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

// Characters named by their code points ("U+00E9, U+20AC"), for messages about characters that
// no key can type.
std::string describeCharacters(std::u32string_view characters);

// Why a delivery typed nothing: these characters have no key.
std::string untypableMessage(std::u32string_view characters);

// Why a Wayland desktop that offers no way to type into another program is not typed into.
inline constexpr const char* kDesktopCannotType =
    "Ce bureau Wayland ne permet pas à Tolvane de taper dans un autre programme. Choisissez « "
    "Vers le presse-papier ».";

} // namespace tolvane::platform
