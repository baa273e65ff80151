#include "ui/Look.h"

#include <QApplication>
#include <QPalette>
#include <QWidget>

namespace tolvane::ui {

QColor systemColour(int index) {
    const QPalette palette = QApplication::palette();
    switch (index) {
    case 4: // menu background
        return palette.color(QPalette::Active, QPalette::Window);
    case 5: // window background
        return palette.color(QPalette::Active, QPalette::Base);
    case 9: // title-bar text
        return palette.color(QPalette::Active, QPalette::HighlightedText);
    case 11: // inactive border
        return palette.color(QPalette::Active, QPalette::Midlight).darker(104);
    case 12: // application workspace
        return palette.color(QPalette::Active, QPalette::Mid);
    case 15: // button face
        return palette.color(QPalette::Active, QPalette::Button);
    case 17: // grey text
        return palette.color(QPalette::Disabled, QPalette::WindowText);
    default:
        return palette.color(QPalette::Active, QPalette::Window);
    }
}

void setBackgroundColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Base, colour);
        palette.setColor(group, QPalette::Window, colour);
    }
    widget->setPalette(palette);
}

void setTextColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::WindowText, colour);
        palette.setColor(group, QPalette::Text, colour);
    }
    widget->setPalette(palette);
}

void installFontSubstitutions() {
    QFont::insertSubstitutions(kSansSerif, {"Liberation Sans", "Arimo", "DejaVu Sans"});
    QFont::insertSubstitutions(kSymbols, {"DejaVu Sans", "Liberation Sans"});
}

QFont designFont(const char* family, double pointSize, bool bold) {
    QFont font(QString::fromLatin1(family));
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

QString symbolText(const QString& text) {
    QString shown = text;
    shown.replace(QLatin1Char('l'), QChar(0x25CF));
    return shown;
}

} // namespace tolvane::ui
