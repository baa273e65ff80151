#include "engine/Generator.h"
#include "engine/Module1.h"
#include "fakes/ScriptedRandomSource.h"
#include "platform/KernelRandomSource.h"

#include <gtest/gtest.h>

#include <map>

using namespace tolvane::engine;
using tolvane::fakes::ScriptedRandomSource;
using tolvane::fakes::wordFor;

namespace {

const ClassSelection kDigits{true, false, false, false, false, false, false};
const ClassSelection kAll{true, true, true, true, true, true, true};

GenerationSettings settings(std::u32string length, std::u32string segments, std::u32string count,
                            ClassSelection classes = kDigits) {
    GenerationSettings s;
    s.lengthText = std::move(length);
    s.segmentsText = std::move(segments);
    s.countText = std::move(count);
    s.classes = classes;
    return s;
}

// A password's groups: the lengths of the runs between hyphens.
std::vector<std::size_t> groups(const std::u32string& password) {
    std::vector<std::size_t> lengths{0};
    for (char32_t c : password) {
        if (c == U'-') {
            lengths.push_back(0);
        } else {
            ++lengths.back();
        }
    }
    return lengths;
}

struct ShapeCase {
    const char* name;
    std::u32string length, segments, count;
    std::size_t lines;
    std::vector<std::size_t> groups;
};

void PrintTo(const ShapeCase& c, std::ostream* os) {
    *os << c.name;
}

class ShapeTest : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(ShapeTest, LinesHaveTheirGroups) {
    const auto& p = GetParam();
    tolvane::platform::KernelRandomSource random;
    const Batch batch = generateBatch(settings(p.length, p.segments, p.count), random);
    ASSERT_FALSE(batch.refusal) << batch.refusal->message;
    ASSERT_EQ(batch.lines.size(), p.lines);
    for (const auto& line : batch.lines) {
        EXPECT_EQ(groups(line), p.groups);
        for (char32_t c : line) {
            EXPECT_TRUE(c == U'-' || (c >= U'0' && c <= U'9'));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, ShapeTest,
    ::testing::Values(ShapeCase{"8_1", U"8", U"1", U"1", 1, {8}},
                      ShapeCase{"12_3", U"12", U"3", U"2", 2, {4, 4, 4}},
                      ShapeCase{"30_5", U"30", U"5", U"3", 3, {6, 6, 6, 6, 6}},
                      ShapeCase{"10_3_typed", U"10", U"3", U"1", 1, {3, 3, 3}},
                      ShapeCase{"7_2_typed", U"7", U"2", U"1", 1, {3, 3}},
                      ShapeCase{"5_5_one_char_groups", U"5", U"5", U"1", 1, {1, 1, 1, 1, 1}},
                      ShapeCase{"count_0", U"8", U"1", U"0", 0, {}},
                      ShapeCase{"blanks_around", U" 8 ", U"2", U"4", 4, {4, 4}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Generator, AllClassesLineHasThirtyDrawnCharactersAndFourHyphens) {
    tolvane::platform::KernelRandomSource random;
    const Batch batch = generateBatch(settings(U"30", U"5", U"20", kAll), random);
    ASSERT_EQ(batch.lines.size(), 20u);
    for (const auto& line : batch.lines) {
        EXPECT_EQ(line.size(), 34u);
        EXPECT_EQ(line[6], U'-');
        EXPECT_EQ(line[27], U'-');
    }
}

TEST(Generator, DrawsTheScriptedPositions) {
    // The last digit, then the first, so both ends of the alphabet are reachable.
    ScriptedRandomSource random({wordFor(9, 10), wordFor(0, 10), wordFor(5, 10), wordFor(9, 10)});
    const Batch batch = generateBatch(settings(U"4", U"2", U"1"), random);
    ASSERT_EQ(batch.lines.size(), 1u);
    EXPECT_EQ(batch.lines[0], U"90-59");
}

TEST(Generator, RejectedWordsAreDrawnAgain) {
    // For 125 characters the low words 0..95 are rejected; the word 0 must never become "0".
    ScriptedRandomSource random({0u, 0u, wordFor(124, 125)});
    const Batch batch = generateBatch(settings(U"1", U"1", U"1", kAll), random);
    ASSERT_EQ(batch.lines.size(), 1u);
    EXPECT_EQ(batch.lines[0], U" ");
    EXPECT_EQ(random.calls(), 3u);
}

struct AssociationCase {
    const char* name;
    bool irreversible;
    std::u32string puk;
};

void PrintTo(const AssociationCase& c, std::ostream* os) {
    *os << c.name;
}

class AssociationTest : public ::testing::TestWithParam<AssociationCase> {};

TEST_P(AssociationTest, NamesInOrderThenTabsAndCode) {
    const auto& p = GetParam();
    auto s = settings(U"8", U"2", U"3");
    s.associate = true;
    s.userCount = 3;
    s.userNames = {U"alice", U"Œdipe {+}", U"ÿ"};
    s.irreversible = p.irreversible;
    s.puk = p.puk;
    tolvane::platform::KernelRandomSource random;
    const Batch batch = generateBatch(s, random);
    ASSERT_EQ(batch.lines.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        const std::u32string& line = batch.lines[i];
        const std::size_t tab1 = line.find(U'\t');
        ASSERT_EQ(line.substr(0, tab1), s.userNames[i]);
        const std::u32string password = line.substr(tab1 + 1, 9);
        EXPECT_EQ(groups(password), (std::vector<std::size_t>{4, 4}));
        if (!p.irreversible) {
            EXPECT_EQ(line.size(), tab1 + 1 + 9);
            continue;
        }
        ASSERT_EQ(line.size(), tab1 + 1 + 9 + 1 + 8);
        EXPECT_EQ(line[tab1 + 10], U'\t');
        const std::string code = CryptageIrreversible(p.puk, line.substr(0, tab1 + 10), 2);
        EXPECT_EQ(line.substr(tab1 + 11), std::u32string(code.begin(), code.end()));
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, AssociationTest,
                         ::testing::Values(AssociationCase{"reversible", false, U"x"},
                                           AssociationCase{"irreversible", true, U"PUK-1"},
                                           AssociationCase{"irreversible_empty_puk", true, U""}),
                         [](const auto& info) { return std::string(info.param.name); });

struct RefusalCase {
    const char* name;
    GenerationSettings settings;
    Refusal::Reason reason;
    const char* message;
    const char* title;
};

GenerationSettings associated(std::u32string count, long userCount, std::size_t names) {
    auto s = settings(U"8", U"1", std::move(count));
    s.associate = true;
    s.userCount = userCount;
    s.userNames.assign(names, U"n");
    return s;
}

void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.name;
}

class RefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusalTest, RefusesBeforeDrawingWithItsMessage) {
    const auto& p = GetParam();
    ScriptedRandomSource random;
    const Batch batch = generateBatch(p.settings, random);
    ASSERT_TRUE(batch.refusal);
    EXPECT_EQ(batch.refusal->reason, p.reason);
    EXPECT_EQ(batch.refusal->message, p.message);
    EXPECT_EQ(batch.refusal->title, p.title);
    EXPECT_TRUE(batch.lines.empty());
    EXPECT_EQ(random.calls(), 0u);
}

using R = Refusal::Reason;
const char* const kLengthNaN = "La longueur souhaitée doit être un nombre entier, par exemple 8.";
const char* const kLengthRange =
    "La longueur souhaitée doit être comprise entre 1 et 1000 caractères.";
const char* const kSegmentsNaN = "Le nombre de segments doit être un nombre entier, par exemple 1.";
const char* const kCountNaN =
    "Le nombre de séquences à générer doit être un nombre entier, par exemple 1.";
const char* const kCountRange =
    "Le nombre de séquences à générer doit être compris entre 0 et 10000.";
const char* const kMismatch =
    "Le nombre d'utilisateurs ne correspond pas au nombre de mots de passe à générer !";

INSTANTIATE_TEST_SUITE_P(
    Inputs, RefusalTest,
    ::testing::Values(
        RefusalCase{"length_text", settings(U"abc", U"1", U"1"), R::LengthNotANumber, kLengthNaN,
                    "Avertissement"},
        RefusalCase{"length_empty", settings(U"", U"1", U"1"), R::LengthNotANumber, kLengthNaN,
                    "Avertissement"},
        RefusalCase{"length_decimal", settings(U"8.5", U"1", U"1"), R::LengthNotANumber, kLengthNaN,
                    "Avertissement"},
        RefusalCase{"length_zero", settings(U"0", U"1", U"1"), R::LengthOutOfRange, kLengthRange,
                    "Avertissement"},
        RefusalCase{"length_negative", settings(U"-1", U"1", U"1"), R::LengthOutOfRange,
                    kLengthRange, "Avertissement"},
        RefusalCase{"length_huge", settings(U"99999999999999999999", U"1", U"1"),
                    R::LengthOutOfRange, kLengthRange, "Avertissement"},
        RefusalCase{"segments_text", settings(U"8", U"1e9", U"1"), R::SegmentsNotANumber,
                    kSegmentsNaN, "Avertissement"},
        RefusalCase{"segments_zero", settings(U"8", U"0", U"1"), R::SegmentsOutOfRange,
                    "Le nombre de segments doit être compris entre 1 et la longueur souhaitée (8).",
                    "Avertissement"},
        RefusalCase{"segments_above_length", settings(U"8", U"9", U"1"), R::SegmentsOutOfRange,
                    "Le nombre de segments doit être compris entre 1 et la longueur souhaitée (8).",
                    "Avertissement"},
        RefusalCase{"count_text", settings(U"8", U"1", U""), R::CountNotANumber, kCountNaN,
                    "Avertissement"},
        RefusalCase{"count_negative", settings(U"8", U"1", U"-1"), R::CountOutOfRange, kCountRange,
                    "Avertissement"},
        RefusalCase{"count_huge", settings(U"8", U"1", U"999999999"), R::CountOutOfRange,
                    kCountRange, "Avertissement"},
        RefusalCase{"mismatch", associated(U"5", 4, 4), R::UserCountMismatch, kMismatch,
                    "Averitssemen("},
        RefusalCase{"empty_alphabet", settings(U"8", U"1", U"1", ClassSelection{}),
                    R::EmptyAlphabet,
                    "Aucun type de caractère n'est sélectionné : cochez au moins une case sous « "
                    "Personalisé ».",
                    "Avertissement"},
        RefusalCase{"fewer_names", associated(U"3", 3, 2), R::MissingUserNames,
                    "Il manque des noms d'utilisateurs : 2 noms pour 3 mots de passe. Ajoutez "
                    "les noms à nouveau.",
                    "Avertissement"},
        RefusalCase{"one_name_missing", associated(U"1", 1, 0), R::MissingUserNames,
                    "Il manque des noms d'utilisateurs : 0 nom pour 1 mot de passe. Ajoutez les "
                    "noms à nouveau.",
                    "Avertissement"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Generator, EveryCharacterIsDrawnAboutEquallyOften) {
    // 125 positions, "%" and "à" twice each: 123 distinct characters.
    tolvane::platform::KernelRandomSource random;
    const Batch batch = generateBatch(settings(U"1000", U"1", U"125", kAll), random);
    ASSERT_EQ(batch.lines.size(), 125u);
    std::map<char32_t, int> seen;
    for (const auto& line : batch.lines) {
        for (char32_t c : line) {
            ++seen[c];
        }
    }
    ASSERT_EQ(seen.size(), 123u);
    // Expected 1000 per position (sd about 32); far outside that means a broken draw.
    for (const auto& [c, n] : seen) {
        const int positions = (c == U'%' || c == U'à') ? 2 : 1;
        EXPECT_GT(n, positions * 1000 - 250) << static_cast<std::uint32_t>(c);
        EXPECT_LT(n, positions * 1000 + 250) << static_cast<std::uint32_t>(c);
    }
}

} // namespace
