#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace tolvane::platform::linux_desktop {

// What /proc tells of a process.
struct ProcessStat {
    pid_t parent = 0;
    unsigned long long startTime = 0; // clock ticks after boot; 0 when unknown
    unsigned long long cpuTime = 0;   // clock ticks run, in the process and in the kernel
};

// The fields of a /proc/<pid>/stat line; the name in parentheses may hold anything,
// parentheses and blanks included. Zeros when the line cannot be read.
ProcessStat parseStat(std::string_view line);
ProcessStat statOf(pid_t pid);

// A small file of /proc, whole (at most 64 KiB); empty when it cannot be read, as when its
// process ends between the opening and the reading.
std::string readProcFile(const std::string& path);

// Every process running now, with its start time (a later process given a recycled id has
// another start time).
std::map<pid_t, unsigned long long> runningProcesses();

// Whether pid is ancestor or one of its descendants (bounded walk up the parents).
bool descendsFrom(pid_t pid, pid_t ancestor);

// Processor time used by a program: the process and those it started that still run.
unsigned long long treeCpuTime(pid_t root);

// Whether a program that has just shown its window is still busy starting, look after look:
// a program near idle uses at most a tick or two of the processor between two looks 50 ms
// apart; one still loading (LibreOffice for most of a second after its window comes up) uses
// more, and drops the keys it is sent meanwhile.
class BusyWatch {
public:
    explicit BusyWatch(pid_t root) : root_(root), last_(treeCpuTime(root)) {}
    // Whether it used more than a near-idle program since the last look.
    bool busySinceLastLook();

private:
    pid_t root_;
    unsigned long long last_;
};

// Waits until the program and those it runs have been near idle for `quiet`, for `limit` at most.
// look() runs between two looks and waits there about 50 ms (reading events); false gives up.
enum class Quiet { Yes, GaveUp, TimedOut };
Quiet waitUntilQuiet(pid_t program, std::chrono::milliseconds quiet,
                     std::chrono::milliseconds limit, const std::function<bool()>& look);

// The resolved path of the process's executable; empty when it cannot be read.
std::string executableOf(pid_t pid);

// The children of this process that run this program (a path, resolved before comparing).
std::vector<pid_t> childrenRunning(const std::string& program);

// Collects a child that has ended, or ends within `limit`, so that no entry of it stays in the
// process table; false when it still runs.
bool collect(pid_t child, std::chrono::milliseconds limit);

// Whether the process has a shared library whose file name begins so mapped; nothing when its
// memory map cannot be read.
std::optional<bool> loadsLibrary(pid_t pid, std::string_view prefix);

} // namespace tolvane::platform::linux_desktop
