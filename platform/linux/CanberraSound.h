#pragma once

#include "platform/Sound.h"

#include <memory>
#include <string>
#include <vector>

struct ca_context;

namespace tolvane::platform::linux_desktop {

// Plays a sound through libcanberra without waiting. The name is looked up first as given
// (relative to the current directory), then in the data directories, in order.
class CanberraSound final : public Sound {
public:
    explicit CanberraSound(std::vector<std::string> dataDirectories);
    ~CanberraSound() override;
    CanberraSound(const CanberraSound&) = delete;
    CanberraSound& operator=(const CanberraSound&) = delete;

    void playAsync(const std::string& fileName) override;

    // Where a name is found, or empty.
    std::string resolve(const std::string& fileName) const;

private:
    struct Library;
    bool open(const char* driver);

    std::unique_ptr<Library> ca_;
    std::vector<std::string> dataDirectories_;
    ca_context* context_ = nullptr;
    bool unavailable_ = false;
};

} // namespace tolvane::platform::linux_desktop
