#pragma once

#include "platform/WaitNotice.h"

#include <QObject>

namespace tolvane::platform::qt {

// A small window of its own beside the program's, with the text and "Annuler". During the
// wait the program's windows are painted and their close is taken as giving up (the close
// itself is left to the window, which carries it out once the delivery is over); every other
// click or key aimed at them is dropped.
class QtWaitNotice final : public QObject, public WaitNotice {
    Q_OBJECT
public:
    Outcome waitUntil(const std::string& text, const std::function<bool()>& done,
                      std::chrono::milliseconds limit) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QObject* notice_ = nullptr;
    bool givenUp_ = false;
};

} // namespace tolvane::platform::qt
