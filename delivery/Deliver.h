#pragma once

#include "engine/Destination.h"
#include "platform/Clipboard.h"
#include "platform/KeystrokeInjector.h"
#include "platform/ProgramLauncher.h"

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
};

struct DeliveryServices {
    platform::ProgramLauncher& launcher;
    platform::KeystrokeInjector& injector;
    platform::Clipboard& clipboard;
};

// Hands the lines to their destination. Returns a French message when they did not all arrive.
std::optional<std::string> Deliver(const DeliveryRequest& request, DeliveryServices services);

// UTF-8 text of a UTF-32 string.
std::string toUtf8(std::u32string_view text);

} // namespace tolvane::delivery
