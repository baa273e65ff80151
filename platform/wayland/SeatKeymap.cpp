#include "platform/wayland/SeatKeymap.h"

#include <wayland-client.h>

#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace tolvane::platform::wayland {

namespace {

// A keymap larger than this is not a keymap.
constexpr std::uint32_t kLargestKeymap = 4 * 1024 * 1024;

struct Seat {
    wl_seat* seat = nullptr;
    wl_keyboard* keyboard = nullptr;
    std::string keymap;
};

void keymapEvent(void* data, wl_keyboard*, std::uint32_t format, int fd, std::uint32_t size) {
    auto* s = static_cast<Seat*>(data);
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
void enter(void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {}
void leave(void*, wl_keyboard*, std::uint32_t, wl_surface*) {}
void key(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
void modifiers(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
               std::uint32_t) {}
void repeatInfo(void*, wl_keyboard*, std::int32_t, std::int32_t) {}
constexpr wl_keyboard_listener keyboardListener{keymapEvent, enter,     leave,
                                                key,         modifiers, repeatInfo};

void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
            std::uint32_t) {
    auto* s = static_cast<Seat*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !s->seat) {
        s->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    }
}
void globalRemove(void*, wl_registry*, std::uint32_t) {}
constexpr wl_registry_listener registryListener{global, globalRemove};

} // namespace

std::string readSeatKeymap() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        return {};
    }
    Seat s;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &s);
    wl_display_roundtrip(display);
    if (s.seat) {
        s.keyboard = wl_seat_get_keyboard(s.seat);
        wl_keyboard_add_listener(s.keyboard, &keyboardListener, &s);
        wl_display_roundtrip(display);
        wl_keyboard_destroy(s.keyboard);
        wl_seat_destroy(s.seat);
    }
    wl_registry_destroy(registry);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return s.keymap;
}

} // namespace tolvane::platform::wayland
