#include "platform/x11/TargetWindow.h"

#include "platform/linux/ProcessLauncher.h"
#include "platform/linux/Processes.h"
#include "platform/linux/StopSignals.h"
#include "platform/x11/X11Display.h"

#include <algorithm>
#include <set>
#include <thread>

namespace tolvane::platform::x11 {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using linux_desktop::stopRequested;

// A timestamp no earlier ping of this process carried: an old answer arriving late is not
// taken for the answer to this one. (A timestamp travels as 32 bits; Xlib may give it back
// sign-extended.)
std::uint32_t nextPingStamp() {
    static std::uint32_t last = 0;
    const auto now = static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
            .count());
    last = std::max(last + 1, now);
    return last == 0 ? ++last : last;
}

} // namespace

TargetWindow::TargetWindow(Display* d, Waits waits) : d_(d), waits_(waits) {
    root_ = DefaultRootWindow(d_);
    clientList_ = XInternAtom(d_, "_NET_CLIENT_LIST", False);
    wmPid_ = XInternAtom(d_, "_NET_WM_PID", False);
    activeWindow_ = XInternAtom(d_, "_NET_ACTIVE_WINDOW", False);
    wmProtocols_ = XInternAtom(d_, "WM_PROTOCOLS", False);
    ping_ = XInternAtom(d_, "_NET_WM_PING", False);
    supportingCheck_ = XInternAtom(d_, "_NET_SUPPORTING_WM_CHECK", False);
}

std::vector<Window> TargetWindow::topLevels() {
    std::vector<Window> list = windowList(d_, root_, clientList_);
    if (list.empty() && !windowManager()) {
        Window rootReturn = 0, parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (XQueryTree(d_, root_, &rootReturn, &parent, &children, &count) && children) {
            for (unsigned i = 0; i < count; ++i) {
                XWindowAttributes a{};
                if (XGetWindowAttributes(d_, children[i], &a) && a.map_state == IsViewable &&
                    !a.override_redirect) {
                    list.push_back(children[i]);
                }
            }
            XFree(children);
        }
    }
    return list;
}

bool TargetWindow::windowManager() {
    return cardinal(d_, root_, supportingCheck_) != 0;
}

Window TargetWindow::activeWindow() {
    auto list = windowList(d_, root_, activeWindow_);
    return list.empty() ? 0 : list.front();
}

bool TargetWindow::find(const LaunchResult& target, const std::vector<unsigned long>& windowsBefore,
                        const std::map<pid_t, unsigned long long>& processesBefore) {
    using namespace linux_desktop;
    const pid_t pid = target.pid;
    const auto deadline = Clock::now() + waits_.window;
    const std::set<unsigned long> old(windowsBefore.begin(), windowsBefore.end());
    window_ = 0;
    lastFocus_ = 0;
    lastAnswer_ = false;
    while (Clock::now() < deadline && !stopRequested()) {
        const std::vector<Window> windows = topLevels();
        for (Window w : windows) {
            const auto owner = static_cast<pid_t>(cardinal(d_, w, wmPid_));
            if (owner > 0 && descendsFrom(owner, pid) && viewable(w)) {
                window_ = w;
                return true;
            }
        }
        const Window active = activeWindow();
        if (active && !old.count(active) && !target.executable.empty() &&
            std::find(windows.begin(), windows.end(), active) != windows.end() &&
            viewable(active)) {
            const auto owner = static_cast<pid_t>(cardinal(d_, active, wmPid_));
            const auto known = processesBefore.find(owner);
            if (owner > 0 && known != processesBefore.end() &&
                known->second == statOf(owner).startTime && childHasExited(pid) &&
                executableOf(owner) == target.executable) {
                window_ = active;
                return true;
            }
        }
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

bool TargetWindow::viewable() {
    return viewable(window_);
}

bool TargetWindow::viewable(Window w) {
    XWindowAttributes a{};
    return XGetWindowAttributes(d_, w, &a) && a.map_state == IsViewable;
}

bool TargetWindow::holdsFocus() {
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(d_, &focus, &revert);
    if (focus == lastFocus_) {
        return lastAnswer_;
    }
    lastFocus_ = focus;
    lastAnswer_ = false;
    for (int depth = 0; focus && focus != PointerRoot && depth < 64; ++depth) {
        if (focus == window_) {
            lastAnswer_ = true;
            break;
        }
        Window rootReturn = 0, parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(d_, focus, &rootReturn, &parent, &children, &count)) {
            break;
        }
        if (children) {
            XFree(children);
        }
        if (parent == rootReturn) {
            break;
        }
        focus = parent;
    }
    return lastAnswer_;
}

bool TargetWindow::activate() {
    if (windowManager()) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = window_;
        e.xclient.message_type = activeWindow_;
        e.xclient.format = 32;
        e.xclient.data.l[0] = 2; // request from a user's tool
        e.xclient.data.l[1] = CurrentTime;
        XSendEvent(d_, root_, False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
    } else {
        XRaiseWindow(d_, window_);
        XSetInputFocus(d_, window_, RevertToParent, CurrentTime);
    }
    XSync(d_, False);
    const auto deadline = Clock::now() + waits_.focus;
    while (Clock::now() < deadline && !linux_desktop::stopRequested()) {
        if (holdsFocus()) {
            return true;
        }
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

void TargetWindow::listenForAnswers() {
    XSelectInput(d_, root_, SubstructureNotifyMask | StructureNotifyMask);
}

bool TargetWindow::settle(const std::function<void(const XEvent&)>& otherEvent) {
    XSync(d_, False);
    if (!supportsPing()) {
        for (int i = 0; i < 15 && !stopRequested(); ++i) {
            std::this_thread::sleep_for(20ms);
        }
        return !stopRequested();
    }
    const std::uint32_t stamp = nextPingStamp();
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = window_;
    e.xclient.message_type = wmProtocols_;
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(ping_);
    e.xclient.data.l[1] = static_cast<long>(stamp);
    e.xclient.data.l[2] = static_cast<long>(window_);
    XSendEvent(d_, window_, False, NoEventMask, &e);
    XFlush(d_);
    const auto deadline = Clock::now() + waits_.settle;
    while (Clock::now() < deadline && !stopRequested()) {
        while (XPending(d_)) {
            XEvent reply;
            XNextEvent(d_, &reply);
            if (reply.type == ClientMessage && reply.xclient.message_type == wmProtocols_ &&
                static_cast<Atom>(reply.xclient.data.l[0]) == ping_ &&
                static_cast<std::uint32_t>(reply.xclient.data.l[1]) == stamp &&
                static_cast<Window>(reply.xclient.data.l[2]) == window_) {
                return true;
            }
            otherEvent(reply);
        }
        std::this_thread::sleep_for(2ms);
    }
    return false;
}

bool TargetWindow::supportsPing() {
    Atom* protocols = nullptr;
    int count = 0;
    bool found = false;
    if (XGetWMProtocols(d_, window_, &protocols, &count) && protocols) {
        found = std::find(protocols, protocols + count, ping_) != protocols + count;
        XFree(protocols);
    }
    return found;
}

} // namespace tolvane::platform::x11
