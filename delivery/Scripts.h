#pragma once

#include "platform/Keystrokes.h"
#include "platform/ProgramLauncher.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::delivery {

using platform::KeyAction;
using platform::KeystrokeScript;

// The editor route's first line, naming the version, and its last, naming the count of this
// generation as its box shows it.
std::u32string bannerLine();
std::u32string footerLine(std::u32string_view countText, std::int64_t count);

// "Utilisateur", Tab, "Mot de passe" [, Tab, "Chaîne cryptée" when irreversible].
std::u32string columnTitleLine(bool irreversible);

// Appends text typed literally; character 9 is the Tab key, 13 and 10 are the Enter key.
void appendLiteral(KeystrokeScript& script, std::u32string_view text);

// The editor route: banner, three Enters, optional titles, every line, then the footer naming
// the count of this generation as its box shows it.
KeystrokeScript notepadScript(const std::vector<std::u32string>& lines,
                              const std::optional<std::u32string>& titleLine,
                              std::u32string_view countText, std::int64_t count);

using platform::Spreadsheet;

// The other-program route: optional titles, then every line, each ended by Enter. Into a
// spreadsheet, each field it would read as a formula or a number is typed so that the cell
// keeps it as text: behind the text mark "'", which the cell does not keep; into LibreOffice
// Calc, which keeps the mark before what it does not read as a number ("'+x" stays so), as
// the formula ="…" that gives the text.
KeystrokeScript otherProgramScript(const std::vector<std::u32string>& lines,
                                   const std::optional<std::u32string>& titleLine,
                                   Spreadsheet spreadsheet = Spreadsheet::None);

// Whether a spreadsheet may read the field as something else than text: a formula (it starts
// with = + - @), a number, date, time, percentage or amount (digits with signs, separators,
// blanks, currency), a truth value, an error value (#…), or a field that starts with the
// text mark itself.
bool readAsOtherThanText(std::u32string_view field);

// The pieces of a text between separators: a line's fields at Tab, a text's lines at line
// breaks.
std::vector<std::u32string_view> splitAt(std::u32string_view text, char32_t separator);

// The clipboard route: one line per row, fields Tab-separated, no banner.
std::u32string clipboardText(const std::vector<std::u32string>& lines);

// What a plain-text editor holds once the script has been typed into an empty document.
using platform::typedText;

// Every character a password or its code may hold, whatever the classes chosen: those of the
// seven classes and the hyphen between segments.
std::u32string passwordCharacters();

// Number of key presses a script stands for (one per character, Enter or Tab).
using platform::keyCount;

} // namespace tolvane::delivery
