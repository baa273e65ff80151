#pragma once

#include <string>

namespace tolvane::platform {

// Takes a text off the desktop's clipboard whoever serves it now, a clipboard manager that
// took it over included, where the desktop lets a program do so.
class ClipboardEraser {
public:
    enum class Result {
        Unavailable, // the desktop offers no way: the caller does what it can
        NotHeld,     // the clipboard holds something else, or nothing
        Erased,
        Unanswered, // whoever serves it did not answer in time: it may still be our text
    };

    virtual ~ClipboardEraser() = default;
    // Empties the clipboard if it holds this text (exactly, or with blanks added or taken off at
    // its ends, as some clipboard managers keep a copy).
    virtual Result eraseIfHolds(const std::string& utf8) = 0;
};

} // namespace tolvane::platform
