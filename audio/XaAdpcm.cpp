#include "audio/XaAdpcm.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "audio/Blocks.h"
#include "audio/Coder.h"
#include "audio/Samples.h"
#include "io/Bytes.h"

namespace tamrel {

namespace {

// ---- Decoding

class XaDecoder : public PerBlockDecoder {
public:
    explicit XaDecoder(const StreamInfo& info)
        : PerBlockDecoder(info), h1_(channels_), h2_(channels_) {}

protected:
    void DecodeBlock(const Payload& block, std::uint32_t count, std::int16_t* out) override {
        out_ = out;
        if (info_.codec == Codec::XaV1) {
            // From version 1 on, the table (whose offsets every reader
            // ignores) stands before the frames both channels share.
            V1(block, count, HasTable() ? ChannelTableEnd(channels_) : kBlockCountBytes);
        } else if (info_.codec == Codec::XaR1 && !HasTable()) {
            SplitLayout(block, count, kBlockCountBytes);
        } else {
            const std::vector<std::size_t> starts = Starts(block);
            for (std::size_t c = 0; c < channels_; ++c)
                V2Channel(block, count, c, starts[c]);
        }
    }

private:
    void Put(std::uint32_t index, std::size_t channel, int value) {
        out_[static_cast<std::size_t>(index) * channels_ + channel] =
            static_cast<std::int16_t>(value);
    }

    static void CheckFilters(const Payload& block, int a, int b) {
        if (a > 3 || b > 3)
            block.Fail("a frame names filter " + std::to_string(a > 3 ? a : b) +
                       ", which XA ADPCM does not have");
    }

    static int StoredHistory(const unsigned char* at) {
        return static_cast<std::int16_t>(at[0] | at[1] << 8);
    }

    // One interleaved frame for both channels; each block starts from the
    // history stored at its start.
    void V1(const Payload& block, std::uint32_t count, std::size_t start) {
        if (channels_ != 2)
            block.Fail("XA ADPCM v1 is decoded for two channels only");
        const unsigned char* history = block.At(start, 8, "the history");
        int h1[2], h2[2];
        for (int c = 0; c < 2; ++c) {
            h1[c] = StoredHistory(history + 4 * c);
            h2[c] = StoredHistory(history + 4 * c + 2);
        }
        const std::uint32_t frames = (count + kXaFrameSamples - 1) / kXaFrameSamples;
        const unsigned char* f =
            block.At(start + 8, static_cast<std::size_t>(frames) * kXaV1FrameBytes, "the frames");
        std::uint32_t index = 0;
        for (std::uint32_t frame = 0; frame < frames; ++frame, f += kXaV1FrameBytes) {
            const int filter[2] = {f[0] >> 4, f[0] & 15};
            const int shift[2] = {f[1] >> 4, f[1] & 15};
            CheckFilters(block, filter[0], filter[1]);
            for (int k = 0; k < kXaFrameSamples && index < count; ++k, ++index) {
                const int byte = f[2 + k];
                Put(index, 0,
                    XaSample(SignExtend4(byte >> 4), shift[0], filter[0], h1[0], h2[0], 0x80));
                Put(index, 1,
                    XaSample(SignExtend4(byte & 15), shift[1], filter[1], h1[1], h2[1], 0x80));
            }
        }
    }

    // The original revision elsewhere: the stored history of every channel
    // (at least two channels' room: a mono stream leaves the second unused),
    // then each channel's 15-byte frames one run after the other.
    void SplitLayout(const Payload& block, std::uint32_t count, std::size_t start) {
        const std::uint32_t frames = (count + kXaFrameSamples - 1) / kXaFrameSamples;
        const std::size_t run = static_cast<std::size_t>(frames) * kXaFrameBytes;
        const std::size_t historyBytes = SplitHistoryBytes(static_cast<int>(channels_));
        const unsigned char* history = block.At(start, historyBytes, "the history");
        for (std::size_t c = 0; c < channels_; ++c) {
            int h1 = StoredHistory(history + 4 * c);
            int h2 = StoredHistory(history + 4 * c + 2);
            const unsigned char* f = block.At(start + historyBytes + c * run, run, "the frames");
            for (std::uint32_t frame = 0, index = 0; frame < frames; ++frame, f += kXaFrameBytes)
                index = Frame(block, f, index, count, c, h1, h2);
        }
    }

    // One 15-byte frame from sample index on; returns the index after it.
    std::uint32_t Frame(const Payload& block, const unsigned char* f, std::uint32_t index,
                        std::uint32_t count, std::size_t channel, int& h1, int& h2) {
        const int filter = f[0] >> 4, shift = f[0] & 15;
        CheckFilters(block, filter, 0);
        for (int k = 0; k < kXaFrameSamples && index < count; ++k, ++index) {
            const int byte = f[1 + k / 2];
            const int nibble = k % 2 == 0 ? byte >> 4 : byte & 15;
            Put(index, channel, XaSample(SignExtend4(nibble), shift, filter, h1, h2, 0));
        }
        return index;
    }

    // One channel of the v2 family at its offset: R1 starts each block from
    // its stored history, R2 and R3 carry it over and may hold raw frames.
    void V2Channel(const Payload& block, std::uint32_t count, std::size_t channel,
                   std::size_t start) {
        int& h1 = h1_[channel];
        int& h2 = h2_[channel];
        std::size_t at = start;
        const bool r1 = info_.codec == Codec::XaR1;
        if (r1) {
            h1 = block.Int16(at, info_.bigEndian, "the history");
            h2 = block.Int16(at + 2, info_.bigEndian, "the history");
            at += 4;
        }
        std::uint32_t index = 0;
        while (index < count) {
            const unsigned char* mark = block.At(at, 1, "a frame");
            if (!r1 && *mark == kXaRawMark) {
                const unsigned char* f = block.At(at, kXaRawFrameBytes, "a raw frame");
                for (int k = 0; k < kXaFrameSamples && index < count; ++k, ++index)
                    Put(index, channel,
                        static_cast<std::int16_t>(f[5 + 2 * k] << 8 | f[6 + 2 * k]));
                // The history after a raw frame is the pair stored in it.
                h1 = static_cast<std::int16_t>(f[1] << 8 | f[2]);
                h2 = static_cast<std::int16_t>(f[3] << 8 | f[4]);
                at += kXaRawFrameBytes;
                continue;
            }
            index =
                Frame(block, block.At(at, kXaFrameBytes, "a frame"), index, count, channel, h1, h2);
            at += kXaFrameBytes;
        }
    }

    std::vector<int> h1_, h2_;
    std::int16_t* out_ = nullptr;
};

// ---- Encoding: every filter and shift tried on each frame, with the
// decoder's own arithmetic.

constexpr int kShifts = 13;  // 0..12: a larger shift cannot reach any 16-bit value

// One channel's history and the search for its frames.
struct Channel {
    int h1 = 0, h2 = 0;
    double errorSum = 0;
    std::uint64_t frames = 0;
};

struct FrameChoice {
    int filter = 0, shift = 0;
    int nibbles[kXaFrameSamples] = {};
    int decoded[kXaFrameSamples] = {};
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
            for (int k = 0; k < kXaFrameSamples; ++k) {
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

class XaEncoder : public CodecEncoder {
public:
    XaEncoder(const StreamInfo& info, EncodeStats& stats)
        : CodecEncoder(info, stats), state_(channels_) {}

    std::string Payload(const std::int16_t* samples, std::uint32_t count) override {
        samples_ = samples;
        std::string payload = Count(count);
        if (info_.codec == Codec::XaV1) {
            // From version 1 on, the table stands before the interleaved
            // frames, which both channels share.
            if (info_.version >= 1)
                AppendSharedStart(payload, channels_, 0, info_.bigEndian);
            return payload + V1Data(count);
        }
        std::vector<std::string> runs(channels_);
        if (info_.codec == Codec::XaR1 && info_.version == 0) {
            // The original revision's split layout: every channel's history
            // first, then each channel's frames in turn.
            std::string history;
            for (const Channel& channel : state_) {
                PutInt16(history, channel.h1, false);
                PutInt16(history, channel.h2, false);
            }
            history.resize(SplitHistoryBytes(static_cast<int>(channels_)), '\0');
            for (std::size_t c = 0; c < channels_; ++c)
                runs[c] = V2Frames(count, c, false);
            payload += history;
            AppendChannelRuns(payload, runs, false, info_.bigEndian);
            return payload;
        }
        for (std::size_t c = 0; c < channels_; ++c) {
            if (info_.codec == Codec::XaR1) {
                PutInt16(runs[c], state_[c].h1, info_.bigEndian);
                PutInt16(runs[c], state_[c].h2, info_.bigEndian);
            }
            runs[c] += V2Frames(count, c, info_.codec != Codec::XaR1);
        }
        AppendChannelRuns(payload, runs, true, info_.bigEndian);
        return payload;
    }

private:
    int Sample(std::uint32_t i, std::size_t c) const {
        return samples_[static_cast<std::size_t>(i) * channels_ + c];
    }

    // The frame's targets from sample first on; returns how many are real.
    int Targets(std::uint32_t first, std::uint32_t count, std::size_t c,
                int (&target)[kXaFrameSamples]) const {
        const int n = static_cast<int>(std::min<std::uint32_t>(kXaFrameSamples, count - first));
        for (int k = 0; k < kXaFrameSamples; ++k)
            target[k] = k < n ? Sample(first + static_cast<std::uint32_t>(k), c) : 0;
        return n;
    }

    std::string V1Data(std::uint32_t count) {
        std::string data;
        for (int c = 0; c < 2; ++c) {
            PutInt16(data, state_[c].h1, false);
            PutInt16(data, state_[c].h2, false);
        }
        int target[2][kXaFrameSamples];
        for (std::uint32_t first = 0; first < count; first += kXaFrameSamples) {
            FrameChoice choice[2];
            for (std::size_t c = 0; c < 2; ++c) {
                const int n = Targets(first, count, c, target[c]);
                choice[c] = SearchFrame(target[c], n, state_[c], 0x80);
                Advance(state_[c], choice[c]);
            }
            data.push_back(static_cast<char>(choice[0].filter << 4 | choice[1].filter));
            data.push_back(static_cast<char>(choice[0].shift << 4 | choice[1].shift));
            for (int k = 0; k < kXaFrameSamples; ++k)
                data.push_back(static_cast<char>((choice[0].nibbles[k] & 15) << 4 |
                                                 (choice[1].nibbles[k] & 15)));
            stats_.frames += 2;
        }
        return data;
    }

    std::string V2Frames(std::uint32_t count, std::size_t c, bool rawAllowed) {
        std::string run;
        Channel& channel = state_[c];
        int target[kXaFrameSamples];
        for (std::uint32_t first = 0; first < count; first += kXaFrameSamples) {
            const int n = Targets(first, count, c, target);
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
                const int last = target[kXaFrameSamples - 1];
                const int before = target[kXaFrameSamples - 2];
                run.push_back(static_cast<char>(kXaRawMark));
                PutInt16(run, last, true);
                PutInt16(run, before, true);
                for (int k = 0; k < kXaFrameSamples; ++k)
                    PutInt16(run, target[k], true);
                channel.h1 = last;
                channel.h2 = before;
                ++channel.frames;
                ++stats_.rawFrames;
                continue;
            }
            run.push_back(static_cast<char>(choice.filter << 4 | choice.shift));
            for (int k = 0; k < kXaFrameSamples; k += 2)
                run.push_back(static_cast<char>((choice.nibbles[k] & 15) << 4 |
                                                (choice.nibbles[k + 1] & 15)));
            Advance(channel, choice);
        }
        return run;
    }

    static void Advance(Channel& channel, const FrameChoice& choice) {
        channel.h1 = choice.decoded[kXaFrameSamples - 1];
        channel.h2 = choice.decoded[kXaFrameSamples - 2];
        channel.errorSum += choice.error;
        ++channel.frames;
    }

    std::vector<Channel> state_;
    const std::int16_t* samples_ = nullptr;
};

}  // namespace

std::unique_ptr<CodecDecoder> MakeXaDecoder(const StreamInfo& info) {
    return std::make_unique<XaDecoder>(info);
}

std::unique_ptr<CodecEncoder> MakeXaEncoder(const StreamInfo& info, EncodeStats& stats) {
    return std::make_unique<XaEncoder>(info, stats);
}

}  // namespace tamrel
