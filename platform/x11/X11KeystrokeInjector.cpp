#include "platform/x11/X11KeystrokeInjector.h"

#include "platform/Typing.h"
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
#include <string>
#include <thread>
#include <unistd.h>

namespace tolvane::platform::x11 {

namespace {

using linux_desktop::stopRequested;
namespace says = typing;

bool waylandSession() {
    const char* type = std::getenv("XDG_SESSION_TYPE");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (type && std::string(type) == "wayland") || (wayland && *wayland);
}

TargetWindow::Waits waits(const X11KeystrokeInjector::Limits& limits,
                          std::function<void()> meanwhile = {}) {
    return {std::chrono::milliseconds(limits.windowMs), std::chrono::milliseconds(limits.focusMs),
            std::chrono::milliseconds(limits.settleMs), std::move(meanwhile)};
}

bool alive(pid_t pid) {
    return pid > 0 && !linux_desktop::childHasExited(pid);
}

// Keys sent under one server grab: a line, or this many.
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

InjectionResult failure(std::string message) {
    return InjectionResult{false, std::move(message)};
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
    Preparation prepared;
    const ErrorHandlerScope errors;
    DisplayPtr display(XOpenDisplay(nullptr));
    if (!display) {
        prepared.error = "Aucun affichage X11 n'est accessible : rien n'a été tapé.";
        return prepared;
    }
    KeymapSession keymap(display.get());
    if (!keymap.load()) {
        prepared.error = "La disposition du clavier ne peut pas être lue : rien n'a été tapé.";
        return prepared;
    }
    xkb::KeyPlan plan = planOn(keymap, xkb::findModifierKeys(keymap.keymap()), script);
    prepared.untypable = plan.untypable;
    wipePlan(plan);
    return prepared;
}

std::vector<std::string> X11KeystrokeInjector::beforeLaunch() {
    windowsBefore_.clear();
    processesBefore_ = linux_desktop::runningProcesses();
    const ErrorHandlerScope errors;
    DisplayPtr d(XOpenDisplay(nullptr));
    if (!d) {
        return {};
    }
    TargetWindow windows(d.get(), waits(limits_));
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
                                               const KeystrokeScript& given,
                                               const ScriptChooser& choose) {
    const ErrorHandlerScope errors;
    DisplayPtr display(XOpenDisplay(nullptr));
    if (!display) {
        return failure("Aucun affichage X11 n'est accessible : rien n'a été tapé.");
    }
    Display* d = display.get();
    // The window reads its events only while no key is lent: reading the keymap then would
    // leave the lent characters in its memory.
    bool lending = false;
    TargetWindow window(d, waits(limits_, [this, &lending] {
                            if (!lending) {
                                meanwhile();
                            }
                        }));
    XTestKeyboard keyboard(d, std::chrono::milliseconds(limits_.releaseMs));

    const std::string endingBeforeTyping = says::nothingTyped(says::kEnding);
    const bool found = window.find(target, windowsBefore_, processesBefore_);
    if (stopRequested()) {
        return failure(endingBeforeTyping);
    }
    if (!found) {
        return failure(says::windowNotShown(target.program));
    }
    if (!window.activate()) {
        if (stopRequested()) {
            return failure(endingBeforeTyping);
        }
        return failure(says::windowTookNoFocus(target.program));
    }
    if (!keyboard.keysReleased()) {
        if (stopRequested()) {
            return failure(endingBeforeTyping);
        }
        return failure("Des touches du clavier restent enfoncées : relâchez-les, puis générez à "
                       "nouveau. Rien n'a été tapé.");
    }

    // The window answers a ping once it reads its events again: a program still loading its
    // document is given the time it takes.
    window.listenForAnswers();
    if (!window.settle([](const XEvent&) {})) {
        if (stopRequested()) {
            return failure(endingBeforeTyping);
        }
        return failure(says::windowNotAnswering(target.program));
    }

    const KeystrokeScript* chosen = choose ? choose(window.names()) : nullptr;
    const KeystrokeScript& script = chosen ? *chosen : given;

    KeymapSession keymap(d);
    if (!keymap.load()) {
        return failure("La disposition du clavier ne peut pas être lue : rien n'a été tapé.");
    }
    const xkb::ModifierKeys modifiers = xkb::findModifierKeys(keymap.keymap());
    xkb::KeyPlan plan = planOn(keymap, modifiers, script);
    // The plan spells out every password: it is wiped however typing ends.
    struct PlanWiper {
        xkb::KeyPlan& plan;
        ~PlanWiper() { wipePlan(plan); }
    } planWiper{plan};
    if (!plan.untypable.empty()) {
        return failure(untypableMessage(plan.untypable));
    }

    keyboard.watchKeymap();
    keymap.clearLocks();
    std::uint32_t held = 0;
    const std::pair<std::uint32_t, std::uint32_t> modifierKeys[] = {
        {modifiers.shiftMask, modifiers.shiftKeycode},
        {modifiers.level3Mask, modifiers.level3Keycode}};
    // The modifiers held down for a key pressed with these.
    auto heldFor = [&](std::uint32_t mods) {
        std::uint32_t wanted = 0;
        for (auto [mask, keycode] : modifierKeys) {
            if (mask && keycode && (mods & mask)) {
                wanted |= mask;
            }
        }
        return wanted;
    };
    auto hold = [&](std::uint32_t mods) {
        for (auto [mask, keycode] : modifierKeys) {
            if (!mask || !keycode) {
                continue;
            }
            const bool want = (mods & mask) != 0;
            const bool have = (held & mask) != 0;
            if (want != have) {
                keyboard.press(keycode, want);
                held = want ? (held | mask) : (held & ~mask);
            }
        }
    };
    // Every key pressed is released before the request buffer goes to the server. A key
    // pressed again right after its release, with the same modifiers held, goes in the next
    // batch, at a later server time: clients that read a release followed at once by a press
    // of the same key in the same state, at the same time, as auto-repeat (LibreOffice's own
    // X11 backend) would take the two presses for one. A Shift or AltGr pressed or released
    // between the two (a spare key lent on several levels) already sets them apart.
    std::uint32_t lastKey = 0;
    bool typedSome = false;
    auto typeKey = [&](const auto& press) {
        typedSome = true;
        const bool again = press.keycode == lastKey && heldFor(press.mods) == held;
        if (again || keyboard.unflushed() + kLongestPressBytes > kFlushBytes) {
            hold(0);
            keyboard.flush(again);
        }
        if (again) {
            std::this_thread::sleep_for(kServerTimeStep);
        }
        hold(press.mods);
        keyboard.press(press.keycode, true);
        keyboard.press(press.keycode, false);
        lastKey = press.keycode;
    };
    auto stop = [&](std::string_view why) {
        hold(0);
        keyboard.flush(true);
        return failure(says::stopped(why, typedSome));
    };
    auto settle = [&] {
        keyboard.flush(true);
        return window.settle([&](const XEvent& e) { keyboard.note(e); });
    };
    const std::string_view interrupted = says::kEnding;
    const std::string silent = says::noLongerAnswering(target.program);
    const std::string_view changed = says::kLayoutChanged;

    keyboard.flush(true);
    keyboard.drain();
    bool first = true;
    for (const xkb::PlanSegment& segment : plan.segments) {
        if (!segment.bindings.empty()) {
            if (!first) {
                // Spare keys are rebound only under keys the target has read.
                hold(0);
                if (!settle()) {
                    return stop(stopRequested() ? interrupted : silent);
                }
            }
            keymap.bind(segment.bindings, modifiers);
            lending = true;
            keyboard.drain();
        }
        first = false;
        // The plan is checked against the live keymap, spare keys in place, before any key.
        if (!keymap.stillTypes(segment, modifiers)) {
            return stop(changed);
        }
        const auto& keys = segment.keys;
        for (std::size_t begin = 0; begin < keys.size();) {
            // A line at a time (at most kChunk keys), the server serves no other client between
            // the checks and the keys: a window that takes the focus or the keyboard receives
            // none of them.
            std::size_t end = begin;
            while (end < keys.size() && end - begin < kChunk && !keys[end].endsLine) {
                ++end;
            }
            if (end < keys.size() && end - begin < kChunk) {
                ++end; // the Enter that ends the line
            }
            if (stopRequested()) {
                return stop(interrupted);
            }
            {
                const ServerGrab grab(d);
                if (!window.holdsFocus()) {
                    if (target.pid > 0 && !alive(target.pid) && !window.viewable()) {
                        return stop(says::programClosed(target.program));
                    }
                    return stop(says::lostFocus(target.program));
                }
                if (keyboard.grabbedByAnother()) {
                    return stop("Un autre programme a pris le clavier (menu, verrouillage de "
                                "l'écran, fenêtre surgissante)");
                }
                if (!keyboard.idle()) {
                    return stop("Une touche du clavier est enfoncée ou un modificateur est actif "
                                "pendant la frappe");
                }
                // A change of layout made before the grab has been announced by now.
                if (keyboard.changed() && !keymap.stillTypes(segment, modifiers)) {
                    return stop(changed);
                }
                for (std::size_t i = begin; i < end; ++i) {
                    if (stopRequested()) {
                        return stop(interrupted);
                    }
                    typeKey(keys[i].press);
                }
                hold(0);
                keyboard.flush(true);
            }
            begin = end;
            // Let the other clients, the target first, be served between two grabs; this
            // program's window among them.
            if (!lending) {
                meanwhile();
            }
            std::this_thread::sleep_for(std::chrono::microseconds(kPauseBetweenGrabsUs));
        }
    }
    hold(0);
    if (!settle()) {
        return stop(stopRequested() ? interrupted : silent);
    }
    // A change after the last key but before the target read it may still have altered it.
    if (keyboard.changed() && !plan.segments.empty() &&
        !keymap.stillTypes(plan.segments.back(), modifiers)) {
        return failure(std::string(says::kLayoutChanged) + " : vérifiez le texte reçu.");
    }
    // The window read every key; a window that took the focus meanwhile (a dialog the keys
    // opened, a tip shown at the end) may have taken some of them.
    // A window that the last Enter closed (a form sent) took them all.
    if (!window.holdsFocus() && window.viewable()) {
        return failure(says::focusGoneAtTheEnd(target.program));
    }
    return InjectionResult{true, {}};
}

} // namespace tolvane::platform::x11
