#include "platform/linux/KeyboardLayouts.h"

#include <gio/gio.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

namespace tolvane::platform::linux_desktop {

namespace {

const char* const kWhat = " Rien n'a été tapé ; sinon, utilisez « Vers le presse-papier ».";

const char* const kKdePerApplication =
    "KDE garde une disposition du clavier par application : la fenêtre qui va s'ouvrir prendra "
    "celle d'une autre fenêtre du même programme, et Tolvane ne peut pas savoir laquelle. Dans "
    "la configuration du clavier de KDE, choisissez une autre politique de changement de "
    "disposition : globale, par bureau ou par fenêtre.";

const char* const kGnomeInputMethod =
    "GNOME garde une source de saisie par fenêtre, et la fenêtre qui va s'ouvrir prendra la "
    "première de la liste, une méthode de saisie : Tolvane ne peut pas savoir ce que ses touches "
    "écriront. Dans Paramètres > Clavier, placez une disposition du clavier en tête des sources "
    "de saisie, ou choisissez la même source pour toutes les fenêtres.";

const char* const kGnomeManyLayouts =
    "GNOME garde une source de saisie par fenêtre, et avec plus de trois sources, Tolvane ne "
    "peut pas savoir comment seront disposées les touches de la fenêtre qui va s'ouvrir. Dans "
    "Paramètres > Clavier, gardez au plus trois sources de saisie, ou choisissez la même source "
    "pour toutes les fenêtres.";

std::vector<std::string> split(std::string_view list, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(separator, start), list.size());
        parts.emplace_back(list.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// A KDE setting as KDE reads it: the user's file first, then those of the system's folders in
// their order.
std::optional<std::string> kdeSetting(const char* file, std::string_view group,
                                      std::string_view key) {
    std::vector<std::string> folders;
    if (const char* home = std::getenv("XDG_CONFIG_HOME"); home && *home) {
        folders.emplace_back(home);
    } else if (const char* user = std::getenv("HOME"); user && *user) {
        folders.push_back(std::string(user) + "/.config");
    }
    const char* system = std::getenv("XDG_CONFIG_DIRS");
    for (std::string& folder : split(system && *system ? system : "/etc/xdg", ':')) {
        folders.push_back(std::move(folder));
    }
    for (const std::string& folder : folders) {
        if (folder.empty()) {
            continue;
        }
        std::ifstream in(folder + "/" + file);
        bool inGroup = false;
        for (std::string line; std::getline(in, line);) {
            const std::string_view text = trimmed(line);
            if (text.empty() || text.front() == '#') {
                continue;
            }
            if (text.front() == '[') {
                inGroup = text.size() == group.size() + 2 &&
                          text.substr(1, group.size()) == group && text.back() == ']';
                continue;
            }
            const std::size_t equals = text.find('=');
            if (inGroup && equals != std::string_view::npos &&
                trimmed(text.substr(0, equals)) == key) {
                return std::string(trimmed(text.substr(equals + 1)));
            }
        }
    }
    return std::nullopt;
}

NewWindowLayout kde() {
    std::string mode = kdeSetting("kxkbrc", "Layout", "SwitchMode").value_or("Global");
    std::transform(mode.begin(), mode.end(), mode.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (mode == "window") {
        return {NewWindowLayout::Rule::First, {}};
    }
    if (mode == "winclass") {
        return {NewWindowLayout::Rule::Unknown, std::string(kKdePerApplication) + kWhat};
    }
    return {};
}

bool hasKey(GSettingsSchema* schema, const char* name, const char* type) {
    if (!g_settings_schema_has_key(schema, name)) {
        return false;
    }
    GSettingsSchemaKey* key = g_settings_schema_get_key(schema, name);
    const bool typed =
        g_variant_type_equal(g_settings_schema_key_get_value_type(key), G_VARIANT_TYPE(type));
    g_settings_schema_key_unref(key);
    return typed;
}

NewWindowLayout gnome() {
    // Looked up first: GSettings ends the program on a schema it does not know.
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (!source) {
        return {};
    }
    const std::unique_ptr<GSettingsSchema, decltype(&g_settings_schema_unref)> schema(
        g_settings_schema_source_lookup(source, "org.gnome.desktop.input-sources", TRUE),
        &g_settings_schema_unref);
    if (!schema || !hasKey(schema.get(), "per-window", "b") ||
        !hasKey(schema.get(), "sources", "a(ss)")) {
        return {};
    }
    const std::unique_ptr<GSettings, decltype(&g_object_unref)> settings(
        g_settings_new_full(schema.get(), nullptr, nullptr), &g_object_unref);
    if (!g_settings_get_boolean(settings.get(), "per-window")) {
        return {};
    }
    const std::unique_ptr<GVariant, decltype(&g_variant_unref)> sources(
        g_settings_get_value(settings.get(), "sources"), &g_variant_unref);
    const gsize count = g_variant_n_children(sources.get());
    if (count <= 1) {
        return {};
    }
    // Each input method may bring a layout of its own.
    std::set<std::string> layouts;
    std::size_t methods = 0;
    bool methodFirst = false;
    for (gsize i = 0; i < count; ++i) {
        const gchar* type = nullptr;
        const gchar* id = nullptr;
        g_variant_get_child(sources.get(), i, "(&s&s)", &type, &id);
        if (std::string_view(type) == "xkb") {
            layouts.insert(id);
        } else {
            methodFirst = methodFirst || i == 0;
            ++methods;
        }
    }
    if (methodFirst) {
        return {NewWindowLayout::Rule::Unknown, std::string(kGnomeInputMethod) + kWhat};
    }
    if (layouts.size() + methods > 3) {
        return {NewWindowLayout::Rule::Unknown, std::string(kGnomeManyLayouts) + kWhat};
    }
    return {NewWindowLayout::Rule::First, {}};
}

} // namespace

NewWindowLayout newWindowLayout(const std::string& desktop) {
    for (const std::string& name : split(desktop, ':')) {
        if (name == "KDE") {
            return kde();
        }
        if (name == "GNOME") {
            return gnome();
        }
    }
    return {};
}

} // namespace tolvane::platform::linux_desktop
