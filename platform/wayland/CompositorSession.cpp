#include "platform/wayland/CompositorSession.h"

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <algorithm>
#include <cstring>

namespace tolvane::platform::wayland {

namespace {

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

} // namespace

CompositorSession::CompositorSession() {
    if (!connection.connected()) {
        return;
    }
    seat = connection.seat();
    keyboards = static_cast<zwp_virtual_keyboard_manager_v1*>(
        connection.bind(zwp_virtual_keyboard_manager_v1_interface, 1));
    windows = static_cast<zwlr_foreign_toplevel_manager_v1*>(
        connection.bind(zwlr_foreign_toplevel_manager_v1_interface, 3));
    if (windows) {
        zwlr_foreign_toplevel_manager_v1_add_listener(windows, &managerListener, this);
    }
    // The windows the manager announces on binding, then their states.
    connection.roundtrip();
    connection.roundtrip();
}

CompositorSession::~CompositorSession() {
    if (keyboard) {
        zwp_virtual_keyboard_v1_destroy(keyboard);
    }
    for (auto& t : toplevels) {
        zwlr_foreign_toplevel_handle_v1_destroy(t->handle);
    }
    if (keyboards) {
        zwp_virtual_keyboard_manager_v1_destroy(keyboards);
    }
    if (windows) {
        // The manager goes once the compositor says it has finished, while this still lives.
        zwlr_foreign_toplevel_manager_v1_stop(windows);
        connection.roundtrip();
    }
}

void CompositorSession::dispatchFor(std::chrono::milliseconds wait) {
    connection.dispatchFor(wait);
}

void CompositorSession::markPresent() {
    for (auto& t : toplevels) {
        t->before = true;
    }
}

std::vector<Toplevel*> CompositorSession::newWindows() const {
    std::vector<Toplevel*> fresh;
    for (const auto& t : toplevels) {
        if (!t->before && !t->closed && t->ready) {
            fresh.push_back(t.get());
        }
    }
    return fresh;
}

zwp_virtual_keyboard_v1* CompositorSession::makeKeyboard() {
    if (!keyboard && keyboards && seat) {
        keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(keyboards, seat);
    }
    return keyboard;
}

bool CompositorSession::otherActivated(const Toplevel* target) const {
    return std::any_of(toplevels.begin(), toplevels.end(), [&](const auto& t) {
        return t.get() != target && !t->closed && t->activated;
    });
}

} // namespace tolvane::platform::wayland
