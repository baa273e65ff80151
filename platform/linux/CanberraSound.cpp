#include "platform/linux/CanberraSound.h"

#include <canberra.h>
#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace tolvane::platform::linux_desktop {

CanberraSound::CanberraSound(std::string dataDirectory)
    : dataDirectory_(std::move(dataDirectory)) {}

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
    const std::string installed = dataDirectory_ + "/" + fileName;
    if (!dataDirectory_.empty() && access(installed.c_str(), R_OK) == 0) {
        return installed;
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
        // Without a sound server this fails at once; then stay silent for the session.
        if (ca_context_create(&context_) != CA_SUCCESS ||
            ca_context_change_props(context_, CA_PROP_APPLICATION_NAME, "Tolvane", nullptr) !=
                CA_SUCCESS ||
            ca_context_open(context_) != CA_SUCCESS) {
            if (context_) {
                ca_context_destroy(context_);
                context_ = nullptr;
            }
            unavailable_ = true;
            return;
        }
    }
    ca_context_play(context_, 0, CA_PROP_MEDIA_FILENAME, path.c_str(), nullptr);
}

} // namespace tolvane::platform::linux_desktop
