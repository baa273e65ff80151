#include "platform/linux/ProcessLauncher.h"

#include "platform/linux/DesktopEntries.h"

#include <algorithm>
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

bool onPath(const std::string& program) {
    return !resolve(program).empty();
}

// Editors that hand a second start to their instance already running, which opens a tab in
// its window: the keys would have no new window to go to. Each is started as an instance of
// its own, with a window of its own.
std::vector<std::string> ownInstance(std::vector<std::string> command) {
    static const std::pair<const char*, const char*> options[] = {
        {"mousepad", "--disable-server"},
        {"gedit", "--standalone"},
        {"gnome-text-editor", "--standalone"},
        {"kate", "--new"},
    };
    const std::string& program = command.front();
    const std::string name = program.substr(program.rfind('/') + 1);
    for (const auto& [editor, option] : options) {
        if (name == editor &&
            std::find(command.begin() + 1, command.end(), option) == command.end()) {
            command.insert(command.begin() + 1, option);
        }
    }
    return command;
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
        auto value = [&](const char* key) { return entryValue(file, key); };
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
            return ownInstance(std::move(args));
        }
    }
    for (const char* editor : {"gnome-text-editor", "gedit", "kwrite", "kate", "mousepad", "xed",
                               "pluma", "featherpad"}) {
        if (onPath(editor)) {
            return ownInstance({editor});
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
