#include "engine/Module1.h"

#include <gtest/gtest.h>

using tolvane::engine::CryptageIrreversible;
using tolvane::engine::windows1252Code;

namespace {

struct CodeCase {
    std::u32string_view key;
    std::u32string_view data;
    const char* code;
};

void PrintTo(const CodeCase& c, std::ostream* os) {
    *os << c.code;
}

class CryptageTest : public ::testing::TestWithParam<CodeCase> {};

// Expected values worked out by hand from the four passes over data + key.
TEST_P(CryptageTest, FixedInputs) {
    const auto& p = GetParam();
    EXPECT_EQ(CryptageIrreversible(p.key, p.data, 2), p.code);
}

INSTANTIATE_TEST_SUITE_P(Inputs, CryptageTest,
                         ::testing::Values(CodeCase{U"", U"a", "5CCB5D1A"},
                                           CodeCase{U"", U"A", "9C26F1E1"},
                                           CodeCase{U"PUK", U"alice\tAb3-x9Z", "CD581BCD"},
                                           CodeCase{U"", U"bob\t12345678", "F9AB5B57"},
                                           CodeCase{U"clé", U"ÿ\t€€€", "AAB05C73"},
                                           CodeCase{U"1234", U"Œuvre\t{+%}", "1BE9AD5E"},
                                           CodeCase{U"k", U"😀\tx", "8864F37E"}));

TEST(Cryptage, OtherDigitCountsTakeTheLastDigitsOfEachPass) {
    // The passes of "a" end at 0x55C, 0x16CB, 0x295D and 0x401A.
    EXPECT_EQ(CryptageIrreversible(U"", U"a", 1), "CBDA");
    EXPECT_EQ(CryptageIrreversible(U"", U"a", 3), "55C6CB95D01A");
    EXPECT_EQ(CryptageIrreversible(U"", U"a", 5), "55C16CB295D401A");
}

TEST(Cryptage, KeyAndPasswordChangeTheCode) {
    const auto base = CryptageIrreversible(U"secret", U"bob\tAAAA", 2);
    EXPECT_NE(base, CryptageIrreversible(U"secres", U"bob\tAAAA", 2));
    EXPECT_NE(base, CryptageIrreversible(U"secret", U"bob\tAAAB", 2));
    EXPECT_EQ(base, CryptageIrreversible(U"secret", U"bob\tAAAA", 2));
}

TEST(Cryptage, LongInputsStayEightHexDigits) {
    const std::u32string data(20000, U'ÿ');
    const std::string code = CryptageIrreversible(std::u32string(10000, U'€'), data, 2);
    ASSERT_EQ(code.size(), 8u);
    EXPECT_EQ(code.find_first_not_of("0123456789ABCDEF"), std::string::npos);
}

struct CodePageCase {
    char32_t c;
    unsigned code;
};

void PrintTo(const CodePageCase& c, std::ostream* os) {
    *os << "U+" << std::hex << static_cast<std::uint32_t>(c.c);
}

class CodePageTest : public ::testing::TestWithParam<CodePageCase> {};

TEST_P(CodePageTest, Windows1252) {
    EXPECT_EQ(windows1252Code(GetParam().c), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(Characters, CodePageTest,
                         ::testing::Values(CodePageCase{U'A', 65}, CodePageCase{U'\t', 9},
                                           CodePageCase{U'é', 233}, CodePageCase{U'²', 178},
                                           CodePageCase{U'ÿ', 255}, CodePageCase{U'\u00A0', 160},
                                           CodePageCase{U'€', 128}, CodePageCase{U'‚', 130},
                                           CodePageCase{U'Œ', 140}, CodePageCase{U'Ž', 142},
                                           CodePageCase{U'‘', 145}, CodePageCase{U'™', 153},
                                           CodePageCase{U'Ÿ', 159}, CodePageCase{U'\u0081', 63},
                                           CodePageCase{U'\u009D', 63}, CodePageCase{U'Ω', 63},
                                           CodePageCase{U'😀', 63}));

} // namespace
