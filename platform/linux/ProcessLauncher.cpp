#include "platform/linux/ProcessLauncher.h"

#include "platform/linux/DesktopEntries.h"
#include "platform/linux/Launchers.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
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
// its own, with a window of its own. KWrite and Kate started without a file show a welcome
// page that takes no keys: they read the (empty) standard input into a new document instead.
std::vector<std::string> ownInstance(std::vector<std::string> command) {
    static const std::pair<const char*, const char*> options[] = {
        {"mousepad", "--disable-server"},
        {"gedit", "--standalone"},
        {"gnome-text-editor", "--standalone"},
        {"kate", "--new"},
        {"kate", "--stdin"},
        {"kwrite", "--stdin"},
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
    return textEditor().command;
}

ProcessLauncher::TextEditor ProcessLauncher::textEditor() {
    for (const auto& entry : textEntries()) {
        // A terminal program has no window of its own to type into.
        if (entry.terminal) {
            continue;
        }
        auto args = execArguments(entry.exec, entry);
        if (!args.empty() && onPath(args[0])) {
            return {ownInstance(std::move(args)), declaredWindowNames(entry)};
        }
    }
    for (const char* editor : {"gnome-text-editor", "gedit", "kwrite", "kate", "mousepad", "xed",
                               "pluma", "featherpad"}) {
        if (onPath(editor)) {
            return {ownInstance({editor}), declaredWindowNamesOf(resolve(editor))};
        }
    }
    return {};
}

std::string ProcessLauncher::typingDefaultsFor(const std::string& program) const {
    const std::string name = program.substr(program.rfind('/') + 1);
    if (name != "kwrite" && name != "kate") {
        return {};
    }
    for (const std::string& dir : dataDirectories_) {
        const std::string folder = dir + "/editors";
        if (access((folder + "/" + name + "rc").c_str(), R_OK) == 0) {
            return folder;
        }
    }
    return {};
}

LaunchResult ProcessLauncher::startTextEditor(const std::vector<std::string>& environment) {
    const TextEditor editor = textEditor();
    const auto& command = editor.command;
    if (command.empty()) {
        LaunchResult none;
        none.error = "Aucun éditeur de texte n'est installé : installez par exemple gedit ou "
                     "mousepad, ou choisissez « Vers un autre programme ».";
        return none;
    }
    std::vector<std::string> withDefaults = environment;
    if (const std::string folder = typingDefaultsFor(command.front()); !folder.empty()) {
        const char* dirs = std::getenv("XDG_CONFIG_DIRS");
        withDefaults.push_back("XDG_CONFIG_DIRS=" + folder + ":" +
                               (dirs && *dirs ? dirs : "/etc/xdg"));
    }
    LaunchResult started = spawn(command, withDefaults);
    started.declaredNames = editor.declaredNames;
    return started;
}

LaunchResult ProcessLauncher::startProgram(const std::string& path,
                                           const std::vector<std::string>& environment) {
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
    LaunchResult started = spawn({path}, environment);
    started.declaredNames = declaredWindowNamesOf(path);
    for (std::string& name : declaredWindowNamesThrough(path)) {
        started.declaredNames.push_back(std::move(name));
    }
    return started;
}

namespace {

// The spreadsheet a command is by its name and first argument: as LibreOffice, Debian, snaps and
// flatpaks name them.
Spreadsheet spreadsheetNamed(const std::vector<std::string>& command) {
    const std::string& path = command.front();
    const std::string name = path.substr(path.rfind('/') + 1);
    const auto has = [&](const char* arg) {
        return std::find(command.begin() + 1, command.end(), arg) != command.end();
    };
    if (name == "localc" || name == "scalc" || name == "libreoffice.calc" ||
        ((name == "soffice" || name == "libreoffice" || has("org.libreoffice.LibreOffice")) &&
         has("--calc"))) {
        return Spreadsheet::LibreOffice;
    }
    if (name == "gnumeric" || name.starts_with("gnumeric-") || has("org.gnome.Gnumeric")) {
        return Spreadsheet::Gnumeric;
    }
    return Spreadsheet::None;
}

} // namespace

Spreadsheet ProcessLauncher::spreadsheetAt(const std::string& path) {
    std::error_code error;
    const std::string wanted = std::filesystem::weakly_canonical(path, error).string();
    // By its name, or that of the file it stands for, or of what it runs when it is a script.
    std::vector<std::vector<std::string>> commands{{path}, {wanted}};
    for (auto& command : commandsRunBy(path)) {
        commands.push_back(std::move(command));
    }
    for (const auto& command : commands) {
        if (const Spreadsheet named = spreadsheetNamed(command); named != Spreadsheet::None) {
            return named;
        }
    }
    // A desktop entry that runs it as it is started here, with no argument of its own, and
    // counts it among the spreadsheets.
    for (const DesktopEntry& entry : entriesRunning(wanted)) {
        if (execArguments(entry.exec, entry).size() == 1 &&
            std::find(entry.categories.begin(), entry.categories.end(), "Spreadsheet") !=
                entry.categories.end()) {
            return Spreadsheet::Other;
        }
    }
    return Spreadsheet::None;
}

void ProcessLauncher::release(const LaunchResult& started) {
    if (started.started) {
        reapWhenExited(started.pid);
    }
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

LaunchResult ProcessLauncher::spawn(const std::vector<std::string>& argv,
                                    const std::vector<std::string>& environment) {
    LaunchResult result;
    result.program = argv.front();
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    // Ours, less what the additions replace, then the additions.
    std::vector<char*> env;
    const auto replaced = [&](const char* entry) {
        return std::any_of(environment.begin(), environment.end(), [&](const std::string& e) {
            const auto name = e.find('=');
            return std::strncmp(entry, e.c_str(), name + 1) == 0;
        });
    };
    for (char** e = environ; *e; ++e) {
        if (!replaced(*e)) {
            env.push_back(*e);
        }
    }
    for (const auto& e : environment) {
        env.push_back(const_cast<char*>(e.c_str()));
    }
    env.push_back(nullptr);

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
    // Nothing to read on its standard input: a program that reads it sees its end at once.
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    // The program that runs is the one looked up here, the one every check is made on:
    // posix_spawnp would read an empty PATH entry as the current folder.
    const std::string path = resolve(argv.front());
    pid_t pid = 0;
    const int rc = path.empty()
                       ? ENOENT
                       : posix_spawn(&pid, path.c_str(), &actions, &attr, args.data(), env.data());
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
    if (realpath(path.c_str(), real)) {
        result.executable = real;
    }
    return result;
}

} // namespace tolvane::platform::linux_desktop
