#pragma once

#include <string>

namespace tolvane::platform {

// Asynchronous playback of a sound file; never waits, never reports.
class Sound {
public:
    virtual ~Sound() = default;
    virtual void playAsync(const std::string& fileName) = 0;
};

} // namespace tolvane::platform
