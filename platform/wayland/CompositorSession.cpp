#include "platform/wayland/CompositorSession.h"

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <poll.h>

namespace tolvane::platform::wayland {

namespace {

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string baseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void title(void*, zwlr_foreign_toplevel_handle_v1*, const char*) {}
void appId(void* data, zwlr_foreign_toplevel_handle_v1*, const char* text) {
    static_cast<Toplevel*>(data)->appId = text;
}
void outputEnter(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
void outputLeave(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
void state(void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
    auto* t = static_cast<Toplevel*>(data);
    t->pendingActivated = false;
    const auto* entries = static_cast<const std::uint32_t*>(states->data);
    for (std::size_t i = 0; i < states->size / sizeof(std::uint32_t); ++i) {
        if (entries[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED) {
            t->pendingActivated = true;
        }
    }
    // A window losing the focus is believed at once, without waiting for the end of the
    // compositor's update.
    if (!t->pendingActivated) {
        t->activated = false;
    }
}
void done(void* data, zwlr_foreign_toplevel_handle_v1*) {
    auto* t = static_cast<Toplevel*>(data);
    t->activated = t->pendingActivated;
    t->ready = true;
}
void closedEvent(void* data, zwlr_foreign_toplevel_handle_v1*) {
    auto* t = static_cast<Toplevel*>(data);
    t->closed = true;
    t->activated = false;
}
void parent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}
constexpr zwlr_foreign_toplevel_handle_v1_listener toplevelListener{
    title, appId, outputEnter, outputLeave, state, done, closedEvent, parent};

void newToplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                 zwlr_foreign_toplevel_handle_v1* handle) {
    auto* s = static_cast<CompositorSession*>(data);
    auto t = std::make_unique<Toplevel>();
    t->handle = handle;
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &toplevelListener, t.get());
    s->toplevels.push_back(std::move(t));
}
void finished(void* data, zwlr_foreign_toplevel_manager_v1* manager) {
    auto* s = static_cast<CompositorSession*>(data);
    zwlr_foreign_toplevel_manager_v1_destroy(manager);
    s->windows = nullptr;
}
constexpr zwlr_foreign_toplevel_manager_v1_listener managerListener{newToplevel, finished};

void capabilities(void*, wl_seat*, std::uint32_t) {}
void seatName(void*, wl_seat*, const char*) {}
constexpr wl_seat_listener seatListener{capabilities, seatName};

void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
            std::uint32_t version) {
    auto* s = static_cast<CompositorSession*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !s->seat) {
        s->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
        wl_seat_add_listener(s->seat, &seatListener, s);
    } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
        s->keyboards = static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    } else if (std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) == 0) {
        s->windows = static_cast<zwlr_foreign_toplevel_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_foreign_toplevel_manager_v1_interface,
                             std::min<std::uint32_t>(version, 3)));
        zwlr_foreign_toplevel_manager_v1_add_listener(s->windows, &managerListener, s);
    }
}
void globalRemove(void*, wl_registry*, std::uint32_t) {}
constexpr wl_registry_listener registryListener{global, globalRemove};

} // namespace

CompositorSession::CompositorSession() {
    display = wl_display_connect(nullptr);
    if (!display) {
        return;
    }
    registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, this);
    // Globals, then the windows the manager announces on binding, then their states.
    for (int i = 0; i < 3; ++i) {
        wl_display_roundtrip(display);
    }
}

CompositorSession::~CompositorSession() {
    if (!display) {
        return;
    }
    for (auto& t : toplevels) {
        zwlr_foreign_toplevel_handle_v1_destroy(t->handle);
    }
    if (windows) {
        zwlr_foreign_toplevel_manager_v1_stop(windows);
    }
    if (keyboards) {
        zwp_virtual_keyboard_manager_v1_destroy(keyboards);
    }
    if (seat) {
        wl_seat_destroy(seat);
    }
    wl_registry_destroy(registry);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
}

bool CompositorSession::alive() const {
    return display && wl_display_get_error(display) == 0;
}

void CompositorSession::dispatchFor(std::chrono::milliseconds wait) {
    wl_display_dispatch_pending(display);
    wl_display_flush(display);
    if (wl_display_prepare_read(display) != 0) {
        wl_display_dispatch_pending(display);
        return;
    }
    pollfd fd{wl_display_get_fd(display), POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(wait.count())) > 0) {
        wl_display_read_events(display);
    } else {
        wl_display_cancel_read(display);
    }
    wl_display_dispatch_pending(display);
}

void CompositorSession::markPresent() {
    for (auto& t : toplevels) {
        t->before = true;
    }
}

Toplevel* CompositorSession::newWindow(const LaunchResult& target, bool& ambiguous) const {
    std::vector<Toplevel*> fresh;
    for (const auto& t : toplevels) {
        if (!t->before && !t->closed && t->ready) {
            fresh.push_back(t.get());
        }
    }
    ambiguous = false;
    if (fresh.size() <= 1) {
        return fresh.empty() ? nullptr : fresh.front();
    }
    const std::string name =
        lower(baseName(target.executable.empty() ? target.program : target.executable));
    std::vector<Toplevel*> named;
    for (Toplevel* t : fresh) {
        if (!name.empty() && lower(t->appId).find(name) != std::string::npos) {
            named.push_back(t);
        }
    }
    ambiguous = named.size() != 1;
    return named.size() == 1 ? named.front() : nullptr;
}

bool CompositorSession::otherActivated(const Toplevel* target) const {
    return std::any_of(toplevels.begin(), toplevels.end(), [&](const auto& t) {
        return t.get() != target && !t->closed && t->activated;
    });
}

} // namespace tolvane::platform::wayland
