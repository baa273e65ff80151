#pragma once

#include <string>
#include <vector>

namespace tolvane::platform::linux_desktop {

// The desktop's application entries and the commands they run (freedesktop.org desktop entries
// and MIME application lists).

// The data folders: XDG_DATA_HOME, then XDG_DATA_DIRS.
std::vector<std::string> dataDirs();

// The desktop entries named as default for text/plain, in the order of the mimeapps.list files.
std::vector<std::string> defaultTextEntries();

// A string value of an entry's [Desktop Entry] group, its escapes undone; empty when absent.
std::string entryValue(const std::string& file, const char* key);

struct DesktopEntry {
    std::string file;
    std::string name;
    std::string icon;
};

// Splits a desktop entry's Exec value (already unescaped) into arguments by its quoting
// rules, then expands the field codes for a start without a file: an argument holding a
// file or URL code (%f, %F, %u, %U, alone or inside, as in --file=%f) is dropped, %i becomes
// --icon and the icon, %c the name, %k the entry's file, %% a percent sign; deprecated
// codes are removed.
std::vector<std::string> execArguments(const std::string& exec, const DesktopEntry& entry);

// The names an entry declares for its program's windows: its id without ".desktop", and its
// StartupWMClass when it has one.
std::vector<std::string> declaredWindowNames(const std::string& id, const std::string& file);

// The names declared by the entries that run this program (the program of their Exec), for a
// program started by its path.
std::vector<std::string> declaredWindowNamesOf(const std::string& program);

// The full path a command name runs (looked up in PATH when it has no slash), or empty.
std::string resolve(const std::string& program);

} // namespace tolvane::platform::linux_desktop
