#pragma once

namespace tolvane::platform::linux_desktop {

// No core dump and no ptrace attach by other processes of the user: the memory of this
// process holds passwords and the key they are coded with.
void forbidCoreDumps();

// Whether the process is marked so (for tests).
bool coreDumpsForbidden();

// The desktop portal learns who calls it by reading /proc/<pid>/root, which a process marked
// as above keeps from it, and then refuses the call. While alive, the mark is lifted (core
// dumps stay off): for the moment of such a call only.
class ReadableByThePortal {
public:
    ReadableByThePortal();
    ~ReadableByThePortal();
    ReadableByThePortal(const ReadableByThePortal&) = delete;
    ReadableByThePortal& operator=(const ReadableByThePortal&) = delete;

private:
    bool wasForbidden_;
};

} // namespace tolvane::platform::linux_desktop
