#include "audio/ImaAdpcm.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "audio/Coder.h"
#include "io/Bytes.h"

namespace tamrel::adpcm {

namespace {

std::int64_t Square(std::int64_t v) {
    return v * v;
}

}  // namespace

namespace {

constexpr int kImaSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int kImaIndexChange[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

}  // namespace

int ImaDecode(int code, ImaState& state) {
    const int step = kImaSteps[state.index];
    int d = step >> 3;
    if (code & 1)
        d += step >> 2;
    if (code & 2)
        d += step >> 1;
    if (code & 4)
        d += step;
    state.predictor = Clip16(code & 8 ? state.predictor - d : state.predictor + d);
    state.index = std::clamp(state.index + kImaIndexChange[code & 7], 0, 88);
    return state.predictor;
}

void ImaEncode(const int* target, std::size_t n, std::size_t stride, ImaState& state,
               std::uint8_t* codes, int beam) {
    struct Node {
        ImaState state;
        std::int64_t cost = 0;
        std::uint8_t parent = 0, code = 0;
    };
    constexpr int kMaxBeam = 32;
    beam = std::clamp(beam, 1, kMaxBeam);
    Node current[kMaxBeam], next[kMaxBeam];
    current[0] = {state, 0, 0, 0};
    int have = 1;
    // Each sample's kept nodes, for the way back: parent and code.
    std::vector<std::pair<std::uint8_t, std::uint8_t>> trail(n * static_cast<std::size_t>(beam));
    for (std::size_t i = 0; i < n; ++i) {
        const int t = target[i * stride];
        int kept = 0;  // next[0..kept) sorted by cost, one node per state
        for (int j = 0; j < have; ++j) {
            const Node& from = current[j];
            const int diff = t - from.state.predictor;
            const int step = kImaSteps[from.state.index];
            int magnitude = 0, rest = std::abs(diff);
            if (rest >= step) {
                magnitude = 4;
                rest -= step;
            }
            if (rest >= step >> 1) {
                magnitude |= 2;
                rest -= step >> 1;
            }
            if (rest >= step >> 2)
                magnitude |= 1;
            const int sign = diff < 0 ? 8 : 0;
            // The truncated step's code and the one above bracket the target.
            for (int m = magnitude; m <= std::min(7, magnitude + 1); ++m) {
                Node node{from.state, from.cost, static_cast<std::uint8_t>(j),
                          static_cast<std::uint8_t>(sign | m)};
                node.cost += Square(ImaDecode(node.code, node.state) - t);
                if (kept == beam && node.cost >= next[kept - 1].cost)
                    continue;
                // One node per state: the cheaper way there.
                int same = 0;
                while (same < kept && (next[same].state.predictor != node.state.predictor ||
                                       next[same].state.index != node.state.index))
                    ++same;
                if (same < kept) {
                    if (next[same].cost <= node.cost)
                        continue;
                    std::copy(next + same + 1, next + kept, next + same);
                    --kept;
                }
                int at = kept < beam ? kept++ : kept - 1;
                for (; at > 0 && next[at - 1].cost > node.cost; --at)
                    next[at] = next[at - 1];
                next[at] = node;
            }
        }
        for (int j = 0; j < kept; ++j)
            trail[i * static_cast<std::size_t>(beam) + static_cast<std::size_t>(j)] = {
                next[j].parent, next[j].code};
        std::copy(next, next + kept, current);
        have = kept;
    }
    if (n == 0)
        return;
    state = current[0].state;  // the cheapest, sorted first
    std::size_t at = 0;
    for (std::size_t i = n; i-- > 0;) {
        const auto [parent, code] = trail[i * static_cast<std::size_t>(beam) + at];
        codes[i] = code;
        at = parent;
    }
}

void DecodeXboxFrame(const unsigned char* frame, int count, std::int16_t* out, std::size_t stride) {
    ImaState state{ReadInt16(frame, false), std::min<int>(frame[2], 88)};
    if (count > 0)
        out[0] = static_cast<std::int16_t>(state.predictor);
    for (int k = 1; k < count && k < kXboxFrameSamples; ++k) {
        const int byte = frame[4 + (k - 1) / 2];
        out[static_cast<std::size_t>(k) * stride] =
            static_cast<std::int16_t>(ImaDecode((k - 1) % 2 == 0 ? byte & 15 : byte >> 4, state));
    }
}

void EncodeXboxFrame(const int* target, int count, int& index, std::string& out) {
    ImaState state{count > 0 ? target[0] : 0, std::clamp(index, 0, 88)};
    PutInt16(out, state.predictor, false);
    out.push_back(static_cast<char>(state.index));
    out.push_back('\0');
    std::uint8_t codes[kXboxFrameSamples] = {};
    if (count > 1)
        ImaEncode(target + 1, static_cast<std::size_t>(count - 1), 1, state, codes, kImaBeam);
    for (int k = 0; k < kXboxFrameSamples; k += 2)
        out.push_back(static_cast<char>((codes[k] & 15) | (codes[k + 1] & 15) << 4));
    index = state.index;
}

}  // namespace tamrel::adpcm

namespace tamrel {

namespace {

// The state at the block's start for two channels (the second unused in
// mono), then the codes from byte 12 of the payload: a byte per stereo
// pair (left high), or two mono samples per byte (high first).
constexpr std::size_t kImaCodesStart = kBlockCountBytes + 8;

class ImaDecoder : public PerBlockDecoder {
public:
    using PerBlockDecoder::PerBlockDecoder;

protected:
    void DecodeBlock(const Payload& block, std::uint32_t count, std::int16_t* out) override {
        const unsigned char* stored = block.At(kBlockCountBytes, 8, "the IMA state");
        adpcm::ImaState state[2];
        for (int c = 0; c < 2; ++c)
            state[c] = {ReadInt16(stored + 4 * c, false),
                        std::clamp<int>(ReadInt16(stored + 4 * c + 2, false), 0, 88)};
        if (channels_ == 2) {
            const unsigned char* b = block.At(kImaCodesStart, count, "the samples");
            for (std::uint32_t i = 0; i < count; ++i) {
                out[2 * i] = static_cast<std::int16_t>(adpcm::ImaDecode(b[i] >> 4, state[0]));
                out[2 * i + 1] = static_cast<std::int16_t>(adpcm::ImaDecode(b[i] & 15, state[1]));
            }
            return;
        }
        const unsigned char* b =
            block.At(kImaCodesStart, (std::size_t{count} + 1) / 2, "the samples");
        for (std::uint32_t i = 0; i < count; ++i)
            out[i] = static_cast<std::int16_t>(
                adpcm::ImaDecode(i % 2 == 0 ? b[i / 2] >> 4 : b[i / 2] & 15, state[0]));
    }
};

class ImaEncoder : public CodecEncoder {
public:
    ImaEncoder(const StreamInfo& info, EncodeStats& stats)
        : CodecEncoder(info, stats), state_(channels_) {}

    std::string Payload(const std::int16_t* samples, std::uint32_t count) override {
        std::string data = Count(count);
        for (std::size_t c = 0; c < 2; ++c) {
            const adpcm::ImaState state = c < channels_ ? state_[c] : adpcm::ImaState{};
            PutInt16(data, state.predictor, false);
            PutInt16(data, state.index, false);
        }
        std::vector<std::vector<std::uint8_t>> codes(channels_, std::vector<std::uint8_t>(count));
        std::vector<int> target(count);
        for (std::size_t c = 0; c < channels_; ++c) {
            for (std::uint32_t i = 0; i < count; ++i)
                target[i] = samples[i * channels_ + c];
            adpcm::ImaEncode(target.data(), count, 1, state_[c], codes[c].data(), adpcm::kImaBeam);
        }
        if (channels_ == 2) {
            for (std::uint32_t i = 0; i < count; ++i)
                data.push_back(static_cast<char>(codes[0][i] << 4 | codes[1][i]));
        } else {
            for (std::uint32_t i = 0; i < count; i += 2)
                data.push_back(
                    static_cast<char>(codes[0][i] << 4 | (i + 1 < count ? codes[0][i + 1] : 0)));
        }
        // Counted as frames of 28, as the other 4-bit codecs' are.
        stats_.frames += (count + 27) / 28;
        return data;
    }

private:
    std::vector<adpcm::ImaState> state_;
};

}  // namespace

std::unique_ptr<CodecDecoder> MakeImaDecoder(const StreamInfo& info) {
    return std::make_unique<ImaDecoder>(info);
}

std::unique_ptr<CodecEncoder> MakeImaEncoder(const StreamInfo& info, EncodeStats& stats) {
    return std::make_unique<ImaEncoder>(info, stats);
}

}  // namespace tamrel
