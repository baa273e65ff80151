#include "KeyboardGrabber.h"

#include <X11/Xlib.h>

#include <chrono>
#include <thread>

namespace tolvane::e2e {

bool grabKeyboardUntil(const std::atomic<bool>& done, std::atomic<int>& keyPresses) {
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        return false;
    }
    int status = GrabNotViewable;
    for (int i = 0; i < 100 && status != GrabSuccess; ++i) {
        status = XGrabKeyboard(d, DefaultRootWindow(d), False, GrabModeAsync, GrabModeAsync,
                               CurrentTime);
        if (status != GrabSuccess) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    while (!done) {
        while (XPending(d)) {
            XEvent e;
            XNextEvent(d, &e);
            if (e.type == KeyPress) {
                ++keyPresses;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    XUngrabKeyboard(d, CurrentTime);
    XCloseDisplay(d);
    return status == GrabSuccess;
}

} // namespace tolvane::e2e
