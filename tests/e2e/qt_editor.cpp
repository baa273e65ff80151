// A Qt-based plain-text editor for the end-to-end tests: a QPlainTextEdit whose whole text is
// written to the file named on the command line each time it changes.
#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    QPlainTextEdit editor;
    editor.setWindowTitle(QStringLiteral("qt_editor"));
    editor.resize(600, 400);
    QObject::connect(&editor, &QPlainTextEdit::textChanged, [&] {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            file.write(editor.toPlainText().toUtf8());
        }
    });
    editor.show();
    return app.exec();
}
