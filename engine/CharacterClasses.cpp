#include "engine/CharacterClasses.h"

namespace tolvane::engine {

namespace {

// The letters follow the rows of a French keyboard, not the alphabet.
constexpr std::array<std::u32string_view, kClassCount> kClasses{
    U"0123456789",
    U"AZERTYUIOPQSDFGHJKLMWXCVBN",
    U"azertyuiopqsdfghjklmwxcvbn",
    U"+/=*^><²³.,%",
    U"éèàâêûîôÄËÜÏÖäëüïöÂÊÛÎÔ",
    U"&|@#'(§!çà)_¨$[]£%µ`~;:\\€{}",
    U" ",
};

} // namespace

std::u32string_view classCharacters(CharacterClass c) {
    return kClasses[static_cast<std::size_t>(c)];
}

std::u32string BuildAlphabet(const ClassSelection& classes) {
    std::u32string alphabet;
    for (std::size_t i = 0; i < kClassCount; ++i) {
        if (classes[i]) {
            alphabet += kClasses[i];
        }
    }
    return alphabet;
}

} // namespace tolvane::engine
