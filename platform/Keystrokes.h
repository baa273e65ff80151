#pragma once

#include <string>
#include <vector>

namespace tolvane::platform {

// One step of a keystroke script: a literal text, or a press of Enter or Tab.
struct KeyAction {
    enum class Kind { Text, Enter, Tab };
    Kind kind = Kind::Text;
    std::u32string text; // only for Kind::Text; every character is typed as itself

    friend bool operator==(const KeyAction&, const KeyAction&) = default;
};

using KeystrokeScript = std::vector<KeyAction>;

} // namespace tolvane::platform
