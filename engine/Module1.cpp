#include "engine/Module1.h"

#include "platform/Wipe.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace tolvane::engine {

namespace {

// Code points of the Windows-1252 codes 0x80 to 0x9F; 0 where the code page has no character.
constexpr std::array<char32_t, 32> kHighControls{
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

constexpr unsigned kReplacement = 63; // "?"

std::string upperHex(std::uint64_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), kDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return text;
}

} // namespace

unsigned windows1252Code(char32_t c) {
    if (c <= 0x7F || (c >= 0xA0 && c <= 0xFF)) {
        return static_cast<unsigned>(c);
    }
    for (std::size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] == c) {
            return static_cast<unsigned>(0x80 + i);
        }
    }
    return kReplacement;
}

std::string CryptageIrreversible(std::u32string_view key, std::u32string_view data, int digits) {
    std::u32string s;
    s.reserve(data.size() + key.size());
    s.append(data);
    s.append(key);
    const std::uint64_t n = s.size();

    std::uint64_t h = 13;
    std::string result;
    for (std::uint64_t r = 1; r <= 4; ++r) {
        for (char32_t c : s) {
            const std::uint64_t t = (h % 95) + r * r;
            h = h + windows1252Code(c) * t + n;
        }
        const std::string hex = upperHex(h);
        const std::size_t take =
            digits <= 0 ? 0 : std::min<std::size_t>(hex.size(), static_cast<std::size_t>(digits));
        result += hex.substr(hex.size() - take);
    }
    platform::wipe(s); // the line and the key
    return result;
}

} // namespace tolvane::engine
