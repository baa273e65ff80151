#pragma once

class QStyle;

namespace tolvane::ui {

// The application style: Fusion, with a filled circle as the password character.
QStyle* createStyle();

// Style, fonts and translations every window of the program relies on.
void setUpApplication();

} // namespace tolvane::ui
