#pragma once

#include "platform/RandomSource.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace tolvane::fakes {

// Returns the scripted words in turn, then repeats the last one (or 0 when none were given).
class ScriptedRandomSource final : public platform::RandomSource {
public:
    explicit ScriptedRandomSource(std::vector<std::uint32_t> words = {})
        : words_(std::move(words)) {}

    std::uint32_t nextU32() override {
        ++calls_;
        if (words_.empty()) {
            return 0;
        }
        if (next_ < words_.size()) {
            return words_[next_++];
        }
        return words_.back();
    }

    std::size_t calls() const { return calls_; }

private:
    std::vector<std::uint32_t> words_;
    std::size_t next_ = 0;
    std::size_t calls_ = 0;
};

// Word that makes uniformBelow(bound) return index without being rejected.
inline std::uint32_t wordFor(std::uint32_t index, std::uint32_t bound) {
    // ceil(index * 2^32 / bound) is the first word of index's interval; one further on, the
    // product's low word is at least bound, above every rejection threshold.
    const std::uint64_t w = ((std::uint64_t{index} << 32) + bound - 1) / bound + 1;
    return static_cast<std::uint32_t>(w);
}

// A fixed stream of words spread over the whole range, so that draws differ from one another
// yet repeat from run to run. Its last word, repeated forever, is never rejected for any bound
// below 2^31: its low product word is at least the bound.
inline std::vector<std::uint32_t> spreadWords(std::size_t count = 4096) {
    std::vector<std::uint32_t> words;
    words.reserve(count + 1);
    std::uint32_t w = 0x2545F491u;
    for (std::size_t i = 0; i < count; ++i) {
        w = w * 1664525u + 1013904223u;
        words.push_back(w);
    }
    words.push_back(0x80000001u);
    return words;
}

} // namespace tolvane::fakes
