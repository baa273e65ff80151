#pragma once

namespace tolvane::platform {

struct Version {
    int major;
    int minor;
    int revision;
};

inline constexpr Version kVersion{1, 0, 2};

} // namespace tolvane::platform
