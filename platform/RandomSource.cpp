#include "platform/RandomSource.h"

namespace tolvane::platform {

std::uint32_t uniformBelow(RandomSource& source, std::uint32_t bound) {
    std::uint64_t product = std::uint64_t{source.nextU32()} * bound;
    auto low = static_cast<std::uint32_t>(product);
    if (low < bound) {
        // 2^32 mod bound: the products whose low word falls below it would bias the result.
        const std::uint32_t threshold = (0u - bound) % bound;
        while (low < threshold) {
            product = std::uint64_t{source.nextU32()} * bound;
            low = static_cast<std::uint32_t>(product);
        }
    }
    return static_cast<std::uint32_t>(product >> 32);
}

} // namespace tolvane::platform
