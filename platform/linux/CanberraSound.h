#pragma once

#include "platform/Sound.h"

#include <string>

struct ca_context;

namespace tolvane::platform::linux_desktop {

// Plays a sound through libcanberra without waiting. The name is looked up first as given
// (relative to the current directory), then in the installed data directory.
class CanberraSound final : public Sound {
public:
    explicit CanberraSound(std::string dataDirectory);
    ~CanberraSound() override;
    CanberraSound(const CanberraSound&) = delete;
    CanberraSound& operator=(const CanberraSound&) = delete;

    void playAsync(const std::string& fileName) override;

    // Where a name is found, or empty.
    std::string resolve(const std::string& fileName) const;

private:
    std::string dataDirectory_;
    ca_context* context_ = nullptr;
    bool unavailable_ = false;
};

} // namespace tolvane::platform::linux_desktop
