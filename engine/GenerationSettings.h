#pragma once

#include "engine/CharacterClasses.h"
#include "engine/Destination.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::engine {

// What a generation reads from the window, taken afresh at every press of "Générer".
// The three numbers are kept as the user sees them; generateBatch reads them.
struct GenerationSettings {
    std::u32string lengthText;             // Combo1
    std::u32string segmentsText;           // Combo3
    std::u32string countText;              // Combo4, also shown in the footer as it stands
    ClassSelection classes{};              // Check2 .. Check8, a value other than 0 selects
    bool associate = false;                // Check10
    long userCount = 0;                    // entries of Combo5
    std::vector<std::u32string> userNames; // List2, in order of addition
    bool irreversible = false;             // Option1
    std::u32string puk;                    // Text1
    Destination destination = Destination::Notepad; // Option2, Option3, Option4
    std::u32string programPath;                     // Option4's caption
    bool columnTitles = false;                      // Check9
};

// Reading a decimal whole number from a box's text.
struct WholeNumber {
    enum class Status { Ok, NotANumber };
    Status status = Status::NotANumber;
    // Saturated to +/- kSaturation for longer digit strings, so range checks still apply.
    std::int64_t value = 0;

    bool ok() const { return status == Status::Ok; }
};

inline constexpr std::int64_t kNumberSaturation = 1'000'000'000'000'000'000;

// Accepts optional blanks around an optional sign and the decimal digits 0-9; nothing else.
WholeNumber readWholeNumber(std::u32string_view text);

} // namespace tolvane::engine
