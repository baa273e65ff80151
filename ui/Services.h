#pragma once

#include "platform/Clipboard.h"
#include "platform/FileDialog.h"
#include "platform/KeystrokeInjector.h"
#include "platform/MessageBox.h"
#include "platform/ProgramLauncher.h"
#include "platform/RandomSource.h"
#include "platform/Sound.h"
#include "platform/TextReadBack.h"

namespace tolvane::ui {

// Unloading and reloading the window, and ending the program.
class WindowLifecycle {
public:
    virtual ~WindowLifecycle() = default;
    virtual void reload() = 0;
    virtual void quit() = 0;
};

// Everything the window reaches outside itself.
struct Services {
    platform::MessageBox& messageBox;
    platform::FileDialog& fileDialog;
    platform::ProgramLauncher& launcher;
    platform::KeystrokeInjector& injector;
    platform::Clipboard& clipboard;
    platform::Sound& sound;
    platform::RandomSource& random;
    platform::TextReadBack* readBack = nullptr; // none: what arrives is not read back
};

} // namespace tolvane::ui
