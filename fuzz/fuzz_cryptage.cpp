// The irreversible code on arbitrary Unicode: always 4 x digits upper-case hexadecimal digits
// (fewer when the accumulator's text is shorter), the same for the same input.
#include "FuzzSupport.h"

#include "engine/Module1.h"

using namespace tolvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const int digits = data[0] % 9;
    const std::u32string text = fuzz::decode(data + 1, size - 1);
    const std::size_t cut = text.find(U'\0');
    const std::u32string data32 = text.substr(0, cut);
    const std::u32string key = cut == std::u32string::npos ? U"" : text.substr(cut + 1);

    const std::string code = engine::CryptageIrreversible(key, data32, digits);
    fuzz::check(code.size() <= static_cast<std::size_t>(4 * digits), "the code is too long");
    // The generator's data always holds a tab, which takes the accumulator past two digits.
    if (digits == 2 && data32.find(U'\t') != std::u32string::npos) {
        fuzz::check(code.size() == 8, "a two-digit code is not 8 characters");
    }
    for (char c : code) {
        fuzz::check((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'), "not upper-case hex");
    }
    fuzz::check(code == engine::CryptageIrreversible(key, data32, digits), "not deterministic");
    return 0;
}
