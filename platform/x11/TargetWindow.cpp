#include "platform/x11/TargetWindow.h"

#include "platform/Typing.h"
#include "platform/linux/ProcessLauncher.h"
#include "platform/linux/Processes.h"
#include "platform/linux/StopSignals.h"
#include "platform/x11/X11Display.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <poll.h>
#include <set>
#include <thread>
#include <utility>

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
    windowType_ = XInternAtom(d_, "_NET_WM_WINDOW_TYPE", False);
    typeNormal_ = XInternAtom(d_, "_NET_WM_WINDOW_TYPE_NORMAL", False);
    typeDialog_ = XInternAtom(d_, "_NET_WM_WINDOW_TYPE_DIALOG", False);
    netWmName_ = XInternAtom(d_, "_NET_WM_NAME", False);
}

void TargetWindow::pause(std::chrono::milliseconds time) {
    if (waits_.meanwhile) {
        waits_.meanwhile();
    }
    std::this_thread::sleep_for(time);
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

Window TargetWindow::candidate(const LaunchResult& target, const std::vector<Window>& windows,
                               const std::set<unsigned long>& old,
                               const std::map<pid_t, unsigned long long>& processesBefore) {
    using namespace linux_desktop;
    for (Window w : windows) {
        const auto owner = static_cast<pid_t>(cardinal(d_, w, wmPid_));
        if (owner > 0 && descendsFrom(owner, target.pid) && viewable(w) && takesTyping(w)) {
            return w;
        }
    }
    // A program that hands the request to an instance of itself already running (LibreOffice,
    // browsers, editors that keep one process): a new window that goes by one of the names
    // declared for what was started. A window of any other program is left alone.
    for (Window w : windows) {
        if (!old.count(w) && !target.declaredNames.empty() &&
            (typing::windowGoesByOneOf(className(w, true), target.declaredNames) ||
             typing::windowGoesByOneOf(className(w, false), target.declaredNames)) &&
            viewable(w) && takesTyping(w)) {
            return w;
        }
    }
    const Window active = activeWindow();
    if (active && !old.count(active) && !target.executable.empty() &&
        std::find(windows.begin(), windows.end(), active) != windows.end() && viewable(active) &&
        takesTyping(active)) {
        const auto owner = static_cast<pid_t>(cardinal(d_, active, wmPid_));
        const auto known = processesBefore.find(owner);
        if (owner > 0 && known != processesBefore.end() &&
            known->second == statOf(owner).startTime && childHasExited(target.pid) &&
            executableOf(owner) == target.executable) {
            return active;
        }
    }
    return 0;
}

typing::Sight TargetWindow::look(const LaunchResult& target,
                                 const std::set<unsigned long>& windowsBefore,
                                 const std::map<pid_t, unsigned long long>& processesBefore) {
    if (std::exchange(looked_, true)) {
        pause(typing::kLookEvery);
    }
    typing::Sight sight;
    const Window w = candidate(target, topLevels(), windowsBefore, processesBefore);
    const std::string title = w ? this->title(w) : std::string();
    if (w != seenTitleOf_ || title != seenTitle_) {
        if (w && w != seenTitleOf_) {
            XSelectInput(d_, w, PropertyChangeMask | StructureNotifyMask);
        }
        seenTitleOf_ = w;
        seenTitle_ = title;
        sight.stirred = true;
    }
    while (XPending(d_)) {
        XEvent e;
        XNextEvent(d_, &e);
        if (w && e.xany.window == w) {
            sight.stirred = true;
        }
    }
    if (w != window_) {
        window_ = w;
        lastFocus_ = 0;
        lastAnswer_ = false;
    }
    sight.shown = w != 0;
    if (const auto owner = w ? static_cast<pid_t>(cardinal(d_, w, wmPid_)) : 0; owner > 0) {
        sight.cpuTicks = linux_desktop::statOf(owner).cpuTime;
    }
    return sight;
}

bool TargetWindow::takesTyping(Window w) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    bool takes = true; // a window that names no type is a normal one
    if (XGetWindowProperty(d_, w, windowType_, 0, 1, False, XA_ATOM, &type, &format, &count, &after,
                           &data) == Success &&
        data) {
        if (count > 0 && format == 32) {
            const Atom first = reinterpret_cast<const unsigned long*>(data)[0];
            takes = first == typeNormal_ || first == typeDialog_;
        }
        XFree(data);
    }
    return takes;
}

std::string TargetWindow::className(Window w, bool instance) {
    XClassHint hint{};
    std::string name;
    if (XGetClassHint(d_, w, &hint)) {
        const char* part = instance ? hint.res_name : hint.res_class;
        name = part ? part : "";
        XFree(hint.res_name);
        XFree(hint.res_class);
    }
    return name;
}

std::string TargetWindow::title(Window w) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string text;
    if (XGetWindowProperty(d_, w, netWmName_, 0, 256, False, AnyPropertyType, &type, &format,
                           &count, &after, &data) == Success &&
        data) {
        text.assign(reinterpret_cast<const char*>(data), count);
        XFree(data);
    }
    return text;
}

std::vector<std::string> TargetWindow::names() {
    std::vector<std::string> found;
    XClassHint hint{};
    if (window_ && XGetClassHint(d_, window_, &hint)) {
        for (char* name : {hint.res_name, hint.res_class}) {
            if (name) {
                found.emplace_back(name);
                XFree(name);
            }
        }
    }
    return found;
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
        pause(20ms);
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
        if (waits_.meanwhile) {
            waits_.meanwhile();
        }
        // Woken by the answer as soon as it comes, and at least every 20 ms to look at the
        // stop request.
        pollfd connection{ConnectionNumber(d_), POLLIN, 0};
        poll(&connection, 1, 20);
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
