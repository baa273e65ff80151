#pragma once

#include "platform/ProgramLauncher.h"

#include <string>
#include <vector>

namespace tolvane::platform::linux_desktop {

// Starts programs with posix_spawn, never through a shell; the editor is the user's default
// application for text/plain, else the first of the usual editors that is installed.
class ProcessLauncher final : public ProgramLauncher {
public:
    // dataDirectories: where Tolvane's own data is installed, in order (the editors' defaults).
    explicit ProcessLauncher(std::vector<std::string> dataDirectories = {})
        : dataDirectories_(std::move(dataDirectories)) {}

    LaunchResult startTextEditor(const std::vector<std::string>& environment = {}) override;
    LaunchResult startProgram(const std::string& path,
                              const std::vector<std::string>& environment = {}) override;
    Spreadsheet spreadsheetAt(const std::string& path) override;
    void release(const LaunchResult& started) override;

    // The command line that opens an empty document in the user's text editor, if any.
    static std::vector<std::string> textEditorCommand();

    // That command, and the names its desktop entry declares for its windows.
    struct TextEditor {
        std::vector<std::string> command;
        std::vector<std::string> declaredNames;
    };
    static TextEditor textEditor();

    // For an editor whose typing aids change what is typed into it (KWrite and Kate close
    // brackets, complete words, copy the indentation of the line above and write spaces for
    // Tab): the folder of Tolvane's defaults for those aids, put beneath the user's own
    // settings (XDG_CONFIG_DIRS), so that the stock editor takes every key as typed. Empty
    // for other programs.
    std::string typingDefaultsFor(const std::string& program) const;

private:
    std::vector<std::string> dataDirectories_;
    LaunchResult spawn(const std::vector<std::string>& argv,
                       const std::vector<std::string>& environment);
};

// A program started here stays our child, unreaped, while keystrokes are meant for it, so
// that its process id cannot be given to another process meanwhile. Whether it has ended
// (for a process that is not our child: whether it is gone).
bool childHasExited(pid_t pid);
// Reaps the child whenever it ends, without waiting for it here.
void reapWhenExited(pid_t pid);

} // namespace tolvane::platform::linux_desktop
