#include "engine/Choices.h"

#include "engine/GenerationSettings.h"
#include "engine/Generator.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace tolvane::engine {

namespace {

ClassSelection classesOf(std::initializer_list<CharacterClass> classes) {
    ClassSelection selection{};
    for (CharacterClass c : classes) {
        selection[static_cast<std::size_t>(c)] = true;
    }
    return selection;
}

std::optional<std::int64_t> numberIn(std::u32string_view text) {
    const WholeNumber n = readWholeNumber(text);
    if (!n.ok()) {
        return std::nullopt;
    }
    return n.value;
}

} // namespace

std::optional<LevelPreset> levelPreset(int index) {
    using enum CharacterClass;
    switch (index) {
    case 0:
        return LevelPreset{classesOf({Digits, Capitals}), false, {}};
    case 1:
        return LevelPreset{classesOf({Digits, Capitals, Smalls, Blank}), false, "Conseillé"};
    case 2:
        return LevelPreset{
            classesOf({Digits, Capitals, Smalls, Arithmetic, Accented, OtherSigns, Blank}),
            false,
            {}};
    case 3:
        return LevelPreset{{}, true, {}};
    default:
        return std::nullopt;
    }
}

std::vector<std::int64_t> segmentChoices(std::int64_t length) {
    std::vector<std::int64_t> divisors;
    const std::int64_t last = std::min<std::int64_t>(length, kMaxLength + 1);
    for (std::int64_t d = 1; d < last; ++d) {
        if (length % d == 0) {
            divisors.push_back(d);
        }
    }
    return divisors;
}

std::string_view lengthAdvice(std::u32string_view lengthText) {
    const std::optional<std::int64_t> length = numberIn(lengthText);
    return length && *length < 8 ? "/!\\ Déconseillé" : "";
}

std::optional<SegmentLayout> segmentLayout(std::u32string_view lengthText,
                                           std::u32string_view segmentsText) {
    const std::optional<std::int64_t> length = numberIn(lengthText);
    const std::optional<std::int64_t> segments = numberIn(segmentsText);
    if (!length || !segments || *segments == 0) {
        return std::nullopt;
    }
    SegmentLayout layout;
    layout.even = *length % *segments == 0;
    const double q = static_cast<double>(*length) / static_cast<double>(*segments);
    layout.caption = std::u32string(segmentsText) + U" segment";
    if (*segments > 1) {
        layout.caption += U's';
    }
    layout.caption += U" de " + frenchNumber(q);

    // One "#" per character of a group, never more than the longest password.
    const double hashes = std::min(std::floor(q), static_cast<double>(kMaxLength));
    const std::u32string group(hashes > 0 ? static_cast<std::size_t>(hashes) : 0, U'#');
    layout.pattern = *segments > 1 ? group + U"-" + group + U"..." : group;
    return layout;
}

bool pukTooShort(std::u32string_view lengthText, std::size_t pukCharacters) {
    const std::optional<std::int64_t> length = numberIn(lengthText);
    return length && static_cast<double>(*length) / 2.0 > static_cast<double>(pukCharacters);
}

std::u32string frenchNumber(double value) {
    char buffer[64];
    const auto end =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15).ptr;
    std::u32string text(buffer, end);
    std::replace(text.begin(), text.end(), U'.', U',');
    return text;
}

} // namespace tolvane::engine
