#pragma once

#include "platform/TextReadBack.h"

#include <QString>

#include <chrono>

namespace tolvane::platform::atspi {

// Reads the started program's text on the accessibility bus (AT-SPI): among the programs
// there, the one whose connection belongs to the started process or one it started; in its
// active window, the editable text that has the focus, where the program shows one that holds
// several lines (a single-line field of a form holds one field, not what was typed).
class AtspiReadBack final : public TextReadBack {
public:
    ~AtspiReadBack() override;
    // Qt programs show their widgets on the bus only while an assistive technology runs,
    // unless told to always; so do Firefox (GNOME_ACCESSIBILITY) and Chromium
    // (ACCESSIBILITY_ENABLED), which then shows its pages once asked.
    std::vector<std::string> beforeLaunch() override {
        return {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1", "GNOME_ACCESSIBILITY=1",
                "ACCESSIBILITY_ENABLED=1"};
    }
    // In the program's windows (its active one first): a field that takes text and has the
    // focus; in a page (a browser's), only a field of the page. Waiting while a window shows no
    // content yet, or a page no such field.
    FocusedField focusedField(const LaunchResult& target) override;
    ShownText read(const LaunchResult& target, std::size_t limit) override;
    // The sheet is the table that manages its cells (they are never listed, only asked for
    // by row and column), in the program's active window.
    ShownCells readCells(const LaunchResult& target, std::size_t rows, std::size_t columns,
                         std::size_t limit) override;

private:
    // Whether the accessibility bus is connected to (once, then kept); not when it is not
    // there or did not answer in time (then `late`).
    bool connected(std::chrono::steady_clock::time_point deadline, bool& late);

    QString connection_; // the accessibility bus, once connected
};

} // namespace tolvane::platform::atspi
