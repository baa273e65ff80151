#pragma once

#include "platform/ProgramLauncher.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace tolvane::platform {

// How long reading the text back may take in all.
inline constexpr std::chrono::milliseconds kReadBackLimit{1000};
// How long one look at the field that has the focus may take.
inline constexpr std::chrono::milliseconds kFieldLookLimit{500};

// What the started program's window shows of the text typed into it.
struct ShownText {
    enum class Outcome {
        Read,         // text: the whole text of the field that has the focus
        NothingShown, // the program shows no text field with the focus (a terminal)
        NotChecked,   // holds far more than was typed, or the bus did not answer in time
        Late,         // the program shows its window, but not the text in time: the person
                      // is told it could not be checked
    };
    Outcome outcome = Outcome::NothingShown;
    std::u32string text; // its holder wipes it
};

// What the started spreadsheet's sheet shows in the cells typed into, from the first: each
// cell's text as shown, row by row, `columns` to a row.
struct ShownCells {
    ShownText::Outcome outcome = ShownText::Outcome::NothingShown;
    std::vector<std::u32string> cells; // its holder wipes them
};

// Where the started program's keys go, as an assistive technology sees it: the field that has
// the focus in its window.
struct FocusedField {
    enum class Shown {
        Nothing, // the program shows nothing of its window to assistive technologies
        Waiting, // its window shows no content yet, or a page without a field that has the focus
        Field,   // a field that takes text has the focus
        Other,   // something else has the focus (a sheet, a canvas), or nothing does
    };
    Shown shown = Shown::Nothing;
    std::string id; // which field it is, to tell whether the focus is still on it
    bool multiLine = false;
    std::size_t characters = 0; // how many characters it holds, when it holds several lines
};

// Reads back, once the keys are typed, the text of the field that has the focus in the started
// program's window, as an assistive technology reads it; no other program's.
class TextReadBack {
public:
    virtual ~TextReadBack() = default;
    // NAME=value the program is started with, so that it shows its text to assistive
    // technologies also where none runs.
    virtual std::vector<std::string> beforeLaunch() { return {}; }
    // The field that has the focus in the started program's window; at most about
    // kFieldLookLimit.
    virtual FocusedField focusedField(const LaunchResult& target) {
        (void)target;
        return {};
    }
    // At most about kReadBackLimit, and at most `limit` characters.
    virtual ShownText read(const LaunchResult& target, std::size_t limit) = 0;
    // The cells of the sheet in the started program's window, from the first one, once
    // `rows` rows of `columns` fields were typed into it from there (the cursor then stands
    // below the first of them); at most about kReadBackLimit, and at most `limit` characters
    // a cell. Late when the cursor does not stand there in time.
    virtual ShownCells readCells(const LaunchResult& target, std::size_t rows, std::size_t columns,
                                 std::size_t limit) {
        (void)target, (void)rows, (void)columns, (void)limit;
        return {};
    }
};

} // namespace tolvane::platform
