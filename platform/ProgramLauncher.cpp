#include "platform/ProgramLauncher.h"

#include <algorithm>
#include <string_view>

namespace tolvane::platform {

Spreadsheet spreadsheetOfWindow(const std::vector<std::string>& windowNames) {
    const auto is = [](std::string_view name, std::string_view wanted) {
        return std::equal(name.begin(), name.end(), wanted.begin(), wanted.end(),
                          [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a + 32 : a) == b; });
    };
    for (const std::string& name : windowNames) {
        if (is(name, "libreoffice-calc")) {
            return Spreadsheet::LibreOffice;
        }
        if (is(name, "gnumeric") || is(name, "org.gnome.gnumeric")) {
            return Spreadsheet::Gnumeric;
        }
    }
    return Spreadsheet::None;
}

} // namespace tolvane::platform
