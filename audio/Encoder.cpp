#include "audio/Encoder.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "audio/Blocks.h"
#include "audio/ConsoleAdpcm.h"
#include "audio/Decoder.h"
#include "audio/MicroTalk.h"
#include "audio/Mpeg.h"
#include "io/Bytes.h"
#include "io/FileIo.h"

namespace tamrel {

namespace {

constexpr int kFrameSamples = 28;
constexpr int kShifts = 13;  // 0..12: a larger shift cannot reach any 16-bit value
// The longest block written: real streams hold a few thousand samples per
// block, and a damaged old stream must not make the encoder hold more.
constexpr std::uint64_t kMaxBlockFrames = 28 * 4681;
// The size of the pieces an encoded stream is held in.
constexpr std::size_t kBodyPiece = 4 << 20;
constexpr const char* kTooLarge =
    "the new stream would reach 2 GiB, more than this program's files may hold";

// The samples of the codec's frame: blocks but the last hold whole frames.
std::uint32_t FrameSamplesOf(Codec codec) {
    switch (codec) {
        case Codec::XboxImaAdpcm:
            return adpcm::kXboxFrameSamples;
        case Codec::DspAdpcm:
            return adpcm::kDspFrameSamples;
        case Codec::N64Adpcm:
            return adpcm::kN64FrameSamples;
        case Codec::MicroTalk10:
        case Codec::MicroTalk5:
            return microtalk::kFrameSamples;
        case Codec::MpegLayer2:
        case Codec::MpegLayer3:
            return 1152;
        default:
            return kFrameSamples;
    }
}

// The codecs whose coefficients the header holds: fitted to the sound
// before its first frame is written.
bool HasFittedCoefficients(Codec codec) {
    return codec == Codec::DspAdpcm || codec == Codec::N64Adpcm;
}

std::string Block(const char* id, std::string payload) {
    payload.resize((payload.size() + 3) / 4 * 4, '\0');
    std::string out(id, 4);
    PutUint32(out, static_cast<std::uint32_t>(kBlockPreamble + payload.size()), false);
    return out + payload;
}

// One channel's history and the search for its frames, with the decoder's
// own arithmetic.
struct Channel {
    int h1 = 0, h2 = 0;
    double errorSum = 0;
    std::uint64_t frames = 0;
};

struct FrameChoice {
    int filter = 0, shift = 0;
    int nibbles[kFrameSamples] = {};
    int decoded[kFrameSamples] = {};
    double error = std::numeric_limits<double>::max();
    bool clipped = false;
};

// The nibble whose decoded sample comes nearest the target, and that sample.
inline int BestNibble(int target, int shift, int filter, int h1, int h2, int rounding, int& decoded,
                      bool& clipped) {
    const int base = kXaK1[filter] * h1 + kXaK2[filter] * h2 + rounding;
    const int step = 1 << (20 - shift);
    // (n * step + base) >> 8 should be the target: n near (target * 256 - base) / step.
    const long long want = static_cast<long long>(target) * 256 + 128 - base;
    long long n = want >= 0 ? want / step : -((-want + step - 1) / step);
    int bestN = 0, bestY = 0, bestD = std::numeric_limits<int>::max();
    bool bestClip = false;
    for (long long c = n; c <= n + 1; ++c) {
        const int candidate = static_cast<int>(std::clamp<long long>(c, -8, 7));
        int y = (candidate * step + base) >> 8;
        bool clip = false;
        if (y > 32767 || y < -32768) {
            y = std::clamp(y, -32768, 32767);
            clip = true;
        }
        const int d = std::abs(y - target);
        if (d < bestD) {
            bestD = d;
            bestN = candidate;
            bestY = y;
            bestClip = clip;
        }
    }
    decoded = bestY;
    clipped = bestClip;
    return bestN;
}

// Tries every filter and shift on one frame of one channel; count samples
// are real (the rest of a last frame is zeros).
FrameChoice SearchFrame(const int* target, int count, const Channel& channel, int rounding) {
    FrameChoice best;
    FrameChoice trial;
    for (int filter = 0; filter < 4; ++filter) {
        for (int shift = 0; shift < kShifts; ++shift) {
            int h1 = channel.h1, h2 = channel.h2;
            double error = 0;
            bool clipped = false;
            for (int k = 0; k < kFrameSamples; ++k) {
                int y = 0;
                bool clip = false;
                const int t = k < count ? target[k] : 0;
                trial.nibbles[k] = BestNibble(t, shift, filter, h1, h2, rounding, y, clip);
                trial.decoded[k] = y;
                if (k < count) {
                    const double d = static_cast<double>(y) - t;
                    error += d * d;
                    clipped = clipped || (clip && y != t);
                }
                h2 = h1;
                h1 = y;
                if (error >= best.error)
                    break;
            }
            if (error < best.error) {
                trial.filter = filter;
                trial.shift = shift;
                trial.error = error;
                trial.clipped = clipped;
                best = trial;
            }
        }
    }
    return best;
}

// The header block of the new stream: the old one's platform and tags, with
// the sample count, and for a stream that loops the loop (both tags, added
// where the old header lacked one).
std::string NewHeader(std::string_view oldHeader, std::uint32_t headerSize, std::uint32_t count,
                      std::optional<SampleLoop> loop,
                      const std::vector<std::pair<int, std::string>>& newTags) {
    const std::string_view payloadIn =
        oldHeader.substr(kBlockPreamble, headerSize - kBlockPreamble);
    std::string payload(payloadIn.substr(0, 4));  // "PT" and the platform
    auto value = [](std::uint64_t v) {
        std::string bytes;
        for (; v != 0 || bytes.empty(); v >>= 8)
            bytes.insert(bytes.begin(), static_cast<char>(v & 0xFF));
        return bytes;
    };
    auto put = [&](int tag, const std::string& bytes) {
        payload.push_back(static_cast<char>(tag));
        payload.push_back(static_cast<char>(bytes.size()));
        payload += bytes;
    };
    const std::uint64_t loopStart = loop ? loop->start : 0;
    const std::uint64_t loopLast = loop && loop->end > 0 ? loop->end - 1 : 0;  // stored inclusively
    bool wroteCount = false, wroteStart = false, wroteEnd = false;
    HeaderTags tags(payloadIn.size() > 4 ? payloadIn.substr(4) : std::string_view());
    HeaderTag tag;
    // The end, a repeated header (which is dropped) or damage ends the copy.
    while (tags.Next(tag) && tag.kind != HeaderTag::Kind::End &&
           tag.kind != HeaderTag::Kind::Repeat) {
        if (tag.kind == HeaderTag::Kind::Marker) {
            payload.push_back(static_cast<char>(tag.id));
        } else if (tag.id == 0x85) {
            put(tag.id, value(count));
            wroteCount = true;
        } else if (tag.id == 0x86 && loop) {
            put(tag.id, value(loopStart));
            wroteStart = true;
        } else if (tag.id == 0x87 && loop) {
            put(tag.id, value(loopLast));
            wroteEnd = true;
        } else if (std::any_of(newTags.begin(), newTags.end(),
                               [&](const auto& t) { return t.first == tag.id; })) {
            continue;  // written anew below
        } else {
            payload.push_back(static_cast<char>(tag.id));
            payload.append(tag.stored);
        }
    }
    if (!wroteCount)
        put(0x85, value(count));
    if (loop && !wroteStart)
        put(0x86, value(loopStart));
    if (loop && !wroteEnd)
        put(0x87, value(loopLast));
    for (const auto& [id, bytes] : newTags)
        put(id, bytes);
    payload.push_back(static_cast<char>(0xFF));
    return Block("SCHl", payload);
}

// Encodes one data block after the other, with the history that the codec
// carries from frame to frame.
class BlockEncoder {
public:
    BlockEncoder(const StreamInfo& info, EncodeStats& stats)
        : info_(info),
          channels_(static_cast<int>(info.channels)),
          state_(static_cast<std::size_t>(channels_)),
          console_(static_cast<std::size_t>(channels_)),
          stats_(stats) {}

    // One data block's payload for count samples per channel from frame at.
    std::string BlockPayload(const std::vector<std::int16_t>& samples, std::size_t at,
                             std::uint32_t count) {
        const bool be = info_.bigEndian;
        std::string payload;
        PutUint32(payload, count, be);
        auto sample = [&](std::uint32_t i, int c) {
            return static_cast<int>(samples[(at + i) * static_cast<std::size_t>(channels_) +
                                            static_cast<std::size_t>(c)]);
        };
        std::vector<std::string> runs(static_cast<std::size_t>(channels_));
        switch (info_.codec) {
            case Codec::Pcm16LE:
            case Codec::Pcm16BE: {
                const bool pcmBE = info_.codec == Codec::Pcm16BE;
                std::string data;
                for (std::uint32_t i = 0; i < count; ++i)
                    for (int c = 0; c < channels_; ++c)
                        PutInt16(data, sample(i, c), pcmBE);
                if (info_.version >= 1) {
                    PutUint32(payload, 0, be);
                    for (int c = 1; c < channels_; ++c)
                        PutUint32(payload, 0, be);
                }
                return payload + data;
            }
            case Codec::Pcm16LEPlanar:
            case Codec::Pcm16BEPlanar: {
                const bool pcmBE = info_.codec == Codec::Pcm16BEPlanar;
                for (int c = 0; c < channels_; ++c)
                    for (std::uint32_t i = 0; i < count; ++i)
                        PutInt16(runs[static_cast<std::size_t>(c)], sample(i, c), pcmBE);
                return WithRuns(payload, runs, info_.version >= 1);
            }
            case Codec::XaV1:
                // From version 1 on, the offset table stands before the
                // interleaved frames, which both channels share.
                if (info_.version >= 1)
                    for (int c = 0; c < channels_; ++c)
                        PutUint32(payload, 0, be);
                return payload + V1Data(sample, count);
            case Codec::XaR1:
            case Codec::XaR2:
            case Codec::XaR3:
                return XaV2Data(payload, sample, count);
            case Codec::PsAdpcm:
            case Codec::XboxImaAdpcm:
            case Codec::DspAdpcm:
            case Codec::N64Adpcm:
                for (int c = 0; c < channels_; ++c)
                    runs[static_cast<std::size_t>(c)] = ConsoleFrames(sample, count, c);
                if (info_.codec == Codec::PsAdpcm && info_.version == 0) {
                    // Four unused bytes, then each channel's frames in turn.
                    payload.append(4, '\0');
                    return WithRuns(payload, runs, false);
                }
                return WithRuns(payload, runs, true);
            case Codec::ImaAdpcm:
                return payload + ImaData(sample, count);
            case Codec::MpegLayer2:
            case Codec::MpegLayer3:
                return MpegData(samples, at, count);
            case Codec::MicroTalk10:
            case Codec::MicroTalk5:
                return MicroTalkData(payload, samples, at, count);
            default:
                throw EncodeError("no encoder");
        }
    }

    // The v2 family: the original revision's split layout (every channel's
    // history first, then each channel's frames in turn) in version 0, else
    // one run per channel at its offset.
    template <typename Sample>
    std::string XaV2Data(std::string payload, Sample sample, std::uint32_t count) {
        std::vector<std::string> runs(static_cast<std::size_t>(channels_));
        if (info_.codec == Codec::XaR1 && info_.version == 0) {
            std::string history;
            for (int c = 0; c < channels_; ++c) {
                PutInt16(history, State(c).h1, false);
                PutInt16(history, State(c).h2, false);
            }
            history.resize(SplitHistoryBytes(channels_), '\0');
            for (int c = 0; c < channels_; ++c)
                runs[static_cast<std::size_t>(c)] = V2Frames(sample, count, c, false);
            payload += history;
            return WithRuns(payload, runs, false);
        }
        for (int c = 0; c < channels_; ++c) {
            std::string& run = runs[static_cast<std::size_t>(c)];
            if (info_.codec == Codec::XaR1) {
                PutInt16(run, State(c).h1, info_.bigEndian);
                PutInt16(run, State(c).h2, info_.bigEndian);
            }
            run += V2Frames(sample, count, c, info_.codec != Codec::XaR1);
        }
        return WithRuns(payload, runs, true);
    }

    // MPEG: the frames the encoder has ready for these samples.
    std::string MpegData(const std::vector<std::int16_t>& samples, std::size_t at,
                         std::uint32_t count) {
        std::string frames;
        const std::size_t n =
            count == 0 ? 0
                       : Mpeg().Add(samples.data() + at * static_cast<std::size_t>(channels_),
                                    count, frames);
        mpegFed_ += count;
        return MpegBlock(frames, n, mpegFed_);
    }

    // MicroTalk: each channel's bitstream after one byte that readers skip.
    std::string MicroTalkData(std::string payload, const std::vector<std::int16_t>& samples,
                              std::size_t at, std::uint32_t count) {
        if (microTalk_.empty())
            for (int c = 0; c < channels_; ++c)
                microTalk_.emplace_back(info_.codec == Codec::MicroTalk10, MicroTalkBitsPerFrame());
        std::vector<std::string> runs(static_cast<std::size_t>(channels_));
        for (int c = 0; c < channels_; ++c) {
            const std::int16_t* first = count == 0 ? nullptr
                                                   : samples.data() +
                                                         at * static_cast<std::size_t>(channels_) +
                                                         static_cast<std::size_t>(c);
            std::string& run = runs[static_cast<std::size_t>(c)];
            run.assign(1, '\x01');
            run += microTalk_[static_cast<std::size_t>(c)].EncodeBlock(
                first, count, static_cast<std::size_t>(channels_), info_.LaterRevision());
        }
        stats_.frames += (count + microtalk::kFrameSamples - 1) / microtalk::kFrameSamples;
        return WithRuns(payload, runs, info_.version >= 1);
    }

    // MPEG: the frames the encoder still holds, in a last block whose count
    // makes the counts add up to the sound's total; nothing for other codecs.
    std::optional<std::string> Flush(std::uint64_t total) {
        if (!mpeg_)
            return std::nullopt;
        std::string frames;
        std::size_t n = mpeg_->Flush(frames);
        // Only the frames that cover the delay and the sound.
        const std::uint64_t spf = static_cast<std::uint64_t>(mpeg_->FrameSamples());
        const std::uint64_t needed = (total + MpegDelay() + spf - 1) / spf;
        const std::uint64_t keep = needed > mpegFrames_ ? needed - mpegFrames_ : 0;
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
        return MpegBlock(frames, n, total);
    }

    // The coefficients of a channel, fitted to the sound, before its first
    // frame; their header tags.
    void SetCoefficients(const std::vector<std::vector<adpcm::PredictorPair>>& pairs) {
        for (std::size_t c = 0; c < pairs.size(); ++c) {
            if (info_.codec == Codec::DspAdpcm)
                dsp_.push_back(adpcm::DspCoefficientsOf(pairs[c]));
            else
                books_.push_back(adpcm::N64CodebookOf(pairs[c]));
        }
    }
    std::vector<std::pair<int, std::string>> CoefficientTags() const {
        std::vector<std::pair<int, std::string>> tags;
        for (std::size_t c = 0; c < dsp_.size(); ++c)
            tags.push_back(
                {kCoefficientTags[c], adpcm::DspCoefficientTag(dsp_[c], info_.bigEndian)});
        for (std::size_t c = 0; c < books_.size(); ++c)
            tags.push_back({kCoefficientTags[c], adpcm::N64CodebookTag(books_[c])});
        return tags;
    }

private:
    std::uint64_t MpegDelay() const {
        return static_cast<std::uint64_t>(
            mpeg::StartDelay(info_.codec == Codec::MpegLayer2 ? 2 : 3));
    }

    mpeg::Encoder& Mpeg() {
        if (!mpeg_) {
            if (info_.mpegBitrate <= 0)
                throw EncodeError("the stream's first frame gives no bitrate");
            try {
                mpeg_ = std::make_unique<mpeg::Encoder>(info_.codec == Codec::MpegLayer2 ? 2 : 3,
                                                        static_cast<int>(info_.sampleRate),
                                                        channels_, info_.mpegBitrate);
            } catch (const std::runtime_error& e) {
                throw EncodeError(e.what());
            }
            mpegDelayLeft_ = MpegDelay();
        }
        return *mpeg_;
    }

    // A block of n whole frames: its count is their samples less what is
    // left of the delay, never beyond the sound handed in (fed).
    std::string MpegBlock(const std::string& frames, std::size_t n, std::uint64_t fed) {
        const std::uint64_t samples = n * static_cast<std::uint64_t>(Mpeg().FrameSamples());
        const std::uint64_t fromDelay = std::min(mpegDelayLeft_, samples);
        mpegDelayLeft_ -= fromDelay;
        std::uint64_t count = std::min(samples - fromDelay, fed - mpegCounted_);
        mpegCounted_ += count;
        mpegFrames_ += n;
        std::string payload;
        PutUint32(payload, static_cast<std::uint32_t>(count), info_.bigEndian);
        // Mono: offset 4 and four zero bytes, which every reader takes;
        // stereo: both channels' frames from offset 0.
        if (channels_ == 1) {
            PutUint32(payload, 4, info_.bigEndian);
            payload.append(4, '\0');
        } else {
            for (int c = 0; c < channels_; ++c)
                PutUint32(payload, 0, info_.bigEndian);
        }
        return payload + frames;
    }

    // The old stream's data bits per frame and channel, which the new one
    // keeps to; 16 bits a sample divided by the codec's ratio without them.
    int MicroTalkBitsPerFrame() const {
        const int fallback =
            microtalk::kFrameSamples * 16 / (info_.codec == Codec::MicroTalk10 ? 10 : 5);
        std::uint64_t bytes = 0;
        for (const StreamBlock& b : info_.dataBlocks)
            bytes += b.size -
                     std::min<std::uint64_t>(
                         b.size, kBlockPreamble + 4 + 5 * static_cast<std::uint64_t>(channels_));
        const double frames = static_cast<double>(info_.samples) / microtalk::kFrameSamples;
        if (frames < 1)
            return fallback;
        const double bits = static_cast<double>(bytes) * 8 / channels_ / frames;
        return bits >= 200 && bits <= microtalk::kFrameSamples * 16 ? static_cast<int>(bits)
                                                                    : fallback;
    }

    // The running state of one channel in the consoles' codecs.
    struct ConsoleState {
        adpcm::PsHistory ps;
        adpcm::DspHistory dsp;
        adpcm::N64History n64;
        adpcm::ImaState ima;
        int xboxIndex = 0;
    };

    template <typename Sample>
    std::string ConsoleFrames(Sample sample, std::uint32_t count, int c) {
        std::string run;
        const auto channel = static_cast<std::size_t>(c);
        ConsoleState& state = console_[channel];
        if (info_.DspHistoryBeforeFrames()) {
            // Two numbers of history before the frames, which players skip.
            PutInt16(run, state.dsp.h1, info_.bigEndian);
            PutInt16(run, state.dsp.h2, info_.bigEndian);
        }
        const std::uint32_t frame = FrameSamplesOf(info_.codec);
        int target[adpcm::kXboxFrameSamples];
        for (std::uint32_t first = 0; first < count; first += frame) {
            const int n = static_cast<int>(std::min(frame, count - first));
            for (int k = 0; k < static_cast<int>(frame); ++k)
                target[k] = k < n ? sample(first + static_cast<std::uint32_t>(k), c) : 0;
            switch (info_.codec) {
                case Codec::PsAdpcm:
                    adpcm::EncodePsFrame(target, n, state.ps, run);
                    break;
                case Codec::XboxImaAdpcm:
                    adpcm::EncodeXboxFrame(target, n, state.xboxIndex, run);
                    break;
                case Codec::DspAdpcm:
                    adpcm::EncodeDspFrame(target, n, dsp_[channel], state.dsp, run);
                    break;
                default:
                    adpcm::EncodeN64Frame(target, n, books_[channel], state.n64, run);
                    break;
            }
            ++stats_.frames;
        }
        return run;
    }

    // IMA: the state at the block's start for two channels (the second
    // unused in mono), then the codes.
    template <typename Sample>
    std::string ImaData(Sample sample, std::uint32_t count) {
        std::string data;
        for (std::size_t c = 0; c < 2; ++c) {
            const adpcm::ImaState state = c < console_.size() ? console_[c].ima : adpcm::ImaState{};
            PutInt16(data, state.predictor, false);
            PutInt16(data, state.index, false);
        }
        std::vector<std::vector<std::uint8_t>> codes(console_.size(),
                                                     std::vector<std::uint8_t>(count));
        std::vector<int> target(count);
        for (std::size_t c = 0; c < console_.size(); ++c) {
            for (std::uint32_t i = 0; i < count; ++i)
                target[i] = sample(i, static_cast<int>(c));
            adpcm::ImaEncode(target.data(), count, 1, console_[c].ima, codes[c].data(),
                             adpcm::kImaBeam);
        }
        if (console_.size() == 2) {
            for (std::uint32_t i = 0; i < count; ++i)
                data.push_back(static_cast<char>(codes[0][i] << 4 | codes[1][i]));
        } else {
            for (std::uint32_t i = 0; i < count; i += 2)
                data.push_back(
                    static_cast<char>(codes[0][i] << 4 | (i + 1 < count ? codes[0][i + 1] : 0)));
        }
        stats_.frames += (count + kFrameSamples - 1) / kFrameSamples;
        return data;
    }

    Channel& State(int c) { return state_[static_cast<std::size_t>(c)]; }

    std::string WithRuns(std::string payload, const std::vector<std::string>& runs, bool offsets) {
        if (offsets) {
            std::uint32_t offset = 0;
            for (const auto& run : runs) {
                PutUint32(payload, offset, info_.bigEndian);
                offset += static_cast<std::uint32_t>(run.size());
            }
        }
        for (const auto& run : runs)
            payload += run;
        return payload;
    }

    template <typename Sample>
    std::string V1Data(Sample sample, std::uint32_t count) {
        std::string data;
        for (int c = 0; c < 2; ++c) {
            PutInt16(data, State(c).h1, false);
            PutInt16(data, State(c).h2, false);
        }
        int target[2][kFrameSamples];
        for (std::uint32_t first = 0; first < count; first += kFrameSamples) {
            const int n = static_cast<int>(std::min<std::uint32_t>(kFrameSamples, count - first));
            FrameChoice choice[2];
            for (int c = 0; c < 2; ++c) {
                for (int k = 0; k < n; ++k)
                    target[c][k] = sample(first + static_cast<std::uint32_t>(k), c);
                choice[c] = SearchFrame(target[c], n, State(c), 0x80);
                Advance(State(c), choice[c]);
            }
            data.push_back(static_cast<char>(choice[0].filter << 4 | choice[1].filter));
            data.push_back(static_cast<char>(choice[0].shift << 4 | choice[1].shift));
            for (int k = 0; k < kFrameSamples; ++k)
                data.push_back(static_cast<char>((choice[0].nibbles[k] & 15) << 4 |
                                                 (choice[1].nibbles[k] & 15)));
            stats_.frames += 2;
        }
        return data;
    }

    template <typename Sample>
    std::string V2Frames(Sample sample, std::uint32_t count, int c, bool rawAllowed) {
        std::string run;
        Channel& channel = State(c);
        int target[kFrameSamples];
        for (std::uint32_t first = 0; first < count; first += kFrameSamples) {
            const int n = static_cast<int>(std::min<std::uint32_t>(kFrameSamples, count - first));
            for (int k = 0; k < n; ++k)
                target[k] = sample(first + static_cast<std::uint32_t>(k), c);
            for (int k = n; k < kFrameSamples; ++k)
                target[k] = 0;
            const FrameChoice choice = SearchFrame(target, n, channel, 0);
            const double average =
                channel.frames > 0 ? channel.errorSum / static_cast<double>(channel.frames) : 0;
            const bool raw =
                rawAllowed && (choice.clipped || (channel.frames >= 8 && choice.error > 1e4 &&
                                                  choice.error > kRawFrameErrorRatio * average));
            ++stats_.frames;
            if (raw) {
                // Exact samples; the history after it is the pair stored in
                // it, which is the true running history.
                const int last = target[kFrameSamples - 1], before = target[kFrameSamples - 2];
                run.push_back(static_cast<char>(0xEE));
                PutInt16(run, last, true);
                PutInt16(run, before, true);
                for (int k = 0; k < kFrameSamples; ++k)
                    PutInt16(run, target[k], true);
                channel.h1 = last;
                channel.h2 = before;
                ++channel.frames;
                ++stats_.rawFrames;
                continue;
            }
            run.push_back(static_cast<char>(choice.filter << 4 | choice.shift));
            for (int k = 0; k < kFrameSamples; k += 2)
                run.push_back(static_cast<char>((choice.nibbles[k] & 15) << 4 |
                                                (choice.nibbles[k + 1] & 15)));
            Advance(channel, choice);
        }
        return run;
    }

    static void Advance(Channel& channel, const FrameChoice& choice) {
        channel.h1 = choice.decoded[kFrameSamples - 1];
        channel.h2 = choice.decoded[kFrameSamples - 2];
        channel.errorSum += choice.error;
        ++channel.frames;
    }

    const StreamInfo& info_;
    int channels_;
    std::vector<Channel> state_;
    std::vector<ConsoleState> console_;
    std::vector<adpcm::DspCoefficients> dsp_;
    std::vector<adpcm::N64Codebook> books_;
    std::vector<microtalk::ChannelEncoder> microTalk_;
    std::unique_ptr<mpeg::Encoder> mpeg_;
    std::uint64_t mpegDelayLeft_ = 0, mpegFed_ = 0, mpegCounted_ = 0, mpegFrames_ = 0;
    EncodeStats& stats_;
};

}  // namespace

bool CanEncode(const StreamInfo& info) {
    return info.Encodable();
}

struct StreamEncoder::Impl {
    const StreamInfo& info;
    std::string oldHeader;
    EncodeStats localStats;
    BlockEncoder blocks;
    std::size_t channels;
    std::uint32_t perBlock;
    // Once three blocks' worth has come, the block length is settled: the
    // stream will have at least three blocks of it.
    bool settled = false;
    std::vector<std::int16_t> pending;  // frames not yet in a block
    std::uint64_t frames = 0;
    std::uint32_t blockCount = 0;
    std::vector<std::string> body;
    std::uint64_t bodySize = 0;
    // DSP and N64: the predictors are fitted to windows of the sound before
    // the first frame is written.
    std::vector<adpcm::PredictorFitter> fitters;
    bool trained = false, fitted = false;

    Impl(const StreamInfo& i, std::string_view header, EncodeStats* stats)
        : info(i),
          oldHeader(header.substr(0, std::min<std::size_t>(header.size(), i.headerSize))),
          blocks(i, stats ? *stats : localStats),
          channels(static_cast<std::size_t>(i.channels)),
          perBlock(BlockLengthOf(i)) {
        if (HasFittedCoefficients(i.codec))
            fitters.assign(channels,
                           adpcm::PredictorFitter(static_cast<int>(FrameSamplesOf(i.codec))));
    }

    // About the old blocks' length, a whole number of frames; never more than
    // kMaxBlockFrames, whatever a damaged old stream declares.
    static std::uint32_t BlockLengthOf(const StreamInfo& info) {
        const std::uint32_t frame = FrameSamplesOf(info.codec);
        std::uint64_t oldCount = 0;
        for (const StreamBlock& b : info.dataBlocks)
            oldCount += b.samples;
        std::uint64_t length = info.dataBlocks.empty() ? 2048 : oldCount / info.dataBlocks.size();
        length = (length + frame / 2) / frame * frame;
        return static_cast<std::uint32_t>(
            std::clamp<std::uint64_t>(length, frame, kMaxBlockFrames / frame * frame));
    }

    void Train(const std::int16_t* samples, std::size_t frames) {
        for (std::size_t c = 0; frames > 0 && c < fitters.size(); ++c)
            fitters[c].Add(samples + c, frames, channels);
        trained = true;
    }

    void FitCoefficients() {
        if (fitted || fitters.empty())
            return;
        // Without a first reading, the sound that has come so far serves.
        if (!trained)
            Train(pending.data(), pending.size() / channels);
        const int count = info.codec == Codec::DspAdpcm ? 8 : adpcm::kN64WrittenPredictors;
        std::vector<std::vector<adpcm::PredictorPair>> pairs;
        for (const adpcm::PredictorFitter& fitter : fitters)
            pairs.push_back(fitter.Fit(count));
        blocks.SetCoefficients(pairs);
        fitted = true;
    }

    // Encodes the pending frames into blocks of perBlock while there are
    // enough (or, at the end, all of them).
    void EmitBlocks(bool all) {
        FitCoefficients();
        std::size_t at = 0;
        const std::size_t have = pending.size() / channels;
        while (have - at >= perBlock || (all && at < have)) {
            const auto count =
                static_cast<std::uint32_t>(std::min<std::size_t>(perBlock, have - at));
            AppendBlock(blocks.BlockPayload(pending, at, count));
            at += count;
        }
        pending.erase(pending.begin(),
                      pending.begin() + static_cast<std::ptrdiff_t>(at * channels));
    }

    void AppendBlock(const std::string& payload) {
        // The header and the end block are small; the data decides.
        if (bodySize + payload.size() + 4096 > static_cast<std::uint64_t>(kMaxFileSize))
            throw EncodeError(kTooLarge);
        Append(Block("SCDl", payload));
        ++blockCount;
    }

    void Append(const std::string& bytes) {
        if (body.empty() || body.back().size() + bytes.size() > kBodyPiece) {
            body.emplace_back();
            body.back().reserve(std::max(kBodyPiece, bytes.size()));
        }
        body.back() += bytes;
        bodySize += bytes.size();
    }
};

StreamEncoder::StreamEncoder(const StreamInfo& info, std::string_view oldHeader,
                             EncodeStats* stats) {
    if (!CanEncode(info))
        throw EncodeError("no encoder for " + info.CodecName());
    if (oldHeader.size() < info.headerSize)
        throw std::logic_error("the old stream's header is not all there");
    impl_ = std::make_unique<Impl>(info, oldHeader, stats);
}

StreamEncoder::~StreamEncoder() = default;

namespace {

constexpr const char* kTooManySamples =
    "the new stream would hold more samples than a stream can count";

// The fewest bytes a sample of one channel takes in the codec.
double LeastBytesPerSample(const StreamInfo& info) {
    switch (info.codec) {
        case Codec::Pcm16LE:
        case Codec::Pcm16BE:
        case Codec::Pcm16LEPlanar:
        case Codec::Pcm16BEPlanar:
            return 2;
        case Codec::Pcm8:
        case Codec::Pcm8Planar:
            return 1;
        case Codec::MpegLayer2:
        case Codec::MpegLayer3:
            // Constant bitrate: bytes a second over samples a second.
            return info.mpegBitrate * 125.0 / static_cast<double>(info.sampleRate) /
                   static_cast<double>(info.channels);
        default:
            return 1 / TraitsOf(info.codec).maxSamplesPerByte;
    }
}

}  // namespace

void StreamEncoder::CheckLength(std::uint64_t frames) const {
    const Impl& d = *impl_;
    if (frames > 0xFFFFFFFFu)
        throw EncodeError(kTooManySamples);
    const double least =
        static_cast<double>(frames) * static_cast<double>(d.channels) * LeastBytesPerSample(d.info);
    if (least >= static_cast<double>(kMaxFileSize))
        throw EncodeError(kTooLarge);
}

void StreamEncoder::Add(const std::int16_t* samples, std::size_t frames) {
    Impl& d = *impl_;
    if (d.frames + frames > 0xFFFFFFFFu)
        throw EncodeError(kTooManySamples);
    d.pending.insert(d.pending.end(), samples, samples + frames * d.channels);
    d.frames += frames;
    if (!d.settled && d.frames >= 3 * std::uint64_t{d.perBlock})
        d.settled = true;
    if (d.settled)
        d.EmitBlocks(false);
}

bool StreamEncoder::NeedsTraining() const {
    return !impl_->fitters.empty() && !impl_->trained;
}

void StreamEncoder::Train(const std::int16_t* samples, std::size_t frames) {
    impl_->Train(samples, frames);
}

std::uint64_t StreamEncoder::Frames() const {
    return impl_->frames;
}

EncodedStream StreamEncoder::Finish(std::optional<SampleLoop> loop) {
    Impl& d = *impl_;
    // Players refuse a stream without a sample, and no loop fits in one.
    if (d.frames == 0)
        throw EncodeError("there is no sound to encode");
    if (!d.settled) {
        // A short stream: blocks of a third of it, so that it has three.
        const std::uint32_t frame = FrameSamplesOf(d.info.codec);
        const std::uint64_t third = (d.frames + 2) / 3;
        d.perBlock =
            std::min<std::uint32_t>(d.perBlock, static_cast<std::uint32_t>(std::max<std::uint64_t>(
                                                    frame, (third + frame - 1) / frame * frame)));
    }
    d.EmitBlocks(true);
    if (std::optional<std::string> last = d.blocks.Flush(d.frames))
        d.AppendBlock(*last);
    while (d.blockCount < 3)
        d.AppendBlock(d.blocks.BlockPayload(d.pending, 0, 0));
    const auto total = static_cast<std::uint32_t>(d.frames);
    if (d.info.Loops() && !loop)
        loop = SampleLoop{0, total};
    if (!d.info.Loops())
        loop.reset();
    EncodedStream out;
    out.frames = d.frames;
    out.head = NewHeader(d.oldHeader, d.info.headerSize, total, loop, d.blocks.CoefficientTags());
    if (d.info.blockCountTag) {
        std::string count;
        PutUint32(count, d.blockCount, d.info.bigEndian);
        out.head += Block("SCCl", count);
    }
    d.Append(Block("SCEl", ""));
    out.body = std::move(d.body);
    return out;
}

std::uint64_t EncodedStream::Size() const {
    std::uint64_t size = head.size();
    for (const std::string& piece : body)
        size += piece.size();
    return size;
}

std::string EncodeStream(const StreamInfo& info, std::string_view oldStream,
                         const std::vector<std::int16_t>& samples,
                         const std::function<void(double)>& progress, EncodeStats* stats) {
    StreamEncoder encoder(info, oldStream, stats);
    const auto channels = static_cast<std::size_t>(info.channels);
    const std::size_t total = samples.size() / channels;
    if (encoder.NeedsTraining())
        encoder.Train(samples.data(), total);
    constexpr std::size_t kStep = 28 * 1024;
    for (std::size_t at = 0; at < total; at += kStep) {
        encoder.Add(samples.data() + at * channels, std::min(kStep, total - at));
        if (progress)
            progress(static_cast<double>(std::min(total, at + kStep)) / static_cast<double>(total));
    }
    EncodedStream stream = encoder.Finish(std::nullopt);
    std::string whole = std::move(stream.head);
    for (const std::string& piece : stream.body)
        whole += piece;
    return whole;
}

}  // namespace tamrel
