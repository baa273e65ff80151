#pragma once

#include "platform/ProgramLauncher.h"
#include "platform/linux/TypingRun.h"

#include <X11/Xlib.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tolvane::platform::x11 {

// The window keystrokes are meant for: found among the top-level windows, activated, watched
// for the focus, and asked whether it has read what was sent.
class TargetWindow {
public:
    struct Waits {
        std::chrono::milliseconds focus;  // for it to take the focus once asked
        std::chrono::milliseconds settle; // for it to read what was typed
        std::function<void()> meanwhile;  // run while waiting, never during a server grab
    };

    TargetWindow(Display* d, Waits waits);

    // The top-level windows: the window manager's list, or without one the viewable
    // children of the root.
    std::vector<Window> topLevels();
    Window activeWindow();

    // One look for the started program's window: by its process, or for a program that hands
    // the request to an instance of itself already running (and then exits), a new window of
    // that same program, owned by a process that was running before the launch, that comes up
    // and takes the focus. Any other window, a program the user starts meanwhile included, is
    // never a target; nor is a window that takes no typing (a splash screen, a tool palette, a
    // notification). Says whether it changed since the last look (another window, a new title,
    // a property of its own set, as LibreOffice does once its document is laid out), and what
    // its program has used of the processor.
    typing::Sight look(const LaunchResult& target, const std::set<unsigned long>& windowsBefore,
                       const std::map<pid_t, unsigned long long>& processesBefore);
    Window window() const { return window_; }
    // The names the window goes by: its WM_CLASS, instance then class.
    std::vector<std::string> names();

    // Asks the window manager to activate the window (a client message, as a pager does;
    // keystrokes themselves are never sent as events), then waits for the focus.
    bool activate();

    // Whether the keyboard focus is on the window or inside it. One round trip; the windows
    // already seen are remembered, so the check stays cheap enough to make before every key.
    bool holdsFocus();
    bool viewable();

    // Answers to pings come back to the root window: GTK sends them to the clients that
    // select SubstructureNotify there, Qt to those that select StructureNotify.
    void listenForAnswers();

    // Waits until the window has read everything sent so far: the answer to a ping comes
    // after the keys before it, and carries back the ping's own timestamp, never used twice.
    // Without ping support, a short fixed wait. False when it did not answer in time (or the
    // program is asked to end): what it has read is then unknown. Other events read meanwhile
    // go to the given function.
    bool settle(const std::function<void(const XEvent&)>& otherEvent);

private:
    void pause(std::chrono::milliseconds time);
    bool windowManager();
    bool viewable(Window w);
    bool takesTyping(Window w);
    std::string title(Window w);
    // Its WM_CLASS: the instance name, or the class name.
    std::string className(Window w, bool instance);
    Window candidate(const LaunchResult& target, const std::vector<Window>& windows,
                     const std::set<unsigned long>& old,
                     const std::map<pid_t, unsigned long long>& processesBefore);
    bool supportsPing();

    Display* d_;
    Waits waits_;
    Window root_ = 0;
    Window window_ = 0;
    Atom clientList_, wmPid_, activeWindow_, wmProtocols_, ping_, supportingCheck_;
    Atom windowType_, typeNormal_, typeDialog_, netWmName_;
    Window seenTitleOf_ = 0; // the window last seen, and its title then
    std::string seenTitle_;
    bool looked_ = false;
    Window lastFocus_ = 0;
    bool lastAnswer_ = false;
};

} // namespace tolvane::platform::x11
