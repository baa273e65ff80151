#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

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

// Every process running now, with its start time (a later process given a recycled id has
// another start time).
std::map<pid_t, unsigned long long> runningProcesses();

// Whether pid is ancestor or one of its descendants (bounded walk up the parents).
bool descendsFrom(pid_t pid, pid_t ancestor);

// The resolved path of the process's executable; empty when it cannot be read.
std::string executableOf(pid_t pid);

// Whether the process has a shared library whose file name begins so mapped; nothing when its
// memory map cannot be read.
std::optional<bool> loadsLibrary(pid_t pid, std::string_view prefix);

} // namespace tolvane::platform::linux_desktop
