#pragma once

#include "platform/MessageBox.h"

namespace tolvane::platform::qt {

class QtMessageBox final : public MessageBox {
public:
    MessageAnswer show(const std::string& text, MessageIcon icon, MessageButtons buttons,
                       const std::string& title) override;
};

} // namespace tolvane::platform::qt
