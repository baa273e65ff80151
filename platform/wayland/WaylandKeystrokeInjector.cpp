#include "platform/wayland/WaylandKeystrokeInjector.h"

#include "platform/Wipe.h"
#include "platform/linux/ProcessLauncher.h"
#include "platform/linux/Processes.h"
#include "platform/linux/StopSignals.h"
#include "platform/linux/TypingRun.h"
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
// How long a window that lost the focus is given to tell it is closing.
constexpr auto kClosingGrace = std::chrono::milliseconds(50);
// Shift, as a keymap's modifier mask holds it.
constexpr std::uint32_t kShiftMask = 1;
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

// A delivery on a wlroots desktop: the program's window told by its name in the windows list,
// the keys sent through a virtual keyboard with keymaps of this program's own, the window
// checked before every key.
class Delivery final : public typing::Desktop {
public:
    Delivery(const LaunchResult& target, std::unique_ptr<CompositorSession> session,
             std::unique_ptr<WindowFocus> focus, std::u32string_view alphabet,
             std::function<void()> meanwhile)
        : Desktop(target, {}), session_(std::move(session)), focus_(std::move(focus)),
          alphabet_(alphabet), meanwhile_(std::move(meanwhile)) {}
    ~Delivery() override { wipePlan(plan_); }

    std::string open() override {
        if (!session_->connected()) {
            return "Aucun affichage Wayland n'est accessible : rien n'a été tapé.";
        }
        if (!session_->usable() || !session_->keyboard) {
            return kDesktopCannotType;
        }
        return {};
    }
    typing::Sight look() override;
    std::string notShown() override;
    Focus focus() override;
    std::vector<std::string> names() override { return {window_->appId}; }
    Preparation plan(const KeystrokeScript& script) override {
        // The keymap laid on the keyboard before the launch holds every password character,
        // whatever the script.
        plan_ = planVirtualKeys(script, alphabet_);
        for (std::size_t s = 0; s < plan_.segments.size(); ++s) {
            for (std::size_t k = 0; k < plan_.segments[s].keys.size(); ++k) {
                parts_.emplace_back(s, k);
            }
        }
        return {{}, plan_.untypable, false};
    }
    std::size_t parts() const override { return parts_.size(); }
    typing::Halt send(std::size_t part) override;
    bool restore() override {
        if (std::exchange(shifted_, false)) {
            zwp_virtual_keyboard_v1_modifiers(session_->keyboard, 0, 0, 0, 0);
        }
        session_->connection.roundtrip();
        return true;
    }
    bool pump() override {
        if (stopping() || window_->closed || !session_->alive()) {
            return false;
        }
        session_->dispatchFor(typing::kLookEvery);
        meanwhile_();
        return true;
    }
    typing::Halt after() override { return listening(); }

private:
    // Before each key: the compositor has handled what was sent, and the window still has the
    // focus.
    typing::Halt listening();

    std::unique_ptr<CompositorSession> session_;
    std::unique_ptr<WindowFocus> focus_;
    std::u32string_view alphabet_;
    std::function<void()> meanwhile_;
    Toplevel* window_ = nullptr;
    std::vector<std::string> others_; // the names of other programs' windows seen meanwhile
    bool watching_ = false;           // this program's window tells when it has the keyboard
    VirtualKeyPlan plan_;
    std::vector<std::pair<std::size_t, std::size_t>> parts_; // segment, key
    bool shifted_ = false;                                   // Shift is held for the keys now
};

// The program's window: a new one that goes by one of its names. Another program's window that
// opens meanwhile is left alone.
typing::Sight Delivery::look() {
    typing::Sight sight;
    session_->dispatchFor(typing::kLookEvery);
    meanwhile_();
    if (!session_->alive()) {
        sight.end = typing::nothingTyped("La session Wayland s'est interrompue");
        return sight;
    }
    const bool running = !linux_desktop::childHasExited(target_.pid);
    if (!window_) {
        std::vector<Toplevel*> ours;
        if (const auto fresh = session_->newWindows(); !fresh.empty()) {
            const auto names = windowNames(target_, running);
            for (Toplevel* t : fresh) {
                if (typing::windowGoesByOneOf(t->appId, names)) {
                    ours.push_back(t);
                } else if (std::find(others_.begin(), others_.end(), t->appId) == others_.end()) {
                    others_.push_back(t->appId);
                }
            }
        }
        if (ours.size() > 1) {
            sight.end = "Plusieurs fenêtres de « " + target_.program +
                        " » sont apparues en même temps : rien n'a été tapé.";
            return sight;
        }
        window_ = ours.empty() ? nullptr : ours.front();
        sight.stirred = true;
    }
    if (window_ && window_->closed) {
        sight.end = typing::nothingTyped(typing::programClosed(target_.program));
    } else if (!window_ && !running && target_.declaredNames.empty()) {
        // A program that ends without a window hands none to another process, unless its
        // desktop entry says what that window is called.
        sight.end = typing::nothingTyped(typing::programClosed(target_.program) +
                                         " sans ouvrir de fenêtre");
    }
    sight.shown = window_ != nullptr;
    if (target_.pid > 0) {
        sight.cpuTicks = linux_desktop::treeCpuTime(target_.pid);
    }
    return sight;
}

std::string Delivery::notShown() {
    std::string error = Desktop::notShown();
    if (!others_.empty()) {
        std::string list;
        for (const std::string& id : others_) {
            list += (list.empty() ? "« " : ", « ") + (id.empty() ? "?" : id) + " »";
        }
        error += " Une fenêtre d'un autre programme (" + list +
                 ") est apparue entre-temps ; rien n'y a été tapé.";
    }
    return error;
}

typing::Desktop::Focus Delivery::focus() {
    zwlr_foreign_toplevel_handle_v1_activate(window_->handle, session_->seat);
    for (const auto deadline = Clock::now() + waits_.focus;
         !window_->activated && !window_->closed && Clock::now() < deadline && session_->alive() &&
         !stopping();) {
        session_->dispatchFor(typing::kLookEvery);
        meanwhile_();
    }
    if (!window_->activated) {
        return Focus::NotTaken;
    }
    // The compositor moves the keyboard from this program's window to the target's in one step:
    // the window's client is told it has lost it when the target's is told it has it.
    watching_ = focus_ && focus_->watching();
    if (watching_) {
        for (const auto deadline = Clock::now() + waits_.focus;
             focus_->focused(typing::kLookEvery) && Clock::now() < deadline && !stopping();) {
        }
        if (focus_->hasFocus && !stopping()) {
            return Focus::KeptByThisProgram;
        }
    }
    return Focus::Taken;
}

typing::Halt Delivery::listening() {
    using typing::Halt;
    if (stopping()) {
        return {Halt::Ending, {}};
    }
    if (!session_->connection.roundtrip()) {
        return {Halt::Other, "La session Wayland s'est interrompue"};
    }
    if (window_->closed) {
        return {Halt::Closed, {}};
    }
    if (!window_->activated || session_->otherActivated(window_) ||
        (watching_ && focus_->focused())) {
        // A window that closes loses the focus first, and its end may follow a moment later.
        std::this_thread::sleep_for(kClosingGrace);
        if (session_->connection.roundtrip() && window_->closed) {
            return {Halt::Closed, {}};
        }
        return {Halt::LostFocus, {}};
    }
    return {};
}

// The compositor sends keys to whichever window has the focus, and nothing makes a check and the
// next key one step: checking before every key leaves at most one key to a window that took the
// focus in between. The window reads its events before the check, never between the check and
// the key.
typing::Halt Delivery::send(std::size_t part) {
    const auto [s, k] = parts_[part];
    const VirtualKeymapSegment& segment = plan_.segments[s];
    zwp_virtual_keyboard_v1* keyboard = session_->keyboard;
    if (k == 0) {
        if (!sendKeymap(keyboard, segment.keymap)) {
            return {typing::Halt::Other, "Le clavier virtuel n'a pas pu être préparé"};
        }
        zwp_virtual_keyboard_v1_modifiers(keyboard, 0, 0, 0, 0);
        shifted_ = false;
    } else {
        meanwhile_();
        std::this_thread::sleep_for(kKeyInterval);
    }
    if (typing::Halt halt = listening()) {
        return halt;
    }
    const VirtualKey& key = segment.keys[k];
    if (key.shift != shifted_) {
        shifted_ = key.shift;
        zwp_virtual_keyboard_v1_modifiers(keyboard, shifted_ ? kShiftMask : 0, 0, 0, 0);
    }
    const std::uint32_t time = nowMs();
    zwp_virtual_keyboard_v1_key(keyboard, time, key.evdev, WL_KEYBOARD_KEY_STATE_PRESSED);
    zwp_virtual_keyboard_v1_key(keyboard, time, key.evdev, WL_KEYBOARD_KEY_STATE_RELEASED);
    typedSome = true;
    return {};
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
                                                   const KeystrokeScript& script,
                                                   const ScriptChooser& choose) {
    if (!session_) {
        beforeLaunch();
    }
    wipe(firstKeymap_);
    Delivery delivery(target, std::move(session_), std::move(focus_), alphabet_,
                      [this] { meanwhile(); });
    return typing::run(delivery, script, choose, readBack());
}

} // namespace tolvane::platform::wayland
