#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace tolvane::platform {

struct LaunchResult {
    bool started = false;
    pid_t pid = 0;
    std::string program;    // what was started, for messages
    std::string executable; // its full path, when known
    std::string error;      // French, when not started
    // The names its windows go by that its desktop entry declares (the entry's id, its
    // StartupWMClass), where one runs it: they tell its window also when another process opens
    // it, as a running instance the program hands its document to.
    std::vector<std::string> declaredNames;
};

// The spreadsheet a program is, for the keys that make it keep a field as text.
enum class Spreadsheet { None, LibreOffice, Gnumeric, Other };

// Which spreadsheet a window is by the names it goes by (X11 WM_CLASS, Wayland app id), as
// LibreOffice Calc and Gnumeric name theirs however they were started (a launcher script of
// another name, a snap, a flatpak); None for any other window.
Spreadsheet spreadsheetOfWindow(const std::vector<std::string>& windowNames);

// Starts programs with a normal window, without waiting for them.
class ProgramLauncher {
public:
    virtual ~ProgramLauncher() = default;
    // The user's plain-text editor, in a new empty document. environment: NAME=value added to
    // the program's.
    virtual LaunchResult startTextEditor(const std::vector<std::string>& environment = {}) = 0;
    // The program at this path, started directly (no shell).
    virtual LaunchResult startProgram(const std::string& path,
                                      const std::vector<std::string>& environment = {}) = 0;
    // Which spreadsheet the program at this path is, by its name or its desktop entry; None
    // for any other program.
    virtual Spreadsheet spreadsheetAt(const std::string&) { return Spreadsheet::None; }
    // No more keystrokes are meant for this program: it is reaped whenever it ends.
    virtual void release(const LaunchResult& started) = 0;
};

} // namespace tolvane::platform
