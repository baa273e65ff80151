#include "engine/GenerationSettings.h"

namespace tolvane::engine {

namespace {

bool isBlank(char32_t c) {
    return c == U' ' || c == U'\t';
}

} // namespace

WholeNumber readWholeNumber(std::u32string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && isBlank(text[end - 1])) {
        --end;
    }
    bool negative = false;
    if (begin < end && (text[begin] == U'-' || text[begin] == U'+')) {
        negative = text[begin] == U'-';
        ++begin;
    }
    if (begin == end) {
        return {};
    }
    std::int64_t value = 0;
    for (std::size_t i = begin; i < end; ++i) {
        const char32_t c = text[i];
        if (c < U'0' || c > U'9') {
            return {};
        }
        const auto digit = static_cast<std::int64_t>(c - U'0');
        // Saturate before the multiplication could leave the 64-bit range.
        value = value > (kNumberSaturation - digit) / 10 ? kNumberSaturation : value * 10 + digit;
    }
    return {WholeNumber::Status::Ok, negative ? -value : value};
}

} // namespace tolvane::engine
