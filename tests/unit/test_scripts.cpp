#include "delivery/Scripts.h"

#include <gtest/gtest.h>

using namespace tolvane::delivery;
using Kind = KeyAction::Kind;

namespace {

KeyAction text(std::u32string t) {
    return KeyAction{Kind::Text, std::move(t)};
}
const KeyAction kEnter{Kind::Enter, {}};
const KeyAction kTab{Kind::Tab, {}};

const std::u32string kBanner = U"--------- MORVANTE 1.0 2 ---------";

TEST(Scripts, NotepadCountOneWithoutTitles) {
    const KeystrokeScript script = notepadScript({U"Ab3x9Zq1"}, std::nullopt, U"1", 1);
    const KeystrokeScript expected{text(kBanner),
                                   kEnter,
                                   kEnter,
                                   kEnter,
                                   text(U"Ab3x9Zq1"),
                                   kEnter,
                                   kEnter,
                                   kEnter,
                                   text(U"--- Terminé :  1 code généré ---")};
    EXPECT_EQ(script, expected);
}

TEST(Scripts, NotepadTitlesWithIrreversibleAndFooterForFive) {
    const std::vector<std::u32string> lines{U"a\tp1\tC0DE0001", U"b\tp2\tC0DE0002"};
    const KeystrokeScript script = notepadScript(lines, columnTitleLine(true), U"5", 5);
    EXPECT_EQ(typedText(script), kBanner + U"\n\n\n" +
                                     U"Utilisateur\tMot de passe\tChaîne cryptée\n" +
                                     U"a\tp1\tC0DE0001\n" + U"b\tp2\tC0DE0002\n" +
                                     U"\n\n--- Terminé :  5 codes générés ---");
    // The title line is typed with real Tab presses.
    const KeystrokeScript head(script.begin() + 4, script.begin() + 10);
    const KeystrokeScript expectedHead{text(U"Utilisateur"),    kTab,  text(U"Mot de passe"), kTab,
                                       text(U"Chaîne cryptée"), kEnter};
    EXPECT_EQ(head, expectedHead);
}

TEST(Scripts, ColumnTitleLines) {
    EXPECT_EQ(columnTitleLine(false), U"Utilisateur\tMot de passe");
    EXPECT_EQ(columnTitleLine(true), U"Utilisateur\tMot de passe\tChaîne cryptée");
}

TEST(Scripts, FooterKeepsTheCountTextAsShown) {
    // Count 0 still delivers; the footer names the number of this generation.
    EXPECT_EQ(typedText(notepadScript({}, std::nullopt, U"0", 0)),
              kBanner + U"\n\n\n\n\n--- Terminé :  0 code généré ---");
    EXPECT_EQ(typedText(notepadScript({U"x", U"y", U"z"}, std::nullopt, U"2", 2)),
              kBanner + U"\n\n\nx\ny\nz\n\n\n--- Terminé :  2 codes générés ---");
}

TEST(Scripts, SignsAndBracesAreLiteralText) {
    const std::u32string line = U"{ENTER}+^%~([{TAB}])";
    const KeystrokeScript script = otherProgramScript({line}, std::nullopt);
    const KeystrokeScript expected{text(line), kEnter};
    EXPECT_EQ(script, expected);
}

TEST(Scripts, OtherProgramRowsAndFields) {
    const std::vector<std::u32string> lines{U"alice\tpw1", U"bob\tpw2"};
    EXPECT_EQ(typedText(otherProgramScript(lines, std::nullopt)), U"alice\tpw1\nbob\tpw2\n");
    const KeystrokeScript titled = otherProgramScript(lines, columnTitleLine(false));
    const KeystrokeScript expected{text(U"Utilisateur"), kTab, text(U"Mot de passe"), kEnter,
                                   text(U"alice"),       kTab, text(U"pw1"),          kEnter,
                                   text(U"bob"),         kTab, text(U"pw2"),          kEnter};
    EXPECT_EQ(titled, expected);
}

TEST(Scripts, IntoASpreadsheetFieldsReadAsFormulaOrNumberGoAsText) {
    struct Case {
        std::u32string field;
        bool marked;
        std::u32string intoCalc = {}; // when not ="field"
    };
    // Longer than a string of a Calc formula: in pieces, a character outside the BMP counted
    // as two, as Calc counts.
    const std::u32string x998(998, U'x');
    const std::u32string longer = U"=" + x998 + U"😀\"";
    const Case cases[] = {
        {U"+aB3", true},
        {U"=SOMME", true},
        {U"-x", true},
        {U"@i", true},
        {U"'12", true},
        {U"#N/A", true},
        {U"09113041", true},
        {U"106E3282", true},
        {U"1,5", true},
        {U"12:30", true},
        {U"1/2", true},
        {U"(12)", true},
        {U"5%", true},
        {U"€5", true},
        {U" 12", true},
        {U"12.3.4", true},
        {U"Vrai", true},
        {U"TRUE", true},
        {U"0AF25559", false},
        {U"Camille", false},
        {U"Mot de passe", false},
        {U"a+1", false},
        {U"1²", false},
        {U"x'y\"z", false},
        {longer, true, U"=\"=" + x998 + U"\"&\"😀\"\"\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(tolvane::platform::toUtf8(c.field));
        const std::u32string line = U"nom\t" + c.field;
        const std::u32string quoted = c.intoCalc.empty() ? U"=\"" + c.field + U"\"" : c.intoCalc;
        EXPECT_EQ(typedText(otherProgramScript({line}, std::nullopt, Spreadsheet::Gnumeric)),
                  U"nom\t" + (c.marked ? U"'" + c.field : c.field) + U"\n");
        EXPECT_EQ(typedText(otherProgramScript({line}, std::nullopt, Spreadsheet::LibreOffice)),
                  U"nom\t" + (c.marked ? quoted : c.field) + U"\n");
    }
    // Calc's formula doubles the quotes the text holds.
    EXPECT_EQ(typedText(otherProgramScript({U"+\"a\""}, std::nullopt, Spreadsheet::LibreOffice)),
              U"=\"+\"\"a\"\"\"\n");
}

TEST(Scripts, SecondGenerationRepeatsTheFirstLinesFirst) {
    // The window hands over every line generated so far, the older ones first.
    const std::vector<std::u32string> lines{U"old1", U"old2", U"new1"};
    EXPECT_EQ(typedText(notepadScript(lines, std::nullopt, U"1", 1)),
              kBanner + U"\n\n\nold1\nold2\nnew1\n\n\n--- Terminé :  1 code généré ---");
}

TEST(Scripts, ClipboardTextAndKeyCount) {
    EXPECT_EQ(clipboardText({U"a\tb", U"c"}), U"a\tb\nc\n");
    EXPECT_EQ(keyCount(otherProgramScript({U"ab\tc"}, std::nullopt)), 5u);
}

} // namespace
