#include "ui/Style.h"

#include "ui/Look.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QProxyStyle>
#include <QSettings>
#include <QStyleFactory>
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
