#pragma once

// Shared by the fuzz targets: decoding input bytes, and stopping loudly on a broken property.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace tolvane::fuzz {

[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
}

inline void check(bool ok, const char* what) {
    if (!ok) {
        fail(what);
    }
}

// Lenient UTF-8: every byte sequence gives code points; broken sequences become U+FFFD.
inline std::u32string decode(const std::uint8_t* data, std::size_t size) {
    std::u32string out;
    for (std::size_t i = 0; i < size;) {
        const std::uint8_t b = data[i];
        int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
        if (extra < 0 || i + static_cast<std::size_t>(extra) >= size) {
            out += U'\uFFFD';
            ++i;
            continue;
        }
        char32_t cp = extra == 0 ? b : b & (0x3F >> extra);
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            if (i + k >= size || (data[i + k] & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (data[i + k] & 0x3F);
        }
        if (!ok || cp > 0x10FFFF) {
            out += U'\uFFFD';
            ++i;
            continue;
        }
        out += cp;
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

} // namespace tolvane::fuzz
