#include "audio/Decoder.h"

#include <algorithm>

#include "audio/Coder.h"

namespace tamrel {

namespace {

// The stream's data blocks, read from the source one at a time.
class SourceFeed : public BlockFeed {
public:
    SourceFeed(const ByteSource& source, const StreamInfo& info, std::string name)
        : source_(source), info_(info), name_(std::move(name)) {}

    Payload Block(std::size_t k) override {
        const StreamBlock& b = info_.dataBlocks[k];
        std::string& payload = payload_;
        payload.resize(b.size - kBlockPreamble);
        if (source_.ReadAt(b.offset + kBlockPreamble, payload.data(), payload.size()) !=
            payload.size())
            throw DecodeError(Where(k) + ": the stream ends inside the block");
        return Payload(payload, Where(k));
    }

    std::string Where(std::size_t k) const override {
        return "The stream " + name_ + ", data block " + std::to_string(k + 1) + " (byte " +
               std::to_string(info_.dataBlocks[k].offset) + ")";
    }

private:
    const ByteSource& source_;
    const StreamInfo& info_;
    std::string name_;
    std::string payload_;  // the last block read: a Payload is a view of it
};

}  // namespace

struct BlockReader::Impl {
    const StreamInfo& info;
    SourceFeed feed;
    std::unique_ptr<CodecDecoder> decoder;
    std::size_t next = 0;

    Impl(const ByteSource& source, const StreamInfo& i, std::string name)
        : info(i), feed(source, i, std::move(name)), decoder(RecordOf(i.codec).decoder(i)) {}
};

BlockReader::BlockReader(const ByteSource& source, const StreamInfo& info, std::string name) {
    if (const Verdict verdict = DecodeVerdict(info, name); !verdict.ok)
        throw DecodeError(verdict.why);
    impl_ = std::make_unique<Impl>(source, info, std::move(name));
}

BlockReader::~BlockReader() = default;

bool BlockReader::Next(std::vector<std::int16_t>& samples) {
    Impl& d = *impl_;
    if (d.next >= d.info.dataBlocks.size())
        return false;
    const std::size_t k = d.next++;
    const StreamBlock& b = d.info.dataBlocks[k];
    // A count beyond what the codec's bytes can hold is damage, and must
    // not cost memory.
    const std::uint32_t bytes = b.size - kBlockPreamble;
    if (b.samples > RecordOf(d.info.codec)
                        .density.MostSamples(bytes, static_cast<std::uint64_t>(d.info.channels)))
        throw DecodeError(d.feed.Where(k) + ": the block declares " + std::to_string(b.samples) +
                          " samples, more than its " + std::to_string(bytes) + " bytes hold");
    d.decoder->Decode(d.feed, k, samples);
    return true;
}

void DecodeBlocks(const ByteSource& source, const StreamInfo& info, const std::string& name,
                  const BlockSink& sink) {
    BlockReader reader(source, info, name);
    std::vector<std::int16_t> samples;
    const auto channels = static_cast<std::size_t>(info.channels);
    while (reader.Next(samples))
        if (!sink(samples.data(), samples.size() / channels))
            break;
}

std::vector<std::int16_t> DecodeStream(const ByteSource& source, const StreamInfo& info,
                                       const std::string& name,
                                       const std::function<bool(std::size_t)>& progress) {
    // Room for every sample, but never more than the blocks can hold: a
    // damaged count must not cost memory.
    std::uint64_t room = 0;
    for (const StreamBlock& b : info.dataBlocks)
        room += std::uint64_t{b.size} * 2;
    std::vector<std::int16_t> out;
    if (info.hasHeader && !info.HasProblem(StreamProblem::Kind::Implausible))
        out.reserve(static_cast<std::size_t>(
            std::min(room, info.samples * static_cast<std::uint64_t>(info.channels))));
    std::size_t blocks = 0;
    DecodeBlocks(source, info, name, [&](const std::int16_t* samples, std::size_t frames) {
        out.insert(out.end(), samples, samples + frames * static_cast<std::size_t>(info.channels));
        return !progress || progress(++blocks);
    });
    return out;
}

}  // namespace tamrel
