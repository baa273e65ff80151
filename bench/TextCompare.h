#pragma once

// Comparing what a target received with what was meant, for the delivery benchmarks.

#include <algorithm>
#include <string>
#include <vector>

namespace tolvane::bench {

inline std::u32string fromUtf8(const std::string& s) {
    std::u32string out;
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        char32_t cp = n == 1 ? c : c & (0x7F >> n);
        for (int k = 1; k < n && i + k < s.size(); ++k) {
            cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        }
        out += cp;
        i += n;
    }
    return out;
}

// Characters wrong or lost: the edit distance between what arrived and what was meant.
inline std::size_t wrongCharacters(const std::u32string& got, const std::u32string& want) {
    std::vector<std::size_t> row(want.size() + 1);
    for (std::size_t j = 0; j <= want.size(); ++j) {
        row[j] = j;
    }
    for (std::size_t i = 1; i <= got.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= want.size(); ++j) {
            const std::size_t up = row[j];
            row[j] = std::min(
                {row[j] + 1, row[j - 1] + 1, diagonal + (got[i - 1] == want[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[want.size()];
}

} // namespace tolvane::bench
