// MPEG's blocks: the frames at the first channel's offset, which both
// channels share. The frames of all blocks are one bitstream, so the
// decoder feeds blocks as far as the counts need, and the encoder's last
// block takes what the library still holds.
#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "audio/Blocks.h"
#include "audio/Coder.h"
#include "audio/Mpeg.h"
#include "io/Bytes.h"

namespace tamrel {

namespace {

int LayerOf(Codec codec) {
    return codec == Codec::MpegLayer2 ? 2 : 3;
}

class MpegDecoder : public CodecDecoder {
public:
    explicit MpegDecoder(const StreamInfo& info)
        : info_(info),
          channels_(static_cast<std::size_t>(info.channels)),
          decoder_(static_cast<int>(info.sampleRate), static_cast<int>(info.channels)),
          delay_(static_cast<std::uint64_t>(mpeg::StartDelay(LayerOf(info.codec))) * channels_) {}

    // Block k's samples: as many as it counts, after the delay, from the
    // frames of this block and (where the counts run ahead) the next ones.
    void Decode(BlockFeed& feed, std::size_t k, std::vector<std::int16_t>& out) override {
        const auto need = std::uint64_t{info_.dataBlocks[k].samples} * channels_;
        while (decoded_.size() < delay_ + need && fed_ < info_.dataBlocks.size())
            Feed(feed);
        const auto dropped =
            static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(delay_, decoded_.size()));
        decoded_.erase(decoded_.begin(), decoded_.begin() + dropped);
        delay_ -= static_cast<std::uint64_t>(dropped);
        if (decoded_.size() < need)
            throw DecodeError(feed.Where(k) +
                              ": the frames hold fewer samples than the blocks count; the "
                              "stream is damaged");
        out.assign(decoded_.begin(), decoded_.begin() + static_cast<std::ptrdiff_t>(need));
        decoded_.erase(decoded_.begin(), decoded_.begin() + static_cast<std::ptrdiff_t>(need));
    }

private:
    // Feeds the next block's frames to the library.
    void Feed(BlockFeed& feed) {
        const Payload block = feed.Block(fed_++);
        const std::size_t start = block.ChannelStarts(channels_, info_.bigEndian)[0];
        const unsigned char* data = block.At(start, 0, "the frames");
        const std::size_t length = mpeg::FramesLength(data, block.Size() - start);
        if (const std::string error = decoder_.Feed(data, length, decoded_); !error.empty())
            block.Fail(error);
    }

    const StreamInfo& info_;
    std::size_t channels_;
    mpeg::Decoder decoder_;
    std::deque<std::int16_t> decoded_;  // decoded and not yet handed out
    std::size_t fed_ = 0;
    std::uint64_t delay_;  // still to drop
};

class MpegEncoder : public CodecEncoder {
public:
    MpegEncoder(const StreamInfo& info, EncodeStats& stats) : CodecEncoder(info, stats) {}

    std::string Payload(const std::int16_t* samples, std::uint32_t count) override {
        std::string frames;
        const std::size_t n = count == 0 ? 0 : Library().Add(samples, count, frames);
        fed_ += count;
        return Block(frames, n, fed_);
    }

    std::optional<std::string> Flush(std::uint64_t total) override {
        std::string frames;
        std::size_t n = Library().Flush(frames);
        // Only the frames that cover the delay and the sound.
        const auto perFrame = static_cast<std::uint64_t>(Library().FrameSamples());
        const std::uint64_t needed = (total + Delay() + perFrame - 1) / perFrame;
        const std::uint64_t keep = needed > framesWritten_ ? needed - framesWritten_ : 0;
        if (n > keep) {
            std::size_t at = 0;
            for (std::uint64_t k = 0; k < keep; ++k)
                at += static_cast<std::size_t>(
                    mpeg::ReadFrameHeader(
                        reinterpret_cast<const unsigned char*>(frames.data()) + at,
                        frames.size() - at)
                        ->bytes);
            frames.resize(at);
            n = static_cast<std::size_t>(keep);
        }
        return Block(frames, n, total);
    }

    // Constant bitrate: bytes a second over samples a second.
    double LeastBytesPerSample() const override {
        return info_.mpegBitrate * 125.0 / static_cast<double>(info_.sampleRate) /
               static_cast<double>(channels_);
    }

private:
    std::uint64_t Delay() const {
        return static_cast<std::uint64_t>(mpeg::StartDelay(LayerOf(info_.codec)));
    }

    mpeg::Encoder& Library() {
        if (!library_) {
            if (info_.mpegBitrate <= 0)
                throw EncodeError("the stream's first frame gives no bitrate");
            try {
                library_ = std::make_unique<mpeg::Encoder>(
                    LayerOf(info_.codec), static_cast<int>(info_.sampleRate),
                    static_cast<int>(channels_), info_.mpegBitrate);
            } catch (const std::runtime_error& e) {
                throw EncodeError(e.what());
            }
            delayLeft_ = Delay();
        }
        return *library_;
    }

    // A block of n whole frames: its count is their samples less what is
    // left of the delay, never beyond the sound handed in (fed).
    std::string Block(const std::string& frames, std::size_t n, std::uint64_t fed) {
        const std::uint64_t samples = n * static_cast<std::uint64_t>(Library().FrameSamples());
        const std::uint64_t fromDelay = std::min(delayLeft_, samples);
        delayLeft_ -= fromDelay;
        const std::uint64_t count = std::min(samples - fromDelay, fed - counted_);
        counted_ += count;
        framesWritten_ += n;
        std::string payload = Count(static_cast<std::uint32_t>(count));
        // Mono: offset 4 and four zero bytes, which every reader takes;
        // stereo: both channels' frames from offset 0.
        if (channels_ == 1) {
            AppendSharedStart(payload, 1, 4, info_.bigEndian);
            payload.append(4, '\0');
        } else {
            AppendSharedStart(payload, channels_, 0, info_.bigEndian);
        }
        return payload + frames;
    }

    std::unique_ptr<mpeg::Encoder> library_;
    std::uint64_t delayLeft_ = 0, fed_ = 0, counted_ = 0, framesWritten_ = 0;
};

}  // namespace

std::unique_ptr<CodecDecoder> MakeMpegDecoder(const StreamInfo& info) {
    return std::make_unique<MpegDecoder>(info);
}

std::unique_ptr<CodecEncoder> MakeMpegEncoder(const StreamInfo& info, EncodeStats& stats) {
    return std::make_unique<MpegEncoder>(info, stats);
}

}  // namespace tamrel
