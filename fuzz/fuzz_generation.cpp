// Generation from arbitrary box texts: length, segments, count, the class and mode switches,
// names and PUK. Nothing may crash, and every batch has the shape its settings promise.
#include "FuzzSupport.h"

#include "engine/Generator.h"

#include <vector>

using namespace tolvane;

namespace {

class XorShift final : public platform::RandomSource {
public:
    explicit XorShift(std::uint64_t seed) : state_(seed | 1) {}
    std::uint32_t nextU32() override {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<std::uint32_t>(state_ >> 16);
    }

private:
    std::uint64_t state_;
};

std::vector<std::u32string> split(const std::u32string& text) {
    std::vector<std::u32string> fields{{}};
    for (char32_t c : text) {
        if (c == U'\n') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

bool isHex(char32_t c) {
    return (c >= U'0' && c <= U'9') || (c >= U'A' && c <= U'F');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::uint8_t switches = data[0];
    auto fields = split(fuzz::decode(data + 1, size - 1));
    fields.resize(std::max<std::size_t>(fields.size(), 5));

    engine::GenerationSettings s;
    s.lengthText = fields[0];
    s.segmentsText = fields[1];
    s.countText = fields[2];
    for (std::size_t i = 0; i < engine::kClassCount; ++i) {
        s.classes[i] = (switches >> i) & 1;
    }
    s.associate = switches & 0x80;
    s.irreversible = fields[3].size() % 2 == 0;
    s.puk = fields[3];
    for (std::size_t i = 4; i < fields.size(); ++i) {
        s.userNames.push_back(fields[i]);
    }
    s.userCount = static_cast<long>(s.userNames.size());

    XorShift random(size * 0x9E3779B97F4A7C15ull + switches);
    const engine::Batch batch = engine::generateBatch(s, random);
    if (batch.refusal) {
        fuzz::check(batch.lines.empty(), "a refused batch has lines");
        fuzz::check(!batch.refusal->message.empty(), "a refusal without a message");
        return 0;
    }
    const auto length = engine::readWholeNumber(s.lengthText).value;
    const auto segments = engine::readWholeNumber(s.segmentsText).value;
    const auto count = engine::readWholeNumber(s.countText).value;
    fuzz::check(count >= 0 && count <= engine::kMaxCount, "count out of range");
    fuzz::check(static_cast<std::int64_t>(batch.lines.size()) == count, "wrong number of lines");
    const std::u32string alphabet = engine::BuildAlphabet(s.classes);
    const std::size_t passwordSize =
        static_cast<std::size_t>((length / segments) * segments + segments - 1);
    for (std::size_t i = 0; i < batch.lines.size(); ++i) {
        std::u32string_view line = batch.lines[i];
        if (s.associate) {
            const std::u32string& name = s.userNames[i];
            fuzz::check(line.substr(0, name.size()) == name && line[name.size()] == U'\t',
                        "the name and its tab do not lead the line");
            line.remove_prefix(name.size() + 1);
            if (s.irreversible) {
                fuzz::check(line.size() == passwordSize + 9 && line[passwordSize] == U'\t',
                            "the code is not at the end of the line");
                for (char32_t c : line.substr(passwordSize + 1)) {
                    fuzz::check(isHex(c), "the code is not upper-case hexadecimal");
                }
                line = line.substr(0, passwordSize);
            }
        }
        fuzz::check(line.size() == passwordSize, "the password has the wrong length");
        for (std::size_t k = 0; k < line.size(); ++k) {
            const bool hyphen = (k + 1) % static_cast<std::size_t>(length / segments + 1) == 0;
            if (hyphen) {
                fuzz::check(line[k] == U'-', "a group is not followed by a hyphen");
            } else {
                fuzz::check(alphabet.find(line[k]) != std::u32string::npos,
                            "a character outside the alphabet");
            }
        }
    }
    return 0;
}
