#pragma once

#include <string>
#include <string_view>

namespace tolvane::engine {

// The Windows-1252 code of a character; characters without one count as 63 ("?").
unsigned windows1252Code(char32_t c);

// One-way code of data followed by key: 4 x digits upper-case hexadecimal digits.
std::string CryptageIrreversible(std::u32string_view key, std::u32string_view data, int digits);

} // namespace tolvane::engine
