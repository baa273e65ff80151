#pragma once

#include <string>

namespace tolvane::platform {

// The desktop clipboard (not the primary selection).
class Clipboard {
public:
    virtual ~Clipboard() = default;
    // Puts text marked as secret for clipboard managers; cleared again after a while.
    virtual void setSecretText(const std::string& utf8) = 0;
};

} // namespace tolvane::platform
