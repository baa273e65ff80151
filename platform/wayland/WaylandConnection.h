#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

struct wl_display;
struct wl_event_queue;
struct wl_interface;
struct wl_registry;
struct wl_seat;

namespace tolvane::platform::wayland {

// A connection to the compositor with its globals and its seat, torn down in order. Either a
// connection of its own, to the compositor WAYLAND_DISPLAY names (never the default socket,
// which may be another compositor's), or an event queue of its own on a connection the toolkit
// already has: requests then come from this program's client, the one its window belongs to,
// and the events of each side stay on that side.
class WaylandConnection {
public:
    // Its own connection; not connected without WAYLAND_DISPLAY.
    WaylandConnection();
    // Shares this connection; not connected when it is null.
    explicit WaylandConnection(wl_display* shared);
    ~WaylandConnection();
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    bool connected() const { return display_ != nullptr; }
    // No protocol error, and the connection is still up.
    bool alive() const;
    wl_display* display() const { return display_; }

    // Binds the first global of this interface the compositor offers, at most at this version;
    // null when it offers none. The object's events come to this connection's queue.
    void* bind(const wl_interface& interface, std::uint32_t version);
    // The seat (bound once, version 1 unless asked more the first time); null without one.
    wl_seat* seat(std::uint32_t version = 1);

    // Sends what is queued and waits until the compositor has handled it, its answers
    // dispatched. False when the connection failed.
    bool roundtrip();
    // Dispatches what the compositor sends within the time given.
    void dispatchFor(std::chrono::milliseconds wait);
    void flush();

    struct Global {
        std::uint32_t name = 0;
        std::string interface;
        std::uint32_t version = 0;
    };

private:
    void start();

    wl_display* display_ = nullptr;
    bool owned_ = false;
    wl_event_queue* queue_ = nullptr;
    wl_display* wrapper_ = nullptr; // the display, its requests bound to our queue
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    std::vector<Global> globals_;
};

} // namespace tolvane::platform::wayland
