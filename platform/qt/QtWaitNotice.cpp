#include "platform/qt/QtWaitNotice.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

namespace tolvane::platform::qt {

namespace {

// How long the desktop may take to answer before the notice shows.
constexpr qint64 kQuietMs = 700;

bool isUserInput(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
        return true;
    default:
        return false;
    }
}

} // namespace

WaitNotice::Outcome QtWaitNotice::waitUntil(const std::string& text,
                                            const std::function<bool()>& done,
                                            std::chrono::milliseconds limit) {
    if (done()) {
        return Outcome::Done;
    }
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("Tolvane"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* label = new QLabel(QString::fromStdString(text), &dialog);
    label->setWordWrap(true);
    layout->addWidget(label);
    auto* buttons = new QDialogButtonBox(&dialog);
    QPushButton* cancel =
        buttons->addButton(QStringLiteral("Annuler"), QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    dialog.setMinimumWidth(360);

    QEventLoop loop;
    givenUp_ = false;
    notice_ = &dialog;
    connect(cancel, &QPushButton::clicked, &loop, [this, &loop] {
        givenUp_ = true;
        loop.quit();
    });
    connect(&dialog, &QDialog::rejected, &loop, [this, &loop] {
        givenUp_ = true;
        loop.quit();
    });
    // The window that had the focus gets it back once the notice goes.
    QPointer<QWindow> focused = QGuiApplication::focusWindow();
    QElapsedTimer waited;
    waited.start();
    QTimer poll;
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (givenUp_ || done() || waited.elapsed() >= limit.count()) {
            loop.quit();
        } else if (!dialog.isVisible() && waited.elapsed() >= kQuietMs) {
            // A desktop that answers at once never shows the notice: it would only take the
            // focus away for a moment.
            dialog.show();
        }
    });
    poll.start(50);
    qApp->installEventFilter(this);
    loop.exec();
    qApp->removeEventFilter(this);
    notice_ = nullptr;
    if (dialog.isVisible()) {
        dialog.hide();
        if (focused) {
            focused->requestActivate();
        }
    }
    if (done()) {
        return Outcome::Done;
    }
    return givenUp_ ? Outcome::GivenUp : Outcome::TimedOut;
}

bool QtWaitNotice::eventFilter(QObject* watched, QEvent* event) {
    const auto insideNotice = [this](QObject* object) {
        for (QObject* o = object; o; o = o->parent()) {
            if (o == notice_) {
                return true;
            }
        }
        auto* widget = qobject_cast<QWidget*>(object);
        return widget && widget->window() == notice_;
    };
    if (insideNotice(watched)) {
        return false;
    }
    // Closing a window of the program is giving up; the window closes itself afterwards.
    if (event->type() == QEvent::Close && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->isWindow()) {
        givenUp_ = true;
        return false;
    }
    return isUserInput(event->type());
}

} // namespace tolvane::platform::qt
