#pragma once

#include <string>
#include <vector>

namespace tolvane::platform::linux_desktop {

// The desktop's application entries and the commands they run, as GIO reads them for every
// desktop: the MIME application lists (the desktop's own first, removed associations), the
// entries' folders and ids (kde4-kate.desktop is kde4/kate.desktop), hidden entries and those
// whose TryExec is missing left out.

struct DesktopEntry {
    std::string id; // "org.xfce.mousepad.desktop"
    std::string file;
    std::string name;
    std::string icon;
    std::string exec; // escapes undone, field codes kept
    bool terminal = false;
    std::string startupWmClass;
    std::vector<std::string> categories;
};

// The entries that open text/plain: the default first, then the others the desktop lists.
std::vector<DesktopEntry> textEntries();

// The entries whose Exec runs this program (its full path).
std::vector<DesktopEntry> entriesRunning(const std::string& program);

// Splits a desktop entry's Exec value (already unescaped) into arguments by its quoting
// rules, then expands the field codes for a start without a file: an argument holding a
// file or URL code (%f, %F, %u, %U, alone or inside, as in --file=%f) is dropped, %i becomes
// --icon and the icon, %c the name, %k the entry's file, %% a percent sign; deprecated
// codes are removed.
std::vector<std::string> execArguments(const std::string& exec, const DesktopEntry& entry);

// The names an entry declares for its program's windows: its id without ".desktop", and its
// StartupWMClass when it has one.
std::vector<std::string> declaredWindowNames(const DesktopEntry& entry);

// The names declared by the entries that run this program, for a program started by its path.
std::vector<std::string> declaredWindowNamesOf(const std::string& program);

// The full path a command name runs (looked up in PATH when it has no slash; an empty PATH
// entry is not the current folder), or empty.
std::string resolve(const std::string& program);

} // namespace tolvane::platform::linux_desktop
