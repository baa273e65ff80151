#pragma once

#include "platform/wayland/WaylandConnection.h"

#include <chrono>

struct wl_display;
struct wl_keyboard;

namespace tolvane::platform::wayland {

// Whether this program's window has the keyboard focus, as the compositor tells the window's
// own client: a keyboard of its own on the window's connection, on an event queue of its own so
// that the toolkit's events stay with the toolkit.
class WindowFocus {
public:
    // Not watching when the window is not on Wayland (null), or the seat has no keyboard now: a
    // compositor may end a client that asks for a keyboard the seat never had.
    explicit WindowFocus(wl_display* window);
    ~WindowFocus();
    WindowFocus(const WindowFocus&) = delete;
    WindowFocus& operator=(const WindowFocus&) = delete;

    bool watching() const { return keyboard_ != nullptr; }
    // Whether the window has the keyboard, once what the compositor sent within the time given
    // is handled.
    bool focused(std::chrono::milliseconds wait = std::chrono::milliseconds(0));

    bool seatHasKeyboard = false;
    bool hasFocus = false;

private:
    WaylandConnection connection_;
    wl_keyboard* keyboard_ = nullptr;
};

} // namespace tolvane::platform::wayland
