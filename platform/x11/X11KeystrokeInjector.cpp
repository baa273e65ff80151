#include "platform/x11/X11KeystrokeInjector.h"

#include "platform/Wipe.h"
#include "platform/linux/ProcessLauncher.h"
#include "platform/linux/Processes.h"
#include "platform/linux/StopSignals.h"
#include "platform/x11/KeymapSession.h"
#include "platform/x11/TargetWindow.h"
#include "platform/x11/X11Display.h"
#include "platform/x11/XTestKeyboard.h"
#include "platform/xkb/KeyPlanner.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unistd.h>

namespace tolvane::platform::x11 {

namespace {

using linux_desktop::stopRequested;

bool waylandSession() {
    const char* type = std::getenv("XDG_SESSION_TYPE");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (type && std::string(type) == "wayland") || (wayland && *wayland);
}

TargetWindow::Waits windowWaits(const typing::Waits& waits, std::function<void()> meanwhile = {}) {
    return {waits.focus, waits.answer, std::move(meanwhile)};
}

// Keys sent under one server grab, the window checked before them: whole lines up to this many,
// or this many of a longer line (a few milliseconds of the server's time).
constexpr std::size_t kChunk = 256;
constexpr int kPauseBetweenGrabsUs = 300;
// Key requests sent at once: far below the smallest request buffer Xlib allows (2,048 bytes),
// so Xlib never sends a part of them on its own. A press takes at most six requests.
constexpr std::size_t kFlushBytes = 1024;
constexpr std::size_t kLongestPressBytes = 6 * 36;
// Server time counts milliseconds.
constexpr auto kServerTimeStep = std::chrono::milliseconds(2);

void wipePlan(xkb::KeyPlan& plan) {
    for (xkb::PlanSegment& segment : plan.segments) {
        wipeRecords(segment.bindings);
        wipeRecords(segment.keys);
    }
    wipe(plan.untypable);
}

// The plan on the live keymap, typed only with keys that every X client reads as planned: a
// key that also carries an editing keysym, or that Xlib's own lookup reads otherwise, gives
// its character to a spare key.
xkb::KeyPlan planOn(const KeymapSession& keymap, const xkb::ModifierKeys& modifiers,
                    const KeystrokeScript& script) {
    xkb::PlanOptions options;
    options.spareLevels = keymap.spareLevels(modifiers);
    options.avoidKeysCarryingBindings = true;
    // (Xlib names an event type KeyPress: the planner's is named through auto.)
    options.readsAsPlanned = [&](const auto& press, std::uint32_t keysym) {
        return keymap.readsAs(press.keycode, press.mods, keysym);
    };
    return xkb::planKeystrokes(keymap.keymap(), keymap.group(), modifiers,
                               keymap.empty(xkb::findSpareKeycodes(keymap.keymap())), script,
                               nullptr, options);
}

// A key of the plan (Xlib names an event type KeyPress).
using Press = decltype(xkb::PlannedKey::press);

// A delivery on this display: the window found by its process, its readiness told by a ping
// it answers once it reads its events again; the keys sent with XTest a few lines at a time under
// a server grab, after checking that the window still holds the focus.
class Delivery final : public typing::Desktop {
public:
    Delivery(const LaunchResult& target, const typing::Waits& waits, KeystrokeInjector& injector,
             const std::vector<unsigned long>& windowsBefore,
             const std::map<pid_t, unsigned long long>& processesBefore)
        : Desktop(target, waits), injector_(injector),
          windowsBefore_(windowsBefore.begin(), windowsBefore.end()),
          processesBefore_(processesBefore) {}
    ~Delivery() override { wipePlan(plan_); }

    std::string open() override {
        display_.reset(XOpenDisplay(nullptr));
        if (!display_) {
            return "Aucun affichage X11 n'est accessible : rien n'a été tapé.";
        }
        window_.emplace(display_.get(), windowWaits(waits_, [this] { meanwhile(); }));
        keyboard_.emplace(display_.get(), waits_.release);
        return {};
    }
    typing::Sight look() override {
        return window_->look(target_, windowsBefore_, processesBefore_);
    }
    Focus focus() override { return window_->activate() ? Focus::Taken : Focus::NotTaken; }
    bool keysReleased() override { return keyboard_->keysReleased(); }
    bool answers() override {
        window_->listenForAnswers();
        return window_->settle([](const XEvent&) {});
    }
    std::vector<std::string> names() override { return window_->names(); }
    Preparation plan(const KeystrokeScript& script) override;
    void begin() override {
        keyboard_->watchKeymap();
        keymap_->clearLocks();
        keyboard_->flush(true);
        keyboard_->drain();
    }
    std::size_t parts() const override { return parts_.size(); }
    typing::Halt send(std::size_t part) override;
    bool restore() override {
        hold(0);
        keyboard_->flush(true);
        return true;
    }
    bool pump() override {
        meanwhile();
        std::this_thread::sleep_for(typing::kLookEvery);
        return true;
    }
    bool read() override {
        hold(0);
        return settle();
    }
    typing::Halt after() override {
        // A change after the last key but before the target read it may still have altered it.
        if (keyboard_->changed() && !plan_.segments.empty() &&
            !keymap_->stillTypes(plan_.segments.back(), modifiers_)) {
            return {typing::Halt::LayoutChanged, {}};
        }
        if (!window_->holdsFocus()) {
            return {window_->viewable() ? typing::Halt::LostFocus : typing::Halt::Closed, {}};
        }
        return {};
    }

private:
    // Keys sent under one grab: whole lines of a plan segment, or kChunk keys of one.
    struct Part {
        std::size_t segment, begin, end;
    };
    void hold(std::uint32_t mods);
    void typeKey(const Press& press);
    // This program's window reads its events only while no key is lent: reading the keymap then
    // would leave the lent characters in its memory.
    void meanwhile() {
        if (!lending_) {
            injector_.meanwhile();
        }
    }
    bool settle() {
        keyboard_->flush(true);
        return window_->settle([this](const XEvent& e) { keyboard_->note(e); });
    }

    KeystrokeInjector& injector_;
    std::set<unsigned long> windowsBefore_;
    const std::map<pid_t, unsigned long long>& processesBefore_;
    DisplayPtr display_;
    std::optional<TargetWindow> window_;
    std::optional<XTestKeyboard> keyboard_;
    std::optional<KeymapSession> keymap_;
    xkb::ModifierKeys modifiers_;
    xkb::KeyPlan plan_;
    std::vector<Part> parts_;
    bool lending_ = false;
    std::uint32_t held_ = 0;
    std::uint32_t lastKey_ = 0;
};

Preparation Delivery::plan(const KeystrokeScript& script) {
    keymap_.emplace(display_.get());
    if (!keymap_->load()) {
        return {"La disposition du clavier ne peut pas être lue : rien n'a été tapé.", {}, false};
    }
    modifiers_ = xkb::findModifierKeys(keymap_->keymap());
    plan_ = planOn(*keymap_, modifiers_, script);
    for (std::size_t s = 0; s < plan_.segments.size(); ++s) {
        const auto& keys = plan_.segments[s].keys;
        for (std::size_t begin = 0; begin < keys.size();) {
            std::size_t end = begin;
            while (end < keys.size() && end - begin < kChunk && !keys[end].endsLine) {
                ++end;
            }
            if (end < keys.size() && end - begin < kChunk) {
                ++end; // the Enter that ends the line
            }
            // A whole line joins the part before it, itself whole lines, while they fit.
            if (!parts_.empty() && parts_.back().segment == s && keys[begin - 1].endsLine &&
                end - parts_.back().begin <= kChunk) {
                parts_.back().end = end;
            } else {
                parts_.push_back({s, begin, end});
            }
            begin = end;
        }
    }
    return {{}, plan_.untypable, false};
}

// Presses and releases the modifiers so that just these are held.
void Delivery::hold(std::uint32_t mods) {
    const std::pair<std::uint32_t, std::uint32_t> modifierKeys[] = {
        {modifiers_.shiftMask, modifiers_.shiftKeycode},
        {modifiers_.level3Mask, modifiers_.level3Keycode}};
    for (auto [mask, keycode] : modifierKeys) {
        if (!mask || !keycode) {
            continue;
        }
        const bool want = (mods & mask) != 0;
        const bool have = (held_ & mask) != 0;
        if (want != have) {
            keyboard_->press(keycode, want);
            held_ = want ? (held_ | mask) : (held_ & ~mask);
        }
    }
}

// Every key pressed is released before the request buffer goes to the server, past half of it
// where no modifier held would be held again at once. A key pressed
// again right after its release, with the same modifiers held, goes in the next batch, at a
// later server time: clients that read a release followed at once by a press of the same key in
// the same state, at the same time, as auto-repeat (LibreOffice's own X11 backend) would take
// the two presses for one. A Shift or AltGr pressed or released between the two (a spare key
// lent on several levels) already sets them apart.
void Delivery::typeKey(const Press& press) {
    typedSome = true;
    const std::uint32_t wanted =
        press.mods & ((modifiers_.shiftKeycode ? modifiers_.shiftMask : 0) |
                      (modifiers_.level3Keycode ? modifiers_.level3Mask : 0));
    const bool again = press.keycode == lastKey_ && wanted == held_;
    const std::size_t queued = keyboard_->unflushed();
    if (again || queued + kLongestPressBytes > kFlushBytes ||
        (queued > kFlushBytes / 2 && (held_ & wanted) == 0)) {
        hold(0);
        keyboard_->flush(again);
    }
    if (again) {
        std::this_thread::sleep_for(kServerTimeStep);
    }
    hold(press.mods);
    keyboard_->press(press.keycode, true);
    keyboard_->press(press.keycode, false);
    lastKey_ = press.keycode;
}

typing::Halt Delivery::send(std::size_t index) {
    using typing::Halt;
    const Part& part = parts_[index];
    const xkb::PlanSegment& segment = plan_.segments[part.segment];
    if (part.begin == 0) {
        if (!segment.bindings.empty()) {
            if (index != 0) {
                // Spare keys are rebound only under keys the target has read.
                hold(0);
                if (!settle()) {
                    return {stopRequested() ? Halt::Ending : Halt::Silent, {}};
                }
            }
            keymap_->bind(segment.bindings, modifiers_);
            lending_ = true;
            keyboard_->drain();
        }
        // The plan is checked against the live keymap, spare keys in place, before any key.
        if (!keymap_->stillTypes(segment, modifiers_)) {
            return {Halt::LayoutChanged, {}};
        }
    }
    {
        // The server serves no other client between the checks and the keys: a window that
        // takes the focus or the keyboard receives none of them.
        const ServerGrab grab(display_.get());
        if (!window_->holdsFocus()) {
            const bool closed = target_.pid > 0 && linux_desktop::childHasExited(target_.pid) &&
                                !window_->viewable();
            return {closed ? Halt::Closed : Halt::LostFocus, {}};
        }
        if (keyboard_->grabbedByAnother()) {
            return {Halt::Other, "Un autre programme a pris le clavier (menu, verrouillage de "
                                 "l'écran, fenêtre surgissante)"};
        }
        if (!keyboard_->idle()) {
            return {Halt::Other, "Une touche du clavier est enfoncée ou un modificateur est "
                                 "actif pendant la frappe"};
        }
        // A change of layout made before the grab has been announced by now.
        if (keyboard_->changed() && !keymap_->stillTypes(segment, modifiers_)) {
            return {Halt::LayoutChanged, {}};
        }
        for (std::size_t i = part.begin; i < part.end; ++i) {
            if (stopRequested()) {
                return {Halt::Ending, {}};
            }
            typeKey(segment.keys[i].press);
        }
        hold(0);
        keyboard_->flush(true);
    }
    // Let the other clients, the target first, be served between two grabs; this program's
    // window among them.
    if (!lending_) {
        injector_.meanwhile();
    }
    std::this_thread::sleep_for(std::chrono::microseconds(kPauseBetweenGrabsUs));
    return {};
}

} // namespace

std::string X11KeystrokeInjector::unavailableReason() {
    if (waylandSession()) {
        return "Cette session graphique utilise Wayland : Tolvane ne peut pas y taper dans un "
               "autre programme. Choisissez « Vers le presse-papier ».";
    }
    const ErrorHandlerScope errors;
    DisplayPtr d(XOpenDisplay(nullptr));
    if (!d) {
        return "Aucun affichage X11 n'est accessible : la frappe dans un autre programme est "
               "impossible.";
    }
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(d.get(), &event, &error, &major, &minor)) {
        return "L'extension XTest du serveur X est absente : la frappe dans un autre programme "
               "est impossible.";
    }
    int opcode = 0;
    major = XkbMajorVersion;
    minor = XkbMinorVersion;
    if (!XkbQueryExtension(d.get(), &opcode, &event, &error, &major, &minor)) {
        return "L'extension XKB du serveur X est absente : la frappe dans un autre programme "
               "est impossible.";
    }
    return {};
}

Preparation X11KeystrokeInjector::prepare(const KeystrokeScript& script, std::u32string_view) {
    // A delivery's own plan, on the keymap in service now.
    const ErrorHandlerScope errors;
    const LaunchResult none;
    Delivery delivery(none, waits_, *this, {}, processesBefore_);
    if (std::string why = delivery.open(); !why.empty()) {
        return {why, {}, false};
    }
    return delivery.plan(script);
}

std::vector<std::string> X11KeystrokeInjector::beforeLaunch() {
    windowsBefore_.clear();
    processesBefore_ = linux_desktop::runningProcesses();
    const ErrorHandlerScope errors;
    DisplayPtr d(XOpenDisplay(nullptr));
    if (!d) {
        return {};
    }
    TargetWindow windows(d.get(), windowWaits(waits_));
    for (Window w : windows.topLevels()) {
        windowsBefore_.push_back(w);
    }
    if (Window active = windows.activeWindow()) {
        windowsBefore_.push_back(active);
    }
    // A start-up id with the time of this start, as desktop launchers give one: the window
    // manager hands the focus to the program's window, not kept back as a window opened
    // behind the user's back.
    static int starts = 0;
    std::string id =
        "DESKTOP_STARTUP_ID=tolvane-" + std::to_string(getpid()) + "-" + std::to_string(++starts);
    if (const Time now = serverTime(d.get()); now != CurrentTime) {
        id += "_TIME" + std::to_string(now);
    }
    return {id};
}

InjectionResult X11KeystrokeInjector::typeInto(const LaunchResult& target,
                                               const KeystrokeScript& script,
                                               const ScriptChooser& choose) {
    const ErrorHandlerScope errors;
    Delivery delivery(target, waits_, *this, windowsBefore_, processesBefore_);
    return typing::run(delivery, script, choose, readBack());
}

} // namespace tolvane::platform::x11
