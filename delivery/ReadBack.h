#pragma once

#include "delivery/Deliver.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::delivery {

// What the target shows differs from what was typed: where (line, and field when the line has
// several), and how, in French: "ligne 4, colonne 2 : « ' » devenu « ’ »". Lines and fields are
// counted from 1 as the person sees them in the target. Empty when the two agree, and when the
// text shown holds fewer lines than were typed: it is then another field than the one that took
// every line (a form whose fields Tab moves between), which tells nothing of the delivery.
std::string describeDifferences(std::u32string_view typed, std::u32string_view shown);

// The same for the cells of a spreadsheet, from the first typed into: `typed` holds the rows
// typed, their fields Tab-separated, each row ended by a line break; `cells` what each cell
// shows, row by row, `columns` to a row. A field left out of a row is an empty cell.
std::string describeCellDifferences(std::u32string_view typed,
                                    const std::vector<std::u32string>& cells, std::size_t columns);

// What the target changed of the text typed into it, as the person is told; none when it shows
// the text typed, or shows none, or could not be read in time (which tells nothing of the keys:
// every one was sent while the window held the focus).
std::optional<std::string> changedOnArrival(const platform::KeystrokeScript& script,
                                            const platform::LaunchResult& target,
                                            platform::TextReadBack& readBack);

// What a spreadsheet shows in the cells typed into, against each field as typed (a field typed
// as a formula that gives it, or behind the text mark, shows as the field itself).
std::optional<std::string> cellsChangedOnArrival(const DeliveryRequest& request,
                                                 const platform::LaunchResult& target,
                                                 platform::TextReadBack& readBack);

// Where a spreadsheet's automatic correction and completion are turned off, in its menus;
// both spreadsheets' when not known which.
std::string spreadsheetSettings(platform::Spreadsheet spreadsheet);

} // namespace tolvane::delivery
