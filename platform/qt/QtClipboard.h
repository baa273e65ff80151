#pragma once

#include "platform/Clipboard.h"

#include <QObject>
#include <QTimer>

namespace tolvane::platform::qt {

// The clipboard, holding our text for a limited time only, marked secret for clipboard
// managers. Cleared after the delay, and when the program ends, if it still holds our text,
// also when a clipboard manager has taken it over.
class QtClipboard final : public QObject, public Clipboard {
    Q_OBJECT
public:
    explicit QtClipboard(int clearAfterMs = 30000, QObject* parent = nullptr);
    ~QtClipboard() override;

    void setSecretText(const std::string& utf8) override;
    void clearIfOurs();

private:
    bool releaseToNobody();

    QTimer timer_;
    QString ours_;
};

} // namespace tolvane::platform::qt
