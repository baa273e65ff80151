#pragma once

#include <X11/Xlib.h>

#include <memory>
#include <vector>

namespace tolvane::platform::x11 {

// While alive, X errors on our own connection (a window that went away) are noted and passed
// over, not fatal.
class ErrorHandlerScope {
public:
    ErrorHandlerScope();
    ~ErrorHandlerScope();
    ErrorHandlerScope(const ErrorHandlerScope&) = delete;
    ErrorHandlerScope& operator=(const ErrorHandlerScope&) = delete;

private:
    XErrorHandler previous_;
};

// While alive, the server serves no other client: what is read and written meanwhile is one
// step for everyone else.
class ServerGrab {
public:
    explicit ServerGrab(Display* d) : d_(d) { XGrabServer(d_); }
    ~ServerGrab() {
        XUngrabServer(d_);
        XFlush(d_);
    }
    ServerGrab(const ServerGrab&) = delete;
    ServerGrab& operator=(const ServerGrab&) = delete;

private:
    Display* d_;
};

struct DisplayCloser {
    void operator()(Display* d) const { XCloseDisplay(d); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

// A window-list property (_NET_CLIENT_LIST, _NET_ACTIVE_WINDOW); empty when absent.
std::vector<Window> windowList(Display* d, Window w, Atom property);
// A 32-bit property's single value (_NET_WM_PID); 0 when absent.
unsigned long cardinal(Display* d, Window w, Atom property);
// The server's time now, as the next event would carry it.
Time serverTime(Display* d);

} // namespace tolvane::platform::x11
