#pragma once

#include <string>
#include <string_view>

namespace tolvane::delivery {

// What the target shows differs from what was typed: where (line, and field when the line has
// several), and how, in French: "ligne 4, colonne 2 : « ' » devenu « ’ »". Lines and fields are
// counted from 1 as the person sees them in the target. Empty when the two agree, and when the
// text shown holds fewer lines than were typed: it is then another field than the one that took
// every line (a form whose fields Tab moves between), which tells nothing of the delivery.
std::string describeDifferences(std::u32string_view typed, std::u32string_view shown);

} // namespace tolvane::delivery
