#pragma once

#include "engine/CharacterClasses.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::engine {

// What the window's choices mean, apart from any control: the lists the boxes offer, the classes
// a level selects, the segment counts a length allows, and the texts that describe them.

// The lengths the length box lists, and the counts the count box lists.
inline constexpr int kFirstListedLength = 3;
inline constexpr int kLastListedLength = 30;
inline constexpr int kFirstListedCount = 1;
inline constexpr int kLastListedCount = 100;

// Entries selected at start-up: "Moyen", a length of 8, one segment, one password.
inline constexpr int kStartLevel = 1;
inline constexpr int kStartLength = 8;

// The complexity levels, in the order the level box lists them (UTF-8).
inline constexpr std::array<std::string_view, 4> kLevelNames{"Faible", "Moyen", "Elevé",
                                                             "Personalisé"};

struct LevelPreset {
    ClassSelection marked{};  // classes the level selects (the boxes show them grayed)
    bool userChooses = false; // every class box usable and left empty for the user
    std::string_view advice;  // shown beside the level box (UTF-8), empty for none
};

// The preset of the level at this index of the list; none outside it.
std::optional<LevelPreset> levelPreset(int index);

// The segment counts a length offers: every divisor below the length, at most kMaxLength.
std::vector<std::int64_t> segmentChoices(std::int64_t length);

// The advice beside the length box (UTF-8): a warning below 8 characters, else nothing.
std::string_view lengthAdvice(std::u32string_view lengthText);

// How a password of this length falls into this many segments, as the window describes it.
struct SegmentLayout {
    bool even = true;       // the length divides into whole groups
    std::u32string caption; // "2 segments de 4", the count as typed
    std::u32string pattern; // one "#" per character of a group: "####-####..."
};

// Nothing when either number cannot be read or the count is 0: no layout to describe.
std::optional<SegmentLayout> segmentLayout(std::u32string_view lengthText,
                                           std::u32string_view segmentsText);

// A PUK shorter than half the length deserves a warning; without a length there is none.
bool pukTooShort(std::u32string_view lengthText, std::size_t pukCharacters);

// A real number as the window writes it: whole numbers without decimals, a decimal comma.
std::u32string frenchNumber(double value);

} // namespace tolvane::engine
