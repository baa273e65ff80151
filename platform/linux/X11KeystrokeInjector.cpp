#include "platform/linux/X11KeystrokeInjector.h"

#include "platform/Wipe.h"
#include "platform/linux/ProcessLauncher.h"
#include "platform/linux/StopSignals.h"
#include "platform/xkb/KeyPlanner.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <signal.h>
#include <thread>
#include <unistd.h>

namespace tolvane::platform::linux_desktop {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// X errors on our own connection (a window that went away) are expected: note them, go on.
int ignoreXError(Display*, XErrorEvent*) {
    return 0;
}

class ErrorHandlerScope {
public:
    ErrorHandlerScope() : previous_(XSetErrorHandler(ignoreXError)) {}
    ~ErrorHandlerScope() { XSetErrorHandler(previous_); }
    ErrorHandlerScope(const ErrorHandlerScope&) = delete;
    ErrorHandlerScope& operator=(const ErrorHandlerScope&) = delete;

private:
    XErrorHandler previous_;
};

struct DisplayCloser {
    void operator()(Display* d) const { XCloseDisplay(d); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

bool waylandSession() {
    const char* type = std::getenv("XDG_SESSION_TYPE");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (type && std::string(type) == "wayland") || (wayland && *wayland);
}

std::vector<Window> windowList(Display* d, Window root, Atom property) {
    std::vector<Window> windows;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, root, property, 0, 65536, False, XA_WINDOW, &type, &format, &count,
                           &after, &data) == Success &&
        data) {
        if (type == XA_WINDOW && format == 32) {
            const auto* w = reinterpret_cast<const unsigned long*>(data);
            windows.assign(w, w + count);
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

struct ProcessStat {
    pid_t parent = 0;
    unsigned long long startTime = 0; // clock ticks after boot; 0 when unknown
};

ProcessStat statOf(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string content((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = content.rfind(')');
    ProcessStat result;
    if (close == std::string::npos) {
        return result;
    }
    // After the name: state, ppid, then 17 fields before the start time.
    char state = 0;
    int ppid = 0;
    unsigned long long start = 0;
    if (std::sscanf(content.c_str() + close + 1,
                    " %c %d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %*d %*d "
                    "%llu",
                    &state, &ppid, &start) >= 2) {
        result.parent = ppid;
        result.startTime = start;
    }
    return result;
}

pid_t parentOf(pid_t pid) {
    return statOf(pid).parent;
}

// Every process running now, with its start time (a later process given a recycled id has
// another start time).
std::map<pid_t, unsigned long long> runningProcesses() {
    std::map<pid_t, unsigned long long> processes;
    struct DirCloser {
        void operator()(DIR* dir) const { closedir(dir); }
    };
    std::unique_ptr<DIR, DirCloser> proc(opendir("/proc"));
    if (!proc) {
        return processes;
    }
    while (const dirent* entry = readdir(proc.get())) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid > 0 && end && *end == 0) {
            processes[static_cast<pid_t>(pid)] = statOf(static_cast<pid_t>(pid)).startTime;
        }
    }
    return processes;
}

bool descendsFrom(pid_t pid, pid_t ancestor) {
    for (int depth = 0; pid > 1 && depth < 32; ++depth) {
        if (pid == ancestor) {
            return true;
        }
        pid = parentOf(pid);
    }
    return false;
}

std::string executableOf(pid_t pid) {
    char real[PATH_MAX];
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    const ssize_t n = readlink(link.c_str(), real, sizeof real - 1);
    if (n <= 0) {
        return {};
    }
    real[n] = 0;
    return real;
}

bool alive(pid_t pid) {
    return pid > 0 && !childHasExited(pid);
}

struct DescFree {
    void operator()(XkbDescPtr desc) const { XkbFreeKeyboard(desc, 0, True); }
};
using DescPtr = std::unique_ptr<XkbDescRec, DescFree>;

// Every per-key component of a keymap: what lending a key may change, and what is given back.
constexpr unsigned kKeyComponents = XkbKeySymsMask | XkbKeyActionsMask | XkbKeyBehaviorsMask |
                                    XkbExplicitComponentsMask | XkbModifierMapMask |
                                    XkbVirtualModMapMask;

// The live keymap and lock state, and the spare keys lent for a delivery; everything is put
// back as it was when the session ends, however it ends.
class KeymapSession {
public:
    explicit KeymapSession(Display* d) : d_(d) {}
    ~KeymapSession() { restore(); }
    KeymapSession(const KeymapSession&) = delete;
    KeymapSession& operator=(const KeymapSession&) = delete;

    bool load() {
        xcb_connection_t* conn = XGetXCBConnection(d_);
        if (!conn || !xkb_x11_setup_xkb_extension(conn, XKB_X11_MIN_MAJOR_XKB_VERSION,
                                                  XKB_X11_MIN_MINOR_XKB_VERSION,
                                                  XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr,
                                                  nullptr, nullptr, nullptr)) {
            return false;
        }
        context_.reset(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
        const int32_t device = xkb_x11_get_core_keyboard_device_id(conn);
        if (!context_ || device < 0) {
            return false;
        }
        keymap_.reset(xkb_x11_keymap_new_from_device(context_.get(), conn, device,
                                                     XKB_KEYMAP_COMPILE_NO_FLAGS));
        XkbStateRec state{};
        if (!keymap_ || XkbGetState(d_, XkbUseCoreKbd, &state) != Success) {
            return false;
        }
        group_ = state.group;
        lockedMods_ = state.locked_mods;
        latchedMods_ = state.latched_mods;
        const unsigned all = XkbAllMapComponentsMask;
        original_.reset(XkbGetMap(d_, all, XkbUseCoreKbd));
        return original_ && original_->map && original_->server && original_->map->modmap;
    }

    xkb_keymap* keymap() const { return keymap_.get(); }
    std::uint32_t group() const { return group_; }

    // The candidates that carry nothing on the server itself: no group, no action, no
    // behaviour, no explicit component, no real or virtual modifier mapping.
    std::vector<std::uint32_t> empty(const std::vector<std::uint32_t>& candidates) const {
        std::vector<std::uint32_t> keys;
        const XkbDescPtr x = original_.get();
        for (std::uint32_t kc : candidates) {
            if (kc < x->min_key_code || kc > x->max_key_code) {
                continue;
            }
            if (XkbKeyNumGroups(x, kc) == 0 && XkbKeyNumSyms(x, kc) == 0 &&
                !XkbKeyHasActions(x, kc) && x->server->behaviors[kc].type == 0 &&
                x->server->c_explicit[kc] == 0 && x->map->modmap[kc] == 0 &&
                x->server->vmodmap[kc] == 0) {
                keys.push_back(kc);
            }
        }
        return keys;
    }

    // Caps Lock and any latched or locked modifier would change what a key types.
    void clearLocks() {
        if (lockedMods_ || latchedMods_) {
            XkbLockModifiers(d_, XkbUseCoreKbd, lockedMods_, 0);
            XkbLatchModifiers(d_, XkbUseCoreKbd, latchedMods_, 0);
            locksCleared_ = true;
        }
    }

    // Lends the spare keys of a segment, in one map change. The change is made on a fresh
    // copy of the live map, so the keys between two spare keys are sent back as they are.
    void bind(const std::vector<xkb::SpareBinding>& bindings) {
        unbind();
        if (bindings.empty()) {
            return;
        }
        DescPtr live(XkbGetMap(d_, XkbKeySymsMask, XkbUseCoreKbd));
        if (!live) {
            return;
        }
        std::vector<KeyCode> keys;
        for (const auto& b : bindings) {
            const auto kc = static_cast<KeyCode>(b.keycode);
            const int width = b.keysyms[1] ? 2 : 1;
            KeySym* syms = XkbResizeKeySyms(live.get(), kc, width);
            if (!syms) {
                continue;
            }
            syms[0] = b.keysyms[0];
            if (width == 2) {
                syms[1] = b.keysyms[1];
            }
            XkbSymMapPtr map = &live->map->key_sym_map[kc];
            map->kt_index[0] = width == 2 ? XkbTwoLevelIndex : XkbOneLevelIndex;
            map->group_info = XkbSetGroupInfo(1, XkbWrapIntoRange, 0);
            map->width = static_cast<unsigned char>(width);
            lent_.push_back(b);
            keys.push_back(kc);
        }
        send(live.get(), keys, XkbKeySymsMask);
        wipeSyms(live.get());
    }

    // Gives back every key lent, whole: symbols, type, actions, behaviour, explicit components
    // and modifier mappings as they were (a key lent carried nothing), in one map change. A
    // key that no longer holds what was lent was rebound by someone else (a new layout): it
    // is theirs now and left alone.
    void unbind() {
        if (lent_.empty()) {
            return;
        }
        DescPtr live(XkbGetMap(d_, XkbAllMapComponentsMask, XkbUseCoreKbd));
        std::vector<KeyCode> keys;
        const XkbDescPtr before = original_.get();
        for (const auto& b : lent_) {
            const auto kc = static_cast<KeyCode>(b.keycode);
            if (!live || !live->server || !live->map->modmap || !holds(live.get(), b)) {
                continue;
            }
            XkbSymMapRec& now = live->map->key_sym_map[kc];
            const XkbSymMapRec& was = before->map->key_sym_map[kc];
            std::copy(std::begin(was.kt_index), std::end(was.kt_index), now.kt_index);
            now.group_info = was.group_info;
            now.width = was.width;
            live->server->key_acts[kc] = before->server->key_acts[kc];
            live->server->behaviors[kc] = before->server->behaviors[kc];
            live->server->c_explicit[kc] = before->server->c_explicit[kc];
            live->server->vmodmap[kc] = before->server->vmodmap[kc];
            live->map->modmap[kc] = before->map->modmap[kc];
            keys.push_back(kc);
        }
        wipeRecords(lent_);
        if (live) {
            send(live.get(), keys, kKeyComponents);
            wipeSyms(live.get());
        }
    }

    // Whether the live keymap, in the live group, still types every key of the segment as it
    // was planned.
    bool stillTypes(const xkb::PlanSegment& segment, const xkb::ModifierKeys& modifiers) {
        xcb_connection_t* conn = XGetXCBConnection(d_);
        std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> fresh(
            xkb_x11_keymap_new_from_device(context_.get(), conn,
                                           xkb_x11_get_core_keyboard_device_id(conn),
                                           XKB_KEYMAP_COMPILE_NO_FLAGS),
            &xkb_keymap_unref);
        XkbStateRec state{};
        if (!fresh || XkbGetState(d_, XkbUseCoreKbd, &state) != Success) {
            return false;
        }
        if (state.group != group_) {
            return false;
        }
        const xkb::ModifierKeys now = xkb::findModifierKeys(fresh.get());
        if (now.shiftKeycode != modifiers.shiftKeycode || now.shiftMask != modifiers.shiftMask ||
            now.level3Keycode != modifiers.level3Keycode ||
            now.level3Mask != modifiers.level3Mask) {
            return false;
        }
        return std::all_of(segment.keys.begin(), segment.keys.end(), [&](const auto& key) {
            return xkb::translate(fresh.get(), group_, modifiers, {}, key.press) == key.character;
        });
    }

    void restore() {
        unbind();
        if (locksCleared_) {
            XkbLatchModifiers(d_, XkbUseCoreKbd, latchedMods_, latchedMods_);
            XkbLockModifiers(d_, XkbUseCoreKbd, lockedMods_, lockedMods_);
            locksCleared_ = false;
        }
        XSync(d_, False);
    }

private:
    // Whether the live map still gives the key exactly what was lent to it.
    static bool holds(XkbDescPtr live, const xkb::SpareBinding& b) {
        const auto kc = static_cast<KeyCode>(b.keycode);
        if (kc < live->min_key_code || kc > live->max_key_code || XkbKeyNumGroups(live, kc) != 1) {
            return false;
        }
        const int width = b.keysyms[1] ? 2 : 1;
        if (XkbKeyGroupsWidth(live, kc) != width) {
            return false;
        }
        const KeySym* syms = XkbKeySymsPtr(live, kc);
        return syms[0] == b.keysyms[0] && (width == 1 || syms[1] == b.keysyms[1]);
    }

    // Sends the given components of the keys from the first to the last of these, from a
    // description, in one request.
    void send(XkbDescPtr from, const std::vector<KeyCode>& keys, unsigned components) {
        if (keys.empty()) {
            return;
        }
        const auto [low, high] = std::minmax_element(keys.begin(), keys.end());
        const KeyCode first = *low;
        const auto count = static_cast<unsigned char>(*high - *low + 1);
        XkbMapChangesRec changes{};
        changes.changed = static_cast<unsigned short>(components);
        changes.first_key_sym = first;
        changes.num_key_syms = count;
        changes.first_key_act = first;
        changes.num_key_acts = count;
        changes.first_key_behavior = first;
        changes.num_key_behaviors = count;
        changes.first_key_explicit = first;
        changes.num_key_explicit = count;
        changes.first_modmap_key = first;
        changes.num_modmap_keys = count;
        changes.first_vmodmap_key = first;
        changes.num_vmodmap_keys = count;
        XkbChangeMap(d_, from, &changes);
        XSync(d_, False);
    }

    // A copy of the map held characters lent: overwritten before it is freed.
    static void wipeSyms(XkbDescPtr desc) {
        if (desc && desc->map && desc->map->syms) {
            wipeBytes(desc->map->syms, desc->map->size_syms * sizeof(KeySym));
        }
    }

    Display* d_;
    std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context_{nullptr,
                                                                        &xkb_context_unref};
    std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap_{nullptr, &xkb_keymap_unref};
    DescPtr original_; // as found
    std::uint32_t group_ = 0;
    unsigned lockedMods_ = 0;
    unsigned latchedMods_ = 0;
    bool locksCleared_ = false;
    std::vector<xkb::SpareBinding> lent_;
};

class Typist {
public:
    Typist(Display* d, const X11KeystrokeInjector::Limits& limits) : d_(d), limits_(limits) {
        root_ = DefaultRootWindow(d_);
        clientList_ = XInternAtom(d_, "_NET_CLIENT_LIST", False);
        wmPid_ = XInternAtom(d_, "_NET_WM_PID", False);
        activeWindow_ = XInternAtom(d_, "_NET_ACTIVE_WINDOW", False);
        wmProtocols_ = XInternAtom(d_, "WM_PROTOCOLS", False);
        ping_ = XInternAtom(d_, "_NET_WM_PING", False);
        supportingCheck_ = XInternAtom(d_, "_NET_SUPPORTING_WM_CHECK", False);
        XkbQueryExtension(d_, nullptr, &xkbEventBase_, nullptr, nullptr, nullptr);
    }

    std::vector<Window> topLevels() {
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

    bool windowManager() { return cardinal(d_, root_, supportingCheck_) != 0; }

    Window activeWindow() {
        auto list = windowList(d_, root_, activeWindow_);
        return list.empty() ? 0 : list.front();
    }

    // The started program's window: by its process, or for a program that hands the request
    // to an instance of itself already running (and then exits), a new window of that same
    // program, owned by a process that was running before the launch, that comes up and takes
    // the focus. Any other window, a program the user starts meanwhile included, is never a
    // target.
    Window findTarget(const LaunchResult& target, const std::vector<unsigned long>& before,
                      const std::map<pid_t, unsigned long long>& processesBefore) {
        const pid_t pid = target.pid;
        const auto deadline = Clock::now() + std::chrono::milliseconds(limits_.windowMs);
        const std::set<unsigned long> old(before.begin(), before.end());
        while (Clock::now() < deadline && !stopRequested()) {
            const std::vector<Window> windows = topLevels();
            for (Window w : windows) {
                const auto owner = static_cast<pid_t>(cardinal(d_, w, wmPid_));
                if (owner > 0 && descendsFrom(owner, pid) && viewable(w)) {
                    return w;
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
                    return active;
                }
            }
            std::this_thread::sleep_for(50ms);
        }
        return 0;
    }

    bool viewable(Window w) {
        XWindowAttributes a{};
        return XGetWindowAttributes(d_, w, &a) && a.map_state == IsViewable;
    }

    // Whether the keyboard focus is on the target or inside it. One round trip; the windows
    // already seen are remembered, so the check stays cheap enough to make before every key.
    bool holdsFocus(Window target) {
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(d_, &focus, &revert);
        if (focus == lastFocus_ && lastTarget_ == target) {
            return lastAnswer_;
        }
        lastFocus_ = focus;
        lastTarget_ = target;
        lastAnswer_ = false;
        for (int depth = 0; focus && focus != PointerRoot && depth < 64; ++depth) {
            if (focus == target) {
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

    // Asks the window manager to activate the window (a client message, as a pager does;
    // keystrokes themselves are never sent as events), then waits for the focus.
    bool activate(Window target) {
        if (windowManager()) {
            XEvent e{};
            e.xclient.type = ClientMessage;
            e.xclient.window = target;
            e.xclient.message_type = activeWindow_;
            e.xclient.format = 32;
            e.xclient.data.l[0] = 2; // request from a user's tool
            e.xclient.data.l[1] = CurrentTime;
            XSendEvent(d_, root_, False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
        } else {
            XRaiseWindow(d_, target);
            XSetInputFocus(d_, target, RevertToParent, CurrentTime);
        }
        XSync(d_, False);
        const auto deadline = Clock::now() + std::chrono::milliseconds(limits_.focusMs);
        while (Clock::now() < deadline && !stopRequested()) {
            if (holdsFocus(target)) {
                return true;
            }
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    // Whether another client holds the keyboard (a menu, a screen locker, a popup). Asked
    // under the server grab: a grab on the focus window itself, released at once, generates
    // no focus event and fails only when the keyboard is grabbed or frozen by someone else.
    bool keyboardGrabbed() {
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(d_, &focus, &revert);
        if (!focus || focus == PointerRoot) {
            return false;
        }
        const int status =
            XGrabKeyboard(d_, focus, False, GrabModeAsync, GrabModeAsync, CurrentTime);
        if (status == GrabSuccess) {
            XUngrabKeyboard(d_, CurrentTime);
            return false;
        }
        return status == AlreadyGrabbed || status == GrabFrozen;
    }

    // Whether no key is down and no modifier is set, latched or locked: between two lines
    // the plan holds nothing, so anything found is the user's and would alter the keys.
    bool keyboardIdle() {
        char keys[32] = {};
        XQueryKeymap(d_, keys);
        if (!std::all_of(std::begin(keys), std::end(keys), [](char k) { return k == 0; })) {
            return false;
        }
        XkbStateRec state{};
        return XkbGetState(d_, XkbUseCoreKbd, &state) == Success && state.base_mods == 0 &&
               state.latched_mods == 0 && state.locked_mods == 0;
    }

    bool keysReleased() {
        const auto deadline = Clock::now() + std::chrono::milliseconds(limits_.releaseMs);
        while (true) {
            char keys[32] = {};
            XQueryKeymap(d_, keys);
            if (std::all_of(std::begin(keys), std::end(keys), [](char k) { return k == 0; })) {
                return true;
            }
            if (Clock::now() >= deadline || stopRequested()) {
                return false;
            }
            std::this_thread::sleep_for(20ms);
        }
    }

    // Any change of map, of keyboard or of group is noticed; typing through XTest alone also
    // switches the core keyboard's source device, which announces itself as a new keyboard:
    // the live map is then compared with the plan rather than trusted or refused.
    void watchKeymap() {
        const unsigned mask = XkbMapNotifyMask | XkbNewKeyboardNotifyMask;
        XkbSelectEvents(d_, XkbUseCoreKbd, mask, mask);
        XkbSelectEventDetails(d_, XkbUseCoreKbd, XkbStateNotify, XkbGroupStateMask,
                              XkbGroupStateMask);
        // Answers to pings come back to the root window: GTK sends them to the clients that
        // select SubstructureNotify there, Qt to those that select StructureNotify.
        XSelectInput(d_, root_, SubstructureNotifyMask | StructureNotifyMask);
        XSync(d_, False);
        drain();
    }

    // Discards what our own requests caused.
    void drain() {
        while (XPending(d_)) {
            XEvent e;
            XNextEvent(d_, &e);
        }
    }

    // True when the keyboard announced a change since the last look.
    bool keyboardEvents() {
        bool changed = mapChanged_;
        mapChanged_ = false;
        while (XPending(d_)) {
            XEvent e;
            XNextEvent(d_, &e);
            if (e.type == xkbEventBase_ + XkbEventCode) {
                changed = true;
            }
        }
        return changed;
    }

    void press(std::uint32_t keycode, bool down) {
        XTestFakeKeyEvent(d_, keycode, down ? True : False, CurrentTime);
        unflushed_ += kFakeInputBytes;
    }

    // Bytes of key requests queued since the last flush. Xlib sends its buffer on its own
    // when it fills up: the caller flushes first, with no key held, so that the server only
    // ever receives whole presses, modifiers released. A process killed between two flushes
    // then leaves no key down.
    std::size_t unflushed() const { return unflushed_; }
    void flush(bool sync = false) {
        if (sync) {
            XSync(d_, False);
        } else {
            XFlush(d_);
        }
        unflushed_ = 0;
    }

    // Waits until the target has read everything sent so far: the answer to a ping comes
    // after the keys before it, and carries back the ping's own timestamp, never used twice.
    // Without ping support, a short fixed wait. False when the target did not answer in time
    // (or the program is asked to end): what it has read is then unknown.
    bool settle(Window target) {
        XSync(d_, False);
        unflushed_ = 0;
        if (!supportsPing(target)) {
            for (int i = 0; i < 15 && !stopRequested(); ++i) {
                std::this_thread::sleep_for(20ms);
            }
            return !stopRequested();
        }
        const std::uint32_t stamp = nextPingStamp();
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = target;
        e.xclient.message_type = wmProtocols_;
        e.xclient.format = 32;
        e.xclient.data.l[0] = static_cast<long>(ping_);
        e.xclient.data.l[1] = static_cast<long>(stamp);
        e.xclient.data.l[2] = static_cast<long>(target);
        XSendEvent(d_, target, False, NoEventMask, &e);
        XFlush(d_);
        const auto deadline = Clock::now() + std::chrono::milliseconds(limits_.settleMs);
        while (Clock::now() < deadline && !stopRequested()) {
            while (XPending(d_)) {
                XEvent reply;
                XNextEvent(d_, &reply);
                if (reply.type == xkbEventBase_ + XkbEventCode) {
                    mapChanged_ = true;
                }
                if (reply.type == ClientMessage && reply.xclient.message_type == wmProtocols_ &&
                    static_cast<Atom>(reply.xclient.data.l[0]) == ping_ &&
                    static_cast<std::uint32_t>(reply.xclient.data.l[1]) == stamp &&
                    static_cast<Window>(reply.xclient.data.l[2]) == target) {
                    return true;
                }
            }
            std::this_thread::sleep_for(2ms);
        }
        return false;
    }

private:
    static constexpr std::size_t kFakeInputBytes = 36; // one XTestFakeInput request
    bool mapChanged_ = false;
    std::size_t unflushed_ = 0;

    // A timestamp no earlier ping of this process carried: an old answer arriving late is
    // not taken for the answer to this one.
    // (A timestamp travels as 32 bits; Xlib may give it back sign-extended.)
    static std::uint32_t nextPingStamp() {
        static std::uint32_t last = 0;
        const auto now = static_cast<std::uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
                .count());
        last = std::max(last + 1, now);
        return last == 0 ? ++last : last;
    }

    bool supportsPing(Window w) {
        Atom* protocols = nullptr;
        int count = 0;
        bool found = false;
        if (XGetWMProtocols(d_, w, &protocols, &count) && protocols) {
            found = std::find(protocols, protocols + count, ping_) != protocols + count;
            XFree(protocols);
        }
        return found;
    }

    Display* d_;
    const X11KeystrokeInjector::Limits& limits_;
    Window root_ = 0;
    Atom clientList_, wmPid_, activeWindow_, wmProtocols_, ping_, supportingCheck_;
    int xkbEventBase_ = 0;
    Window lastFocus_ = 0;
    Window lastTarget_ = 0;
    bool lastAnswer_ = false;
};

// Keys sent under one server grab: a line, or this many.
constexpr std::size_t kChunk = 256;
constexpr int kPauseBetweenGrabsUs = 300;
// Key requests sent at once: far below the smallest request buffer Xlib allows (2,048 bytes),
// so Xlib never sends a part of them on its own. A press takes at most six requests.
constexpr std::size_t kFlushBytes = 1024;
constexpr std::size_t kLongestPressBytes = 6 * 36;

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

void X11KeystrokeInjector::beforeLaunch() {
    windowsBefore_.clear();
    processesBefore_ = runningProcesses();
    const ErrorHandlerScope errors;
    DisplayPtr d(XOpenDisplay(nullptr));
    if (!d) {
        return;
    }
    Typist typist(d.get(), limits_);
    for (Window w : typist.topLevels()) {
        windowsBefore_.push_back(w);
    }
    if (Window active = typist.activeWindow()) {
        windowsBefore_.push_back(active);
    }
}

InjectionResult X11KeystrokeInjector::typeInto(const LaunchResult& target,
                                               const KeystrokeScript& script) {
    const ErrorHandlerScope errors;
    DisplayPtr display(XOpenDisplay(nullptr));
    if (!display) {
        return failure("Aucun affichage X11 n'est accessible : rien n'a été tapé.");
    }
    Display* d = display.get();
    Typist typist(d, limits_);

    // The started program is reaped whenever it ends, not while its window is looked for.
    struct Reaper {
        pid_t pid;
        ~Reaper() { reapWhenExited(pid); }
    } reaper{target.pid};
    const std::string endingBeforeTyping = "Tolvane doit se fermer : rien n'a été tapé.";
    const Window window = typist.findTarget(target, windowsBefore_, processesBefore_);
    if (stopRequested()) {
        return failure(endingBeforeTyping);
    }
    if (!window) {
        return failure("La fenêtre de « " + target.program +
                       " » n'est pas apparue : rien n'a été tapé.");
    }
    if (!typist.activate(window)) {
        if (stopRequested()) {
            return failure(endingBeforeTyping);
        }
        return failure("La fenêtre de « " + target.program +
                       " » n'a pas pris le focus : rien n'a été tapé.");
    }
    if (!typist.keysReleased()) {
        if (stopRequested()) {
            return failure(endingBeforeTyping);
        }
        return failure("Des touches du clavier restent enfoncées : relâchez-les, puis générez à "
                       "nouveau. Rien n'a été tapé.");
    }

    KeymapSession keymap(d);
    if (!keymap.load()) {
        return failure("La disposition du clavier ne peut pas être lue : rien n'a été tapé.");
    }
    const xkb::ModifierKeys modifiers = xkb::findModifierKeys(keymap.keymap());
    xkb::KeyPlan plan =
        xkb::planKeystrokes(keymap.keymap(), keymap.group(), modifiers,
                            keymap.empty(xkb::findSpareKeycodes(keymap.keymap())), script);
    // The plan spells out every password: it is wiped however typing ends.
    struct PlanWiper {
        xkb::KeyPlan& plan;
        ~PlanWiper() {
            for (xkb::PlanSegment& segment : plan.segments) {
                wipeRecords(segment.bindings);
                wipeRecords(segment.keys);
            }
            wipe(plan.untypable);
        }
    } planWiper{plan};
    if (!plan.untypable.empty()) {
        return failure("Ces caractères ne peuvent pas être tapés au clavier : " +
                       describeCharacters(plan.untypable) + ". Rien n'a été tapé.");
    }

    typist.watchKeymap();
    keymap.clearLocks();
    std::uint32_t held = 0;
    auto hold = [&](std::uint32_t mods) {
        const std::pair<std::uint32_t, std::uint32_t> keys[] = {
            {modifiers.shiftMask, modifiers.shiftKeycode},
            {modifiers.level3Mask, modifiers.level3Keycode}};
        for (auto [mask, keycode] : keys) {
            if (!mask || !keycode) {
                continue;
            }
            const bool want = (mods & mask) != 0;
            const bool have = (held & mask) != 0;
            if (want != have) {
                typist.press(keycode, want);
                held = want ? (held | mask) : (held & ~mask);
            }
        }
    };
    // Every key pressed is released before the request buffer goes to the server.
    auto typeKey = [&](const auto& press) {
        if (typist.unflushed() + kLongestPressBytes > kFlushBytes) {
            hold(0);
            typist.flush();
        }
        hold(press.mods);
        typist.press(press.keycode, true);
        typist.press(press.keycode, false);
    };
    auto stop = [&](std::string why) {
        hold(0);
        typist.flush(true);
        return failure(std::move(why));
    };
    const std::string interrupted = "Tolvane doit se fermer : la frappe a été interrompue, "
                                    "vérifiez le texte reçu.";
    const std::string silent = "La fenêtre de « " + target.program +
                               " » ne répond plus : la frappe a été interrompue, vérifiez le "
                               "texte reçu.";
    const std::string changed =
        "La disposition du clavier a changé pendant la frappe : la frappe a été interrompue.";

    typist.flush(true);
    typist.drain();
    bool first = true;
    for (const xkb::PlanSegment& segment : plan.segments) {
        if (!segment.bindings.empty()) {
            if (!first) {
                // Spare keys are rebound only under keys the target has read.
                hold(0);
                if (!typist.settle(window)) {
                    return stop(stopRequested() ? interrupted : silent);
                }
            }
            keymap.bind(segment.bindings);
            typist.drain();
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
                if (!typist.holdsFocus(window)) {
                    if (target.pid > 0 && !alive(target.pid) && !typist.viewable(window)) {
                        return stop("Le programme « " + target.program +
                                    " » s'est fermé : la frappe a été interrompue.");
                    }
                    return stop("La fenêtre de « " + target.program +
                                " » a perdu le focus : la frappe a été interrompue.");
                }
                if (typist.keyboardGrabbed()) {
                    return stop("Un autre programme a pris le clavier (menu, verrouillage de "
                                "l'écran, fenêtre surgissante) : la frappe a été interrompue.");
                }
                if (!typist.keyboardIdle()) {
                    return stop("Une touche du clavier est enfoncée ou un modificateur est actif "
                                "pendant la frappe : la frappe a été interrompue.");
                }
                // A change of layout made before the grab has been announced by now.
                if (typist.keyboardEvents() && !keymap.stillTypes(segment, modifiers)) {
                    return stop(changed);
                }
                for (std::size_t i = begin; i < end; ++i) {
                    if (stopRequested()) {
                        return stop(interrupted);
                    }
                    typeKey(keys[i].press);
                }
                hold(0);
                typist.flush(true);
            }
            begin = end;
            // Let the other clients, the target first, be served between two grabs.
            std::this_thread::sleep_for(std::chrono::microseconds(kPauseBetweenGrabsUs));
        }
    }
    hold(0);
    if (!typist.settle(window)) {
        return stop(stopRequested() ? interrupted : silent);
    }
    // A change after the last key but before the target read it may still have altered it.
    if (typist.keyboardEvents() && !plan.segments.empty() &&
        !keymap.stillTypes(plan.segments.back(), modifiers)) {
        return failure("La disposition du clavier a changé pendant la frappe : vérifiez le "
                       "texte reçu.");
    }
    return InjectionResult{true, {}};
}

} // namespace tolvane::platform::linux_desktop
