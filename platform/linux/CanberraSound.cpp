#include "platform/linux/CanberraSound.h"

#include <canberra.h>
#include <climits>
#include <cstdlib>
#include <dlfcn.h>
#include <unistd.h>

namespace tolvane::platform::linux_desktop {

// libcanberra, loaded at the first sound rather than at start-up: the window comes up sooner.
struct CanberraSound::Library {
    void* handle = nullptr;
    decltype(&ca_context_create) create = nullptr;
    decltype(&ca_context_destroy) destroy = nullptr;
    decltype(&ca_context_set_driver) setDriver = nullptr;
    decltype(&ca_context_change_props) changeProps = nullptr;
    decltype(&ca_context_open) open = nullptr;
    decltype(&ca_context_play) play = nullptr;

    bool load() {
        handle = dlopen("libcanberra.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            return false;
        }
        create = reinterpret_cast<decltype(create)>(dlsym(handle, "ca_context_create"));
        destroy = reinterpret_cast<decltype(destroy)>(dlsym(handle, "ca_context_destroy"));
        setDriver = reinterpret_cast<decltype(setDriver)>(dlsym(handle, "ca_context_set_driver"));
        changeProps =
            reinterpret_cast<decltype(changeProps)>(dlsym(handle, "ca_context_change_props"));
        open = reinterpret_cast<decltype(open)>(dlsym(handle, "ca_context_open"));
        play = reinterpret_cast<decltype(play)>(dlsym(handle, "ca_context_play"));
        return create && destroy && setDriver && changeProps && open && play;
    }
};

CanberraSound::CanberraSound(std::vector<std::string> dataDirectories)
    : dataDirectories_(std::move(dataDirectories)) {}

CanberraSound::~CanberraSound() {
    if (context_) {
        ca_->destroy(context_);
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
    if (!ca_) {
        ca_ = std::make_unique<Library>();
        if (!ca_->load()) {
            unavailable_ = true;
            return;
        }
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
    if (ca_->play(context_, 0, CA_PROP_MEDIA_FILENAME, path.c_str(), nullptr) != CA_SUCCESS) {
        ca_->destroy(context_);
        context_ = nullptr;
        unavailable_ = true;
    }
}

bool CanberraSound::open(const char* driver) {
    if (ca_->create(&context_) != CA_SUCCESS) {
        context_ = nullptr;
        return false;
    }
    if ((driver && ca_->setDriver(context_, driver) != CA_SUCCESS) ||
        ca_->changeProps(context_, CA_PROP_APPLICATION_NAME, "Tolvane", nullptr) != CA_SUCCESS ||
        ca_->open(context_) != CA_SUCCESS) {
        ca_->destroy(context_);
        context_ = nullptr;
        return false;
    }
    return true;
}

} // namespace tolvane::platform::linux_desktop
