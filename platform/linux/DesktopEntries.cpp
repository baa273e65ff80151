#include "platform/linux/DesktopEntries.h"

#include <cstdlib>
#include <filesystem>
#include <gio/gdesktopappinfo.h>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane::platform::linux_desktop {

namespace {

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

struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using AppInfo = std::unique_ptr<GAppInfo, Unref>;

struct AppInfoList {
    GList* list;
    ~AppInfoList() { g_list_free_full(list, g_object_unref); }
};

std::string owned(gchar* text) {
    std::string value = text ? text : "";
    g_free(text);
    return value;
}

DesktopEntry entryOf(GAppInfo* app) {
    auto* info = G_DESKTOP_APP_INFO(app);
    DesktopEntry entry;
    const char* id = g_app_info_get_id(app);
    entry.id = id ? id : "";
    const char* file = g_desktop_app_info_get_filename(info);
    entry.file = file ? file : "";
    entry.name = g_app_info_get_name(app) ? g_app_info_get_name(app) : "";
    entry.icon = owned(g_desktop_app_info_get_string(info, "Icon"));
    const char* exec = g_app_info_get_commandline(app);
    entry.exec = exec ? exec : "";
    entry.terminal = g_desktop_app_info_get_boolean(info, "Terminal");
    const char* wmClass = g_desktop_app_info_get_startup_wm_class(info);
    entry.startupWmClass = wmClass ? wmClass : "";
    std::stringstream categories(owned(g_strdup(g_desktop_app_info_get_categories(info))));
    for (std::string c; std::getline(categories, c, ';');) {
        if (!c.empty()) {
            entry.categories.push_back(c);
        }
    }
    return entry;
}

// An entry of a program that may be run: a deleted entry (Hidden) is none.
bool runnable(GAppInfo* app) {
    return G_IS_DESKTOP_APP_INFO(app) && !g_desktop_app_info_get_is_hidden(G_DESKTOP_APP_INFO(app));
}

} // namespace

std::vector<DesktopEntry> textEntries() {
    std::vector<DesktopEntry> entries;
    const AppInfo preferred(g_app_info_get_default_for_type("text/plain", FALSE));
    if (preferred && runnable(preferred.get())) {
        entries.push_back(entryOf(preferred.get()));
    }
    const AppInfoList all{g_app_info_get_all_for_type("text/plain")};
    for (GList* item = all.list; item; item = item->next) {
        auto* app = static_cast<GAppInfo*>(item->data);
        if (runnable(app) && !(preferred && g_app_info_equal(app, preferred.get()))) {
            entries.push_back(entryOf(app));
        }
    }
    return entries;
}

std::vector<DesktopEntry> entriesRunning(const std::string& program) {
    std::error_code error;
    const auto real = [&](const std::string& path) {
        return std::filesystem::weakly_canonical(path, error).string();
    };
    const std::string wanted = real(program);
    std::vector<DesktopEntry> entries;
    const AppInfoList all{g_app_info_get_all()};
    for (GList* item = all.list; item; item = item->next) {
        auto* app = static_cast<GAppInfo*>(item->data);
        if (!runnable(app)) {
            continue;
        }
        DesktopEntry entry = entryOf(app);
        const auto args = execArguments(entry.exec, entry);
        if (args.empty()) {
            continue;
        }
        if (const std::string path = resolve(args.front()); !path.empty() && real(path) == wanted) {
            entries.push_back(std::move(entry));
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
    const char* path = std::getenv("PATH");
    for (auto& dir : splitPaths(path && *path ? path : "/usr/bin:/bin")) {
        const std::string candidate = dir + "/" + program;
        struct stat st {};
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

std::vector<std::string> declaredWindowNames(const DesktopEntry& entry) {
    const std::string suffix = ".desktop";
    const std::string& id = entry.id;
    std::vector<std::string> names{id.ends_with(suffix) ? id.substr(0, id.size() - suffix.size())
                                                        : id};
    if (!entry.startupWmClass.empty()) {
        names.push_back(entry.startupWmClass);
    }
    return names;
}

std::vector<std::string> declaredWindowNamesOf(const std::string& program) {
    std::vector<std::string> names;
    for (const auto& entry : entriesRunning(program)) {
        for (auto& name : declaredWindowNames(entry)) {
            names.push_back(std::move(name));
        }
    }
    return names;
}

} // namespace tolvane::platform::linux_desktop
