#include "audio/Coder.h"

#include "audio/Blocks.h"
#include "audio/Codecs.h"
#include "io/Bytes.h"

namespace tamrel {

std::uint32_t Payload::Uint32(std::size_t offset, bool bigEndian, const char* what) const {
    return ReadUint32(At(offset, 4, what), bigEndian);
}

std::int16_t Payload::Int16(std::size_t offset, bool bigEndian, const char* what) const {
    return ReadInt16(At(offset, 2, what), bigEndian);
}

std::vector<std::size_t> Payload::ChannelStarts(std::size_t channels, bool bigEndian) const {
    std::optional<std::vector<std::size_t>> starts = ReadChannelStarts(p_, channels, bigEndian);
    if (!starts)
        Fail("the channel offsets ends beyond the block");
    return std::move(*starts);
}

void PerBlockDecoder::Decode(BlockFeed& feed, std::size_t k, std::vector<std::int16_t>& out) {
    const Payload block = feed.Block(k);
    if (block.Size() < kBlockCountBytes)
        block.Fail("the block holds no sample count");
    const std::uint32_t count = info_.dataBlocks[k].samples;
    out.assign(static_cast<std::size_t>(count) * channels_, 0);
    DecodeBlock(block, count, out.data());
}

std::vector<std::size_t> PerBlockDecoder::Starts(const Payload& block) const {
    if (HasTable())
        return block.ChannelStarts(channels_, info_.bigEndian);
    return std::vector<std::size_t>(channels_, kBlockCountBytes);
}

double CodecEncoder::LeastBytesPerSample() const {
    const Density density = RecordOf(info_.codec).density;
    return static_cast<double>(density.bytes) / density.samples;
}

std::string CodecEncoder::Count(std::uint32_t count) const {
    std::string payload;
    PutUint32(payload, count, info_.bigEndian);
    return payload;
}

}  // namespace tamrel
