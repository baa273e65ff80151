#include "platform/linux/TypingRun.h"

#include "platform/linux/Processes.h"
#include "platform/linux/StopSignals.h"

#include <algorithm>
#include <utility>

namespace tolvane::platform::typing {

namespace {

using Clock = std::chrono::steady_clock;
using linux_desktop::stopRequested;

// Processor time (clock ticks of 10 ms) a near-idle program uses between two looks.
constexpr unsigned long long kBusyTicks = 2;
// How long a window already there at the first look is watched, and what its program may use
// meanwhile in all, before it counts as waiting idle: from that look to the next. A program
// still loading uses more than that in any such while; one that waits uses nothing.
constexpr auto kGlance = kLookEvery;
constexpr unsigned long long kIdleTicks = 1;
// After the last key: how long the program stays quiet once it has read them.
constexpr auto kQuietAfterKeys = std::chrono::milliseconds(300);

// How often the field the keys go to is looked at.
constexpr auto kFieldLookEvery = std::chrono::milliseconds(100);

// Reads the desktop's news until the next look at the field; false when there is no more to
// wait for.
bool untilNextLook(Desktop& desktop, Clock::time_point lookedAt) {
    bool more = true;
    do {
        more = desktop.pump();
    } while (more && Clock::now() < lookedAt + kFieldLookEvery);
    return more;
}

// Before the first key: the field the keys go to, once the program shows one, or shows that
// nothing tells (no tree shown, the focus on a sheet or a canvas). While its window shows no
// content yet, or a page with no field that has the focus (a page still loading; a person may
// click into its field meanwhile), it is waited for; none when it never comes.
std::optional<FocusedField> fieldTakingKeys(Desktop& desktop, TextReadBack& readBack) {
    const auto deadline = Clock::now() + desktop.waits().window;
    for (;;) {
        const auto lookedAt = Clock::now();
        FocusedField field = readBack.focusedField(desktop.target());
        if (field.shown != FocusedField::Shown::Waiting || !untilNextLook(desktop, lookedAt)) {
            return field;
        }
        if (Clock::now() >= deadline || stopRequested()) {
            return std::nullopt;
        }
    }
}

// After the last key: whether the field that took them shows them all (a field of several lines
// has grown by the characters typed). Another field with the focus, or none, tells nothing.
bool allShown(Desktop& desktop, TextReadBack& readBack, const FocusedField& before,
              std::size_t typed) {
    if (before.shown != FocusedField::Shown::Field || !before.multiLine) {
        return true;
    }
    const auto deadline = Clock::now() + desktop.waits().answer;
    for (;;) {
        const auto lookedAt = Clock::now();
        const FocusedField field = readBack.focusedField(desktop.target());
        if (field.shown == FocusedField::Shown::Field && field.id == before.id) {
            if (field.characters >= before.characters + typed) {
                return true;
            }
        } else if (field.shown != FocusedField::Shown::Waiting) {
            return true;
        }
        if (Clock::now() >= deadline || stopRequested() || !untilNextLook(desktop, lookedAt)) {
            return false;
        }
    }
}

InjectionResult failure(std::string message) {
    return InjectionResult{false, std::move(message)};
}

// Why keys stopped, in the person's words.
std::string wording(const Halt& halt, const std::string& program) {
    switch (halt.kind) {
    case Halt::Ending:
        return kEnding;
    case Halt::LostFocus:
        return lostFocus(program);
    case Halt::Closed:
        return programClosed(program);
    case Halt::Silent:
        return noLongerAnswering(program);
    case Halt::LayoutChanged:
        return kLayoutChanged;
    case Halt::Listening:
    case Halt::Other:
        break;
    }
    return halt.why;
}

} // namespace

bool Readiness::ready(const Sight& sight, Clock::time_point now) {
    const unsigned long long cpu = sight.cpuTicks.value_or(0);
    const bool busy = cpu > cpuLast_ + kBusyTicks;
    cpuLast_ = cpu;
    if (std::exchange(first_, false)) {
        glance_ = sight.shown;
        cpuFirst_ = cpu;
        since_ = now;
    } else if (!sight.shown || sight.stirred || busy) {
        glance_ = false;
        since_ = now;
    } else if (cpu > cpuFirst_ + kIdleTicks) {
        glance_ = false;
    }
    const auto quiet = now - since_;
    return sight.shown && (quiet >= settled_ || (glance_ && quiet >= kGlance));
}

std::string Desktop::notShown() {
    return windowNotShown(target_.program);
}

bool Desktop::read() {
    return linux_desktop::waitUntilQuiet(target_.pid, std::min(kQuietAfterKeys, waits_.settled),
                                         waits_.answer,
                                         [this] { return pump(); }) == linux_desktop::Quiet::Yes;
}

InjectionResult run(Desktop& desktop, const KeystrokeScript& given, const ScriptChooser& choose,
                    TextReadBack* readBack) {
    const LaunchResult& target = desktop.target();
    const std::string& program = target.program;
    const Waits& waits = desktop.waits();
    const auto beforeTyping = [](std::string why) {
        return failure(stopRequested() ? nothingTyped(kEnding) : std::move(why));
    };
    if (std::string why = desktop.open(); !why.empty()) {
        return failure(why);
    }

    // The window, until it is ready: the time given counts from its first sight once it shows.
    Readiness readiness(waits.settled);
    bool seen = false;
    for (auto deadline = Clock::now() + waits.window;;) {
        if (stopRequested()) {
            return failure(nothingTyped(kEnding));
        }
        const Sight sight = desktop.look();
        if (!sight.end.empty()) {
            return beforeTyping(sight.end);
        }
        if (sight.shown && !std::exchange(seen, true)) {
            deadline = Clock::now() + waits.window;
        }
        if (readiness.ready(sight, Clock::now())) {
            break;
        }
        if (Clock::now() >= deadline) {
            return beforeTyping(seen ? windowNotAnswering(program) : desktop.notShown());
        }
    }
    switch (desktop.focus()) {
    case Desktop::Focus::Taken:
        break;
    case Desktop::Focus::NotTaken:
        return beforeTyping(windowTookNoFocus(program));
    case Desktop::Focus::KeptByThisProgram:
        return beforeTyping(thisWindowKeptTheKeyboard(program));
    }
    if (!desktop.keysReleased()) {
        return beforeTyping(keysHeld());
    }
    if (!desktop.answers()) {
        return beforeTyping(windowNotAnswering(program));
    }
    FocusedField field;
    if (readBack) {
        const std::optional<FocusedField> found = fieldTakingKeys(desktop, *readBack);
        if (!found) {
            return beforeTyping(noFieldTakesKeys(program, waits.window));
        }
        field = *found;
    }
    if (stopRequested()) {
        return failure(nothingTyped(kEnding));
    }

    const KeystrokeScript* chosen = choose ? choose(desktop.names()) : nullptr;
    const KeystrokeScript& script = chosen ? *chosen : given;
    const Preparation planned = desktop.plan(script);
    if (!planned.error.empty()) {
        return failure(planned.error);
    }
    if (!planned.untypable.empty()) {
        return failure(untypableMessage(planned.untypable));
    }

    // However typing ends, the keyboard is given back.
    struct Restore {
        Desktop& desktop;
        bool done = false;
        bool given() {
            done = true;
            return desktop.restore();
        }
        ~Restore() {
            if (!done) {
                desktop.restore();
            }
        }
    } restore{desktop};
    desktop.begin();
    Halt halt;
    for (std::size_t part = 0; part < desktop.parts() && !halt; ++part) {
        halt = stopRequested() ? Halt{Halt::Ending, {}} : desktop.send(part);
    }
    std::string result;
    if (halt) {
        result = stopped(wording(halt, program), desktop.typedSome);
    } else {
        const bool read = desktop.read();
        const bool shown =
            !read || !readBack || allShown(desktop, *readBack, field, keyCount(script));
        halt = stopRequested() ? Halt{Halt::Ending, {}} : desktop.after();
        // A window that the last Enter closed (a form sent) took every key. One that took the
        // focus meanwhile (a dialog the keys opened, a tip shown at the end) may have taken
        // some of them.
        if (halt.kind == Halt::Ending) {
            result = stopped(kEnding, true);
        } else if (halt.kind == Halt::LostFocus) {
            result = focusGoneAtTheEnd(program);
        } else if (halt && halt.kind != Halt::Closed) {
            result = wording(halt, program) + " : vérifiez le texte reçu.";
        } else if (!read && !halt) {
            result = stopped(noLongerAnswering(program), true);
        } else if (!shown && !halt) {
            result = fieldShowsFewer(program);
        }
    }
    if (!restore.given()) {
        result = (result.empty() ? std::string(kAllKeysSent) : result + " ") + kKeyboardNotRestored;
    }
    return result.empty() ? InjectionResult{true, {}} : failure(result);
}

} // namespace tolvane::platform::typing
