// The Linux platform classes, tested under an offscreen Qt application with the French Qt
// translations the program installs (the message box's buttons read "Oui", "Non", "Annuler").
#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTranslator translator;
    if (translator.load(QLocale(QLocale::French), QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&translator);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
