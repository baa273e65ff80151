#pragma once

#include "engine/GenerationSettings.h"
#include "ui/Services.h"

#include <optional>
#include <string>

class QListWidget;

namespace tolvane::ui {

// A message for the user, French, UTF-8.
struct Notice {
    std::string text;
    std::string title = "Avertissement";
};

struct GenerationOutcome {
    bool drawn = false;           // a batch was drawn and kept in the result list
    std::optional<Notice> notice; // why nothing was drawn, or why the lines did not all arrive
};

// One press of "Générer" after its sound: draws a batch from the settings, keeps its lines at
// the end of the result list, then hands every line the list holds to the destination.
// program: the one chosen for "Vers un autre programme" (UTF-8), empty while none is.
// The settings' copy of the PUK and every copy of the lines made here are wiped before return.
// spreadsheetNoted: the window's record that it has shown its note on spreadsheets.
GenerationOutcome generateAndDeliver(engine::GenerationSettings settings,
                                     const std::string& program, QListWidget& results,
                                     const Services& services, bool* spreadsheetNoted = nullptr);

} // namespace tolvane::ui
