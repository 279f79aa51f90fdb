#include "audio/ImaAdpcm.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

#include "audio/Coder.h"
#include "io/Bytes.h"

namespace tamrel::adpcm {

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

namespace {

// The decoder's difference for each step index and code magnitude, and the
// step index after it: one look-up instead of the shifts in the search.
struct ImaTables {
    int difference[89][8];
    std::uint8_t next[89][8];
};

const ImaTables& Tables() {
    static const ImaTables tables = [] {
        ImaTables t{};
        for (int index = 0; index < 89; ++index)
            for (int code = 0; code < 8; ++code) {
                ImaState state{0, index};
                t.difference[index][code] = ImaDecode(code, state);
                t.next[index][code] = static_cast<std::uint8_t>(state.index);
            }
        return t;
    }();
    return tables;
}

// The magnitude whose difference is the largest not above |diff|, by the
// standard's comparisons.
int MagnitudeBelow(int diff, int step) {
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
    return magnitude;
}

// The predictor after code (sign bit 8 and magnitude) from predictor at index.
int Decoded(int predictor, int index, int code) {
    const int d = Tables().difference[index][code & 7];
    return Clip16(code & 8 ? predictor - d : predictor + d);
}

void EncodeGreedy(const int* target, std::size_t n, std::size_t stride, ImaState& state,
                  std::uint8_t* codes) {
    for (std::size_t i = 0; i < n; ++i) {
        const int t = target[i * stride];
        const int diff = t - state.predictor;
        const int m = MagnitudeBelow(diff, kImaSteps[state.index]);
        const int sign = diff < 0 ? 8 : 0;
        const int up = sign | std::min(7, m + 1);
        const bool above = std::abs(Decoded(state.predictor, state.index, up) - t) <
                           std::abs(Decoded(state.predictor, state.index, sign | m) - t);
        codes[i] = static_cast<std::uint8_t>(above ? up : sign | m);
        ImaDecode(codes[i], state);
    }
}

// A path of the search: its squared error so far, where it ends (predictor
// and step index), its rank among the paths kept at that step index, and for
// the way back its parent among the previous sample's paths and its code.
struct ImaPath {
    std::int64_t cost = 0;
    int predictor = 0;
    std::uint8_t index = 0, rank = 0;
    std::uint16_t parent = 0;
    std::uint8_t code = 0;
};

// The paths kept for one sample: for each step index the cheapest few, no
// two with the same predictor. Keeping paths apart by step index is what
// pays: a path whose step is still small (or already large) is worth more
// later than a slightly cheaper one at the same step.
class PathBuckets {
public:
    static constexpr int kMostPaths = 8;
    explicit PathBuckets(int paths) : paths_(std::clamp(paths, 1, kMostPaths)) {}

    void Offer(const ImaPath& path) {
        auto& slot = slots_[path.index];
        int have = count_[path.index];
        if (have == paths_ && path.cost >= slot[static_cast<std::size_t>(have - 1)].cost)
            return;
        int same = 0;
        while (same < have && slot[static_cast<std::size_t>(same)].predictor != path.predictor)
            ++same;
        if (same < have) {
            if (slot[static_cast<std::size_t>(same)].cost <= path.cost)
                return;
            std::copy(slot.begin() + same + 1, slot.begin() + have, slot.begin() + same);
            --have;
        } else if (have == 0) {
            touched_[static_cast<std::size_t>(touchedCount_++)] = path.index;
        }
        int at = have < paths_ ? have++ : have - 1;
        for (; at > 0 && slot[static_cast<std::size_t>(at - 1)].cost > path.cost; --at)
            slot[static_cast<std::size_t>(at)] = slot[static_cast<std::size_t>(at - 1)];
        slot[static_cast<std::size_t>(at)] = path;
        count_[path.index] = static_cast<std::uint8_t>(have);
    }

    // Moves the kept paths to out, ranked, and empties the buckets.
    void Drain(std::vector<ImaPath>& out) {
        for (int t = 0; t < touchedCount_; ++t) {
            const std::size_t index = touched_[static_cast<std::size_t>(t)];
            for (int k = 0; k < count_[index]; ++k) {
                out.push_back(slots_[index][static_cast<std::size_t>(k)]);
                out.back().rank = static_cast<std::uint8_t>(k);
            }
            count_[index] = 0;
        }
        touchedCount_ = 0;
    }

private:
    int paths_;
    std::array<std::array<ImaPath, kMostPaths>, 89> slots_{};
    std::array<std::uint8_t, 89> count_{};
    std::array<std::uint8_t, 89> touched_{};
    int touchedCount_ = 0;
};

// The search over a run of targets: the live paths, and for each sample
// the paths kept there (parent and code) for the way back.
class ImaSearch {
public:
    // At most this many paths live on: the cheapest.
    static constexpr std::size_t kMostLive = 64;

    ImaSearch(const ImaState& state, int paths, std::size_t n) : buckets_(paths), start_(n + 1) {
        live_.push_back({0, state.predictor, static_cast<std::uint8_t>(state.index), 0, 0, 0});
        live_.reserve(89 * PathBuckets::kMostPaths);
        next_.reserve(89 * PathBuckets::kMostPaths);
        parents_.reserve(n * kMostLive / 2);
        codes_.reserve(n * kMostLive / 2);
    }

    void Step(std::size_t i, int t) {
        const ImaTables& tables = Tables();
        for (std::size_t j = 0; j < live_.size(); ++j) {
            const ImaPath& from = live_[j];
            const int diff = t - from.predictor;
            const int m = MagnitudeBelow(diff, kImaSteps[from.index]);
            const int sign = diff < 0 ? 8 : 0;
            // The codes around the target: below (at the smallest magnitude,
            // the smallest of the other sign), nearest below, above; the
            // cheapest path of each step also two and three above, whose
            // larger steps meet a sudden loud sound early.
            int tried[5] = {m > 0 ? sign | (m - 1) : sign ^ 8, sign | m, sign | std::min(7, m + 1)};
            int count = 3;
            if (from.rank == 0)
                for (int up = 2; up <= 3 && m + up <= 7; ++up)
                    tried[count++] = sign | (m + up);
            for (int c = 0; c < count; ++c) {
                const int code = tried[c];
                const int d = tables.difference[from.index][code & 7];
                const int predictor = Clip16(code & 8 ? from.predictor - d : from.predictor + d);
                const std::int64_t error = predictor - t;
                buckets_.Offer({from.cost + error * error, predictor,
                                tables.next[from.index][code & 7], 0, static_cast<std::uint16_t>(j),
                                static_cast<std::uint8_t>(code)});
            }
        }
        next_.clear();
        buckets_.Drain(next_);
        KeepCheapest();
        start_[i] = static_cast<std::uint32_t>(parents_.size());
        for (const ImaPath& path : next_) {
            parents_.push_back(path.parent);
            codes_.push_back(path.code);
        }
        std::swap(live_, next_);
    }

    // The codes of the cheapest path, and the state it ends in.
    void Finish(std::size_t n, std::uint8_t* codes, ImaState& state) const {
        std::size_t at = 0;
        for (std::size_t j = 1; j < live_.size(); ++j)
            if (live_[j].cost < live_[at].cost)
                at = j;
        state = {live_[at].predictor, live_[at].index};
        for (std::size_t i = n; i-- > 0;) {
            codes[i] = codes_[start_[i] + at];
            at = parents_[start_[i] + at];
        }
    }

private:
    void KeepCheapest() {
        if (next_.size() <= kMostLive)
            return;
        costs_.clear();
        for (const ImaPath& path : next_)
            costs_.push_back(path.cost);
        std::nth_element(costs_.begin(), costs_.begin() + kMostLive - 1, costs_.end());
        const std::int64_t cut = costs_[kMostLive - 1];
        std::size_t kept = 0;
        for (const ImaPath& path : next_)
            if (path.cost <= cut && kept < kMostLive)
                next_[kept++] = path;
        next_.resize(kept);
    }

    PathBuckets buckets_;
    std::vector<ImaPath> live_, next_;
    std::vector<std::int64_t> costs_;
    std::vector<std::uint16_t> parents_;
    std::vector<std::uint8_t> codes_;
    std::vector<std::uint32_t> start_;
};

}  // namespace

void ImaEncode(const int* target, std::size_t n, std::size_t stride, ImaState& state,
               std::uint8_t* codes, int paths) {
    if (paths <= 0) {
        EncodeGreedy(target, n, stride, state, codes);
        return;
    }
    if (n == 0)
        return;
    ImaSearch search(state, paths, n);
    for (std::size_t i = 0; i < n; ++i)
        search.Step(i, target[i * stride]);
    search.Finish(n, codes, state);
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
        ImaEncode(target + 1, static_cast<std::size_t>(count - 1), 1, state, codes, kImaPaths);
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
            adpcm::ImaEncode(target.data(), count, 1, state_[c], codes[c].data(), adpcm::kImaPaths);
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
