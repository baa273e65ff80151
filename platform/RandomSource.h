#pragma once

#include <cstdint>
#include <stdexcept>

namespace tolvane::platform {

// Thrown when a source cannot draw; nothing weaker replaces it.
class RandomSourceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A source of uniformly distributed 32-bit words.
class RandomSource {
public:
    virtual ~RandomSource() = default;
    virtual std::uint32_t nextU32() = 0;
};

// Unbiased draw of a whole number in [0, bound), bound > 0 (Lemire's multiply-and-reject).
std::uint32_t uniformBelow(RandomSource& source, std::uint32_t bound);

} // namespace tolvane::platform
