#include "ui/Style.h"

#include "ui/AccessibleControls.h"
#include "ui/Look.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QProxyStyle>
#include <QSettings>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTranslator>

namespace tolvane::ui {

namespace {

class TolvaneStyle final : public QProxyStyle {
public:
    TolvaneStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter) {
            return 0x25CF;
        }
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }

    // Indicators and spacing of the classic look the window's geometry was drawn for.
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        switch (metric) {
        case PM_IndicatorWidth:
        case PM_IndicatorHeight:
        case PM_ExclusiveIndicatorWidth:
        case PM_ExclusiveIndicatorHeight:
            return 13;
        case PM_CheckBoxLabelSpacing:
        case PM_RadioButtonLabelSpacing:
            return 4;
        default:
            return QProxyStyle::pixelMetric(metric, option, widget);
        }
    }

    // The classic look's narrow drop-down button: the narrowest boxes of the window then show
    // every number their lists hold ("100" in the count box) whole.
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl part,
                         const QWidget* widget) const override {
        if (control != CC_ComboBox || (part != SC_ComboBoxArrow && part != SC_ComboBoxEditField)) {
            return QProxyStyle::subControlRect(control, option, part, widget);
        }
        constexpr int kArrowWidth = 14;
        constexpr int kFrame = 2;
        const QRect box = option->rect;
        const QRect rect =
            part == SC_ComboBoxArrow
                ? QRect(box.right() - kArrowWidth + 1, box.top() - 2, kArrowWidth, box.height() + 4)
                : QRect(box.left() + kFrame, box.top() + kFrame, box.width() - kArrowWidth - kFrame,
                        box.height() - 2 * kFrame);
        return visualRect(option->direction, box, rect);
    }
};

} // namespace

QStyle* createStyle() {
    return new TolvaneStyle;
}

void setUpApplication() {
    // The program keeps no settings; Qt's own (the file dialog remembers its state) go nowhere.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("/dev/null"));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("/dev/null"));
    QApplication::setStyle(createStyle());
    QApplication::setPalette(QApplication::style()->standardPalette());
    installFontSubstitutions();
    installAccessibleControls();
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    auto* translator = new QTranslator(qApp);
    if (translator->load(QLocale(QLocale::French), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(translator);
    } else {
        delete translator;
    }
}

} // namespace tolvane::ui
