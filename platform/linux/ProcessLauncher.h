#pragma once

#include "platform/ProgramLauncher.h"

#include <string>
#include <vector>

namespace tolvane::platform::linux_desktop {

// Starts programs with posix_spawn, never through a shell; the editor is the user's default
// application for text/plain, else the first of the usual editors that is installed.
class ProcessLauncher final : public ProgramLauncher {
public:
    LaunchResult startTextEditor(const std::vector<std::string>& environment = {}) override;
    LaunchResult startProgram(const std::string& path,
                              const std::vector<std::string>& environment = {}) override;
    void release(const LaunchResult& started) override;

    // The command line that opens an empty document in the user's text editor, if any.
    static std::vector<std::string> textEditorCommand();

    // That command, and the names its desktop entry declares for its windows.
    struct TextEditor {
        std::vector<std::string> command;
        std::vector<std::string> declaredNames;
    };
    static TextEditor textEditor();

private:
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
