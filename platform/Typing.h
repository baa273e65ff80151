#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

// What every keystroke backend shares, whatever the desktop: how long a delivery waits, how
// the started program's window is told by its name, and what the person is told.
namespace tolvane::platform::typing {

// For the started program's window to appear (a spreadsheet loading on a busy processor).
inline constexpr std::chrono::milliseconds kWindowWait{15000};
// For the window to take the focus once it has been asked to.
inline constexpr std::chrono::milliseconds kFocusWait{5000};
// For keys the person holds down to be released before typing.
inline constexpr std::chrono::milliseconds kReleaseWait{5000};
// How long the started program stays quiet, its window unchanged, before it counts as ready
// for keys: a splash window replaced, or a program still loading, shows itself within this.
inline constexpr std::chrono::milliseconds kSettled{800};
// How often a wait looks again.
inline constexpr std::chrono::milliseconds kLookEvery{50};
// For the window to read what was typed.
inline constexpr std::chrono::milliseconds kSettleWait{15000};

// How long each step may take (tests shorten them).
struct Waits {
    std::chrono::milliseconds window = kWindowWait;
    std::chrono::milliseconds focus = kFocusWait;
    std::chrono::milliseconds release = kReleaseWait;
    std::chrono::milliseconds answer = kSettleWait;
    std::chrono::milliseconds settled = kSettled;
};

// Whether a window that goes by this name (an X11 WM_CLASS, a Wayland app id) is one of the
// names given: case aside, the whole name or its last dotted part (org.gnome.Gnumeric).
bool windowGoesByOneOf(std::string_view windowName, const std::vector<std::string>& names);

// What the person is told, in French. program: what was started, as the person chose it.
// Before any key:
std::string nothingTyped(std::string_view why); // "<why> : rien n'a été tapé."
std::string windowNotShown(const std::string& program);
std::string windowTookNoFocus(const std::string& program);
std::string windowNotAnswering(const std::string& program);
std::string thisWindowKeptTheKeyboard(const std::string& program);
std::string keysHeld();
// The window showed no field with the focus (a page that puts it in none) in the time waited.
std::string noFieldTakesKeys(const std::string& program, std::chrono::milliseconds waited);
// Why typing stopped; with typedSome, what arrived is to be checked.
std::string stopped(std::string_view why, bool typedSome);
inline constexpr const char* kEnding = "Tolvane doit se fermer";
inline constexpr const char* kLayoutChanged =
    "La disposition du clavier a changé pendant la frappe";
std::string lostFocus(const std::string& program);
std::string programClosed(const std::string& program);
std::string noLongerAnswering(const std::string& program);
// Every key sent, but the window no longer had the focus once it had read them.
std::string focusGoneAtTheEnd(const std::string& program);
// Every key sent, but the field that took them does not show them all.
std::string fieldShowsFewer(const std::string& program);
// The locks taken off for typing could not be given back.
inline constexpr const char* kAllKeysSent = "Toutes les touches sont parties.";
inline constexpr const char* kKeyboardNotRestored =
    "Le clavier n'a pas pu être remis comme avant la frappe (une touche Maj ou AltGr peut être "
    "restée enfoncée, le verrouillage des majuscules ou du pavé numérique peut avoir changé) : "
    "vérifiez-le avant de taper.";

} // namespace tolvane::platform::typing
