#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

class QWidget;

namespace Ui {
class Form1;
}

namespace tolvane::ui {

// The window's designed look: fonts, colours, surfaces and pictures, and what assistive
// technologies are told about each control. Handlers change it only through these.

// A picture of the window ("keyring", "tools", "padlock") at its natural size, drawn for the
// given device pixel ratio; and the window's icon at every size it is asked for.
QPixmap picture(const QString& name, qreal devicePixelRatio);
QIcon windowIcon();

// Set before the controls exist, so that they are born with the window's font and colours.
void applyWindowLook(QWidget& window);
void applyControlsLook(QWidget& window, Ui::Form1& controls);
void describeForAccessibility(QWidget& window, Ui::Form1& controls);

// A tool tip, also given to assistive technologies as the control's description.
void setDescribedToolTip(QWidget* widget, const QString& tip);

// A box's background in its usable look (system colour 5) or its unusable one (the given index).
void showUsable(QWidget* box, bool usable, int unusableColour);

// The PUK drawn in the symbol font (masked) or in the window's font (shown).
void showPukMasked(Ui::Form1& controls, bool masked);

// The "?" label written in italics while the mouse is over it.
void setAboutHovered(Ui::Form1& controls, bool hovered);

} // namespace tolvane::ui
