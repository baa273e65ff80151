#pragma once

namespace tolvane::platform::linux_desktop {

// No core dump and no ptrace attach by other processes of the user: the memory of this
// process holds passwords and the key they are coded with.
void forbidCoreDumps();

// Whether the process is marked so (for tests).
bool coreDumpsForbidden();

} // namespace tolvane::platform::linux_desktop
