#include "engine/Choices.h"
#include "engine/Generator.h"

#include <gtest/gtest.h>

using namespace tolvane::engine;

namespace {

std::string utf8(std::u32string_view text) {
    std::string out;
    for (char32_t c : text) {
        out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
}

TEST(LevelPreset, EachLevelMarksItsClasses) {
    using enum CharacterClass;
    struct Case {
        int index;
        std::vector<CharacterClass> marked;
        bool userChooses;
        std::string_view advice;
    };
    const Case cases[] = {
        {0, {Digits, Capitals}, false, ""},
        {1, {Digits, Capitals, Smalls, Blank}, false, "Conseillé"},
        {2, {Digits, Capitals, Smalls, Arithmetic, Accented, OtherSigns, Blank}, false, ""},
        {3, {}, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(kLevelNames[static_cast<std::size_t>(c.index)]);
        const std::optional<LevelPreset> preset = levelPreset(c.index);
        ASSERT_TRUE(preset);
        ClassSelection expected{};
        for (CharacterClass k : c.marked) {
            expected[static_cast<std::size_t>(k)] = true;
        }
        EXPECT_EQ(preset->marked, expected);
        EXPECT_EQ(preset->userChooses, c.userChooses);
        EXPECT_EQ(preset->advice, c.advice);
    }
}

TEST(LevelPreset, NoneOutsideTheList) {
    for (int index : {-1, 4, 100}) {
        EXPECT_FALSE(levelPreset(index)) << index;
    }
}

TEST(SegmentChoices, DivisorsBelowTheLength) {
    struct Case {
        std::int64_t length;
        std::vector<std::int64_t> divisors;
    };
    const Case cases[] = {
        {8, {1, 2, 4}},
        {12, {1, 2, 3, 4, 6}},
        {7, {1}},
        {3, {1}},
        {2, {1}},
        {1, {}},
        {0, {}},
        {-6, {}},
        {30, {1, 2, 3, 5, 6, 10, 15}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(segmentChoices(c.length), c.divisors) << c.length;
    }
}

TEST(SegmentChoices, NeverAboveTheLongestPassword) {
    const std::vector<std::int64_t> choices = segmentChoices(kNumberSaturation);
    ASSERT_FALSE(choices.empty());
    EXPECT_LE(choices.back(), kMaxLength);
    EXPECT_EQ(choices.back(), 1000);
}

TEST(LengthAdvice, BelowEightIsDiscouraged) {
    const std::pair<std::u32string, std::string_view> cases[] = {
        {U"3", "/!\\ Déconseillé"},
        {U"7", "/!\\ Déconseillé"},
        {U"8", ""},
        {U"30", ""},
        {U"-2", "/!\\ Déconseillé"},
        {U"abc", ""},
        {U"", ""},
        {U" 5 ", "/!\\ Déconseillé"},
    };
    for (const auto& [text, advice] : cases) {
        EXPECT_EQ(lengthAdvice(text), advice) << utf8(text);
    }
}

TEST(SegmentLayout, CaptionAndPattern) {
    struct Case {
        std::u32string length, segments;
        bool even;
        std::u32string caption, pattern;
    };
    const Case cases[] = {
        {U"8", U"1", true, U"1 segment de 8", U"########"},
        {U"8", U"2", true, U"2 segments de 4", U"####-####..."},
        {U"8", U"3", false, U"3 segments de 2,66666666666667", U"##-##..."},
        {U"8", U" 2", true, U" 2 segments de 4", U"####-####..."},
        {U"3", U"4", false, U"4 segments de 0,75", U"-..."},
        {U"8", U"-2", true, U"-2 segment de -4", U""},
        {U"1000000000000000000", U"1", true, U"1 segment de 1e+18", std::u32string(1000, U'#')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(utf8(c.length) + "/" + utf8(c.segments));
        const std::optional<SegmentLayout> layout = segmentLayout(c.length, c.segments);
        ASSERT_TRUE(layout);
        EXPECT_EQ(layout->even, c.even);
        EXPECT_EQ(utf8(layout->caption), utf8(c.caption));
        EXPECT_EQ(layout->pattern, c.pattern);
    }
}

TEST(SegmentLayout, NothingToDescribe) {
    const std::pair<std::u32string, std::u32string> cases[] = {
        {U"8", U"0"}, {U"8", U""}, {U"", U"1"}, {U"huit", U"2"}, {U"8", U"2,5"}};
    for (const auto& [length, segments] : cases) {
        EXPECT_FALSE(segmentLayout(length, segments)) << utf8(length) << "/" << utf8(segments);
    }
}

TEST(PukTooShort, AgainstHalfTheLength) {
    struct Case {
        std::u32string length;
        std::size_t characters;
        bool tooShort;
    };
    const Case cases[] = {
        {U"8", 3, true}, {U"8", 4, false}, {U"9", 4, true},   {U"9", 5, false},
        {U"8", 0, true}, {U"x", 0, false}, {U"-4", 0, false}, {U"", 0, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(pukTooShort(c.length, c.characters), c.tooShort)
            << utf8(c.length) << " " << c.characters;
    }
}

TEST(FrenchNumber, DecimalCommaAndNoTrailingDecimals) {
    const std::pair<double, std::u32string> cases[] = {
        {4.0, U"4"},      {0.5, U"0,5"},
        {-4.0, U"-4"},    {8.0 / 3.0, U"2,66666666666667"},
        {1e18, U"1e+18"}, {1e14, U"100000000000000"},
    };
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(utf8(frenchNumber(value)), utf8(text)) << value;
    }
}

} // namespace
