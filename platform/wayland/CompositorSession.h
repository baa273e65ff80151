#pragma once

#include "platform/wayland/WaylandConnection.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct wl_seat;
struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;
struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;

namespace tolvane::platform::wayland {

// A window as the compositor's windows list tells of it.
struct Toplevel {
    zwlr_foreign_toplevel_handle_v1* handle = nullptr;
    std::string appId;
    bool activated = false;
    bool pendingActivated = false;
    bool ready = false; // its first state is complete
    bool closed = false;
    bool before = false; // already there when the program was started
};

// A connection to the compositor with what keystrokes need: the seat, the virtual keyboard
// manager and the windows list, kept up to date as events are dispatched; and the virtual
// keyboard, once made.
class CompositorSession {
public:
    CompositorSession();
    ~CompositorSession();
    CompositorSession(const CompositorSession&) = delete;
    CompositorSession& operator=(const CompositorSession&) = delete;

    bool connected() const { return connection.connected(); }
    // Both protocols offered, and a seat to type on.
    bool usable() const { return connected() && seat && keyboards && windows; }
    bool alive() const { return connection.alive(); }

    // Handles what the compositor has sent within the time given.
    void dispatchFor(std::chrono::milliseconds wait);
    // Every window known now was there before the program was started.
    void markPresent();

    // The windows that appeared since, with their first state complete, still open.
    std::vector<Toplevel*> newWindows() const;
    bool otherActivated(const Toplevel* target) const;

    // Adds a keyboard to the seat, with no keymap of its own yet.
    zwp_virtual_keyboard_v1* makeKeyboard();

    WaylandConnection connection;
    wl_seat* seat = nullptr;
    zwp_virtual_keyboard_manager_v1* keyboards = nullptr;
    zwp_virtual_keyboard_v1* keyboard = nullptr;
    zwlr_foreign_toplevel_manager_v1* windows = nullptr;
    std::vector<std::unique_ptr<Toplevel>> toplevels;
};

} // namespace tolvane::platform::wayland
