#pragma once

namespace tolvane::platform::linux_desktop {

// No core dump and no ptrace attach by other processes of the user: the memory of this
// process holds passwords and the key they are coded with. The mark stays for the whole run
// (the desktop portal, which must read /proc/<pid>/root of its callers, is spoken to through a
// relay process instead).
void forbidCoreDumps();

// Whether the process is marked so (for tests).
bool coreDumpsForbidden();

} // namespace tolvane::platform::linux_desktop
