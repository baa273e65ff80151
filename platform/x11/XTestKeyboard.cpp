#include "platform/x11/XTestKeyboard.h"

#include "platform/linux/StopSignals.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <iterator>
#include <thread>

namespace tolvane::platform::x11 {

namespace {

constexpr std::size_t kFakeInputBytes = 36; // one XTestFakeInput request

bool noKeyDown(Display* d) {
    char keys[32] = {};
    XQueryKeymap(d, keys);
    return std::all_of(std::begin(keys), std::end(keys), [](char k) { return k == 0; });
}

} // namespace

XTestKeyboard::XTestKeyboard(Display* d, std::chrono::milliseconds releaseWait)
    : d_(d), releaseWait_(releaseWait) {
    XkbQueryExtension(d_, nullptr, &xkbEventBase_, nullptr, nullptr, nullptr);
}

bool XTestKeyboard::grabbedByAnother() {
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(d_, &focus, &revert);
    if (!focus || focus == PointerRoot) {
        return false;
    }
    const int status = XGrabKeyboard(d_, focus, False, GrabModeAsync, GrabModeAsync, CurrentTime);
    if (status == GrabSuccess) {
        XUngrabKeyboard(d_, CurrentTime);
        return false;
    }
    return status == AlreadyGrabbed || status == GrabFrozen;
}

bool XTestKeyboard::idle() {
    if (!noKeyDown(d_)) {
        return false;
    }
    XkbStateRec state{};
    return XkbGetState(d_, XkbUseCoreKbd, &state) == Success && state.base_mods == 0 &&
           state.latched_mods == 0 && state.locked_mods == 0;
}

bool XTestKeyboard::keysReleased() {
    using namespace std::chrono_literals;
    const auto deadline = std::chrono::steady_clock::now() + releaseWait_;
    while (!noKeyDown(d_)) {
        if (std::chrono::steady_clock::now() >= deadline || linux_desktop::stopRequested()) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

void XTestKeyboard::watchKeymap() {
    const unsigned mask = XkbMapNotifyMask | XkbNewKeyboardNotifyMask;
    XkbSelectEvents(d_, XkbUseCoreKbd, mask, mask);
    XkbSelectEventDetails(d_, XkbUseCoreKbd, XkbStateNotify, XkbGroupStateMask, XkbGroupStateMask);
}

void XTestKeyboard::drain() {
    while (XPending(d_)) {
        XEvent e;
        XNextEvent(d_, &e);
    }
}

bool XTestKeyboard::changed() {
    while (XPending(d_)) {
        XEvent e;
        XNextEvent(d_, &e);
        note(e);
    }
    const bool result = mapChanged_;
    mapChanged_ = false;
    return result;
}

void XTestKeyboard::note(const XEvent& e) {
    if (e.type == xkbEventBase_ + XkbEventCode) {
        mapChanged_ = true;
    }
}

void XTestKeyboard::press(std::uint32_t keycode, bool down) {
    XTestFakeKeyEvent(d_, keycode, down ? True : False, CurrentTime);
    unflushed_ += kFakeInputBytes;
}

void XTestKeyboard::flush(bool sync) {
    if (sync) {
        XSync(d_, False);
    } else {
        XFlush(d_);
    }
    unflushed_ = 0;
}

} // namespace tolvane::platform::x11
