#pragma once

#include <atomic>

namespace tolvane::e2e {

// Grabs the keyboard on the root window from a connection of its own, as a menu or a screen
// locker does, counts the key presses it receives, and lets go once done is set. Returns
// whether the grab was taken.
bool grabKeyboardUntil(const std::atomic<bool>& done, std::atomic<int>& keyPresses);

} // namespace tolvane::e2e
