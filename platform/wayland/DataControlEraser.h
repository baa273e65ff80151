#pragma once

#include "platform/ClipboardEraser.h"

namespace tolvane::platform::wayland {

// Through the data control protocol (wlroots compositors, KWin): reads the selection whoever
// serves it, and empties it when it still holds our text. Without the protocol (GNOME), the
// caller falls back on the toolkit, which can only clear a selection this program still owns.
class DataControlEraser final : public ClipboardEraser {
public:
    Result eraseIfHolds(const std::string& utf8) override;
};

} // namespace tolvane::platform::wayland
