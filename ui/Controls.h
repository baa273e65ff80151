#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QWidget;

namespace tolvane::ui {

// A combo box with the semantics the handlers are written against:
// - choosing an entry, by the user or by code (setListIndex), runs the click handler at once;
// - selecting the entry already selected from code runs nothing;
// - appending, removing and emptying run nothing, and typing runs no click handler;
// - typing into the edit field leaves no entry selected;
// - choosing an entry, and entering the box from the keyboard or from code, selects the whole
//   edit text, so that the next key typed replaces it;
// - Enter never selects an entry or inserts the typed text: it reaches the key-press handler.
class ComboControl : public QObject {
    Q_OBJECT
public:
    explicit ComboControl(QComboBox* box, QObject* parent = nullptr);

    void addItem(const QString& text);
    void removeItem(int index);
    // Empties the list and the edit field.
    void clear();
    int listCount() const;
    int listIndex() const { return index_; }
    // Selects an entry (-1: none); out of range does nothing. Returns whether it was valid.
    bool setListIndex(int index);
    QString text() const;
    void setText(const QString& text);
    QString itemText(int index) const;

    void onClick(std::function<void()> handler) { click_ = std::move(handler); }
    // Character keys typed while the box has the focus; Enter comes as 13.
    void onKeyPress(std::function<void(int& code)> handler) { keyPress_ = std::move(handler); }
    void onLostFocus(std::function<void()> handler) { lostFocus_ = std::move(handler); }

    QComboBox* widget() const { return box_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void runClick();
    void selectEditText();

    QComboBox* box_;
    int index_ = -1;
    std::function<void()> click_;
    std::function<void(int&)> keyPress_;
    std::function<void()> lostFocus_;
};

// Runs a handler when the keyboard focus leaves a widget for another control of the window
// (not when a popup or another window takes it).
void onLostFocus(QWidget* widget, std::function<void()> handler);

// Tab and Shift+Tab stop only at the selected option of the group, from the first key on; a click
// still gives any option the focus, and the arrow keys move the selection within the group.
void tabStopsAtSelectedOption(QButtonGroup* group);

// Check box values: 0 unchecked, 1 checked, 2 grayed.
int checkValue(const QCheckBox* box);
void setCheckValue(QCheckBox* box, int value);

// Captions shown as written: no character becomes an access key.
QString caption(const QAbstractButton* button);
void setCaption(QAbstractButton* button, const QString& text);

} // namespace tolvane::ui
