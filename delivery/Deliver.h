#pragma once

#include "engine/Destination.h"
#include "platform/Clipboard.h"
#include "platform/KeystrokeInjector.h"
#include "platform/MessageBox.h"
#include "platform/ProgramLauncher.h"
#include "platform/TextReadBack.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::delivery {

struct DeliveryRequest {
    engine::Destination destination = engine::Destination::Notepad;
    std::string programPath;              // for OtherProgram, UTF-8; empty: none chosen
    std::vector<std::u32string> lines;    // every line of the window's result list
    std::optional<std::u32string> titles; // the column-title line, when asked for
    std::u32string countText;             // the count box as shown
    std::int64_t count = 0;
    // The window's record that it has shown the note about spreadsheets, shown once per
    // window before the first delivery into one; none: shown at every such delivery.
    bool* spreadsheetNoted = nullptr;
};

struct DeliveryServices {
    platform::ProgramLauncher& launcher;
    platform::KeystrokeInjector& injector;
    platform::Clipboard& clipboard;
    platform::MessageBox& messages; // the question to paste instead of typing
    // What the target shows once typed into, compared with what was typed; none: not read.
    platform::TextReadBack* readBack = nullptr;
};

// How long a text put on the clipboard to be pasted waits for the editor to read it.
inline constexpr std::chrono::seconds kPasteLimit{30};

// Hands the lines to their destination. Returns a French message when they did not all arrive.
// The whole script is planned on the keyboard before the target is started: characters that
// nothing can type start nothing. On the editor route, when the user's layout lacks some of
// them, the user may have the text pasted instead. Once typed, the text the target shows is read
// back where it shows it: a difference is told, naming the lines and columns changed.
std::optional<std::string> Deliver(const DeliveryRequest& request, DeliveryServices services);

// The characters nothing types, and where they stand in what was to be typed, as a person
// reads it: "le « é » de la ligne de fin, « Ж » dans le nom « Жанна »".
std::string describeUntypable(const DeliveryRequest& request, std::u32string_view untypable);

using platform::toUtf8;

} // namespace tolvane::delivery
