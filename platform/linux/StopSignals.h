#pragma once

namespace tolvane::platform::linux_desktop {

// SIGTERM, SIGINT and SIGHUP ask the program to end: the handler only records the request
// and writes a byte to a pipe. Typing checks stopRequested() between keys, stops, and puts
// the keyboard back; the event loop watches stopSignalFd() and ends the program.
void installStopSignals();
bool stopRequested();
// The read end of the pipe, or -1 before installStopSignals().
int stopSignalFd();
// Forgets a request (tests only).
void clearStopRequest();

} // namespace tolvane::platform::linux_desktop
