#pragma once

namespace tolvane::platform::linux_desktop {

// No core dump and no ptrace attach by other processes of the user: the memory of this
// process holds passwords and the key they are coded with.
void forbidCoreDumps();

// Whether the process is marked so (for tests).
bool coreDumpsForbidden();

// Whether a debugger or tracer is attached to this process now (TracerPid in its status).
bool tracerAttached();

// The desktop portal learns who calls it by reading /proc/<pid>/root, which a process marked
// as above keeps from it, and then refuses the call; it remembers the caller afterwards. While
// alive, the mark is lifted (core dumps stay off), for the moment of such a call only, and
// never while a tracer is attached (which would keep reading afterwards).
class ReadableByThePortal {
public:
    ReadableByThePortal();
    ~ReadableByThePortal();
    ReadableByThePortal(const ReadableByThePortal&) = delete;
    ReadableByThePortal& operator=(const ReadableByThePortal&) = delete;

private:
    bool lifted_ = false;
};

} // namespace tolvane::platform::linux_desktop
