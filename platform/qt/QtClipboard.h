#pragma once

#include "platform/Clipboard.h"
#include "platform/ClipboardEraser.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

class QMimeData;

namespace tolvane::platform::qt {

// The clipboard, holding our text for a limited time only, marked secret for clipboard
// managers. Cleared after the delay, and when the program ends, if it still holds our text,
// also when a clipboard manager has taken it over: on X11 through the selection's owner, on
// Wayland through the eraser given, where the compositor allows it.
class QtClipboard final : public QObject, public Clipboard {
    Q_OBJECT
public:
    explicit QtClipboard(int clearAfterMs = 30000, ClipboardEraser* eraser = nullptr,
                         QObject* parent = nullptr);
    ~QtClipboard() override;

    void setSecretText(const std::string& utf8) override;
    void countReadsFromNow() override { reads_ = 0; }
    bool takeOffOnceRead(std::chrono::milliseconds limit) override;
    void clearIfOurs();

private:
    bool releaseToNobody();

    ClipboardEraser* eraser_;
    QTimer timer_;
    QString ours_;
    QPointer<QMimeData> offered_; // ours, while the clipboard holds it
    int reads_ = 0;               // of its text by a program, since it was put there
};

} // namespace tolvane::platform::qt
