#include "platform/wayland/WindowFocus.h"

#include <wayland-client.h>

#include <unistd.h>

namespace tolvane::platform::wayland {

namespace {

void capabilities(void* data, wl_seat*, std::uint32_t caps) {
    static_cast<WindowFocus*>(data)->seatHasKeyboard = (caps & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
}
void seatName(void*, wl_seat*, const char*) {}
constexpr wl_seat_listener seatListener{capabilities, seatName};

void keymap(void*, wl_keyboard*, std::uint32_t, int fd, std::uint32_t) {
    close(fd);
}
void enter(void* data, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {
    static_cast<WindowFocus*>(data)->hasFocus = true;
}
void leave(void* data, wl_keyboard*, std::uint32_t, wl_surface*) {
    static_cast<WindowFocus*>(data)->hasFocus = false;
}
void key(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
void modifiers(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
               std::uint32_t) {}
void repeatInfo(void*, wl_keyboard*, std::int32_t, std::int32_t) {}
constexpr wl_keyboard_listener keyboardListener{keymap, enter, leave, key, modifiers, repeatInfo};

} // namespace

WindowFocus::WindowFocus(wl_display* window) : connection_(window) {
    wl_seat* seat = connection_.seat();
    if (!seat) {
        return;
    }
    wl_seat_add_listener(seat, &seatListener, this);
    connection_.roundtrip();
    if (!seatHasKeyboard) {
        return;
    }
    // The keymap and, when the window has the focus, the enter come in answer.
    keyboard_ = wl_seat_get_keyboard(seat);
    wl_keyboard_add_listener(keyboard_, &keyboardListener, this);
    connection_.roundtrip();
}

WindowFocus::~WindowFocus() {
    if (!keyboard_) {
        return;
    }
    if (wl_keyboard_get_version(keyboard_) >= WL_KEYBOARD_RELEASE_SINCE_VERSION) {
        wl_keyboard_release(keyboard_);
    } else {
        wl_keyboard_destroy(keyboard_);
    }
}

bool WindowFocus::focused(std::chrono::milliseconds wait) {
    connection_.dispatchFor(wait);
    return hasFocus;
}

} // namespace tolvane::platform::wayland
