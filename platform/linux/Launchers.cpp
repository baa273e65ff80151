#include "platform/linux/Launchers.h"

#include "platform/linux/DesktopEntries.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane::platform::linux_desktop {

namespace {

std::vector<std::string> fixedWords(const std::string& line);

constexpr std::size_t kLongestScript = 64 * 1024;
constexpr int kLevels = 4;
constexpr std::size_t kMostCommands = 64;

// A shell script's text: "#!" and a shell (sh, bash, dash, zsh, ksh, or env running one).
// Opened without waiting (a pipe would wait for a writer), then taken only when it is a
// regular file.
std::string scriptText(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    std::string text;
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        text.resize(kLongestScript);
        std::size_t got = 0;
        for (ssize_t n = 1; n > 0 && got < text.size(); got += static_cast<std::size_t>(n)) {
            n = read(fd, text.data() + got, text.size() - got);
            if (n < 0) {
                got = 0;
                break;
            }
            if (n == 0) {
                break;
            }
        }
        text.resize(got);
    }
    close(fd);
    const std::string firstLine = text.substr(0, text.find('\n'));
    const auto words = fixedWords(firstLine.starts_with("#!") ? firstLine.substr(2) : "");
    static const std::vector<std::string> shells{"sh", "bash", "dash", "zsh", "ksh"};
    const auto isShell = [&](const std::string& word) {
        return std::find(shells.begin(), shells.end(), word.substr(word.rfind('/') + 1)) !=
               shells.end();
    };
    const bool shell =
        !words.empty() && (isShell(words[0]) ||
                           (words[0].ends_with("/env") && words.size() > 1 && isShell(words[1])));
    return shell ? text : std::string();
}

// The words of one line as the shell splits them, up to the first it would fill in or
// redirect; quotes removed.
std::vector<std::string> fixedWords(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool any = false;
    char quote = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote) {
            if (c == quote) {
                quote = 0;
            } else if (c == '$' && quote == '"') {
                return words;
            } else {
                word += c;
            }
            continue;
        }
        if (c == '\'' || c == '"') {
            quote = c;
            any = true;
        } else if (c == ' ' || c == '\t') {
            if (any) {
                words.push_back(word);
            }
            word.clear();
            any = false;
        } else if (c == '#' && !any) {
            break;
        } else if (std::string_view("$`<>|;&(){}\\").find(c) != std::string_view::npos) {
            return words;
        } else {
            word += c;
            any = true;
        }
    }
    if (any && !quote) {
        words.push_back(word);
    }
    return words;
}

// Whether the line sends a command to the background ("&" not doubled, outside quotes):
// a helper run beside the program, not the program.
bool backgrounded(const std::string& line) {
    char quote = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote) {
            quote = c == quote ? 0 : quote;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == '#') {
            return false;
        } else if (c == '&') {
            if (i + 1 < line.size() && line[i + 1] == '&') {
                ++i;
            } else if (i == 0 || line[i - 1] != '>') {
                return true;
            }
        }
    }
    return false;
}

// The command of a line: what comes after `exec`, `env` and the assignments.
std::vector<std::string> commandOf(const std::string& line) {
    if (backgrounded(line)) {
        return {};
    }
    std::vector<std::string> words = fixedWords(line);
    auto first = words.begin();
    while (first != words.end() &&
           (*first == "exec" || *first == "env" || first->find('=') != std::string::npos)) {
        ++first;
    }
    return {first, words.end()};
}

void collect(const std::string& path, int level, std::vector<std::vector<std::string>>& out) {
    if (level == kLevels) {
        return;
    }
    const std::string text = scriptText(path);
    std::size_t start = text.find('\n'); // past the "#!" line
    while (start != std::string::npos && start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start + 1), text.size());
        std::vector<std::string> command = commandOf(text.substr(start + 1, end - start - 1));
        start = end;
        if (command.empty()) {
            continue;
        }
        const std::string program = resolve(command.front());
        if (program.empty()) {
            continue;
        }
        command.front() = program;
        if (out.size() < kMostCommands && std::find(out.begin(), out.end(), command) == out.end()) {
            out.push_back(command);
            collect(program, level + 1, out);
        }
    }
}

} // namespace

std::vector<std::vector<std::string>> commandsRunBy(const std::string& path) {
    std::vector<std::vector<std::string>> commands;
    collect(path, 0, commands);
    return commands;
}

std::vector<std::string> declaredWindowNamesThrough(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& command : commandsRunBy(path)) {
        for (const DesktopEntry& entry : entriesRunning(command.front())) {
            // The entry's own arguments start the command's: "libreoffice --calc" is the entry
            // of "soffice --calc", not of "soffice --writer".
            const std::vector<std::string> args = execArguments(entry.exec, entry);
            if (args.size() > command.size() ||
                !std::equal(args.begin() + 1, args.end(), command.begin() + 1)) {
                continue;
            }
            for (std::string& name : declaredWindowNames(entry)) {
                if (std::find(names.begin(), names.end(), name) == names.end()) {
                    names.push_back(std::move(name));
                }
            }
        }
    }
    return names;
}

} // namespace tolvane::platform::linux_desktop
