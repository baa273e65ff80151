#pragma once

#include "platform/RandomSource.h"

#include <array>
#include <cstddef>

namespace tolvane::platform {

// Words drawn from the kernel CSPRNG (getrandom(2)), read in blocks; RandomSourceError when
// the kernel cannot be read.
class KernelRandomSource final : public RandomSource {
public:
    KernelRandomSource() = default;
    ~KernelRandomSource() override;
    KernelRandomSource(const KernelRandomSource&) = delete;
    KernelRandomSource& operator=(const KernelRandomSource&) = delete;

    std::uint32_t nextU32() override;

private:
    void refill();

    std::array<std::uint32_t, 64> buffer_{};
    std::size_t next_ = buffer_.size();
};

} // namespace tolvane::platform
