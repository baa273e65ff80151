#pragma once

#include <X11/Xlib.h>

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace tolvane::platform::x11 {

// The core keyboard as XTest drives it, and what the user does with it meanwhile.
class XTestKeyboard {
public:
    XTestKeyboard(Display* d, std::chrono::milliseconds releaseWait);

    // Whether another client holds the keyboard (a menu, a screen locker, a popup). Asked
    // under the server grab: a grab on the focus window itself, released at once, generates
    // no focus event and fails only when the keyboard is grabbed or frozen by someone else.
    bool grabbedByAnother();

    // Whether no key is down and no modifier is set, latched or locked: between two lines
    // the plan holds nothing, so anything found is the user's and would alter the keys.
    bool idle();

    // Waits (bounded) until the user holds no key.
    bool keysReleased();

    // Any change of map, of keyboard or of group is noticed; typing through XTest alone also
    // switches the core keyboard's source device, which announces itself as a new keyboard:
    // the live map is then compared with the plan rather than trusted or refused.
    void watchKeymap();

    // Discards what our own requests caused.
    void drain();

    // True when the keyboard announced a change since the last look.
    bool changed();
    // Notes an event read elsewhere from the same connection.
    void note(const XEvent& e);

    void press(std::uint32_t keycode, bool down);

    // Bytes of key requests queued since the last flush. Xlib sends its buffer on its own
    // when it fills up: the caller flushes first, with no key held, so that the server only
    // ever receives whole presses, modifiers released. A process killed between two flushes
    // then leaves no key down.
    std::size_t unflushed() const { return unflushed_; }
    void flush(bool sync = false);

private:
    Display* d_;
    std::chrono::milliseconds releaseWait_;
    int xkbEventBase_ = 0;
    bool mapChanged_ = false;
    std::size_t unflushed_ = 0;
};

} // namespace tolvane::platform::x11
