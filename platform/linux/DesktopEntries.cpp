#include "platform/linux/DesktopEntries.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

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

} // namespace

std::vector<std::string> dataDirs() {
    std::vector<std::string> dirs{env("XDG_DATA_HOME", (env("HOME") + "/.local/share").c_str())};
    for (auto& d : splitPaths(env("XDG_DATA_DIRS", "/usr/local/share:/usr/share"))) {
        dirs.push_back(d);
    }
    return dirs;
}

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

std::string entryValue(const std::string& file, const char* key) {
    return unescapeValue(iniValue(file, "Desktop Entry", key));
}

std::vector<std::string> declaredWindowNames(const std::string& id, const std::string& file) {
    const std::string suffix = ".desktop";
    std::vector<std::string> names{id.ends_with(suffix) ? id.substr(0, id.size() - suffix.size())
                                                        : id};
    if (const std::string wmClass = entryValue(file, "StartupWMClass"); !wmClass.empty()) {
        names.push_back(wmClass);
    }
    return names;
}

std::vector<std::string> declaredWindowNamesOf(const std::string& program) {
    std::error_code error;
    const auto real = [&](const std::string& path) {
        return std::filesystem::weakly_canonical(path, error).string();
    };
    const std::string wanted = real(program);
    std::vector<std::string> names;
    std::set<std::string> seen; // an entry in an earlier folder hides one of the same id
    for (const auto& dir : dataDirs()) {
        std::filesystem::directory_iterator entries(dir + "/applications", error);
        for (const auto& entry : entries) {
            const std::string id = entry.path().filename().string();
            if (!id.ends_with(".desktop") || !seen.insert(id).second) {
                continue;
            }
            const std::string file = entry.path().string();
            const auto args = execArguments(entryValue(file, "Exec"), {file, {}, {}});
            if (entryValue(file, "Hidden") == "true" || args.empty()) {
                continue;
            }
            if (const std::string path = resolve(args.front());
                !path.empty() && real(path) == wanted) {
                for (auto& name : declaredWindowNames(id, file)) {
                    names.push_back(std::move(name));
                }
            }
        }
    }
    return names;
}

} // namespace tolvane::platform::linux_desktop
