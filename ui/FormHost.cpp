#include "ui/FormHost.h"

#include "ui/Form1.h"

#include <QGuiApplication>
#include <QScreen>

namespace tolvane::ui {

FormHost::FormHost(Services services, std::function<void()> quit)
    : services_(services), quit_(std::move(quit)) {}

FormHost::~FormHost() {
    delete form_;
}

void FormHost::load(bool show) {
    shown_ = show;
    form_ = new Form1(services_, *this);
    form_->setAttribute(Qt::WA_DeleteOnClose);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        form_->move(area.center() - form_->rect().center());
    }
    if (show) {
        form_->show();
        form_->activateWindow();
    }
}

void FormHost::reload() {
    // The handler that asked is still running inside the old window: let it finish first.
    if (form_) {
        form_->hide();
        form_->setAttribute(Qt::WA_DeleteOnClose, false);
        form_->deleteLater();
        form_ = nullptr;
    }
    load(shown_);
}

void FormHost::quit() {
    quit_();
}

} // namespace tolvane::ui
