#pragma once

#include <string>

namespace tolvane::platform::linux_desktop {

// The keyboard layout a window that opens now will type with, as the desktop's own settings
// decide it. KDE (kxkbrc, [Layout] SwitchMode) and GNOME (org.gnome.desktop.input-sources
// per-window) can keep a layout per window, set when the window is first activated:
// - KDE, per window: the first layout of the list; per virtual desktop or for all: the one in
//   use now; per application: the layout of another window of that program, or of an earlier
//   session, or the first: not known beforehand.
// - GNOME, per window: the first input source of the list. The desktop puts at most three
//   layouts in one keymap (and the language's own after them): with more, or with an input
//   method first, what the keys will give is not known beforehand.
struct NewWindowLayout {
    enum class Rule {
        Current, // the layout in use now
        First,   // the keymap's first layout
        Unknown, // not known beforehand: why says so
    };
    Rule rule = Rule::Current;
    std::string why; // French, with what to do; for Unknown only
};

// For the desktop named as in XDG_CURRENT_DESKTOP. Settings that cannot be read (a schema
// absent, no configuration file) are the desktop's defaults: one layout for all windows.
NewWindowLayout newWindowLayout(const std::string& desktop);

} // namespace tolvane::platform::linux_desktop
