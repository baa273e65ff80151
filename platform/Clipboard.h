#pragma once

#include <chrono>
#include <string>

namespace tolvane::platform {

// The desktop clipboard (not the primary selection).
class Clipboard {
public:
    virtual ~Clipboard() = default;
    // Puts text marked as secret for clipboard managers; cleared again after a while.
    virtual void setSecretText(const std::string& utf8) = 0;
    // From now on, only the reads that follow count (a program may read the clipboard as it
    // takes the focus, before any paste).
    virtual void countReadsFromNow() = 0;
    // For a text put there to be pasted once: waits until a program has read it, within the
    // limit, then takes it off. False when nobody read it in time.
    virtual bool takeOffOnceRead(std::chrono::milliseconds limit) = 0;
};

} // namespace tolvane::platform
