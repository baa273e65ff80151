#pragma once

#include "platform/KeystrokeInjector.h"
#include "platform/TextReadBack.h"
#include "platform/Typing.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// One delivery into the started program's window, the same on every desktop: find the window,
// wait until it takes keys, give it the focus, plan, type while it still listens, wait until
// it has read the keys, give the keyboard back. A desktop supplies what it can see of the
// window and how its keys go; when the window counts as ready, how long each step may take,
// and what the person is told live here.
namespace tolvane::platform::typing {

// What one look at the desktop saw of the started program's window.
struct Sight {
    bool shown = false;   // its window is there
    bool stirred = false; // it changed since the last look (another window, a new title...)
    // Processor time its program has used so far, in clock ticks; unknown where no process is.
    std::optional<unsigned long long> cpuTicks;
    std::string end; // nothing will be typed: why, whole (several windows, the program gone)
};

// Whether the window seen is ready for keys. Ready once it and its program have been quiet
// (the same window, nothing changed, the program near idle) for a settled moment: a splash
// window replaced, or a program still loading behind its window, shows itself within that.
// A window already there at the first look came up before the delivery asked for it: one that
// stays quiet through a short glance, its program idle all along, has been waiting, as an
// editor left open, and is ready then.
class Readiness {
public:
    explicit Readiness(std::chrono::milliseconds settled) : settled_(settled) {}
    bool ready(const Sight& sight, std::chrono::steady_clock::time_point now);

private:
    std::chrono::milliseconds settled_;
    bool first_ = true;
    bool glance_ = false;
    std::chrono::steady_clock::time_point since_;
    unsigned long long cpuFirst_ = 0;
    unsigned long long cpuLast_ = 0;
};

// Why keys stop: a kind the run words, or a desktop's own words.
struct Halt {
    enum Kind { Listening, Ending, LostFocus, Closed, Silent, LayoutChanged, Other };
    Kind kind = Listening;
    std::string why; // for Other
    explicit operator bool() const { return kind != Listening; }
};

// What one desktop supplies.
class Desktop {
public:
    virtual ~Desktop() = default;
    // Why no key can go at all (no display); empty when they can.
    virtual std::string open() { return {}; }
    // One look for the started program's window, about kLookEvery long, the desktop's news
    // read meanwhile.
    virtual Sight look() = 0;
    // Nothing of the program was seen in time: the whole message.
    virtual std::string notShown();
    enum class Focus { Taken, NotTaken, KeptByThisProgram };
    // Gives the window the focus and waits for it (at most waits.focus).
    virtual Focus focus() = 0;
    // Whether the keys the person holds down are up (waited for at most waits.release).
    virtual bool keysReleased() { return true; }
    // Whether the window reads its events (at most waits.answer).
    virtual bool answers() { return true; }
    // The names the window goes by, for the script chooser.
    virtual std::vector<std::string> names() { return {}; }
    // Plans the script on the keyboard the keys go through.
    virtual Preparation plan(const KeystrokeScript& script) = 0;
    // Typing starts: justBefore runs right before the first key.
    virtual void begin() {}
    // The keys go in parts, the window checked before each.
    virtual std::size_t parts() const = 0;
    virtual Halt send(std::size_t part) = 0;
    // Every key up, and the locks as they were; false when they could not be given back.
    // Called once typing has begun, however it ends.
    virtual bool restore() { return true; }
    // Reads the desktop's news for about kLookEvery; false when there is no more to wait for
    // (the window gone, the desktop's session ended).
    virtual bool pump() = 0;
    // After the last key: waits until the window has read them; false when it did not answer.
    // By default, until the program and those it runs have been quiet a moment.
    virtual bool read();
    // Whether the window still takes keys, once it has read the last ones.
    virtual Halt after() = 0;

    const LaunchResult& target() const { return target_; }
    const Waits& waits() const { return waits_; }

    // Set by send once a key has gone.
    bool typedSome = false;

protected:
    Desktop(const LaunchResult& target, Waits waits) : target_(target), waits_(waits) {}
    const LaunchResult& target_;
    Waits waits_;
};

// The delivery, on any desktop. Where the started program shows the field its keys go to
// (readBack), the first key waits until a field takes them, and the end until it shows them all.
InjectionResult run(Desktop& desktop, const KeystrokeScript& given, const ScriptChooser& choose,
                    TextReadBack* readBack = nullptr);

} // namespace tolvane::platform::typing
