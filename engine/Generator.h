#pragma once

#include "engine/GenerationSettings.h"
#include "platform/RandomSource.h"

#include <optional>
#include <string>
#include <vector>

namespace tolvane::engine {

// Largest values a generation accepts, so that a typed number cannot freeze the window.
inline constexpr std::int64_t kMaxLength = 1000;
inline constexpr std::int64_t kMaxCount = 10000;

// Why a generation drew nothing. Texts are French, UTF-8, ready for a message box.
struct Refusal {
    enum class Reason {
        LengthNotANumber,
        LengthOutOfRange,
        SegmentsNotANumber,
        SegmentsOutOfRange,
        CountNotANumber,
        CountOutOfRange,
        UserCountMismatch,
        EmptyAlphabet,
        MissingUserNames,
    };
    Reason reason;
    std::string message;
    std::string title;
};

struct Batch {
    std::vector<std::u32string> lines; // result lines, in order
    std::optional<Refusal> refusal;    // set when nothing was drawn
};

// Between the segments of a password.
inline constexpr char32_t kSegmentSeparator = U'-';

// The numbers of a generation, once read and checked.
struct BatchShape {
    std::int64_t length = 0;
    std::int64_t segments = 0;
    std::int64_t count = 0;
    std::int64_t groupLength() const { return length / segments; }
};

// Reads and checks the three numbers; a refusal when one cannot be used.
std::optional<Refusal> readShape(const GenerationSettings& settings, BatchShape& shape);

// Why a generation with these settings would draw nothing; nothing when it would draw.
std::optional<Refusal> refusalOf(const GenerationSettings& settings);

// Draws one batch: the password alone, or name TAB password, or name TAB password TAB code.
Batch generateBatch(const GenerationSettings& settings, platform::RandomSource& random);

} // namespace tolvane::engine
