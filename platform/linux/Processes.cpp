#include "platform/linux/Processes.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tolvane::platform::linux_desktop {

ProcessStat parseStat(std::string_view line) {
    ProcessStat result;
    // The name ends at the last parenthesis: a name may hold ") " itself.
    const auto close = line.rfind(')');
    if (close == std::string_view::npos) {
        return result;
    }
    const std::string rest(line.substr(close + 1));
    // After the name: state, ppid, then 17 fields before the start time.
    char state = 0;
    int ppid = 0;
    unsigned long long user = 0, system = 0, start = 0;
    const int read = std::sscanf(rest.c_str(),
                                 " %c %d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu %*d %*d %*d "
                                 "%*d %*d %*d %llu",
                                 &state, &ppid, &user, &system, &start);
    if (read >= 2 && ppid >= 0) {
        result.parent = ppid;
        result.cpuTime = read >= 4 ? user + system : 0;
        result.startTime = read == 5 ? start : 0;
    }
    return result;
}

namespace {
constexpr std::size_t kProcFileLimit = 64 * 1024;
} // namespace

std::string readProcFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    std::string content;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            content.clear(); // the process ended between the opening and the reading
        }
        if (n <= 0 || content.size() + static_cast<std::size_t>(n) > kProcFileLimit) {
            break;
        }
        content.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return content;
}

ProcessStat statOf(pid_t pid) {
    return parseStat(readProcFile("/proc/" + std::to_string(pid) + "/stat"));
}

std::map<pid_t, unsigned long long> runningProcesses() {
    std::map<pid_t, unsigned long long> processes;
    struct DirCloser {
        void operator()(DIR* dir) const { closedir(dir); }
    };
    std::unique_ptr<DIR, DirCloser> proc(opendir("/proc"));
    if (!proc) {
        return processes;
    }
    while (const dirent* entry = readdir(proc.get())) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid > 0 && end && *end == 0) {
            processes[static_cast<pid_t>(pid)] = statOf(static_cast<pid_t>(pid)).startTime;
        }
    }
    return processes;
}

bool descendsFrom(pid_t pid, pid_t ancestor) {
    for (int depth = 0; pid > 1 && depth < 32; ++depth) {
        if (pid == ancestor) {
            return true;
        }
        pid = statOf(pid).parent;
    }
    return false;
}

std::string executableOf(pid_t pid) {
    char real[PATH_MAX];
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    const ssize_t n = readlink(link.c_str(), real, sizeof real - 1);
    if (n <= 0) {
        return {};
    }
    real[n] = 0;
    return real;
}

std::vector<pid_t> childrenRunning(const std::string& program) {
    std::vector<pid_t> children;
    char resolved[PATH_MAX];
    if (!realpath(program.c_str(), resolved)) {
        return children;
    }
    for (const auto& [pid, started] : runningProcesses()) {
        if (statOf(pid).parent == getpid() && executableOf(pid) == resolved) {
            children.push_back(pid);
        }
    }
    return children;
}

bool collect(pid_t child, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const pid_t done = waitpid(child, nullptr, WNOHANG);
        if (done == child || (done < 0 && errno != EINTR)) {
            return true; // collected, or not a child of this process (any more)
        }
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::optional<bool> loadsLibrary(pid_t pid, std::string_view prefix) {
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    if (!maps) {
        return std::nullopt;
    }
    std::string line;
    bool any = false;
    while (std::getline(maps, line)) {
        any = true;
        const auto slash = line.rfind('/');
        if (slash != std::string::npos && line.compare(slash + 1, prefix.size(), prefix) == 0) {
            return true;
        }
    }
    return any ? std::optional<bool>(false) : std::nullopt;
}

unsigned long long treeCpuTime(pid_t root) {
    if (root <= 0) {
        return 0;
    }
    unsigned long long total = 0;
    for (const auto& [pid, started] : runningProcesses()) {
        if (descendsFrom(pid, root)) {
            total += statOf(pid).cpuTime;
        }
    }
    return total;
}

bool BusyWatch::busySinceLastLook() {
    constexpr unsigned long long kNearIdleTicks = 2; // clock ticks of 10 ms
    const unsigned long long now = treeCpuTime(root_);
    // A process that ended takes its time with it: less than before is no sign of work.
    const bool busy = now > last_ + kNearIdleTicks;
    last_ = now;
    return busy;
}

Quiet waitUntilQuiet(pid_t program, std::chrono::milliseconds quiet,
                     std::chrono::milliseconds limit, const std::function<bool()>& look) {
    using Clock = std::chrono::steady_clock;
    BusyWatch busy(program);
    const auto deadline = Clock::now() + limit;
    for (auto quietSince = Clock::now(); Clock::now() - quietSince < quiet;) {
        if (Clock::now() >= deadline) {
            return Quiet::TimedOut;
        }
        if (!look()) {
            return Quiet::GaveUp;
        }
        if (busy.busySinceLastLook()) {
            quietSince = Clock::now();
        }
    }
    return Quiet::Yes;
}

} // namespace tolvane::platform::linux_desktop
