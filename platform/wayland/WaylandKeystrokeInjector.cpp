#include "platform/wayland/WaylandKeystrokeInjector.h"

#include "platform/Wipe.h"
#include "platform/linux/StopSignals.h"
#include "platform/wayland/CompositorSession.h"
#include "platform/wayland/VirtualKeymap.h"

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fcntl.h>
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

const char* const kEnding = "Tolvane doit se fermer : rien n'a été tapé.";

bool stopping() {
    return linux_desktop::stopRequested();
}

std::uint32_t nowMs() {
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
            .count());
}

} // namespace

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

void wipePlan(VirtualKeyPlan& plan) {
    wipe(plan.untypable);
    for (auto& segment : plan.segments) {
        wipe(segment.keymap);
        wipeRecords(segment.keys);
    }
    plan.segments.clear();
}

} // namespace

WaylandKeystrokeInjector::WaylandKeystrokeInjector() = default;
WaylandKeystrokeInjector::~WaylandKeystrokeInjector() = default;

std::string WaylandKeystrokeInjector::unavailableReason() {
    const CompositorSession probe;
    if (!probe.connected()) {
        return "Aucun affichage Wayland n'est accessible : la frappe dans un autre programme est "
               "impossible.";
    }
    return probe.usable() ? std::string() : kDesktopCannotType;
}

Preparation WaylandKeystrokeInjector::prepare(const KeystrokeScript& script) {
    VirtualKeyPlan plan = planVirtualKeys(script);
    Preparation prepared;
    prepared.untypable = plan.untypable;
    wipePlan(plan);
    return prepared;
}

std::vector<std::string> WaylandKeystrokeInjector::beforeLaunch() {
    session_ = std::make_unique<CompositorSession>();
    if (session_->connected()) {
        session_->markPresent();
    }
    return {};
}

InjectionResult WaylandKeystrokeInjector::typeInto(const LaunchResult& target,
                                                   const KeystrokeScript& script) {
    std::unique_ptr<CompositorSession> session = std::move(session_);
    if (!session) {
        session = std::make_unique<CompositorSession>();
        if (session->connected()) {
            session->markPresent();
        }
    }
    const auto failure = [](std::string error) { return InjectionResult{false, std::move(error)}; };
    if (!session->connected()) {
        return failure("Aucun affichage Wayland n'est accessible : rien n'a été tapé.");
    }
    if (!session->usable()) {
        return failure(kDesktopCannotType);
    }
    VirtualKeyPlan plan = planVirtualKeys(script);
    // The plan spells out every password: wiped however typing ends.
    struct PlanWiper {
        VirtualKeyPlan& plan;
        ~PlanWiper() { wipePlan(plan); }
    } planWiper{plan};
    if (!plan.untypable.empty()) {
        return failure(untypableMessage(plan.untypable));
    }

    // The program's window: the first that appears after the launch.
    Toplevel* window = nullptr;
    bool ambiguous = false;
    for (const auto deadline = Clock::now() + kWindowTimeout;
         !window && !ambiguous && Clock::now() < deadline && session->alive() && !stopping();) {
        session->dispatchFor(std::chrono::milliseconds(50));
        window = session->newWindow(target, ambiguous);
    }
    if (stopping()) {
        return failure(kEnding);
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
         !window->activated && !window->closed && Clock::now() < deadline && session->alive() &&
         !stopping();) {
        session->dispatchFor(std::chrono::milliseconds(50));
    }
    if (stopping()) {
        return failure(kEnding);
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
        if (stopping()) {
            stopped = "Tolvane doit se fermer";
        } else if (!session->connection.roundtrip()) {
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
    session->connection.roundtrip();
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
