#include "platform/qt/QtClipboard.h"

#include "platform/Wipe.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QtGui/qguiapplication_platform.h>

#include <QElapsedTimer>
#include <QThread>

#include <cstdlib>
#include <functional>
#include <xcb/xcb.h>

namespace tolvane::platform::qt {

namespace {

// How soon a clipboard whose owner did not answer is asked again.
constexpr int kAskAgainMs = 2000;

// Our text on the clipboard, telling when a program reads it (the clipboard manager's mark
// is not the text).
class SecretText final : public QMimeData {
public:
    explicit SecretText(std::function<void()> onRead) : onRead_(std::move(onRead)) {}
    // Reads are no longer told: the text can stay on the clipboard after whoever counted them.
    void forget() { onRead_ = nullptr; }

protected:
    QVariant retrieveData(const QString& type, QMetaType wanted) const override {
        if (type.startsWith(QLatin1String("text/")) && onRead_) {
            onRead_();
        }
        return QMimeData::retrieveData(type, wanted);
    }

private:
    std::function<void()> onRead_;
};

} // namespace

QtClipboard::QtClipboard(int clearAfterMs, ClipboardEraser* eraser, MessageBox* messageBox,
                         QObject* parent)
    : QObject(parent), eraser_(eraser), messageBox_(messageBox), clearAfterMs_(clearAfterMs) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &QtClipboard::clearIfOurs);
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(app, &QCoreApplication::aboutToQuit, this, &QtClipboard::clearAtTheEnd);
    }
}

QtClipboard::~QtClipboard() {
    clearAtTheEnd();
    if (auto* mime = dynamic_cast<SecretText*>(offered_.data())) {
        mime->forget();
    }
}

void QtClipboard::setSecretText(const std::string& utf8) {
    reads_ = 0;
    auto* mime = new SecretText([this] { ++reads_; });
    offered_ = mime;
    ours_ = QString::fromStdString(utf8);
    mime->setText(ours_);
    mime->setData(QStringLiteral("x-kde-passwordManagerHint"), QByteArrayLiteral("secret"));
    QGuiApplication::clipboard()->setMimeData(mime, QClipboard::Clipboard);
    timer_.start(clearAfterMs_);
}

bool QtClipboard::takeOffOnceRead(std::chrono::milliseconds limit) {
    QElapsedTimer waited;
    waited.start();
    // The clipboard is served from the event loop: requests from other programs are answered
    // here, and nothing a person does reaches the window meanwhile.
    while (reads_ == 0 && offered_ && waited.elapsed() < limit.count()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QThread::msleep(10);
    }
    const bool read = reads_ > 0;
    clearIfOurs();
    return read;
}

void QtClipboard::clearIfOurs() {
    timer_.stop();
    if (ours_.isEmpty() || !QGuiApplication::instance()) {
        return;
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    // Served by someone else now: only the eraser sees what they serve (a Wayland window sees
    // the clipboard only while it has the focus).
    if (eraser_ && !clipboard->ownsClipboard()) {
        QByteArray utf8 = ours_.toUtf8();
        std::string text(utf8.constData(), static_cast<std::size_t>(utf8.size()));
        const auto result = eraser_->eraseIfHolds(text);
        utf8.fill('\0');
        wipe(text);
        if (result == ClipboardEraser::Result::Unanswered) {
            timer_.start(kAskAgainMs); // ours_ kept: asked again
            return;
        }
        if (result != ClipboardEraser::Result::Unavailable) {
            ours_.fill(QChar(0));
            ours_.clear();
            return;
        }
    }
    // Still our text, whoever serves it now: us, or a clipboard manager that took it over.
    const int reads = reads_;
    QString current = clipboard->text(QClipboard::Clipboard);
    reads_ = reads; // our own look is not a read
    if (current == ours_) {
        if (clipboard->ownsClipboard() || !releaseToNobody()) {
            clipboard->clear(QClipboard::Clipboard);
        }
    }
    current.fill(QChar(0));
    ours_.fill(QChar(0));
    ours_.clear();
}

void QtClipboard::clearAtTheEnd() {
    clearIfOurs();
    if (ours_.isEmpty()) {
        return;
    }
    timer_.stop();
    ours_.fill(QChar(0));
    ours_.clear();
    if (messageBox_) {
        messageBox_->show("Le presse-papier contient peut-être encore les mots de passe : le "
                          "programme qui le détient ne répond pas. Copiez un autre texte pour "
                          "les remplacer.",
                          MessageIcon::Exclamation, MessageButtons::Ok, {});
    }
}

// The clipboard is given to no one, whoever holds it: with the current time, so that a
// clipboard manager that took it over after our own last timestamp loses it too.
bool QtClipboard::releaseToNobody() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* conn = x11 ? x11->connection() : nullptr;
    if (!conn) {
        return false;
    }
    const char name[] = "CLIPBOARD";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(conn, xcb_intern_atom(conn, 0, sizeof name - 1, name), nullptr);
    if (!atom) {
        return false;
    }
    xcb_set_selection_owner(conn, XCB_NONE, atom->atom, XCB_CURRENT_TIME);
    free(atom);
    xcb_flush(conn);
    return true;
}

} // namespace tolvane::platform::qt
