#include "platform/wayland/SeatKeymap.h"

#include "platform/wayland/WaylandConnection.h"

#include <wayland-client.h>

#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace tolvane::platform::wayland {

namespace {

// A keymap larger than this is not a keymap.
constexpr std::uint32_t kLargestKeymap = 4 * 1024 * 1024;

void keymapEvent(void* data, wl_keyboard*, std::uint32_t format, int fd, std::uint32_t size) {
    auto* s = static_cast<SeatKeyboard*>(data);
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0 && size <= kLargestKeymap) {
        void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            const char* text = static_cast<const char*>(map);
            s->keymap.assign(text, strnlen(text, size));
            munmap(map, size);
        }
    }
    close(fd);
}
void enter(void* data, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {
    static_cast<SeatKeyboard*>(data)->focused = true;
}
void leave(void* data, wl_keyboard*, std::uint32_t, wl_surface*) {
    static_cast<SeatKeyboard*>(data)->focused = false;
}
void key(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
void modifiers(void* data, wl_keyboard*, std::uint32_t, std::uint32_t depressed,
               std::uint32_t latched, std::uint32_t locked, std::uint32_t group) {
    auto* s = static_cast<SeatKeyboard*>(data);
    s->depressed = depressed;
    s->latched = latched;
    s->locked = locked;
    s->group = group;
}
void repeatInfo(void*, wl_keyboard*, std::int32_t, std::int32_t) {}
constexpr wl_keyboard_listener keyboardListener{keymapEvent, enter,     leave,
                                                key,         modifiers, repeatInfo};

void capabilities(void* data, wl_seat*, std::uint32_t caps) {
    *static_cast<bool*>(data) = (caps & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
}
void seatName(void*, wl_seat*, const char*) {}
constexpr wl_seat_listener seatListener{capabilities, seatName};

} // namespace

SeatKeyboard readSeatKeyboard(wl_display* shared) {
    SeatKeyboard s;
    WaylandConnection connection = shared ? WaylandConnection(shared) : WaylandConnection();
    wl_seat* seat = connection.seat(5);
    if (!seat) {
        return s;
    }
    // Asking a seat without keyboard for one is an error for which some compositors drop the
    // whole client, the window's own connection included.
    bool hasKeyboard = false;
    wl_seat_add_listener(seat, &seatListener, &hasKeyboard);
    connection.roundtrip();
    if (!hasKeyboard) {
        return s;
    }
    // The keymap, and for a client whose window has the focus its enter and modifiers, come
    // in answer to the keyboard's creation.
    wl_keyboard* keyboard = wl_seat_get_keyboard(seat);
    wl_keyboard_add_listener(keyboard, &keyboardListener, &s);
    connection.roundtrip();
    if (wl_keyboard_get_version(keyboard) >= WL_KEYBOARD_RELEASE_SINCE_VERSION) {
        wl_keyboard_release(keyboard);
    } else {
        wl_keyboard_destroy(keyboard);
    }
    return s;
}

} // namespace tolvane::platform::wayland
