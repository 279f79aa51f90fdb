// The codecs whose blocks hold a run of fixed frames per channel: PS-ADPCM,
// Xbox IMA, DSP and N64.
#include <algorithm>
#include <string>
#include <vector>

#include "audio/Blocks.h"
#include "audio/Coder.h"
#include "audio/ConsoleAdpcm.h"
#include "audio/ImaAdpcm.h"
#include "io/Bytes.h"

namespace tamrel {

namespace {

struct FrameSize {
    int samples;
    int bytes;
};

FrameSize FrameOf(Codec codec) {
    switch (codec) {
        case Codec::XboxImaAdpcm:
            return {adpcm::kXboxFrameSamples, adpcm::kXboxFrameBytes};
        case Codec::DspAdpcm:
            return {adpcm::kDspFrameSamples, adpcm::kDspFrameBytes};
        case Codec::N64Adpcm:
            return {adpcm::kN64FrameSamples, adpcm::kN64FrameBytes};
        default:
            return {adpcm::kPsFrameSamples, adpcm::kPsFrameBytes};
    }
}

// Version 0 of PS-ADPCM: four unused bytes after the count, then each
// channel's frames in its share of the block.
bool PsShares(const StreamInfo& info) {
    return info.codec == Codec::PsAdpcm && info.version == 0;
}
constexpr std::size_t kPsSharesStart = kBlockCountBytes + 4;

class FrameRunDecoder : public PerBlockDecoder {
public:
    explicit FrameRunDecoder(const StreamInfo& info)
        : PerBlockDecoder(info),
          frame_(FrameOf(info.codec)),
          ps_(channels_),
          dsp_(channels_),
          n64_(channels_) {
        // The stream reader accepted these tags for every channel.
        for (std::size_t c = 0; c < channels_; ++c) {
            if (info.codec == Codec::DspAdpcm)
                coefficients_.push_back(
                    *adpcm::ReadDspCoefficients(info.coefficientTags[c], info.bigEndian));
            if (info.codec == Codec::N64Adpcm)
                codebooks_.push_back(*adpcm::ReadN64Codebook(info.coefficientTags[c]));
        }
    }

protected:
    void DecodeBlock(const Payload& block, std::uint32_t count, std::int16_t* out) override {
        std::vector<std::size_t> starts(channels_);
        if (PsShares(info_)) {
            const std::size_t share =
                block.Size() > kPsSharesStart ? (block.Size() - kPsSharesStart) / channels_ : 0;
            for (std::size_t c = 0; c < channels_; ++c)
                starts[c] = kPsSharesStart + c * share;
        } else {
            starts = Starts(block);
        }
        for (std::size_t c = 0; c < channels_; ++c)
            Channel(block, count, c, starts[c], out);
    }

private:
    void Channel(const Payload& block, std::uint32_t count, std::size_t c, std::size_t start,
                 std::int16_t* out) {
        if (info_.DspHistoryBeforeFrames())
            start += 4;  // two numbers of history the frames do not need
        const auto samples = static_cast<std::uint32_t>(frame_.samples);
        const std::uint32_t frames = (count + samples - 1) / samples;
        const unsigned char* f =
            block.At(start, std::size_t{frames} * frame_.bytes, "a channel's frames");
        for (std::uint32_t k = 0; k < frames; ++k, f += frame_.bytes) {
            const std::uint32_t first = k * samples;
            const int n = static_cast<int>(std::min(samples, count - first));
            std::int16_t* to = out + std::size_t{first} * channels_ + c;
            switch (info_.codec) {
                case Codec::PsAdpcm:
                    adpcm::DecodePsFrame(f, n, ps_[c], to, channels_);
                    break;
                case Codec::XboxImaAdpcm:
                    adpcm::DecodeXboxFrame(f, n, to, channels_);
                    break;
                case Codec::DspAdpcm:
                    adpcm::DecodeDspFrame(f, n, coefficients_[c], dsp_[c], to, channels_);
                    break;
                default:
                    if (!adpcm::N64FramePredictorOk(f, codebooks_[c]))
                        block.Fail("a frame names predictor " + std::to_string(f[0] & 15) +
                                   ", beyond the codebook's " +
                                   std::to_string(codebooks_[c].predictors));
                    adpcm::DecodeN64Frame(f, n, codebooks_[c], n64_[c], to, channels_);
                    break;
            }
        }
    }

    FrameSize frame_;
    std::vector<adpcm::PsHistory> ps_;
    std::vector<adpcm::DspHistory> dsp_;
    std::vector<adpcm::N64History> n64_;
    std::vector<adpcm::DspCoefficients> coefficients_;
    std::vector<adpcm::N64Codebook> codebooks_;
};

class FrameRunEncoder : public CodecEncoder {
public:
    FrameRunEncoder(const StreamInfo& info, EncodeStats& stats)
        : CodecEncoder(info, stats), frame_(FrameOf(info.codec)), state_(channels_) {}

    std::string Payload(const std::int16_t* samples, std::uint32_t count) override {
        std::string payload = Count(count);
        std::vector<std::string> runs(channels_);
        for (std::size_t c = 0; c < channels_; ++c)
            runs[c] = Frames(samples, count, c);
        if (PsShares(info_)) {
            payload.append(kPsSharesStart - kBlockCountBytes, '\0');
            AppendChannelRuns(payload, runs, false, info_.bigEndian);
        } else {
            AppendChannelRuns(payload, runs, true, info_.bigEndian);
        }
        return payload;
    }

    void SetPredictors(const std::vector<std::vector<adpcm::PredictorPair>>& pairs) override {
        for (const std::vector<adpcm::PredictorPair>& channel : pairs) {
            if (info_.codec == Codec::DspAdpcm)
                coefficients_.push_back(adpcm::DspCoefficientsOf(channel));
            else
                codebooks_.push_back(adpcm::N64CodebookOf(channel));
        }
    }

    std::vector<std::pair<int, std::string>> HeaderTags() const override {
        std::vector<std::pair<int, std::string>> tags;
        for (std::size_t c = 0; c < coefficients_.size(); ++c)
            tags.push_back(
                {kCoefficientTags[c], adpcm::DspCoefficientTag(coefficients_[c], info_.bigEndian)});
        for (std::size_t c = 0; c < codebooks_.size(); ++c)
            tags.push_back({kCoefficientTags[c], adpcm::N64CodebookTag(codebooks_[c])});
        return tags;
    }

private:
    // The running state of one channel.
    struct State {
        adpcm::PsHistory ps;
        adpcm::DspHistory dsp;
        adpcm::N64History n64;
        int xboxIndex = 0;
    };

    std::string Frames(const std::int16_t* samples, std::uint32_t count, std::size_t c) {
        std::string run;
        State& state = state_[c];
        if (info_.DspHistoryBeforeFrames()) {
            // Two numbers of history before the frames, which players skip.
            PutInt16(run, state.dsp.h1, info_.bigEndian);
            PutInt16(run, state.dsp.h2, info_.bigEndian);
        }
        const auto frame = static_cast<std::uint32_t>(frame_.samples);
        int target[adpcm::kXboxFrameSamples];
        for (std::uint32_t first = 0; first < count; first += frame) {
            const int n = static_cast<int>(std::min(frame, count - first));
            for (int k = 0; k < frame_.samples; ++k)
                target[k] =
                    k < n ? samples[(first + static_cast<std::size_t>(k)) * channels_ + c] : 0;
            switch (info_.codec) {
                case Codec::PsAdpcm:
                    adpcm::EncodePsFrame(target, n, state.ps, run);
                    break;
                case Codec::XboxImaAdpcm:
                    adpcm::EncodeXboxFrame(target, n, state.xboxIndex, run);
                    break;
                case Codec::DspAdpcm:
                    adpcm::EncodeDspFrame(target, n, coefficients_[c], state.dsp, run);
                    break;
                default:
                    adpcm::EncodeN64Frame(target, n, codebooks_[c], state.n64, run);
                    break;
            }
            ++stats_.frames;
        }
        return run;
    }

    FrameSize frame_;
    std::vector<State> state_;
    std::vector<adpcm::DspCoefficients> coefficients_;
    std::vector<adpcm::N64Codebook> codebooks_;
};

}  // namespace

std::unique_ptr<CodecDecoder> MakeConsoleDecoder(const StreamInfo& info) {
    return std::make_unique<FrameRunDecoder>(info);
}

std::unique_ptr<CodecEncoder> MakeConsoleEncoder(const StreamInfo& info, EncodeStats& stats) {
    return std::make_unique<FrameRunEncoder>(info, stats);
}

}  // namespace tamrel
