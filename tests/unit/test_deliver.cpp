// The delivery branches where the lines cannot arrive as typed keys: the target does not start,
// keystrokes cannot reach any window, or the keyboard lacks characters (refused before anything
// starts, or pasted on the user's word). The calls the fakes receive say what happened.
#include "delivery/Deliver.h"
#include "delivery/ReadBack.h"
#include "delivery/Scripts.h"
#include "fakes/FakePlatform.h"

#include <gtest/gtest.h>

#include <algorithm>

using tolvane::delivery::Deliver;
using tolvane::delivery::DeliveryRequest;
using tolvane::engine::Destination;
using tolvane::fakes::CallLog;
using tolvane::fakes::FakePlatform;
using tolvane::platform::MessageAnswer;

namespace {

const std::string kNoKeystrokes = "Les frappes ne peuvent pas arriver dans cette session.";

struct FailureCase {
    const char* name;
    Destination destination;
    std::string program;
    bool launchFails;
    std::string unavailable;
    std::optional<std::string> message; // nullopt: delivered
    CallLog log;                        // every call the fakes received, in order
    bool typed;
    tolvane::platform::Preparation preparation = {};
    std::optional<tolvane::platform::MessageAnswer> pasteAnswer = {}; // asked, and answered so
    std::optional<tolvane::platform::ShownText> shown = {}; // the target shows, once typed into
    std::string holds = {}; // what else the message must hold: the target's own setting
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class DeliveryFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(DeliveryFailures, NothingIsTypedAndTheMessageSaysWhy) {
    const FailureCase& c = GetParam();
    FakePlatform fakes;
    fakes.launcher.fail = c.launchFails;
    fakes.injector.unavailable = c.unavailable;
    fakes.injector.preparation = c.preparation;
    fakes.injector.pastes = true;
    if (c.pasteAnswer) {
        fakes.messageBox.answers.push_back(*c.pasteAnswer);
    }
    fakes.readBack.shown = c.shown;
    DeliveryRequest request;
    request.destination = c.destination;
    request.programPath = c.program;
    request.lines = {U"pw1", U"pw2"};
    request.countText = std::u32string(1, U'2'); // (a literal trips a false -Wrestrict)
    request.count = 2;

    const std::optional<std::string> message =
        Deliver(request, {fakes.launcher, fakes.injector, fakes.clipboard, fakes.messageBox,
                          &fakes.readBack});
    if (c.message && c.message->back() == '*') {
        ASSERT_TRUE(message);
        EXPECT_EQ(message->rfind(c.message->substr(0, c.message->size() - 1), 0), 0u) << *message;
        EXPECT_NE(message->find(c.holds), std::string::npos) << *message;
    } else {
        EXPECT_EQ(message, c.message);
    }
    // A question's text is checked where it is written: here only that it was asked.
    for (std::string& call : fakes.log) {
        if (call.rfind("message:", 0) == 0) {
            call = "message:*";
        }
    }
    EXPECT_EQ(fakes.log, c.log);
    EXPECT_EQ(!fakes.injector.scripts.empty(), c.typed);
}

INSTANTIATE_TEST_SUITE_P(
    Branches, DeliveryFailures,
    ::testing::Values(
        FailureCase{"editor_delivered",
                    Destination::Notepad,
                    "",
                    false,
                    "",
                    std::nullopt,
                    {"injector:prepare", "injector:before-launch", "start:editor", "type:editor",
                     "read-back:editor", "release:editor"},
                    true},
        // Read back once typed: a text changed on arrival is told, and a text the target
        // showed too late to be checked; one that could not be read (far more text than typed)
        // tells nothing.
        FailureCase{"editor_changed_on_arrival",
                    Destination::Notepad,
                    "",
                    false,
                    "",
                    "Toutes les touches ont été envoyées, mais le texte que montre « editor » *",
                    {"injector:prepare", "injector:before-launch", "start:editor", "type:editor",
                     "read-back:editor", "release:editor"},
                    true,
                    {},
                    {},
                    tolvane::platform::ShownText{tolvane::platform::ShownText::Outcome::Read,
                                                 U"changed\n\n\n\n\n\n\n\n"}},
        FailureCase{
            "kwrite_closes_brackets",
            Destination::OtherProgram,
            "/usr/bin/kwrite",
            false,
            "",
            "Toutes les touches ont été envoyées, mais le texte que montre « /usr/bin/kwrite » *",
            {"injector:prepare", "injector:before-launch", "start:/usr/bin/kwrite",
             "type:/usr/bin/kwrite", "read-back:/usr/bin/kwrite", "release:/usr/bin/kwrite"},
            true,
            {},
            {},
            tolvane::platform::ShownText{tolvane::platform::ShownText::Outcome::Read,
                                         U"pw1\npw2\n])"},
            "Fermer automatiquement les parenthèses"},
        FailureCase{
            "program_shown_too_late",
            Destination::OtherProgram,
            "/opt/reader",
            false,
            "",
            "Toutes les touches ont été envoyées, mais « /opt/reader » n'a pas montré à temps *",
            {"injector:prepare", "injector:before-launch", "start:/opt/reader", "type:/opt/reader",
             "read-back:/opt/reader", "release:/opt/reader"},
            true,
            {},
            {},
            tolvane::platform::ShownText{tolvane::platform::ShownText::Outcome::Late, U""}},
        FailureCase{
            "program_not_read",
            Destination::OtherProgram,
            "/opt/reader",
            false,
            "",
            std::nullopt,
            {"injector:prepare", "injector:before-launch", "start:/opt/reader", "type:/opt/reader",
             "read-back:/opt/reader", "release:/opt/reader"},
            true,
            {},
            {},
            tolvane::platform::ShownText{tolvane::platform::ShownText::Outcome::NotChecked, U""}},
        FailureCase{"editor_not_started",
                    Destination::Notepad,
                    "",
                    true,
                    "",
                    "Le programme « editor » ne peut pas être lancé.",
                    {"injector:prepare", "injector:before-launch", "start:editor"},
                    false},
        FailureCase{"program_not_started",
                    Destination::OtherProgram,
                    "/opt/reader",
                    true,
                    "",
                    "Le programme « /opt/reader » ne peut pas être lancé.",
                    {"injector:prepare", "injector:before-launch", "start:/opt/reader"},
                    false},
        FailureCase{"editor_without_keystrokes",
                    Destination::Notepad,
                    "",
                    false,
                    kNoKeystrokes,
                    kNoKeystrokes,
                    {},
                    false},
        FailureCase{"program_without_keystrokes",
                    Destination::OtherProgram,
                    "/opt/reader",
                    false,
                    kNoKeystrokes,
                    kNoKeystrokes,
                    {},
                    false},
        FailureCase{"clipboard_needs_no_keystrokes",
                    Destination::Clipboard,
                    "",
                    false,
                    kNoKeystrokes,
                    std::nullopt,
                    {"clipboard"},
                    false},
        // Planned before the start: a script nothing can type starts nothing.
        FailureCase{"control_character_refused_before_the_start",
                    Destination::Notepad,
                    "",
                    false,
                    "",
                    "Ces caractères ne peuvent pas être tapés au clavier : *",
                    {"injector:prepare"},
                    false,
                    {{}, U"\b", false}},
        FailureCase{"layout_lacks_for_a_program_refused_before_the_start",
                    Destination::OtherProgram,
                    "/opt/reader",
                    false,
                    "",
                    "Ces caractères ne peuvent pas être tapés avec la disposition*",
                    {"injector:prepare"},
                    false,
                    {{}, U"é", true}},
        FailureCase{"layout_lacks_for_the_editor_pasted_on_yes",
                    Destination::Notepad,
                    "",
                    false,
                    "",
                    std::nullopt,
                    {"injector:prepare", "message:*", "injector:before-launch", "clipboard",
                     "start:editor", "clipboard:reads-from-now", "paste:editor",
                     "clipboard:take-off-once-read", "release:editor"},
                    false,
                    {{}, U"é", true},
                    MessageAnswer::Yes},
        FailureCase{"layout_lacks_for_the_editor_nothing_on_no",
                    Destination::Notepad,
                    "",
                    false,
                    "",
                    std::nullopt,
                    {"injector:prepare", "message:*"},
                    false,
                    {{}, U"é", true},
                    MessageAnswer::No},
        FailureCase{"planning_fails",
                    Destination::Notepad,
                    "",
                    false,
                    "",
                    kNoKeystrokes,
                    {"injector:prepare"},
                    false,
                    {kNoKeystrokes, {}, false}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

namespace {

struct PlacesCase {
    const char* name;
    Destination destination;
    std::vector<std::u32string> lines;
    bool titles;
    std::u32string untypable;
    std::string places;
};

void PrintTo(const PlacesCase& c, std::ostream* os) {
    *os << c.name;
}

class UntypablePlaces : public ::testing::TestWithParam<PlacesCase> {};

TEST_P(UntypablePlaces, NamesTheCharactersWhereAPersonReadsThem) {
    const PlacesCase& c = GetParam();
    DeliveryRequest request;
    request.destination = c.destination;
    request.lines = c.lines;
    if (c.titles) {
        request.titles = tolvane::delivery::columnTitleLine(true);
    }
    request.countText = std::u32string(1, U'2');
    request.count = 2;
    EXPECT_EQ(tolvane::delivery::describeUntypable(request, c.untypable), c.places);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, UntypablePlaces,
    ::testing::Values(
        PlacesCase{
            "footer", Destination::Notepad, {U"pw"}, false, U"é", "le « é » de la ligne de fin"},
        PlacesCase{"titles_then_footer",
                   Destination::Notepad,
                   {U"pw"},
                   true,
                   U"îé",
                   "les « î » et « é » des titres des colonnes, le « é » de la ligne de fin"},
        PlacesCase{"names_passwords_codes",
                   Destination::OtherProgram,
                   {U"Жанна\tpéЖ\t0A", U"Жорж\tx\tB1", U"Жанна\tq\t0C"},
                   false,
                   U"ЖéA",
                   "« Ж » dans les noms « Жанна », « Жорж », « Ж » et « é » dans les mots de "
                   "passe, « A » dans les codes"},
        PlacesCase{"control_character_shown_by_its_code",
                   Destination::OtherProgram,
                   {U"a\bc\tpw"},
                   false,
                   U"\b",
                   "U+0008 dans le nom « a\uFFFDc »"}),
    [](const auto& info) { return std::string(info.param.name); });

// Into a spreadsheet, known by its path or by its window once found, a note on what it still
// changes comes once per window (before the launch, or after the keys when only its window told
// it: a box shown before would take the focus from it), and a field it would read as a formula
// goes as text.
TEST(SpreadsheetDelivery, NoteOncePerWindowAndFieldsAsText) {
    using tolvane::platform::Spreadsheet;
    struct Case {
        const char* name;
        Spreadsheet byPath;
        std::vector<std::string> windowNames;
        bool noted, noteBeforeTyping;
        std::u32string typed;
        const char* where = "Outils > AutoSaisie"; // what the note points to
    };
    const Case cases[] = {
        {"calc_by_its_path", Spreadsheet::LibreOffice, {}, true, true, U"anne\t=\"+pw1\"\n"},
        {"calc_by_its_window",
         Spreadsheet::None,
         {"libreoffice", "libreoffice-calc"},
         true,
         false,
         U"anne\t=\"+pw1\"\n"},
        {"gnumeric_by_its_app_id",
         Spreadsheet::None,
         {"org.gnome.Gnumeric"},
         true,
         false,
         U"anne\t'+pw1\n",
         "Affichage > Propriétés de la vue"},
        {"calc_among_spreadsheets_by_its_window",
         Spreadsheet::Other,
         {"libreoffice-calc"},
         true,
         true,
         U"anne\t=\"+pw1\"\n"},
        {"another_window",
         Spreadsheet::None,
         {"mousepad", "Mousepad"},
         false,
         false,
         U"anne\t+pw1\n"},
    };
    for (const Case& c : cases) {
        FakePlatform fakes;
        fakes.launcher.spreadsheet = c.byPath;
        fakes.injector.windowNames = c.windowNames;
        bool noted = false;
        DeliveryRequest request;
        request.destination = Destination::OtherProgram;
        request.programPath = "/home/anne/bin/tableur";
        request.lines = {U"anne\t+pw1"};
        request.spreadsheetNoted = &noted;
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(Deliver(request,
                              {fakes.launcher, fakes.injector, fakes.clipboard, fakes.messageBox}),
                      std::nullopt)
                << c.name;
        }
        ASSERT_EQ(fakes.messageBox.calls.size(), c.noted ? 1u : 0u) << c.name;
        EXPECT_EQ(tolvane::delivery::typedText(fakes.injector.scripts.back()), c.typed) << c.name;
        if (!c.noted) {
            continue;
        }
        const auto at = [&](const std::string& prefix) {
            return std::find_if(fakes.log.begin(), fakes.log.end(),
                                [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
        };
        EXPECT_EQ(at("message:") < at("type:"), c.noteBeforeTyping) << c.name;
        if (c.noteBeforeTyping) {
            EXPECT_LT(at("injector:prepare"), at("message:")) << c.name;
        }
        EXPECT_NE(fakes.messageBox.calls[0].text.find(c.where), std::string::npos) << c.name;
    }
}

// What the target shows, read back after typing, against what was typed: where it differs and
// how, as the person is told; nothing when they agree or when another field was read. With
// columns, what a spreadsheet's cells show, rows by line and cells by Tab.
TEST(ReadBack, NamesTheLinesColumnsAndKindOfChange) {
    struct Case {
        const char* name;
        std::u32string typed, shown;
        std::string told;
        std::size_t columns = 0;
    };
    const Case cases[] = {
        {"agreement", U"anne\tpw'1\nluc\tpw2\n", U"anne\tpw'1\nluc\tpw2\n", ""},
        {"quote_made_typographic", U"anne\tp'w\n", U"anne\tp’w\n",
         "ligne 1, colonne 2 : « ' » devenu « ’ »"},
        {"capital_put_in", U"pw1\njean\tpw2\n", U"pw1\nJean\tpw2\n",
         "ligne 2, colonne 1 : une majuscule ajoutée"},
        {"name_completed", U"Jean\tpw\n", U"Jeanne Martin\tpw\n",
         "ligne 1, colonne 1 : « ne Martin » en plus"},
        {"brackets_closed_after_the_last_line", U"a[b\n", U"a[b\n]",
         "du texte en plus après la dernière ligne : « ] »"},
        {"brackets_closed_on_the_footer", U"x(\n\nfin", U"x(\n\nfin)",
         "ligne 3 : « ) » en plus à la fin"},
        {"character_lost", U"abc\n", U"ac\n", "ligne 1 : un caractère en moins"},
        {"tab_become_spaces", U"a\tb\n", U"a    b\n",
         "ligne 1, colonnes 1 et 2 : une tabulation devenue des espaces"},
        {"another_field_read", U"anne\tpw1\nluc\tpw2\n", U"pw2", ""},
        {"one_line_break_more_at_the_very_end", U"anne\tpw1\n", U"anne\tpw1\n\n", ""},
        {"lines_beyond_named_are_counted", U"a\nb\nc\nd\ne\n", U"A\nB\nC\nD\nE\n",
         "ligne 1 : une majuscule ajoutée ; ligne 2 : une majuscule ajoutée ; ligne 3 : une "
         "majuscule ajoutée ; et 2 autres lignes"},
        {"cell_quote_made_typographic", U"Utilisateur\tMot de passe\nd'Ar\tp'1\n",
         U"Utilisateur\tMot de passe\nd’Ar\tp'1", "ligne 2, colonne 1 : « ' » devenu « ’ »", 2},
    };
    for (const Case& c : cases) {
        if (!c.columns) {
            EXPECT_EQ(tolvane::delivery::describeDifferences(c.typed, c.shown), c.told) << c.name;
            continue;
        }
        std::vector<std::u32string> cells(1);
        for (char32_t ch : c.shown) {
            if (ch == U'\n' || ch == U'\t') {
                cells.emplace_back();
            } else {
                cells.back() += ch;
            }
        }
        EXPECT_EQ(tolvane::delivery::describeCellDifferences(c.typed, cells, c.columns), c.told)
            << c.name;
    }
}

} // namespace
