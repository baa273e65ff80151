#include "ui/Controls.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalBlocker>

#include <algorithm>

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

// The arrow keys move the selection to the next option of the group, in the order they are
// seen (top to bottom, then left to right), wrapping around. The focus moves first and the
// option is clicked after, so that its handler may send the focus elsewhere.
class OptionArrows : public QObject {
public:
    explicit OptionArrows(QButtonGroup* group) : QObject(group), group_(group) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) {
            return false;
        }
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
            return false;
        }
        int step = 0;
        switch (key->key()) {
        case Qt::Key_Down:
        case Qt::Key_Right:
            step = 1;
            break;
        case Qt::Key_Up:
        case Qt::Key_Left:
            step = -1;
            break;
        default:
            return false;
        }
        QList<QAbstractButton*> options;
        for (QAbstractButton* option : group_->buttons()) {
            if (option == watched || (option->isEnabled() && option->isVisible())) {
                options.append(option);
            }
        }
        const auto place = [](const QWidget* w) { return w->mapTo(w->window(), QPoint(0, 0)); };
        std::sort(options.begin(), options.end(), [&](QAbstractButton* a, QAbstractButton* b) {
            const QPoint pa = place(a);
            const QPoint pb = place(b);
            return pa.y() != pb.y() ? pa.y() < pb.y() : pa.x() < pb.x();
        });
        const auto n = options.size();
        const auto here = options.indexOf(static_cast<QAbstractButton*>(watched));
        QAbstractButton* next = options.at((here + step + n) % n);
        if (next != watched) {
            next->setFocus(step > 0 ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            next->click();
        }
        return true;
    }

private:
    QButtonGroup* group_;
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
        // Qt chooses the entry matching the typed text when the field loses the focus, and
        // reports it as the user's choice: typing is not a choice, and runs nothing.
        disconnect(edit, &QLineEdit::editingFinished, box_, nullptr);
    }
    box_->installEventFilter(this);
    {
        const QSignalBlocker blocker(box_);
        box_->setCurrentIndex(-1);
    }
    connect(box_, &QComboBox::activated, this, [this](int index) {
        index_ = index;
        selectEditText();
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
        selectEditText();
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
    selectEditText();
    runClick();
    return true;
}

void ComboControl::selectEditText() {
    if (QLineEdit* edit = box_->lineEdit()) {
        edit->selectAll();
    }
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
    case QEvent::FocusIn:
        // Entering the box from the keyboard or from a handler selects its whole text, so that
        // what is typed next replaces it; a click places the caret where it lands.
        if (watched == box_) {
            switch (static_cast<QFocusEvent*>(event)->reason()) {
            case Qt::TabFocusReason:
            case Qt::BacktabFocusReason:
            case Qt::ShortcutFocusReason:
            case Qt::OtherFocusReason:
                selectEditText();
                break;
            default:
                break;
            }
        }
        break;
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

void tabStopsAtSelectedOption(QButtonGroup* group) {
    const auto update = [group] {
        for (QAbstractButton* option : group->buttons()) {
            option->setFocusPolicy(option->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
        }
    };
    update();
    QObject::connect(group, &QButtonGroup::buttonToggled, group, update);
    auto* arrows = new OptionArrows(group);
    for (QAbstractButton* option : group->buttons()) {
        option->installEventFilter(arrows);
    }
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
