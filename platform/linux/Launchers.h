#pragma once

#include <string>
#include <vector>

namespace tolvane::platform::linux_desktop {

// What a launcher script runs. Programs are often started through a shell script of a few
// lines (/usr/bin/localc, /usr/bin/chromium, a person's own, a flatpak's exported command)
// whose windows go by the name of the program it runs, not its own.

// The commands this file runs when it is a script ("#!" first, at most 64 KiB): each line's
// command with its arguments up to the first the script fills in itself ("$@", a variable, a
// redirection), past `exec`, `env` and NAME=value assignments. A command that is itself such
// a script is read in turn, a few levels deep. Empty for any other file.
std::vector<std::vector<std::string>> commandsRunBy(const std::string& path);

// The names declared for the windows of what this program runs, through its scripts: those of
// the desktop entries that run one of its commands with the same first arguments.
std::vector<std::string> declaredWindowNamesThrough(const std::string& path);

} // namespace tolvane::platform::linux_desktop
