#include "StreamBuilder.h"

namespace tamrel::test {

std::string Uint32(std::uint32_t value, bool bigEndian) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[static_cast<std::size_t>(bigEndian ? 3 - i : i)] = static_cast<char>(value >> (8 * i));
    return out;
}

std::string Block(const char* id, const std::string& payload) {
    std::string padded = payload;
    padded.resize((padded.size() + 3) / 4 * 4, '\0');
    return std::string(id, 4) + Uint32(static_cast<std::uint32_t>(8 + padded.size()), false) +
           padded;
}

std::string HeaderBlock(int platform, const std::vector<Tag>& tags,
                        const std::vector<RawTag>& rawTags) {
    std::string payload = "PT";
    payload.push_back(static_cast<char>(platform));
    payload.push_back(static_cast<char>(platform >> 8));
    payload.push_back(static_cast<char>(0xFD));
    for (const auto& [tag, value] : tags) {
        std::string bytes;
        for (std::uint32_t v = value; v != 0 || bytes.empty(); v >>= 8)
            bytes.insert(bytes.begin(), static_cast<char>(v & 0xFF));
        payload.push_back(static_cast<char>(tag));
        payload.push_back(static_cast<char>(bytes.size()));
        payload += bytes;
    }
    for (const auto& [tag, value] : rawTags) {
        payload.push_back(static_cast<char>(tag));
        if (value.size() < 0xFF) {
            payload.push_back(static_cast<char>(value.size()));
        } else {
            payload.push_back(static_cast<char>(0xFF));
            payload += Uint32(static_cast<std::uint32_t>(value.size()), true);
        }
        payload += value;
    }
    payload.push_back(static_cast<char>(0xFF));
    return Block("SCHl", payload);
}

std::string BuildStream(const StreamParts& parts) {
    std::string out = HeaderBlock(parts.platform, parts.tags, parts.rawTags);
    if (parts.withBlockCount)
        out += Block(
            "SCCl", Uint32(static_cast<std::uint32_t>(parts.dataPayloads.size()), parts.bigEndian));
    for (const std::string& payload : parts.dataPayloads)
        out += Block("SCDl", payload);
    if (parts.withEnd)
        out += Block("SCEl", "");
    return out + parts.after;
}

std::vector<std::string> ThreeKindsOfStreams() {
    auto pcm = [](std::uint32_t count) {
        std::string bytes = Uint32(count, false);
        for (std::uint32_t i = 0; i < count * 2; ++i)
            bytes += std::string{static_cast<char>(i * 7), static_cast<char>(i)};
        return bytes;
    };
    StreamParts first;
    first.tags = {{0xA0, 0x00}, {0x82, 2}, {0x84, 32000}, {0x86, 5}, {0x87, 99}};
    first.dataPayloads = {pcm(60), pcm(40)};
    StreamParts second;
    second.tags = {{0x80, 2}, {0x85, 28}};
    second.dataPayloads = {Uint32(28, false) + Uint32(0, false) + '\x10' + std::string(14, '\x21')};
    StreamParts third;
    third.tags = {{0xA0, 0x1B}};
    third.dataPayloads = {Uint32(28, false) + std::string(20, '\x33')};
    return {BuildStream(first), BuildStream(second), BuildStream(third)};
}

std::string ManyBlockStream(std::uint32_t blocks) {
    constexpr std::uint32_t kSamples = 100;
    std::string out =
        HeaderBlock(0, {{0xA0, 0x00}, {0x82, 2}, {0x84, 32000}, {0x85, blocks * kSamples}});
    std::string payload = Uint32(kSamples, false);
    for (std::uint32_t i = 0; i < kSamples; ++i) {
        const auto v = static_cast<std::int16_t>(8000 * ((i % 73) - 36) / 36);
        for (int c = 0; c < 2; ++c)
            payload += std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
    }
    const std::string block = Block("SCDl", payload);
    out.reserve(out.size() + block.size() * blocks + 8);
    for (std::uint32_t b = 0; b < blocks; ++b)
        out += block;
    return out + Block("SCEl", "");
}

}  // namespace tamrel::test
