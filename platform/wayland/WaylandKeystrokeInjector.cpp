#include "platform/wayland/WaylandKeystrokeInjector.h"

#include "platform/wayland/VirtualKeymap.h"

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

namespace tolvane::platform::wayland {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kWindowTimeout = std::chrono::seconds(15);
constexpr auto kFocusTimeout = std::chrono::seconds(5);
// The compositor queues each client's events in a fixed buffer and disconnects a client that
// lets it fill up (a busy terminal does, at full speed): keys go out at a pace any client reads.
constexpr auto kKeyInterval = std::chrono::milliseconds(1);

const char* const kUnsupported =
    "Ce bureau Wayland ne permet pas à Tolvane de taper dans un autre programme. Choisissez « "
    "Vers le presse-papier ».";

struct Toplevel {
    zwlr_foreign_toplevel_handle_v1* handle = nullptr;
    std::string appId;
    bool activated = false;
    bool pendingActivated = false;
    bool ready = false; // its first state is complete
    bool closed = false;
    bool before = false; // already there when the program was started
};

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string baseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::uint32_t nowMs() {
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
            .count());
}

} // namespace

struct WaylandKeystrokeInjector::Session {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    zwp_virtual_keyboard_manager_v1* keyboards = nullptr;
    zwlr_foreign_toplevel_manager_v1* windows = nullptr;
    std::vector<std::unique_ptr<Toplevel>> toplevels;

    Session() {
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

    ~Session() {
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

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool usable() const { return display && seat && keyboards && windows; }
    bool alive() const { return display && wl_display_get_error(display) == 0; }

    // Handles what the compositor has sent within the time given.
    void dispatchFor(std::chrono::milliseconds wait) {
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

    void markPresent() {
        for (auto& t : toplevels) {
            t->before = true;
        }
    }

    static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version) {
        auto* s = static_cast<Session*>(data);
        if (std::strcmp(interface, wl_seat_interface.name) == 0 && !s->seat) {
            s->seat =
                static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
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
    static void globalRemove(void*, wl_registry*, std::uint32_t) {}
    static constexpr wl_registry_listener registryListener{global, globalRemove};

    static void capabilities(void*, wl_seat*, std::uint32_t) {}
    static void seatName(void*, wl_seat*, const char*) {}
    static constexpr wl_seat_listener seatListener{capabilities, seatName};

    static void newToplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                            zwlr_foreign_toplevel_handle_v1* handle) {
        auto* s = static_cast<Session*>(data);
        auto t = std::make_unique<Toplevel>();
        t->handle = handle;
        zwlr_foreign_toplevel_handle_v1_add_listener(handle, &toplevelListener, t.get());
        s->toplevels.push_back(std::move(t));
    }
    static void finished(void* data, zwlr_foreign_toplevel_manager_v1* manager) {
        auto* s = static_cast<Session*>(data);
        zwlr_foreign_toplevel_manager_v1_destroy(manager);
        s->windows = nullptr;
    }
    static constexpr zwlr_foreign_toplevel_manager_v1_listener managerListener{newToplevel,
                                                                               finished};

    static void title(void*, zwlr_foreign_toplevel_handle_v1*, const char*) {}
    static void appId(void* data, zwlr_foreign_toplevel_handle_v1*, const char* text) {
        static_cast<Toplevel*>(data)->appId = text;
    }
    static void outputEnter(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
    static void outputLeave(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
    static void state(void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
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
    static void done(void* data, zwlr_foreign_toplevel_handle_v1*) {
        auto* t = static_cast<Toplevel*>(data);
        t->activated = t->pendingActivated;
        t->ready = true;
    }
    static void closedEvent(void* data, zwlr_foreign_toplevel_handle_v1*) {
        auto* t = static_cast<Toplevel*>(data);
        t->closed = true;
        t->activated = false;
    }
    static void parent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}
    static constexpr zwlr_foreign_toplevel_handle_v1_listener toplevelListener{
        title, appId, outputEnter, outputLeave, state, done, closedEvent, parent};

    // The window that appeared since the launch: the only one, or the one named after the
    // program when several did. Null while there is none, or when it cannot be told.
    Toplevel* newWindow(const LaunchResult& target, bool& ambiguous) const {
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

    bool otherActivated(const Toplevel* target) const {
        return std::any_of(toplevels.begin(), toplevels.end(), [&](const auto& t) {
            return t.get() != target && !t->closed && t->activated;
        });
    }
};

namespace {

// The keymap handed to the compositor in a sealed memory file.
bool sendKeymap(zwp_virtual_keyboard_v1* keyboard, const std::string& keymap) {
    const int fd = memfd_create("tolvane-keymap", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) {
        return false;
    }
    const std::size_t size = keymap.size() + 1; // with its final NUL
    bool ok = ftruncate(fd, static_cast<off_t>(size)) == 0;
    if (ok) {
        void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        ok = map != MAP_FAILED;
        if (ok) {
            std::memcpy(map, keymap.c_str(), size);
            munmap(map, size);
            fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
            zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                           static_cast<std::uint32_t>(size));
        }
    }
    close(fd);
    return ok;
}

void wipe(VirtualKeyPlan& plan) {
    for (auto& segment : plan.segments) {
        std::fill(segment.keymap.begin(), segment.keymap.end(), '\0');
        std::fill(segment.keys.begin(), segment.keys.end(), VirtualKey{});
    }
    plan.segments.clear();
}

} // namespace

WaylandKeystrokeInjector::WaylandKeystrokeInjector() = default;
WaylandKeystrokeInjector::~WaylandKeystrokeInjector() = default;

std::string WaylandKeystrokeInjector::unavailableReason() {
    const Session probe;
    if (!probe.display) {
        return "Aucun affichage Wayland n'est accessible : la frappe dans un autre programme est "
               "impossible.";
    }
    return probe.usable() ? std::string() : kUnsupported;
}

void WaylandKeystrokeInjector::beforeLaunch() {
    session_ = std::make_unique<Session>();
    if (session_->display) {
        session_->markPresent();
    }
}

InjectionResult WaylandKeystrokeInjector::typeInto(const LaunchResult& target,
                                                   const KeystrokeScript& script) {
    std::unique_ptr<Session> session = std::move(session_);
    if (!session) {
        session = std::make_unique<Session>();
        if (session->display) {
            session->markPresent();
        }
    }
    const auto failure = [](std::string error) { return InjectionResult{false, std::move(error)}; };
    if (!session->display) {
        return failure("Aucun affichage Wayland n'est accessible : rien n'a été tapé.");
    }
    if (!session->usable()) {
        return failure(kUnsupported);
    }
    VirtualKeyPlan plan = planVirtualKeys(script);
    if (!plan.untypable.empty()) {
        return failure("Ces caractères ne peuvent pas être tapés au clavier : " +
                       describeCharacters(plan.untypable) + ". Rien n'a été tapé.");
    }

    // The program's window: the first that appears after the launch.
    Toplevel* window = nullptr;
    bool ambiguous = false;
    for (const auto deadline = Clock::now() + kWindowTimeout;
         !window && !ambiguous && Clock::now() < deadline && session->alive();) {
        session->dispatchFor(std::chrono::milliseconds(50));
        window = session->newWindow(target, ambiguous);
    }
    if (ambiguous) {
        return failure("Plusieurs fenêtres sont apparues en même temps que celle de « " +
                       target.program + " » : rien n'a été tapé.");
    }
    if (!window) {
        return failure("La fenêtre de « " + target.program +
                       " » n'est pas apparue : rien n'a été tapé.");
    }
    zwlr_foreign_toplevel_handle_v1_activate(window->handle, session->seat);
    for (const auto deadline = Clock::now() + kFocusTimeout;
         !window->activated && !window->closed && Clock::now() < deadline && session->alive();) {
        session->dispatchFor(std::chrono::milliseconds(50));
    }
    if (!window->activated) {
        return failure("La fenêtre de « " + target.program +
                       " » n'a pas pris le focus : rien n'a été tapé.");
    }

    zwp_virtual_keyboard_v1* keyboard =
        zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(session->keyboards, session->seat);
    bool typedSome = false;
    std::string stopped;
    // Before each line: the compositor has handled what was sent, and the window still has the
    // focus; otherwise nothing more is sent.
    const auto stillListening = [&] {
        if (wl_display_roundtrip(session->display) < 0) {
            stopped = "La session Wayland s'est interrompue";
        } else if (window->closed) {
            stopped = "Le programme « " + target.program + " » s'est fermé";
        } else if (!window->activated || session->otherActivated(window)) {
            stopped = "La fenêtre de « " + target.program + " » a perdu le focus";
        }
        return stopped.empty();
    };
    for (const VirtualKeymapSegment& segment : plan.segments) {
        if (!sendKeymap(keyboard, segment.keymap)) {
            stopped = "Le clavier virtuel n'a pas pu être préparé";
            break;
        }
        zwp_virtual_keyboard_v1_modifiers(keyboard, 0, 0, 0, 0);
        if (!stillListening()) {
            break;
        }
        // The compositor sends keys to whichever window has the focus, and nothing makes a
        // check and the next key one step: checking before every key leaves at most one key to
        // a window that took the focus in between.
        for (const VirtualKey& key : segment.keys) {
            const std::uint32_t time = nowMs();
            zwp_virtual_keyboard_v1_key(keyboard, time, key.evdev, WL_KEYBOARD_KEY_STATE_PRESSED);
            zwp_virtual_keyboard_v1_key(keyboard, time, key.evdev, WL_KEYBOARD_KEY_STATE_RELEASED);
            typedSome = true;
            if (!stillListening()) {
                break;
            }
            std::this_thread::sleep_for(kKeyInterval);
        }
        if (!stopped.empty()) {
            break;
        }
    }
    zwp_virtual_keyboard_v1_destroy(keyboard);
    wl_display_roundtrip(session->display);
    wipe(plan);
    if (!stopped.empty()) {
        return failure(stopped + (typedSome
                                      ? " : la frappe a été interrompue, vérifiez le texte reçu."
                                      : " : rien n'a été tapé."));
    }
    if (!session->alive()) {
        return failure("La session Wayland s'est interrompue : vérifiez le texte reçu.");
    }
    return {true, {}};
}

} // namespace tolvane::platform::wayland
