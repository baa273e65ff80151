#include "platform/KernelRandomSource.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/random.h>

namespace tolvane::platform {

KernelRandomSource::~KernelRandomSource() {
    // Leave no drawn material behind in memory.
    volatile std::uint32_t* p = buffer_.data();
    for (std::size_t i = 0; i < buffer_.size(); ++i) {
        p[i] = 0;
    }
}

std::uint32_t KernelRandomSource::nextU32() {
    if (next_ == buffer_.size()) {
        refill();
    }
    return buffer_[next_++];
}

void KernelRandomSource::refill() {
    auto* bytes = reinterpret_cast<unsigned char*>(buffer_.data());
    std::size_t wanted = sizeof(buffer_);
    std::size_t done = 0;
    while (done < wanted) {
        const ssize_t got = getrandom(bytes + done, wanted - done, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw RandomSourceError(std::string("getrandom: ") + std::strerror(errno));
        }
        done += static_cast<std::size_t>(got);
    }
    next_ = 0;
}

} // namespace tolvane::platform
