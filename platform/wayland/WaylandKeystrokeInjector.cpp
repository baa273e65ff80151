#include "platform/wayland/WaylandKeystrokeInjector.h"

#include "platform/Typing.h"
#include "platform/Wipe.h"
#include "platform/linux/ProcessLauncher.h"
#include "platform/linux/Processes.h"
#include "platform/linux/StopSignals.h"
#include "platform/wayland/CompositorSession.h"
#include "platform/wayland/VirtualKeymap.h"
#include "platform/wayland/WindowFocus.h"

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace tolvane::platform::wayland {

namespace {

using Clock = std::chrono::steady_clock;

// The compositor queues each client's events in a fixed buffer and disconnects a client that
// lets it fill up (a busy terminal does, at full speed): keys go out at a pace any client reads.
constexpr auto kKeyInterval = std::chrono::milliseconds(1);
// After the last key: how long the program stays quiet once it has read them.
constexpr auto kQuietAfterKeys = std::chrono::milliseconds(300);

namespace says = typing;

bool stopping() {
    return linux_desktop::stopRequested();
}

std::uint32_t nowMs() {
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
            .count());
}

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

// The names the started program's windows may go by: what its desktop entry declares, and while
// it runs, the names of its program and of the programs it runs now (the terminal a launcher
// script starts, for one). The windows list does not tell which process a window belongs to:
// these names are what ties a window to the program.
std::vector<std::string> windowNames(const LaunchResult& target, bool running) {
    std::vector<std::string> names = target.declaredNames;
    if (!running) {
        return names;
    }
    const auto baseName = [](const std::string& path) { return path.substr(path.rfind('/') + 1); };
    names.push_back(baseName(target.program));
    if (!target.executable.empty()) {
        names.push_back(baseName(target.executable));
    }
    for (const auto& [pid, started] : linux_desktop::runningProcesses()) {
        if (linux_desktop::descendsFrom(pid, target.pid)) {
            if (const std::string exe = linux_desktop::executableOf(pid); !exe.empty()) {
                names.push_back(baseName(exe));
            }
        }
    }
    return names;
}

// Waits until the started program has used no more than a near-idle program does for a
// settled moment (bounded); false when it was still busy at the end.
bool settles(CompositorSession& session, const Toplevel& window, pid_t program,
             const std::function<void()>& meanwhile,
             std::chrono::milliseconds quiet = typing::kSettled) {
    return linux_desktop::waitUntilQuiet(program, quiet, typing::kWindowWait, [&] {
               if (stopping() || window.closed || !session.alive()) {
                   return false;
               }
               session.dispatchFor(typing::kLookEvery);
               meanwhile();
               return true;
           }) == linux_desktop::Quiet::Yes;
}

} // namespace

WaylandKeystrokeInjector::WaylandKeystrokeInjector(wl_display* window) : window_(window) {}
WaylandKeystrokeInjector::~WaylandKeystrokeInjector() {
    wipe(firstKeymap_);
}

std::string WaylandKeystrokeInjector::unavailableReason() {
    const CompositorSession probe;
    if (!probe.connected()) {
        const char* name = std::getenv("WAYLAND_DISPLAY");
        if (!name || !*name) {
            return "La session se dit Wayland, mais la variable WAYLAND_DISPLAY ne nomme aucun "
                   "affichage : Tolvane ne tape pas dans un affichage pris au hasard, qui "
                   "pourrait être celui d'une autre session. Choisissez « Vers le "
                   "presse-papier ».";
        }
        return std::string("L'affichage Wayland « ") + name +
               " » ne répond pas : la frappe dans un autre programme est impossible. Choisissez "
               "« Vers le presse-papier ».";
    }
    return probe.usable() ? std::string() : kDesktopCannotType;
}

Preparation WaylandKeystrokeInjector::prepare(const KeystrokeScript& script,
                                              std::u32string_view alphabet) {
    alphabet_ = alphabet;
    VirtualKeyPlan plan = planVirtualKeys(script, alphabet_);
    Preparation prepared;
    prepared.untypable = plan.untypable;
    wipe(firstKeymap_);
    firstKeymap_ = plan.segments.empty() ? std::string() : plan.segments.front().keymap;
    wipePlan(plan);
    return prepared;
}

std::vector<std::string> WaylandKeystrokeInjector::beforeLaunch() {
    focus_.reset();
    session_ = std::make_unique<CompositorSession>();
    if (!session_->usable()) {
        return {};
    }
    session_->markPresent();
    // The seat has a keyboard before the program starts, so that the program finds one as it
    // sets up, as it finds the user's: the compositor gives keys only to a client that has asked
    // for the keyboard, and a client asks only once the seat has one. The keymap tells nothing
    // of the passwords.
    zwp_virtual_keyboard_v1* keyboard = session_->makeKeyboard();
    if (!firstKeymap_.empty() && sendKeymap(keyboard, firstKeymap_)) {
        zwp_virtual_keyboard_v1_modifiers(keyboard, 0, 0, 0, 0);
    }
    session_->connection.roundtrip();
    focus_ = std::make_unique<WindowFocus>(window_);
    return {};
}

void WaylandKeystrokeInjector::launchFailed() {
    focus_.reset();
    session_.reset();
    wipe(firstKeymap_);
}

InjectionResult WaylandKeystrokeInjector::typeInto(const LaunchResult& target,
                                                   const KeystrokeScript& given,
                                                   const ScriptChooser& choose) {
    if (!session_) {
        beforeLaunch();
    }
    std::unique_ptr<CompositorSession> session = std::move(session_);
    std::unique_ptr<WindowFocus> focus = std::move(focus_);
    wipe(firstKeymap_);
    const auto failure = [](std::string error) { return InjectionResult{false, std::move(error)}; };
    if (!session->connected()) {
        return failure("Aucun affichage Wayland n'est accessible : rien n'a été tapé.");
    }
    if (!session->usable() || !session->keyboard) {
        return failure(kDesktopCannotType);
    }
    // The program's window: a new one that goes by one of its names. Another program's window
    // that opens meanwhile is left alone.
    Toplevel* window = nullptr;
    bool several = false;
    bool ended = false;
    std::vector<std::string> others;
    for (const auto deadline = Clock::now() + typing::kWindowWait;
         !window && !several && !ended && Clock::now() < deadline && session->alive() &&
         !stopping();) {
        session->dispatchFor(std::chrono::milliseconds(50));
        meanwhile();
        const bool running = !linux_desktop::childHasExited(target.pid);
        if (const auto fresh = session->newWindows(); !fresh.empty()) {
            const auto names = windowNames(target, running);
            std::vector<Toplevel*> ours;
            for (Toplevel* t : fresh) {
                if (typing::windowGoesByOneOf(t->appId, names)) {
                    ours.push_back(t);
                } else if (std::find(others.begin(), others.end(), t->appId) == others.end()) {
                    others.push_back(t->appId);
                }
            }
            several = ours.size() > 1;
            window = ours.size() == 1 ? ours.front() : nullptr;
        }
        // A program that ends without a window hands none to another process, unless its
        // desktop entry says what that window is called.
        ended = !running && !window && target.declaredNames.empty();
    }
    if (stopping()) {
        return failure(says::nothingTyped(says::kEnding));
    }
    if (several) {
        return failure("Plusieurs fenêtres de « " + target.program +
                       " » sont apparues en même temps : rien n'a été tapé.");
    }
    if (!window) {
        std::string error = ended ? says::nothingTyped(says::programClosed(target.program) +
                                                       " sans ouvrir de fenêtre")
                                  : says::windowNotShown(target.program);
        if (!others.empty()) {
            std::string list;
            for (const std::string& id : others) {
                list += (list.empty() ? "« " : ", « ") + (id.empty() ? "?" : id) + " »";
            }
            error += " Une fenêtre d'un autre programme (" + list +
                     ") est apparue entre-temps ; rien n'y a été tapé.";
        }
        return failure(error);
    }
    // Planned once the window is known, which may ask for another script; the keymap laid on
    // the keyboard before the launch holds every password character whatever the script.
    const KeystrokeScript* chosen = choose ? choose({window->appId}) : nullptr;
    VirtualKeyPlan plan = planVirtualKeys(chosen ? *chosen : given, alphabet_);
    // The plan spells out every password: wiped however typing ends.
    struct PlanWiper {
        VirtualKeyPlan& plan;
        ~PlanWiper() { wipePlan(plan); }
    } planWiper{plan};
    if (!plan.untypable.empty()) {
        return failure(untypableMessage(plan.untypable));
    }
    zwlr_foreign_toplevel_handle_v1_activate(window->handle, session->seat);
    for (const auto deadline = Clock::now() + typing::kFocusWait;
         !window->activated && !window->closed && Clock::now() < deadline && session->alive() &&
         !stopping();) {
        session->dispatchFor(std::chrono::milliseconds(50));
        meanwhile();
    }
    if (stopping()) {
        return failure(says::nothingTyped(says::kEnding));
    }
    if (!window->activated) {
        return failure(says::windowTookNoFocus(target.program));
    }
    // The compositor moves the keyboard from this program's window to the target's in one step:
    // the window's client is told it has lost it when the target's is told it has it.
    const bool watching = focus && focus->watching();
    if (watching) {
        for (const auto deadline = Clock::now() + typing::kFocusWait;
             focus->focused(std::chrono::milliseconds(50)) && Clock::now() < deadline &&
             !stopping();) {
        }
        if (stopping()) {
            return failure(says::nothingTyped(says::kEnding));
        }
        if (focus->hasFocus) {
            return failure(says::nothingTyped(
                "La fenêtre de Tolvane a gardé le clavier après l'arrivée de celle de « " +
                target.program + " »"));
        }
    }

    // The program may still be starting behind its window (LibreOffice works for most of a
    // second more and drops the keys meanwhile): keys go once it has been quiet a moment.
    // A window of an instance already running is given the same moment.
    const bool settled = settles(*session, *window, target.pid, [this] { meanwhile(); });
    if (stopping()) {
        return failure(says::nothingTyped(says::kEnding));
    }
    if (window->closed) {
        return failure(says::nothingTyped(says::programClosed(target.program)));
    }
    if (!settled) {
        return failure(says::windowNotAnswering(target.program));
    }

    zwp_virtual_keyboard_v1* keyboard = session->keyboard;
    bool typedSome = false;
    std::string stopped;
    // Before each line: the compositor has handled what was sent, and the window still has the
    // focus; otherwise nothing more is sent.
    const auto stillListening = [&] {
        if (stopping()) {
            stopped = says::kEnding;
        } else if (!session->connection.roundtrip()) {
            stopped = "La session Wayland s'est interrompue";
        } else if (window->closed) {
            stopped = says::programClosed(target.program);
        } else if (!window->activated || session->otherActivated(window) ||
                   (watching && focus->focused())) {
            stopped = says::lostFocus(target.program);
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
        // The window reads its events before the check, never between the check and the key.
        bool first = true;
        for (const VirtualKey& key : segment.keys) {
            if (!std::exchange(first, false)) {
                meanwhile();
                std::this_thread::sleep_for(kKeyInterval);
                if (!stillListening()) {
                    break;
                }
            }
            const std::uint32_t time = nowMs();
            zwp_virtual_keyboard_v1_key(keyboard, time, key.evdev, WL_KEYBOARD_KEY_STATE_PRESSED);
            zwp_virtual_keyboard_v1_key(keyboard, time, key.evdev, WL_KEYBOARD_KEY_STATE_RELEASED);
            typedSome = true;
        }
        if (!stopped.empty()) {
            break;
        }
    }
    if (!stopped.empty()) {
        session->connection.roundtrip();
        return failure(says::stopped(stopped, typedSome));
    }
    // Every key has gone; the program has read them once it is quiet again (no protocol tells
    // more). Then the window must still have the focus: a dialog that took it at the end got
    // some of them. A window that the last Enter closed (a form sent) took them all.
    const bool read = settles(
        *session, *window, target.pid, [this] { meanwhile(); }, kQuietAfterKeys);
    if (!stillListening() && !window->closed) {
        if (stopped == says::lostFocus(target.program)) {
            return failure(says::focusGoneAtTheEnd(target.program));
        }
        return failure(stopped == says::kEnding ? says::stopped(stopped, true)
                                                : stopped + " : vérifiez le texte reçu.");
    }
    if (!read && !window->closed) {
        return failure(says::stopped(says::noLongerAnswering(target.program), true));
    }
    return {true, {}};
}

} // namespace tolvane::platform::wayland
