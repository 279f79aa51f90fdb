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

std::size_t FileSource::ReadAt(std::uint64_t offset, char* out, std::size_t size) const {
    // A large read goes to the file as it is; a small one is served from
    // the window, read anew where it does not hold the bytes asked for.
    if (size >= kReadWindow)
        return file_.ReadAt(offset, out, size);
    if (offset < windowStart_ || offset + size > windowStart_ + window_.size()) {
        const std::uint64_t fileSize = Size();
        if (offset >= fileSize)
            return 0;
        window_.resize(
            static_cast<std::size_t>(std::min<std::uint64_t>(kReadWindow, fileSize - offset)));
        window_.resize(file_.ReadAt(offset, window_.data(), window_.size()));
        windowStart_ = offset;
    }
    const std::uint64_t from = offset - windowStart_;
    if (from >= window_.size())
        return 0;
    const std::size_t n =
        std::min<std::size_t>(size, window_.size() - static_cast<std::size_t>(from));
    std::copy_n(window_.data() + from, n, out);
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

std::string MakeBlock(const char* id, std::string payload) {
    payload.resize((payload.size() + 3) / 4 * 4, '\0');
    std::string out(id, 4);
    PutUint32(out, static_cast<std::uint32_t>(kBlockPreamble + payload.size()), false);
    return out + payload;
}

namespace {

// A number as a tag stores it: big-endian, in as few bytes as hold it.
std::string TagValue(std::uint64_t v) {
    std::string bytes;
    for (; v != 0 || bytes.empty(); v >>= 8)
        bytes.insert(bytes.begin(), static_cast<char>(v & 0xFF));
    return bytes;
}

void PutTag(std::string& payload, int tag, const std::string& bytes) {
    payload.push_back(static_cast<char>(tag));
    payload.push_back(static_cast<char>(bytes.size()));
    payload += bytes;
}

}  // namespace

std::string RewriteHeader(std::string_view oldHeader, std::uint32_t headerSize,
                          const HeaderChanges& changes) {
    const std::string_view payloadIn =
        oldHeader.substr(kBlockPreamble, headerSize - kBlockPreamble);
    std::string payload(payloadIn.substr(0, 4));  // "PT" and the platform
    const std::optional<SampleLoop>& loop = changes.loop;
    const std::string count = TagValue(changes.samples);
    const std::string loopStart = TagValue(loop ? loop->start : 0);
    const std::string loopLast = TagValue(loop && loop->end > 0 ? loop->end - 1 : 0);
    bool wroteCount = false, wroteStart = false, wroteEnd = false;
    HeaderTags tags(payloadIn.size() > 4 ? payloadIn.substr(4) : std::string_view());
    HeaderTag tag;
    // The end, a repeated header (which is dropped) or damage ends the copy.
    while (tags.Next(tag) && tag.kind != HeaderTag::Kind::End &&
           tag.kind != HeaderTag::Kind::Repeat) {
        if (tag.kind == HeaderTag::Kind::Marker) {
            payload.push_back(static_cast<char>(tag.id));
        } else if (tag.id == 0x85 && !changes.keepCount) {
            PutTag(payload, tag.id, count);
            wroteCount = true;
        } else if ((tag.id == 0x86 || tag.id == 0x87) && changes.dropLoop) {
            continue;
        } else if (tag.id == 0x86 && loop) {
            PutTag(payload, tag.id, loopStart);
            wroteStart = true;
        } else if (tag.id == 0x87 && loop) {
            PutTag(payload, tag.id, loopLast);
            wroteEnd = true;
        } else if (std::any_of(changes.newTags.begin(), changes.newTags.end(),
                               [&](const auto& t) { return t.first == tag.id; })) {
            continue;  // written anew below
        } else {
            payload.push_back(static_cast<char>(tag.id));
            payload.append(tag.stored);
        }
    }
    if (!wroteCount && !changes.keepCount)
        PutTag(payload, 0x85, count);
    if (loop && !wroteStart)
        PutTag(payload, 0x86, loopStart);
    if (loop && !wroteEnd)
        PutTag(payload, 0x87, loopLast);
    for (const auto& [id, bytes] : changes.newTags)
        PutTag(payload, id, bytes);
    payload.push_back(static_cast<char>(0xFF));
    return MakeBlock("SCHl", payload);
}

std::optional<std::vector<std::size_t>> ReadChannelStarts(std::string_view payload,
                                                          std::size_t channels, bool bigEndian) {
    const std::size_t end = ChannelTableEnd(channels);
    if (payload.size() < end)
        return std::nullopt;
    const auto* p = reinterpret_cast<const unsigned char*>(payload.data());
    std::vector<std::size_t> starts(channels);
    for (std::size_t c = 0; c < channels; ++c)
        starts[c] = end + ReadUint32(p + kBlockCountBytes + 4 * c, bigEndian);
    return starts;
}

void AppendChannelRuns(std::string& payload, const std::vector<std::string>& runs, bool table,
                       bool bigEndian) {
    if (table) {
        std::uint32_t offset = 0;
        for (const std::string& run : runs) {
            PutUint32(payload, offset, bigEndian);
            offset += static_cast<std::uint32_t>(run.size());
        }
    }
    for (const std::string& run : runs)
        payload += run;
}

void AppendSharedStart(std::string& payload, std::size_t channels, std::uint32_t offset,
                       bool bigEndian) {
    for (std::size_t c = 0; c < channels; ++c)
        PutUint32(payload, offset, bigEndian);
}

}  // namespace tamrel
