#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace tolvane::platform {

// A word to the user while the program waits for the desktop's answer, with a way to give up.
class WaitNotice {
public:
    enum class Outcome { Done, GivenUp, TimedOut };

    virtual ~WaitNotice() = default;
    // Shows the text with "Annuler" and keeps the program alive meanwhile (its window painted,
    // closing it taken as giving up) until done() holds, the user gives up or the limit passes.
    // Nothing else the user does reaches the program's window during the wait.
    virtual Outcome waitUntil(const std::string& text, const std::function<bool()>& done,
                              std::chrono::milliseconds limit) = 0;
};

} // namespace tolvane::platform
