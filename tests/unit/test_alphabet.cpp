#include "engine/CharacterClasses.h"
#include "engine/GenerationSettings.h"

#include <gtest/gtest.h>

using namespace tolvane::engine;

namespace {

ClassSelection select(std::initializer_list<CharacterClass> classes) {
    ClassSelection s{};
    for (auto c : classes) {
        s[static_cast<std::size_t>(c)] = true;
    }
    return s;
}

struct AlphabetCase {
    const char* name;
    ClassSelection classes;
    std::size_t length;
    std::u32string_view first;
    std::u32string_view last;
};

class AlphabetTest : public ::testing::TestWithParam<AlphabetCase> {};

TEST_P(AlphabetTest, LengthAndEnds) {
    const auto& p = GetParam();
    const std::u32string a = BuildAlphabet(p.classes);
    ASSERT_EQ(a.size(), p.length);
    if (a.empty()) {
        return;
    }
    EXPECT_EQ(a.substr(0, p.first.size()), p.first);
    EXPECT_EQ(a.substr(a.size() - p.last.size()), p.last);
}

using C = CharacterClass;
INSTANTIATE_TEST_SUITE_P(
    Levels, AlphabetTest,
    ::testing::Values(
        AlphabetCase{"none", {}, 0, U"", U""},
        AlphabetCase{"digits", select({C::Digits}), 10, U"0123456789", U"9"},
        AlphabetCase{"faible", select({C::Digits, C::Capitals}), 36, U"0123456789AZ", U"CVBN"},
        AlphabetCase{"moyen", select({C::Digits, C::Capitals, C::Smalls, C::Blank}), 63, U"01",
                     U"vbn "},
        AlphabetCase{"eleve",
                     select({C::Digits, C::Capitals, C::Smalls, C::Arithmetic, C::Accented,
                             C::OtherSigns, C::Blank}),
                     125, U"0123", U"€{} "},
        AlphabetCase{"arith_other", select({C::Arithmetic, C::OtherSigns}), 39, U"+/=*^", U"\\€{}"},
        AlphabetCase{"accented", select({C::Accented}), 23, U"éèàâ", U"ÂÊÛÎÔ"},
        AlphabetCase{"blank", select({C::Blank}), 1, U" ", U" "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Alphabet, OverlappingCharactersStayDoubled) {
    const std::u32string a = BuildAlphabet(select({C::Arithmetic, C::Accented, C::OtherSigns}));
    auto occurrences = [&](char32_t c) { return std::count(a.begin(), a.end(), c); };
    EXPECT_EQ(occurrences(U'%'), 2);
    EXPECT_EQ(occurrences(U'à'), 2);
    EXPECT_EQ(occurrences(U'é'), 1);
}

TEST(Alphabet, ClassCountsMatchTheirCaptions) {
    const std::size_t counts[] = {10, 26, 26, 12, 23, 27, 1};
    for (std::size_t i = 0; i < kClassCount; ++i) {
        EXPECT_EQ(classCharacters(static_cast<CharacterClass>(i)).size(), counts[i]) << i;
    }
}

struct NumberCase {
    std::u32string_view text;
    bool ok;
    std::int64_t value;
};

void PrintTo(const AlphabetCase& c, std::ostream* os) {
    *os << c.name;
}

void PrintTo(const NumberCase& c, std::ostream* os) {
    *os << "len" << c.text.size() << (c.ok ? "_ok" : "_nan");
}

class WholeNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(WholeNumberTest, Reads) {
    const auto& p = GetParam();
    const WholeNumber n = readWholeNumber(p.text);
    EXPECT_EQ(n.ok(), p.ok);
    if (p.ok) {
        EXPECT_EQ(n.value, p.value);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, WholeNumberTest,
    ::testing::Values(
        NumberCase{U"8", true, 8}, NumberCase{U"30", true, 30}, NumberCase{U" 12 ", true, 12},
        NumberCase{U"007", true, 7}, NumberCase{U"-1", true, -1}, NumberCase{U"+5", true, 5},
        NumberCase{U"0", true, 0}, NumberCase{U"99999999999999999999", true, kNumberSaturation},
        NumberCase{U"", false, 0}, NumberCase{U"  ", false, 0}, NumberCase{U"-", false, 0},
        NumberCase{U"abc", false, 0}, NumberCase{U"8.5", false, 0}, NumberCase{U"1e9", false, 0},
        NumberCase{U"8a", false, 0}, NumberCase{U"٣", false, 0}, NumberCase{U"1 2", false, 0},
        NumberCase{U"\n8", false, 0}));

} // namespace
