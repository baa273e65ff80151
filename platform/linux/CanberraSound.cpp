#include "platform/linux/CanberraSound.h"

#include <canberra.h>
#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace tolvane::platform::linux_desktop {

CanberraSound::CanberraSound(std::vector<std::string> dataDirectories)
    : dataDirectories_(std::move(dataDirectories)) {}

CanberraSound::~CanberraSound() {
    if (context_) {
        ca_context_destroy(context_);
    }
}

std::string CanberraSound::resolve(const std::string& fileName) const {
    if (access(fileName.c_str(), R_OK) == 0) {
        char absolute[PATH_MAX];
        if (realpath(fileName.c_str(), absolute)) {
            return absolute;
        }
    }
    for (const auto& directory : dataDirectories_) {
        const std::string installed = directory + "/" + fileName;
        if (!directory.empty() && access(installed.c_str(), R_OK) == 0) {
            return installed;
        }
    }
    return {};
}

void CanberraSound::playAsync(const std::string& fileName) {
    if (unavailable_) {
        return;
    }
    const std::string path = resolve(fileName);
    if (path.empty()) {
        return;
    }
    if (!context_) {
        // The desktop's sound server first; the sound card directly only when there is one,
        // so a machine without sound stays silent and says nothing.
        const bool card = access("/dev/snd", F_OK) == 0;
        if (!open("pulse") && !(card && open(nullptr))) {
            unavailable_ = true;
            return;
        }
    }
    if (ca_context_play(context_, 0, CA_PROP_MEDIA_FILENAME, path.c_str(), nullptr) != CA_SUCCESS) {
        ca_context_destroy(context_);
        context_ = nullptr;
        unavailable_ = true;
    }
}

bool CanberraSound::open(const char* driver) {
    if (ca_context_create(&context_) != CA_SUCCESS) {
        context_ = nullptr;
        return false;
    }
    if ((driver && ca_context_set_driver(context_, driver) != CA_SUCCESS) ||
        ca_context_change_props(context_, CA_PROP_APPLICATION_NAME, "Tolvane", nullptr) !=
            CA_SUCCESS ||
        ca_context_open(context_) != CA_SUCCESS) {
        ca_context_destroy(context_);
        context_ = nullptr;
        return false;
    }
    return true;
}

} // namespace tolvane::platform::linux_desktop
