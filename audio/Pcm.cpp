#include "audio/Pcm.h"

#include <algorithm>
#include <cmath>
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
    PcmEncoder(const StreamInfo& info, EncodeStats& stats)
        : CodecEncoder(info, stats),
          bytes_(BytesPerSample(info.codec)),
          bigEndian_(IsBigEndian(info.codec)) {}

    std::string Payload(const std::int16_t* samples, std::uint32_t count) override {
        std::string payload = Count(count);
        if (!IsPlanar(info_.codec)) {
            if (info_.version >= 1)
                AppendSharedStart(payload, channels_, 0, info_.bigEndian);
            for (std::size_t i = 0; i < std::size_t{count} * channels_; ++i)
                Put(payload, samples[i]);
            return payload;
        }
        std::vector<std::string> runs(channels_);
        for (std::size_t c = 0; c < channels_; ++c)
            for (std::size_t i = 0; i < count; ++i)
                Put(runs[c], samples[i * channels_ + c]);
        AppendChannelRuns(payload, runs, info_.version >= 1, info_.bigEndian);
        return payload;
    }

private:
    void Put(std::string& out, std::int16_t sample) {
        if (bytes_ == 2)
            PutInt16(out, sample, bigEndian_);
        else
            out.push_back(static_cast<char>(EightBits(sample)));
    }

    // 16 bits to the 8 the decoder reads back (times 256), with triangular
    // dither of one step so that quiet sound turns into noise rather than
    // distortion. A sample 8 bits hold exactly is kept as it is, so that
    // silence stays silent and an exported stream replaced again is the
    // same; the noise is the same for the same sound, so that the same
    // audio always gives the same stream.
    std::int8_t EightBits(std::int16_t sample) {
        if (sample % 256 == 0)
            return static_cast<std::int8_t>(sample / 256);
        const double dither = Uniform() - Uniform();  // -1 to 1 step, triangular
        const double value = std::floor(sample / 256.0 + dither + 0.5);
        return static_cast<std::int8_t>(std::clamp(value, -128.0, 127.0));
    }

    double Uniform() {
        // xorshift64: fast, and the same sequence on every system.
        random_ ^= random_ << 13;
        random_ ^= random_ >> 7;
        random_ ^= random_ << 17;
        return static_cast<double>(random_ >> 11) / 9007199254740992.0;  // 2^53
    }

    std::size_t bytes_;
    bool bigEndian_;
    std::uint64_t random_ = 0x9E3779B97F4A7C15u;
};

}  // namespace

std::unique_ptr<CodecDecoder> MakePcmDecoder(const StreamInfo& info) {
    return std::make_unique<PcmDecoder>(info);
}

std::unique_ptr<CodecEncoder> MakePcmEncoder(const StreamInfo& info, EncodeStats& stats) {
    return std::make_unique<PcmEncoder>(info, stats);
}

}  // namespace tamrel
