#pragma once

#include "platform/Clipboard.h"
#include "platform/ClipboardEraser.h"
#include "platform/MessageBox.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

class QMimeData;

namespace tolvane::platform::qt {

// The clipboard, holding our text for a limited time only, marked secret for clipboard
// managers. Cleared after the delay, and when the program ends, if it still holds our text,
// also when a clipboard manager has taken it over: on X11 through the selection's owner, on
// Wayland through the eraser given, where the compositor allows it. When whoever serves it does
// not answer, it is asked again until the program ends, and then the message box says that the
// clipboard may still hold the text.
class QtClipboard final : public QObject, public Clipboard {
    Q_OBJECT
public:
    explicit QtClipboard(int clearAfterMs = 30000, ClipboardEraser* eraser = nullptr,
                         MessageBox* messageBox = nullptr, QObject* parent = nullptr);
    ~QtClipboard() override;

    void setSecretText(const std::string& utf8) override;
    void countReadsFromNow() override { reads_ = 0; }
    bool takeOffOnceRead(std::chrono::milliseconds limit) override;
    void clearIfOurs();

private:
    bool releaseToNobody();
    void clearAtTheEnd();

    ClipboardEraser* eraser_;
    MessageBox* messageBox_;
    int clearAfterMs_;
    QTimer timer_;
    QString ours_;
    QPointer<QMimeData> offered_; // ours, while the clipboard holds it
    int reads_ = 0;               // of its text by a program, since it was put there
};

} // namespace tolvane::platform::qt
