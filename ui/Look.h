#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QWidget;

namespace tolvane::ui {

// The system colour table the window's look is written against, mapped onto the palette:
// 4 menu background, 5 window background, 9 title-bar text, 11 inactive border,
// 12 application workspace, 15 button face, 17 grey text.
QColor systemColour(int index);

// Sets the background a widget draws its content on (the Base role of edit fields).
void setBackgroundColour(QWidget* widget, const QColor& colour);
void setTextColour(QWidget* widget, const QColor& colour);

// The design fonts, by name; font substitution maps them onto fonts installed here.
inline constexpr const char* kSansSerif = "MS Sans Serif";
inline constexpr const char* kSymbols = "Wingdings";
void installFontSubstitutions();
QFont designFont(const char* family, double pointSize, bool bold = false);

// What a symbol-font text shows: the symbol font draws "l" as a filled circle.
QString symbolText(const QString& text);

} // namespace tolvane::ui
