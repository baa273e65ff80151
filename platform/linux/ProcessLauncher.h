#pragma once

#include "platform/ProgramLauncher.h"

#include <string>
#include <vector>

namespace tolvane::platform::linux_desktop {

// Starts programs with posix_spawn, never through a shell; the editor is the user's default
// application for text/plain, else the first of the usual editors that is installed.
class ProcessLauncher final : public ProgramLauncher {
public:
    LaunchResult startTextEditor() override;
    LaunchResult startProgram(const std::string& path) override;

    // The command line that opens an empty document in the user's text editor, if any.
    static std::vector<std::string> textEditorCommand();

private:
    LaunchResult spawn(const std::vector<std::string>& argv);
};

} // namespace tolvane::platform::linux_desktop
