#pragma once

#include <array>
#include <string>
#include <string_view>

namespace tolvane::engine {

inline constexpr std::size_t kClassCount = 7;

// The seven character classes, in the order they are appended to the alphabet.
enum class CharacterClass {
    Digits,     // "Chiffres"
    Capitals,   // "Majuscules"
    Smalls,     // "Minuscules"
    Arithmetic, // "Arithmétique"
    Accented,   // "Accentués"
    OtherSigns, // "Autres signes"
    Blank,      // "Espace(s)"
};

using ClassSelection = std::array<bool, kClassCount>;

// The characters of one class, whole and in order.
std::u32string_view classCharacters(CharacterClass c);

// The selected classes' strings concatenated in class order. Characters shared by two selected
// classes stay doubled, so they are drawn twice as often.
std::u32string BuildAlphabet(const ClassSelection& classes);

} // namespace tolvane::engine
