#include "ui/AccessibleControls.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QKeySequence>
#include <QLineEdit>
#include <QRadioButton>

namespace tolvane::ui {

namespace {

class AccessibleComboBox final : public QAccessibleWidget {
public:
    explicit AccessibleComboBox(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

    // The list, then the edit field of an editable box.
    int childCount() const override { return box()->lineEdit() ? 2 : 1; }

    QAccessibleInterface* child(int index) const override {
        if (index == 0) {
            return QAccessible::queryAccessibleInterface(box()->view());
        }
        if (index == 1 && box()->lineEdit()) {
            return QAccessible::queryAccessibleInterface(box()->lineEdit());
        }
        return nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override {
        if (child->object() == box()->view()) {
            return 0;
        }
        if (box()->lineEdit() && child->object() == box()->lineEdit()) {
            return 1;
        }
        return -1;
    }

    QAccessibleInterface* childAt(int x, int y) const override {
        const QLineEdit* edit = box()->lineEdit();
        if (edit && edit->rect().contains(edit->mapFromGlobal(QPoint(x, y)))) {
            return child(1);
        }
        return nullptr;
    }

    QString text(QAccessible::Text kind) const override {
        switch (kind) {
        case QAccessible::Name: {
            const QString name = QAccessibleWidget::text(QAccessible::Name);
            return name.isEmpty() ? value() : name;
        }
        case QAccessible::Value:
            return value();
        case QAccessible::Accelerator:
            return QKeySequence(Qt::Key_Down).toString(QKeySequence::NativeText);
        default:
            return QAccessibleWidget::text(kind);
        }
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.expandable = true;
        s.expanded = box()->view()->isVisible();
        s.editable = box()->isEditable();
        return s;
    }

    QStringList actionNames() const override {
        return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
    }

    QString localizedActionDescription(const QString& action) const override {
        if (action == showMenuAction() || action == pressAction()) {
            return QComboBox::tr("Open the combo box selection popup");
        }
        return QAccessibleWidget::localizedActionDescription(action);
    }

    void doAction(const QString& action) override {
        if (action != showMenuAction() && action != pressAction()) {
            QAccessibleWidget::doAction(action);
        } else if (box()->view()->isVisible()) {
            box()->hidePopup();
        } else {
            box()->showPopup();
        }
    }

private:
    QComboBox* box() const { return static_cast<QComboBox*>(widget()); }
    QString value() const {
        return box()->lineEdit() ? box()->lineEdit()->text() : box()->currentText();
    }
};

class AccessibleCheckButton final : public QAccessibleWidget {
public:
    AccessibleCheckButton(QAbstractButton* button, QAccessible::Role role)
        : QAccessibleWidget(button, role) {}

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Name && widget()->accessibleName().isEmpty()) {
            return shownCaption();
        }
        return QAccessibleWidget::text(kind);
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        const auto* box = qobject_cast<const QCheckBox*>(button());
        if (box && box->checkState() == Qt::PartiallyChecked) {
            s.checkStateMixed = true; // grayed
        } else {
            s.checked = button()->isChecked();
        }
        s.pressed = button()->isDown();
        return s;
    }

    QStringList actionNames() const override {
        QStringList names;
        if (widget()->isEnabled()) {
            names << toggleAction() << pressAction();
        }
        return names + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& action) override {
        if (action != toggleAction() && action != pressAction()) {
            QAccessibleWidget::doAction(action);
        } else if (widget()->isEnabled()) {
            // Pressed now and released a moment later, as a click: the caller gets its answer
            // before a handler opens a modal box.
            button()->animateClick();
        }
    }

private:
    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }

    // The caption as it shows: "&&" is a "&", a single "&" marks an access key and is not shown.
    QString shownCaption() const {
        const QString text = button()->text();
        QString shown;
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text[i] == QLatin1Char('&')) {
                if (i + 1 < text.size() && text[i + 1] == QLatin1Char('&')) {
                    shown += QLatin1Char('&');
                    ++i;
                }
                continue;
            }
            shown += text[i];
        }
        return shown;
    }
};

QAccessibleInterface* accessibleControl(const QString& className, QObject* object) {
    if (className == QLatin1String("QComboBox")) {
        return new AccessibleComboBox(static_cast<QComboBox*>(object));
    }
    if (className == QLatin1String("QCheckBox")) {
        return new AccessibleCheckButton(static_cast<QCheckBox*>(object), QAccessible::CheckBox);
    }
    if (className == QLatin1String("QRadioButton")) {
        return new AccessibleCheckButton(static_cast<QRadioButton*>(object),
                                         QAccessible::RadioButton);
    }
    return nullptr;
}

} // namespace

void installAccessibleControls() {
    QAccessible::installFactory(accessibleControl);
}

} // namespace tolvane::ui
