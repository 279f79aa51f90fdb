#include "audio/Blocks.h"

#include <algorithm>

namespace tamrel {

namespace {

std::optional<BlockPreamble> Decode(const unsigned char* bytes, BlockSizeRule rule) {
    BlockPreamble preamble;
    std::copy(bytes, bytes + 4, preamble.id);
    preamble.size = ReadUint32(bytes + 4, false);
    if (rule == BlockSizeRule::EitherOrder) {
        // Read little-endian, a big-endian size is far beyond any block.
        if (preamble.size > 0xF00000)
            preamble.size = ReadUint32(bytes + 4, true);
    } else if (preamble.size > kLargestSmallBlock) {
        return std::nullopt;
    }
    return preamble;
}

}  // namespace

std::size_t MemorySource::ReadAt(std::uint64_t offset, char* out, std::size_t size) const {
    if (offset >= bytes_.size())
        return 0;
    const std::size_t n = std::min<std::uint64_t>(size, bytes_.size() - offset);
    bytes_.copy(out, n, static_cast<std::size_t>(offset));
    return n;
}

std::optional<BlockPreamble> ReadPreamble(std::string_view bytes, std::uint64_t at,
                                          BlockSizeRule rule) {
    if (at > bytes.size() || bytes.size() - at < kBlockPreamble)
        return std::nullopt;
    return Decode(reinterpret_cast<const unsigned char*>(bytes.data()) + at, rule);
}

std::optional<BlockPreamble> ReadPreamble(const ByteSource& source, std::uint64_t at,
                                          BlockSizeRule rule) {
    unsigned char bytes[kBlockPreamble];
    if (source.ReadAt(at, reinterpret_cast<char*>(bytes), kBlockPreamble) != kBlockPreamble)
        return std::nullopt;
    return Decode(bytes, rule);
}

bool HeaderTags::Next(HeaderTag& tag) {
    const auto* p = reinterpret_cast<const unsigned char*>(tags_.data());
    const std::size_t size = tags_.size();
    if (at_ >= size)
        return false;
    tag = HeaderTag{};
    tag.id = p[at_++];
    if (tag.id == 0xFF || tag.id == 0xFE) {
        tag.kind = tag.id == 0xFF ? HeaderTag::Kind::End : HeaderTag::Kind::Repeat;
        return true;
    }
    if (tag.id == 0xFC || tag.id == 0xFD) {
        tag.kind = HeaderTag::Kind::Marker;
        return true;
    }
    const std::size_t start = at_;
    if (at_ >= size) {
        truncated_ = true;
        return false;
    }
    std::uint64_t length = p[at_++];
    if (length == 0xFF) {
        if (size - at_ < 4) {
            truncated_ = true;
            return false;
        }
        length = ReadUint32(p + at_, true);
        at_ += 4;
    }
    if (length > size - at_) {
        truncated_ = true;
        return false;
    }
    tag.kind = HeaderTag::Kind::Value;
    tag.value = tags_.substr(at_, static_cast<std::size_t>(length));
    at_ += static_cast<std::size_t>(length);
    tag.stored = tags_.substr(start, at_ - start);
    return true;
}

std::optional<std::uint32_t> TagNumber(std::string_view value) {
    if (value.size() > 4)
        return std::nullopt;
    std::uint32_t v = 0;
    for (unsigned char byte : value)
        v = v << 8 | byte;
    return v;
}

}  // namespace tamrel
