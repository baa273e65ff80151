#include "platform/linux/ProcessLauncher.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tolvane::platform::linux_desktop {

namespace {

std::string env(const char* name, const char* fallback = "") {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

std::vector<std::string> splitPaths(const std::string& list) {
    std::vector<std::string> paths;
    std::stringstream in(list);
    std::string item;
    while (std::getline(in, item, ':')) {
        if (!item.empty()) {
            paths.push_back(item);
        }
    }
    return paths;
}

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) {
        return {};
    }
    return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

// The value of key in [group] of a desktop-entry style file.
std::string iniValue(const std::string& file, const std::string& group, const std::string& key) {
    std::ifstream in(file);
    std::string line;
    bool inGroup = false;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty() || line[0] == '#') {
            continue;
        }
        if (line.front() == '[') {
            inGroup = line == "[" + group + "]";
            continue;
        }
        if (inGroup && line.compare(0, key.size() + 1, key + "=") == 0) {
            return trim(line.substr(key.size() + 1));
        }
    }
    return {};
}

std::vector<std::string> dataDirs() {
    std::vector<std::string> dirs{env("XDG_DATA_HOME", (env("HOME") + "/.local/share").c_str())};
    for (auto& d : splitPaths(env("XDG_DATA_DIRS", "/usr/local/share:/usr/share"))) {
        dirs.push_back(d);
    }
    return dirs;
}

// The desktop entries named as default for text/plain, in the order of the mimeapps.list files.
std::vector<std::string> defaultTextEntries() {
    std::vector<std::string> lists;
    const std::string config = env("XDG_CONFIG_HOME", (env("HOME") + "/.config").c_str());
    lists.push_back(config + "/mimeapps.list");
    for (auto& d : splitPaths(env("XDG_CONFIG_DIRS", "/etc/xdg"))) {
        lists.push_back(d + "/mimeapps.list");
    }
    for (auto& d : dataDirs()) {
        lists.push_back(d + "/applications/mimeapps.list");
        lists.push_back(d + "/applications/defaults.list");
    }
    std::vector<std::string> entries;
    for (const auto& list : lists) {
        std::stringstream value(iniValue(list, "Default Applications", "text/plain"));
        std::string entry;
        while (std::getline(value, entry, ';')) {
            if (!trim(entry).empty()) {
                entries.push_back(trim(entry));
            }
        }
    }
    return entries;
}

// The escapes every string value of a desktop entry may hold: \s, \n, \t, \r and \\.
std::string unescapeValue(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
        case 's':
            out += ' ';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case '\\':
            out += '\\';
            break;
        default: // not an escape: kept as written
            out += '\\';
            out += value[i];
            break;
        }
    }
    return out;
}

struct DesktopEntry {
    std::string file;
    std::string name;
    std::string icon;
};

// Splits a desktop entry's Exec value (already unescaped) into arguments by its quoting
// rules, then expands the field codes for a start without a file: an argument holding a
// file or URL code (%f, %F, %u, %U, alone or inside, as in --file=%f) is dropped, %i becomes
// --icon and the icon, %c the name, %k the entry's file, %% a percent sign; deprecated
// codes are removed.
std::vector<std::string> execArguments(const std::string& exec, const DesktopEntry& entry) {
    std::vector<std::string> args;
    std::string current;
    bool quoted = false;
    bool any = false;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else if (c == '\\' && i + 1 < exec.size()) {
                current += exec[++i];
            } else {
                current += c;
            }
        } else if (c == '"') {
            quoted = true;
            any = true;
        } else if (c == ' ' || c == '\t' || c == '\n') {
            if (any) {
                args.push_back(current);
            }
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any) {
        args.push_back(current);
    }
    std::vector<std::string> kept;
    for (const auto& a : args) {
        if (a == "%i") {
            if (!entry.icon.empty()) {
                kept.push_back("--icon");
                kept.push_back(entry.icon);
            }
            continue;
        }
        std::string expanded;
        bool drop = false;
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (a[i] != '%' || i + 1 == a.size()) {
                expanded += a[i];
                continue;
            }
            const char code = a[++i];
            switch (code) {
            case '%':
                expanded += '%';
                break;
            case 'f':
            case 'F':
            case 'u':
            case 'U':
                drop = true;
                break;
            case 'c':
                expanded += entry.name;
                break;
            case 'k':
                expanded += entry.file;
                break;
            default: // %d, %D, %n, %N, %v, %m and unknown codes
                break;
            }
        }
        if (!drop && !(expanded.empty() && a.size() == 2 && a[0] == '%')) {
            kept.push_back(expanded);
        }
    }
    return kept;
}

// The full path a command name runs, or empty.
std::string resolve(const std::string& program) {
    if (program.find('/') != std::string::npos) {
        return access(program.c_str(), X_OK) == 0 ? program : std::string();
    }
    for (auto& dir : splitPaths(env("PATH", "/usr/bin:/bin"))) {
        const std::string candidate = dir + "/" + program;
        struct stat st {};
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

bool onPath(const std::string& program) {
    return !resolve(program).empty();
}

std::string frenchReason(int error) {
    switch (error) {
    case ENOENT:
        return "fichier introuvable";
    case EACCES:
    case EPERM:
        return "accès refusé";
    case ENOEXEC:
        return "ce n'est pas un programme reconnu";
    case ENOMEM:
    case EAGAIN:
        return "ressources du système insuffisantes";
    default:
        return "erreur " + std::to_string(error);
    }
}

} // namespace

std::vector<std::string> ProcessLauncher::textEditorCommand() {
    for (const auto& id : defaultTextEntries()) {
        // The first file found for an entry is the entry: one hidden in the user's folder
        // hides the system's.
        std::string file;
        for (const auto& dir : dataDirs()) {
            const std::string candidate = dir + "/applications/" + id;
            if (access(candidate.c_str(), R_OK) == 0) {
                file = candidate;
                break;
            }
        }
        if (file.empty()) {
            continue;
        }
        auto value = [&](const char* key) {
            return unescapeValue(iniValue(file, "Desktop Entry", key));
        };
        // A terminal program, a deleted entry, or one whose program is not installed.
        if (value("Terminal") == "true" || value("Hidden") == "true") {
            continue;
        }
        if (const std::string tryExec = value("TryExec");
            !tryExec.empty() && resolve(tryExec).empty()) {
            continue;
        }
        const std::string exec = value("Exec");
        if (exec.empty()) {
            continue;
        }
        auto args = execArguments(exec, {file, value("Name"), value("Icon")});
        if (!args.empty() && onPath(args[0])) {
            return args;
        }
    }
    for (const char* editor : {"gnome-text-editor", "gedit", "kwrite", "kate", "mousepad", "xed",
                               "pluma", "featherpad"}) {
        if (onPath(editor)) {
            return {editor};
        }
    }
    return {};
}

LaunchResult ProcessLauncher::startTextEditor() {
    const auto command = textEditorCommand();
    if (command.empty()) {
        LaunchResult none;
        none.error = "Aucun éditeur de texte n'est installé : installez par exemple gedit ou "
                     "mousepad, ou choisissez « Vers un autre programme ».";
        return none;
    }
    return spawn(command);
}

LaunchResult ProcessLauncher::startProgram(const std::string& path) {
    LaunchResult result;
    result.program = path;
    struct stat st {};
    if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        result.error = "Le programme « " + path + " » est introuvable.";
        return result;
    }
    if (access(path.c_str(), X_OK) != 0) {
        result.error = "Le fichier « " + path + " » n'est pas un programme exécutable.";
        return result;
    }
    return spawn({path});
}

bool childHasExited(pid_t pid) {
    if (pid <= 0) {
        return true;
    }
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0) {
        return info.si_pid == pid;
    }
    // Not our child: it has ended when it is gone.
    return kill(pid, 0) != 0 && errno == ESRCH;
}

void reapWhenExited(pid_t pid) {
    siginfo_t info{};
    if (pid <= 0 ||
        waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        return; // not our child
    }
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

LaunchResult ProcessLauncher::spawn(const std::vector<std::string>& argv) {
    LaunchResult result;
    result.program = argv.front();
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGCHLD);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    // The program inherits no descriptor of ours beyond the standard three.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t pid = 0;
    const bool searchPath = argv.front().find('/') == std::string::npos;
    const int rc = searchPath ? posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ)
                              : posix_spawn(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        result.error = "Le programme « " + argv.front() +
                       " » ne peut pas être lancé : " + frenchReason(rc) + ".";
        return result;
    }
    result.started = true;
    result.pid = pid;
    char real[PATH_MAX];
    const std::string path = resolve(argv.front());
    if (!path.empty() && realpath(path.c_str(), real)) {
        result.executable = real;
    }
    return result;
}

} // namespace tolvane::platform::linux_desktop
