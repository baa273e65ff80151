#include "platform/wayland/WaylandConnection.h"

#include <wayland-client.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <poll.h>

namespace tolvane::platform::wayland {

namespace {

void global(void* data, wl_registry*, std::uint32_t name, const char* interface,
            std::uint32_t version) {
    static_cast<std::vector<WaylandConnection::Global>*>(data)->push_back(
        {name, interface, version});
}
void globalRemove(void*, wl_registry*, std::uint32_t) {}
constexpr wl_registry_listener registryListener{global, globalRemove};

} // namespace

WaylandConnection::WaylandConnection() {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (!name || !*name) {
        return;
    }
    display_ = wl_display_connect(name);
    owned_ = true;
    start();
}

WaylandConnection::WaylandConnection(wl_display* shared) : display_(shared) {
    if (!display_) {
        return;
    }
    queue_ = wl_display_create_queue(display_);
    wrapper_ = static_cast<wl_display*>(wl_proxy_create_wrapper(display_));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper_), queue_);
    start();
}

void WaylandConnection::start() {
    if (!display_) {
        return;
    }
    registry_ = wl_display_get_registry(wrapper_ ? wrapper_ : display_);
    wl_registry_add_listener(registry_, &registryListener, &globals_);
    roundtrip();
}

WaylandConnection::~WaylandConnection() {
    if (!display_) {
        return;
    }
    if (seat_ && wl_seat_get_version(seat_) >= WL_SEAT_RELEASE_SINCE_VERSION) {
        wl_seat_release(seat_);
    } else if (seat_) {
        wl_seat_destroy(seat_);
    }
    if (registry_) {
        wl_registry_destroy(registry_);
    }
    // What was destroyed reaches the compositor before the connection ends or is left.
    roundtrip();
    if (wrapper_) {
        wl_proxy_wrapper_destroy(wrapper_);
    }
    if (queue_) {
        wl_event_queue_destroy(queue_);
    }
    if (owned_) {
        wl_display_disconnect(display_);
    }
}

bool WaylandConnection::alive() const {
    return display_ && wl_display_get_error(display_) == 0;
}

void* WaylandConnection::bind(const wl_interface& interface, std::uint32_t version) {
    if (!registry_) {
        return nullptr;
    }
    const auto found = std::find_if(globals_.begin(), globals_.end(),
                                    [&](const Global& g) { return g.interface == interface.name; });
    if (found == globals_.end()) {
        return nullptr;
    }
    return wl_registry_bind(registry_, found->name, &interface, std::min(version, found->version));
}

wl_seat* WaylandConnection::seat(std::uint32_t version) {
    if (!seat_) {
        seat_ = static_cast<wl_seat*>(bind(wl_seat_interface, version));
    }
    return seat_;
}

bool WaylandConnection::roundtrip() {
    if (!display_) {
        return false;
    }
    const int done =
        queue_ ? wl_display_roundtrip_queue(display_, queue_) : wl_display_roundtrip(display_);
    return done >= 0;
}

void WaylandConnection::flush() {
    if (display_) {
        wl_display_flush(display_);
    }
}

void WaylandConnection::dispatchFor(std::chrono::milliseconds wait) {
    if (!display_) {
        return;
    }
    const auto dispatchPending = [&] {
        return queue_ ? wl_display_dispatch_queue_pending(display_, queue_)
                      : wl_display_dispatch_pending(display_);
    };
    dispatchPending();
    wl_display_flush(display_);
    const int prepared = queue_ ? wl_display_prepare_read_queue(display_, queue_)
                                : wl_display_prepare_read(display_);
    if (prepared != 0) {
        dispatchPending();
        return;
    }
    pollfd fd{wl_display_get_fd(display_), POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(wait.count())) > 0) {
        wl_display_read_events(display_);
    } else {
        wl_display_cancel_read(display_);
    }
    dispatchPending();
}

} // namespace tolvane::platform::wayland
