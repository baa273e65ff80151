// The yardstick for start-up: the smallest Qt Widgets program that shows a window; with
// --label, one line of text as well, so that it loads the font system as any real window does.
#include <QApplication>
#include <QLabel>
#include <QWidget>

#include <cstring>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("minimal"));
    window.resize(511, 396);
    if (argc > 1 && std::strcmp(argv[1], "--label") == 0) {
        auto* label = new QLabel(QStringLiteral("Longueur souhaitée"), &window);
        label->move(20, 20);
    }
    window.show();
    return app.exec();
}
