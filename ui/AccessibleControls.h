#pragma once

namespace tolvane::ui {

// What assistive technologies are shown of the program's combo boxes, check boxes and option
// buttons, in place of Qt's own:
// - a combo box is named by its label (its buddy) or its accessible name, as other controls are;
//   the text it holds is its value (Qt on Linux gives that text as its name too);
// - every action on a check box or an option button ("Toggle", "Press") is carried out as a
//   click, so that the handlers bound to clicks run once for it, as for the mouse or the keyboard
//   (Qt toggles the button without a click).
void installAccessibleControls();

} // namespace tolvane::ui
