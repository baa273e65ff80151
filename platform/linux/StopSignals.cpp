#include "platform/linux/StopSignals.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <initializer_list>
#include <unistd.h>

namespace tolvane::platform::linux_desktop {

namespace {

volatile std::sig_atomic_t requested = 0;
int pipeEnds[2] = {-1, -1};

extern "C" void onStopSignal(int) {
    const int saved = errno;
    requested = 1;
    if (pipeEnds[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = write(pipeEnds[1], &byte, 1);
    }
    errno = saved;
}

} // namespace

void installStopSignals() {
    if (pipeEnds[0] < 0 && pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipeEnds[0] = pipeEnds[1] = -1;
    }
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
}

bool stopRequested() {
    return requested != 0;
}

int stopSignalFd() {
    return pipeEnds[0];
}

void clearStopRequest() {
    requested = 0;
    if (pipeEnds[0] >= 0) {
        char buffer[64];
        while (read(pipeEnds[0], buffer, sizeof buffer) > 0) {
        }
    }
}

} // namespace tolvane::platform::linux_desktop
