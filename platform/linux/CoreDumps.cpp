#include "platform/linux/CoreDumps.h"

#include <sys/prctl.h>
#include <sys/resource.h>

namespace tolvane::platform::linux_desktop {

void forbidCoreDumps() {
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    const rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
}

bool coreDumpsForbidden() {
    return prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) == 0;
}

} // namespace tolvane::platform::linux_desktop
