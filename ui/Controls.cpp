#include "ui/Controls.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalBlocker>

namespace tolvane::ui {

namespace {

bool leavesForAnotherControl(const QFocusEvent* event) {
    return event->reason() != Qt::PopupFocusReason &&
           event->reason() != Qt::ActiveWindowFocusReason;
}

class FocusOutFilter : public QObject {
public:
    FocusOutFilter(QWidget* widget, std::function<void()> handler)
        : QObject(widget), handler_(std::move(handler)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusOut &&
            leavesForAnotherControl(static_cast<QFocusEvent*>(event))) {
            handler_();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> handler_;
};

} // namespace

ComboControl::ComboControl(QComboBox* box, QObject* parent) : QObject(parent), box_(box) {
    box_->setEditable(true);
    box_->setInsertPolicy(QComboBox::NoInsert);
    box_->setDuplicatesEnabled(true);
    if (QLineEdit* edit = box_->lineEdit()) {
        box_->setCompleter(nullptr);
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textEdited, this, [this] { index_ = -1; });
    }
    box_->installEventFilter(this);
    {
        const QSignalBlocker blocker(box_);
        box_->setCurrentIndex(-1);
    }
    connect(box_, &QComboBox::activated, this, [this](int index) {
        index_ = index;
        runClick();
    });
}

void ComboControl::addItem(const QString& text) {
    const QSignalBlocker blocker(box_);
    const QString shown = box_->currentText();
    box_->addItem(text);
    // Qt selects the first entry added to an empty box; the selection stays where it was.
    if (box_->currentIndex() != index_) {
        box_->setCurrentIndex(index_);
        box_->setEditText(shown);
    }
}

void ComboControl::removeItem(int index) {
    if (index < 0 || index >= box_->count()) {
        return;
    }
    const QSignalBlocker blocker(box_);
    const QString shown = box_->currentText();
    box_->removeItem(index);
    if (index == index_) {
        index_ = -1;
    } else if (index < index_) {
        --index_;
    }
    box_->setCurrentIndex(index_);
    if (index_ == -1) {
        box_->setEditText(shown);
    }
}

void ComboControl::clear() {
    const QSignalBlocker blocker(box_);
    box_->clear();
    index_ = -1;
    box_->setEditText(QString());
}

int ComboControl::listCount() const {
    return box_->count();
}

bool ComboControl::setListIndex(int index) {
    if (index < -1 || index >= box_->count()) {
        return false;
    }
    if (index == index_) {
        return true;
    }
    index_ = index;
    {
        const QSignalBlocker blocker(box_);
        box_->setCurrentIndex(index);
        if (index == -1) {
            box_->setEditText(QString());
        }
    }
    runClick();
    return true;
}

QString ComboControl::text() const {
    return box_->currentText();
}

void ComboControl::setText(const QString& text) {
    const QSignalBlocker blocker(box_);
    box_->setEditText(text);
    index_ = -1;
}

QString ComboControl::itemText(int index) const {
    return box_->itemText(index);
}

void ComboControl::runClick() {
    if (click_) {
        click_();
    }
}

bool ComboControl::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress: {
        // The box forwards its keys to its edit field: take each key once, where it arrives.
        if (watched != box_ && box_->hasFocus()) {
            break;
        }
        auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (enter) {
            int code = 13;
            if (keyPress_) {
                keyPress_(code);
            }
            return true;
        }
        const QString typed = key->text();
        if (keyPress_ && typed.size() == 1 && typed.at(0).unicode() >= 32) {
            int code = typed.at(0).unicode();
            keyPress_(code);
        }
        break;
    }
    case QEvent::FocusOut:
        if (watched == box_ && lostFocus_ &&
            leavesForAnotherControl(static_cast<QFocusEvent*>(event))) {
            lostFocus_();
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void onLostFocus(QWidget* widget, std::function<void()> handler) {
    widget->installEventFilter(new FocusOutFilter(widget, std::move(handler)));
}

int checkValue(const QCheckBox* box) {
    switch (box->checkState()) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    default:
        return 0;
    }
}

void setCheckValue(QCheckBox* box, int value) {
    if (value == 2) {
        box->setCheckState(Qt::PartiallyChecked);
        return;
    }
    // A box the user toggles goes between 0 and 1 only; grayed is set from code.
    box->setTristate(false);
    box->setCheckState(value == 0 ? Qt::Unchecked : Qt::Checked);
}

QString caption(const QAbstractButton* button) {
    QString text = button->text();
    text.replace(QStringLiteral("&&"), QStringLiteral("&"));
    return text;
}

void setCaption(QAbstractButton* button, const QString& text) {
    QString shown = text;
    shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
    button->setText(shown);
}

} // namespace tolvane::ui
