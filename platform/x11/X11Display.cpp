#include "platform/x11/X11Display.h"

#include <X11/Xatom.h>

namespace tolvane::platform::x11 {

namespace {

int ignoreXError(Display*, XErrorEvent*) {
    return 0;
}

} // namespace

ErrorHandlerScope::ErrorHandlerScope() : previous_(XSetErrorHandler(ignoreXError)) {}

ErrorHandlerScope::~ErrorHandlerScope() {
    XSetErrorHandler(previous_);
}

std::vector<Window> windowList(Display* d, Window w, Atom property) {
    std::vector<Window> windows;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, w, property, 0, 65536, False, XA_WINDOW, &type, &format, &count,
                           &after, &data) == Success &&
        data) {
        if (type == XA_WINDOW && format == 32) {
            const auto* list = reinterpret_cast<const unsigned long*>(data);
            windows.assign(list, list + count);
        }
        XFree(data);
    }
    return windows;
}

unsigned long cardinal(Display* d, Window w, Atom property) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    unsigned long value = 0;
    if (XGetWindowProperty(d, w, property, 0, 1, False, AnyPropertyType, &type, &format, &count,
                           &after, &data) == Success &&
        data) {
        if (format == 32 && count == 1) {
            value = *reinterpret_cast<const unsigned long*>(data);
        }
        XFree(data);
    }
    return value;
}

Time serverTime(Display* d) {
    // A property changed on a window of our own comes back with the server's time.
    const Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    XSelectInput(d, w, PropertyChangeMask);
    const Atom stamp = XInternAtom(d, "_TOLVANE_TIME", False);
    XChangeProperty(d, w, stamp, XA_STRING, 8, PropModeAppend, nullptr, 0);
    XEvent event{};
    XWindowEvent(d, w, PropertyChangeMask, &event);
    XDestroyWindow(d, w);
    XFlush(d);
    return event.xproperty.time;
}

} // namespace tolvane::platform::x11
