#include "platform/linux/QtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace tolvane::platform::linux_desktop {

QtClipboard::QtClipboard(int clearAfterMs, QObject* parent) : QObject(parent) {
    timer_.setSingleShot(true);
    timer_.setInterval(clearAfterMs);
    connect(&timer_, &QTimer::timeout, this, &QtClipboard::clearIfOurs);
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(app, &QCoreApplication::aboutToQuit, this, &QtClipboard::clearIfOurs);
    }
}

QtClipboard::~QtClipboard() {
    clearIfOurs();
}

void QtClipboard::setSecretText(const std::string& utf8) {
    auto* mime = new QMimeData;
    ours_ = QString::fromStdString(utf8);
    mime->setText(ours_);
    mime->setData(QStringLiteral("x-kde-passwordManagerHint"), QByteArrayLiteral("secret"));
    QGuiApplication::clipboard()->setMimeData(mime, QClipboard::Clipboard);
    timer_.start();
}

void QtClipboard::clearIfOurs() {
    timer_.stop();
    if (ours_.isEmpty() || !QGuiApplication::instance()) {
        return;
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard->text(QClipboard::Clipboard) == ours_) {
        clipboard->clear(QClipboard::Clipboard);
    }
    ours_.fill(QChar(0));
    ours_.clear();
}

} // namespace tolvane::platform::linux_desktop
