#include "audio/Pcm.h"

#include <string>
#include <vector>

#include "audio/Blocks.h"
#include "audio/Coder.h"
#include "io/Bytes.h"

namespace tamrel {

namespace {

bool IsPlanar(Codec codec) {
    return codec == Codec::Pcm16LEPlanar || codec == Codec::Pcm16BEPlanar ||
           codec == Codec::Pcm8Planar;
}

bool IsBigEndian(Codec codec) {
    return codec == Codec::Pcm16BE || codec == Codec::Pcm16BEPlanar;
}

std::size_t BytesPerSample(Codec codec) {
    return codec == Codec::Pcm8 || codec == Codec::Pcm8Planar ? 1 : 2;
}

class PcmDecoder : public PerBlockDecoder {
public:
    explicit PcmDecoder(const StreamInfo& info)
        : PerBlockDecoder(info),
          bytes_(BytesPerSample(info.codec)),
          bigEndian_(IsBigEndian(info.codec)) {}

protected:
    void DecodeBlock(const Payload& block, std::uint32_t count, std::int16_t* out) override {
        const std::size_t n = count;
        if (!IsPlanar(info_.codec)) {
            // Interleaved: from the first channel's start, which all share.
            const unsigned char* b =
                block.At(Starts(block)[0], n * channels_ * bytes_, "the samples");
            for (std::size_t i = 0; i < n * channels_; ++i, b += bytes_)
                out[i] = Value(b);
            return;
        }
        // One run per channel: at its offset from version 1 on, else the
        // runs back to back after the count.
        std::vector<std::size_t> starts = Starts(block);
        for (std::size_t c = 0; c < channels_; ++c) {
            if (!HasTable())
                starts[c] = kBlockCountBytes + c * n * bytes_;
            const unsigned char* b = block.At(starts[c], n * bytes_, "a channel's samples");
            for (std::size_t i = 0; i < n; ++i, b += bytes_)
                out[i * channels_ + c] = Value(b);
        }
    }

private:
    std::int16_t Value(const unsigned char* b) const {
        if (bytes_ == 1)
            return static_cast<std::int16_t>(static_cast<std::int8_t>(b[0]) * 256);
        return ReadInt16(b, bigEndian_);
    }

    std::size_t bytes_;
    bool bigEndian_;
};

class PcmEncoder : public CodecEncoder {
public:
    PcmEncoder(const StreamInfo& info, EncodeStats& stats) : CodecEncoder(info, stats) {}

    std::string Payload(const std::int16_t* samples, std::uint32_t count) override {
        const bool bigEndian = IsBigEndian(info_.codec);
        std::string payload = Count(count);
        if (!IsPlanar(info_.codec)) {
            if (info_.version >= 1)
                AppendSharedStart(payload, channels_, 0, info_.bigEndian);
            for (std::size_t i = 0; i < std::size_t{count} * channels_; ++i)
                PutInt16(payload, samples[i], bigEndian);
            return payload;
        }
        std::vector<std::string> runs(channels_);
        for (std::size_t c = 0; c < channels_; ++c)
            for (std::size_t i = 0; i < count; ++i)
                PutInt16(runs[c], samples[i * channels_ + c], bigEndian);
        AppendChannelRuns(payload, runs, info_.version >= 1, info_.bigEndian);
        return payload;
    }
};

}  // namespace

std::unique_ptr<CodecDecoder> MakePcmDecoder(const StreamInfo& info) {
    return std::make_unique<PcmDecoder>(info);
}

std::unique_ptr<CodecEncoder> MakePcmEncoder(const StreamInfo& info, EncodeStats& stats) {
    return std::make_unique<PcmEncoder>(info, stats);
}

}  // namespace tamrel
