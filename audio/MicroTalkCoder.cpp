// MicroTalk's blocks: each channel's bitstream after one byte that readers
// skip, at the channel's offset from version 1 on.
#include <algorithm>
#include <string>
#include <vector>

#include "audio/Blocks.h"
#include "audio/Coder.h"
#include "audio/MicroTalk.h"

namespace tamrel {

namespace {

class MicroTalkDecoder : public PerBlockDecoder {
public:
    explicit MicroTalkDecoder(const StreamInfo& info)
        : PerBlockDecoder(info), channel_(channels_) {}

protected:
    void DecodeBlock(const Payload& block, std::uint32_t count, std::int16_t* out) override {
        const std::vector<std::size_t> starts = Starts(block);
        for (std::size_t c = 0; c < channels_ && count > 0; ++c) {
            const std::size_t start = starts[c] + 1;
            const unsigned char* data = block.At(start, 0, "a channel's bitstream");
            const std::string damage = channel_[c].DecodeBlock(
                data, block.Size() - start, count, info_.LaterRevision(), out + c, channels_);
            if (!damage.empty())
                block.Fail(damage);
        }
    }

private:
    std::vector<microtalk::ChannelDecoder> channel_;
};

class MicroTalkEncoder : public CodecEncoder {
public:
    MicroTalkEncoder(const StreamInfo& info, EncodeStats& stats) : CodecEncoder(info, stats) {
        for (std::size_t c = 0; c < channels_; ++c)
            channel_.emplace_back(info.codec == Codec::MicroTalk10, BitsPerFrame());
    }

    std::string Payload(const std::int16_t* samples, std::uint32_t count) override {
        std::string payload = Count(count);
        std::vector<std::string> runs(channels_);
        for (std::size_t c = 0; c < channels_; ++c) {
            runs[c].assign(1, '\x01');
            runs[c] += channel_[c].EncodeBlock(count == 0 ? nullptr : samples + c, count, channels_,
                                               info_.LaterRevision());
        }
        stats_.frames += (count + microtalk::kFrameSamples - 1) / microtalk::kFrameSamples;
        AppendChannelRuns(payload, runs, info_.version >= 1, info_.bigEndian);
        return payload;
    }

private:
    // The old stream's data bits per frame and channel, which the new one
    // keeps to; 16 bits a sample divided by the codec's ratio without them.
    int BitsPerFrame() const {
        const int fallback =
            microtalk::kFrameSamples * 16 / (info_.codec == Codec::MicroTalk10 ? 10 : 5);
        std::uint64_t bytes = 0;
        for (const StreamBlock& b : info_.dataBlocks)
            bytes += b.size - std::min<std::uint64_t>(
                                  b.size, kBlockPreamble + ChannelTableEnd(channels_) + channels_);
        const double frames = static_cast<double>(info_.samples) / microtalk::kFrameSamples;
        if (frames < 1)
            return fallback;
        const double bits =
            static_cast<double>(bytes) * 8 / static_cast<double>(channels_) / frames;
        return bits >= 200 && bits <= microtalk::kFrameSamples * 16 ? static_cast<int>(bits)
                                                                    : fallback;
    }

    std::vector<microtalk::ChannelEncoder> channel_;
};

}  // namespace

std::unique_ptr<CodecDecoder> MakeMicroTalkDecoder(const StreamInfo& info) {
    return std::make_unique<MicroTalkDecoder>(info);
}

std::unique_ptr<CodecEncoder> MakeMicroTalkEncoder(const StreamInfo& info, EncodeStats& stats) {
    return std::make_unique<MicroTalkEncoder>(info, stats);
}

}  // namespace tamrel
