#include "audio/MicroTalk.h"

#include <algorithm>
#include <cmath>

namespace tamrel::microtalk {

namespace {

// The reflection coefficients by index: 32 is 0, 64 - i is -(i).
const std::array<double, 64>& ReflectionTable() {
    static const std::array<double, 64> table = [] {
        const double low[32] = {
            0.000000000,  -0.996775985, -0.990327001, -0.983879030, -0.977430999, -0.970982015,
            -0.964533985, -0.958085001, -0.951637030, -0.930754006, -0.904959977, -0.879167020,
            -0.853372991, -0.827579021, -0.801786005, -0.775991976, -0.750198007, -0.724404991,
            -0.698611021, -0.670634985, -0.619047999, -0.567460001, -0.515873015, -0.464286000,
            -0.412698001, -0.361110985, -0.309524000, -0.257937014, -0.206349000, -0.154762000,
            -0.103174999, -0.051587000};
        std::array<double, 64> t{};
        for (int i = 0; i < 32; ++i)
            t[static_cast<std::size_t>(i)] = low[i];
        for (int i = 1; i < 32; ++i)
            t[static_cast<std::size_t>(64 - i)] = -low[i];
        return t;
    }();
    return table;
}

constexpr std::size_t kHistory = 324;

// The coefficients move a quarter of the way to the frame's at each of four
// stages; the stages end after samples 12, 24, 36 and the frame's last.
constexpr int kStageEnds[4] = {12, 24, 36, kFrameSamples};

// The set of stage (1-4) between before and the frame's indices.
std::array<double, 12> StageSet(const std::array<double, 12>& before, const int (&indices)[12],
                                int stage) {
    const auto& table = ReflectionTable();
    std::array<double, 12> r;
    for (std::size_t i = 0; i < 12; ++i) {
        const double target = table[static_cast<std::size_t>(indices[i])];
        r[i] = stage == 4 ? target : before[i] + (target - before[i]) * stage / 4.0;
    }
    return r;
}

// The predictor of a set of reflection coefficients, by the step-up recursion.
std::array<double, 12> Predictor(const std::array<double, 12>& r) {
    std::array<double, 12> a{r[0]};
    for (std::size_t m = 1; m < 12; ++m) {
        std::array<double, 12> next{};
        for (std::size_t i = 0; i < m; ++i)
            next[i] = a[i] + r[m] * a[m - 1 - i];
        next[m] = r[m];
        std::copy(next.begin(), next.begin() + static_cast<std::ptrdiff_t>(m) + 1, a.begin());
    }
    return a;
}

}  // namespace

// Bits least significant first from each byte; a read past the data fails.
class ChannelDecoder::Bits {
public:
    Bits(const unsigned char* data, std::size_t size) : data_(data), bits_(size * 8) {}
    bool Read(int n, int& value) {
        value = 0;
        if (bits_ - at_ < static_cast<std::size_t>(n))
            return false;
        for (int i = 0; i < n; ++i, ++at_)
            value |= ((data_[at_ >> 3] >> (at_ & 7)) & 1) << i;
        return true;
    }
    void Align() { at_ = std::min(bits_, (at_ + 7) / 8 * 8); }
    bool Byte(int& value) { return Read(8, value); }
    bool BigEndian16(int& value) {
        int high, low;
        if (!Byte(high) || !Byte(low))
            return false;
        value = static_cast<std::int16_t>(high << 8 | low);
        return true;
    }

private:
    const unsigned char* data_;
    std::size_t bits_;
    std::size_t at_ = 0;
};

namespace {

// One excitation value of the multi-pulse code: its value, or a run of zeros
// (run > 0). large: which of the two code sets is in use.
bool PulseValue(ChannelDecoder::Bits& bits, bool large, int& value, int& run);

}  // namespace

bool ChannelDecoder::DecodeFrame(Bits& bits, std::array<double, kFrameSamples>& frame) {
    int v = 0;
    if (!haveHeader_) {
        int h, t, g, m;
        if (!bits.Read(1, h) || !bits.Read(4, t) || !bits.Read(4, g) || !bits.Read(6, m))
            return false;
        halfBand_ = h == 1;
        threshold_ = 32 - t;
        const double step = 1.04 + m / 1000.0;
        double gain = 8.0 * (1 + g);
        for (double& k : gains_) {
            k = gain;
            gain *= step;
        }
        haveHeader_ = true;
    }
    int coefficients[12];
    for (int i = 0; i < 12; ++i) {
        if (!bits.Read(i < 4 ? 6 : 5, v))
            return false;
        coefficients[i] = i < 4 ? v : 16 + v;
    }
    const bool multiPulse = coefficients[0] < threshold_;
    // e: the stored history, then this frame's values.
    std::array<double, kHistory + kFrameSamples> e{};
    std::copy(excitation_.begin(), excitation_.end(), e.begin());
    for (int s = 0; s < 4; ++s) {
        int lag, pitch, gainIndex, alignment = 0, zeroFill = 1;
        if (!bits.Read(8, lag) || !bits.Read(4, pitch) || !bits.Read(6, gainIndex))
            return false;
        if (halfBand_ && (!bits.Read(1, alignment) || !bits.Read(1, zeroFill)))
            return false;
        double x[kSubframeSamples] = {};
        const int step = halfBand_ ? 2 : 1;
        bool large = false;
        for (int i = 0; i < kSubframeSamples;) {
            int value = 0, run = 0;
            if (multiPulse) {
                if (!PulseValue(bits, large, value, run))
                    return false;
            } else {
                int first, second = 0;
                if (!bits.Read(1, first) || (first == 1 && !bits.Read(1, second)))
                    return false;
                value = first == 0 ? 0 : (second == 1 ? 2 : -2);
            }
            if (run > 0) {
                // A run that would pass the subframe's end is cut there.
                if (i + run * step > kSubframeSamples)
                    run = (kSubframeSamples - i) / step;
                i += std::max(run, 1) * step;
                large = false;
                continue;
            }
            if (alignment + i < kSubframeSamples)
                x[alignment + i] = value;
            large = std::abs(value) >= 2;
            i += step;
        }
        double gain = gains_[static_cast<std::size_t>(gainIndex)];
        if (halfBand_ && zeroFill == 0) {
            auto at = [&](int p) { return p >= 0 && p < kSubframeSamples ? x[p] : 0.0; };
            for (int p = 1 - alignment; p < kSubframeSamples; p += 2)
                x[p] = 0.597385943 * (at(p - 1) + at(p + 1)) -
                       0.114591561 * (at(p - 3) + at(p + 3)) +
                       0.018032679 * (at(p - 5) + at(p + 5));
            gain /= 2;
        }
        const double pitchGain = pitch / 15.0;
        for (int n = 0; n < kSubframeSamples; ++n) {
            const std::ptrdiff_t here =
                static_cast<std::ptrdiff_t>(kHistory) + s * kSubframeSamples + n;
            // A lag beyond the stored history takes its oldest value.
            const std::ptrdiff_t from = std::max<std::ptrdiff_t>(0, here - kSubframeSamples - lag);
            e[static_cast<std::size_t>(here)] =
                gain * x[n] + pitchGain * e[static_cast<std::size_t>(from)];
        }
    }
    std::copy(e.end() - kHistory, e.end(), excitation_.begin());
    std::copy(e.begin() + kHistory, e.end(), frame.begin());
    Synthesize(coefficients, frame);
    return true;
}

void ChannelDecoder::Synthesize(const int (&coefficients)[12],
                                std::array<double, kFrameSamples>& frame) {
    const std::array<double, 12> before = reflection_;
    int n = 0;
    for (int stage = 1; stage <= 4; ++stage) {
        reflection_ = StageSet(before, coefficients, stage);
        const std::array<double, 12> a = Predictor(reflection_);
        for (; n < kStageEnds[stage - 1]; ++n) {
            double y = frame[static_cast<std::size_t>(n)];
            for (std::size_t i = 0; i < 12; ++i)
                y -= a[i] * memory_[i];
            std::copy_backward(memory_.begin(), memory_.end() - 1, memory_.end());
            memory_[0] = y;
            frame[static_cast<std::size_t>(n)] = y;
        }
    }
}

namespace {

bool Sign(ChannelDecoder::Bits& bits, int magnitude, int& value) {
    int s;
    if (!bits.Read(1, s))
        return false;
    value = s == 1 ? magnitude : -magnitude;
    return true;
}

bool PulseValue(ChannelDecoder::Bits& bits, bool large, int& value, int& run) {
    value = 0;
    run = 0;
    int bit;
    if (!bits.Read(1, bit))
        return false;
    if (bit == 0) {
        if (!bits.Read(1, bit))
            return false;
        if (!large) {
            value = bit == 0 ? 0 : -1;
            return true;
        }
        return bit == 0 ? true : Sign(bits, 1, value);
    }
    // Ones then a zero: how many ones names the value.
    int ones = 1;
    const int runOnes = large ? 7 : 8;
    while (ones < runOnes) {
        if (!bits.Read(1, bit))
            return false;
        if (bit == 0)
            break;
        ++ones;
    }
    if (ones == runOnes) {
        int n;
        if (!bits.Read(6, n))
            return false;
        run = 7 + n;
        return true;
    }
    const int pulseOnes = large ? 6 : 7;
    if (ones == pulseOnes) {
        int magnitude = 7;
        do {
            if (!bits.Read(1, bit))
                return false;
            magnitude += bit;
        } while (bit == 1);
        return Sign(bits, magnitude, value);
    }
    if (!large && ones == 1) {
        value = 1;
        return true;
    }
    return Sign(bits, large ? ones + 1 : ones, value);
}

}  // namespace

std::string ChannelDecoder::DecodeBlock(const unsigned char* data, std::size_t size,
                                        std::uint32_t count, bool later, std::int16_t* out,
                                        std::size_t stride) {
    Bits bits(data, size);
    std::array<double, kFrameSamples> frame;
    for (std::uint32_t first = 0; first < count; first += kFrameSamples) {
        int flag = 0;
        if (later && !bits.Byte(flag))
            return "a frame ends beyond the block";
        if (!DecodeFrame(bits, frame))
            return "a frame ends beyond the block";
        std::int16_t samples[kFrameSamples];
        for (int n = 0; n < kFrameSamples; ++n)
            samples[n] = static_cast<std::int16_t>(
                std::clamp(std::round(frame[static_cast<std::size_t>(n)]), -32768.0, 32767.0));
        if (later) {
            bits.Align();
            if (flag == 0xEE) {
                int position, patch;
                if (!bits.BigEndian16(position) || !bits.BigEndian16(patch))
                    return "a raw patch ends beyond the block";
                if (position < 0 || position > kFrameSamples || patch < 0 ||
                    patch > kFrameSamples - position)
                    return "a raw patch lies outside its frame";
                for (int k = 0; k < patch; ++k) {
                    int sample;
                    if (!bits.BigEndian16(sample))
                        return "a raw patch ends beyond the block";
                    samples[position + k] = static_cast<std::int16_t>(sample);
                }
            }
        }
        const std::uint32_t n = std::min<std::uint32_t>(kFrameSamples, count - first);
        for (std::uint32_t k = 0; k < n; ++k)
            out[(std::size_t{first} + k) * stride] = samples[k];
    }
    return {};
}

}  // namespace tamrel::microtalk

namespace tamrel::microtalk {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Every frame is coded with pulses: the "every sample" code has only the
// values -2, 0 and +2 and spends its bits poorly, so the first coefficient
// is kept below the threshold (the cost is a little prediction on the rare
// frames whose spectrum rises). The gains run from 8, fine enough for the
// small rest of a well predicted chord, to about 2,500 in steps of 0.8 dB.
constexpr int kThreshold = 32;
constexpr int kGainZeroCode = 0;   // fixed gain 0 = 8 · (1 + 0)
constexpr int kGainStepCode = 55;  // gain step 1.04 + 55 / 1000

// Counts the bits a code would take, for the search of the fixed gain.
struct BitCounter {
    int bits = 0;
    void Put(int, int n) { bits += n; }
};

// The multi-pulse code of values at the coded positions (count of them).
template <typename Out>
void PutPulses(Out& out, const int* values, int count) {
    bool large = false;
    auto ones = [&](int n) {
        for (int i = 0; i < n; ++i)
            out.Put(1, 1);
    };
    for (int i = 0; i < count;) {
        int zeros = 0;
        while (i + zeros < count && values[i + zeros] == 0 && zeros < 70)
            ++zeros;
        if (zeros >= 7) {
            ones(large ? 7 : 8);
            out.Put(zeros - 7, 6);
            i += zeros;
            large = false;
            continue;
        }
        const int v = values[i++];
        const int m = std::abs(v);
        if (m == 0) {
            out.Put(0, 2);
        } else if (m == 1 && !large) {
            out.Put(v > 0 ? 1 : 2, 2);  // 1 0: +1; 0 1: -1
        } else if (m == 1) {
            out.Put(2, 2);  // 0 1, then the sign
            out.Put(v > 0, 1);
        } else if (m <= 6) {
            ones(large ? m - 1 : m);
            out.Put(0, 1);
            out.Put(v > 0, 1);
        } else {
            ones(large ? 6 : 7);
            out.Put(0, 1);
            ones(m - 7);
            out.Put(0, 1);
            out.Put(v > 0, 1);
        }
        large = m >= 2;
    }
}

double Interpolated(const double* x, int p) {
    auto at = [&](int q) { return q >= 0 && q < kSubframeSamples ? x[q] : 0.0; };
    return 0.597385943 * (at(p - 1) + at(p + 1)) - 0.114591561 * (at(p - 3) + at(p + 3)) +
           0.018032679 * (at(p - 5) + at(p + 5));
}

// The pitch: the lag (0-215) whose past excitation best matches the target,
// and its gain in fifteenths. here points at the subframe's place in e.
void BestPitch(const double* here, const double* target, int& lag, int& pitch) {
    double bestScore = 0, bestGain = 0;
    lag = 0;
    for (int l = 0; l < 216; ++l) {
        const double* past = here - kSubframeSamples - l;
        double correlation = 0, energy = 0;
        for (int n = 0; n < kSubframeSamples; ++n) {
            correlation += target[n] * past[n];
            energy += past[n] * past[n];
        }
        if (energy > 0 && correlation > 0 && correlation * correlation / energy > bestScore) {
            bestScore = correlation * correlation / energy;
            bestGain = correlation / energy;
            lag = l;
        }
    }
    pitch = static_cast<int>(std::lround(std::clamp(bestGain, 0.0, 1.0) * 15));
}

// Half band: the alignment and fill that lose least of the other half.
void ChooseHalfBand(const double* innovation, int& alignment, int& zeroFill) {
    double best = -1;
    for (int a = 0; a < 2; ++a)
        for (int fill = 0; fill < 2; ++fill) {
            double coded[kSubframeSamples] = {}, lost = 0;
            for (int p = a; p < kSubframeSamples; p += 2)
                coded[p] = innovation[p];
            for (int p = 1 - a; p < kSubframeSamples; p += 2) {
                const double d = innovation[p] - (fill ? 0.0 : Interpolated(coded, p));
                lost += d * d;
            }
            if (best < 0 || lost < best) {
                best = lost;
                alignment = a;
                zeroFill = fill;
            }
        }
}

}  // namespace

class ChannelEncoder::Writer {
public:
    void Put(int value, int bits) {
        for (int i = 0; i < bits; ++i, ++at_) {
            if (at_ % 8 == 0)
                bytes_.push_back('\0');
            bytes_.back() = static_cast<char>(bytes_.back() | ((value >> i) & 1) << (at_ % 8));
        }
    }
    void Align() { at_ = (at_ + 7) / 8 * 8; }
    std::string& Bytes() { return bytes_; }

private:
    std::string bytes_;
    std::size_t at_ = 0;
};

ChannelEncoder::ChannelEncoder(bool halfBand, int bitsPerFrame)
    : halfBand_(halfBand), budget_(std::max(40, bitsPerFrame / 4 - 18)) {
    double gain = 8.0 * (1 + kGainZeroCode);
    for (double& g : gains_) {
        g = gain;
        gain *= 1.04 + kGainStepCode / 1000.0;
    }
}

std::string ChannelEncoder::EncodeBlock(const std::int16_t* samples, std::uint32_t count,
                                        std::size_t stride, bool later) {
    Writer out;
    for (std::uint32_t first = 0; first < count; first += kFrameSamples) {
        double input[kFrameSamples] = {};
        for (std::uint32_t k = 0; k < kFrameSamples && first + k < count; ++k)
            input[k] = samples[(std::size_t{first} + k) * stride];
        if (later) {
            out.Align();
            out.Put(0, 8);  // the flag byte: no raw patch
        }
        EncodeFrame(input, out);
    }
    out.Align();
    return std::move(out.Bytes());
}

void ChannelEncoder::EncodeFrame(const double* input, Writer& out) {
    if (!wroteHeader_) {
        out.Put(halfBand_, 1);
        out.Put(32 - kThreshold, 4);
        out.Put(kGainZeroCode, 4);
        out.Put(kGainStepCode, 6);
        wroteHeader_ = true;
    }
    // Levinson-Durbin on the frame's windowed autocorrelation.
    double windowed[kFrameSamples], r[13] = {};
    for (int n = 0; n < kFrameSamples; ++n)
        windowed[n] = input[n] * (0.54 - 0.46 * std::cos(2 * kPi * n / (kFrameSamples - 1)));
    for (int lag = 0; lag <= 12; ++lag)
        for (int n = lag; n < kFrameSamples; ++n)
            r[lag] += windowed[n] * windowed[n - lag];
    r[0] *= 1.0001;
    double k[12] = {}, a[12] = {}, error = r[0];
    for (int m = 0; m < 12 && error > 0; ++m) {
        double sum = r[m + 1];
        for (int i = 0; i < m; ++i)
            sum += a[i] * r[m - i];
        k[m] = std::clamp(-sum / error, -0.999, 0.999);
        double next[12];
        for (int i = 0; i < m; ++i)
            next[i] = a[i] + k[m] * a[m - 1 - i];
        next[m] = k[m];
        std::copy(next, next + m + 1, a);
        error *= 1 - k[m] * k[m];
    }
    // Each to the nearest entry it may take.
    const auto& table = ReflectionTable();
    int index[12];
    for (int i = 0; i < 12; ++i) {
        const int low = i < 4 ? 1 : 16, high = i == 0 ? kThreshold - 1 : i < 4 ? 63 : 47;
        index[i] = low;
        for (int j = low; j <= high; ++j)
            if (std::abs(table[static_cast<std::size_t>(j)] - k[i]) <
                std::abs(table[static_cast<std::size_t>(index[i])] - k[i]))
                index[i] = j;
        out.Put(i < 4 ? index[i] : index[i] - 16, i < 4 ? 6 : 5);
    }
    // The decoder's predictor at each stage, as it moves to the frame's set.
    Stages stages;
    for (int stage = 1; stage <= 4; ++stage)
        stages[static_cast<std::size_t>(stage - 1)] =
            Predictor(StageSet(reflection_, index, stage));
    reflection_ = StageSet(reflection_, index, 4);
    std::copy(excitation_.begin(), excitation_.end(), e_.begin());
    for (int s = 0; s < 4; ++s)
        EncodeSubframe(input + s * kSubframeSamples, s, stages, out);
    std::copy(e_.end() - 324, e_.end(), excitation_.begin());
}

namespace {

// The stage of the frame's sample n.
std::size_t StageOf(int n) {
    return n < kStageEnds[0] ? 0 : n < kStageEnds[1] ? 1 : n < kStageEnds[2] ? 2 : 3;
}

double Dot(const std::array<double, 12>& a, const std::array<double, 12>& memory) {
    double sum = 0;
    for (std::size_t i = 0; i < 12; ++i)
        sum += a[i] * memory[i];
    return sum;
}

void Push(std::array<double, 12>& memory, double y) {
    std::copy_backward(memory.begin(), memory.end() - 1, memory.end());
    memory[0] = y;
}

}  // namespace

void ChannelEncoder::EncodeSubframe(const double* input, int subframe, const Stages& stages,
                                    Writer& out) {
    const int here = 324 + subframe * kSubframeSamples;
    const int first = subframe * kSubframeSamples;  // in the frame
    // What the excitation must be for the output to follow the input, from
    // the filter's memory: the decoder's own output for the full band, the
    // input's past for the half band, whose coded values reach ahead.
    std::array<double, 12>& memory = halfBand_ ? past_ : synthesis_;
    double target[kSubframeSamples];
    std::array<double, 12> ahead = memory;
    for (int n = 0; n < kSubframeSamples; ++n) {
        target[n] = input[n] + Dot(stages[StageOf(first + n)], ahead);
        Push(ahead, input[n]);
    }
    int lag = 0, pitch = 0;
    BestPitch(&e_[static_cast<std::size_t>(here)], target, lag, pitch);
    const double* past = &e_[static_cast<std::size_t>(here - kSubframeSamples - lag)];
    double pitchPart[kSubframeSamples];
    for (int n = 0; n < kSubframeSamples; ++n)
        pitchPart[n] = pitch / 15.0 * past[n];

    Pulses pulses = halfBand_ ? HalfBandPulses(target, pitchPart)
                              : FullBandPulses(input, first, stages, pitchPart);
    out.Put(lag, 8);
    out.Put(pitch, 4);
    out.Put(pulses.gainIndex, 6);
    if (halfBand_) {
        out.Put(pulses.alignment, 1);
        out.Put(pulses.zeroFill, 1);
    }
    PutPulses(out, pulses.values, pulses.count);
    // The excitation as the decoder will make it, and its filter's memory.
    double x[kSubframeSamples] = {};
    const int step = halfBand_ ? 2 : 1;
    for (int i = 0; i < pulses.count; ++i)
        x[pulses.alignment + i * step] = pulses.values[i];
    if (halfBand_ && pulses.zeroFill == 0)
        for (int p = 1 - pulses.alignment; p < kSubframeSamples; p += 2)
            x[p] = Interpolated(x, p);
    const double gain = pulses.gain;
    for (int n = 0; n < kSubframeSamples; ++n) {
        const double e = gain * x[n] + pitchPart[n];
        e_[static_cast<std::size_t>(here + n)] = e;
        if (halfBand_)
            Push(past_, input[n]);
        else
            Push(synthesis_, e - Dot(stages[StageOf(first + n)], synthesis_));
    }
}

// The full band in closed loop: each value is chosen against the output the
// decoder will have made up to it, so that the error of one sample is
// corrected by the next instead of ringing on through the filter. Of the
// gains fine enough for the loudest value, the one whose code comes nearest
// the budget.
ChannelEncoder::Pulses ChannelEncoder::FullBandPulses(const double* input, int first,
                                                      const Stages& stages,
                                                      const double* pitchPart) const {
    Pulses best;
    best.count = kSubframeSamples;
    auto quantize = [&](int k, int* q) {
        const double g = gains_[static_cast<std::size_t>(k)];
        std::array<double, 12> memory = synthesis_;
        double peak = 0;
        for (int n = 0; n < kSubframeSamples; ++n) {
            const double prediction = Dot(stages[StageOf(first + n)], memory);
            const double want = (input[n] + prediction - pitchPart[n]) / g;
            peak = std::max(peak, std::abs(want));
            q[n] = static_cast<int>(std::clamp(std::lround(want), -13L, 13L));
            Push(memory, g * q[n] + pitchPart[n] - prediction);
        }
        return peak;
    };
    int bestDistance = -1;
    for (int k = 0; k < 64; ++k) {
        int q[kSubframeSamples];
        if (quantize(k, q) > 13.5 && k < 63)
            continue;  // a value out of reach
        BitCounter counter;
        PutPulses(counter, q, kSubframeSamples);
        const int distance = std::abs(counter.bits - budget_);
        if (bestDistance < 0 || distance < bestDistance) {
            bestDistance = distance;
            best.gainIndex = k;
            std::copy(q, q + kSubframeSamples, best.values);
        }
    }
    best.gain = gains_[static_cast<std::size_t>(best.gainIndex)];
    return best;
}

// The half band in open loop: the alignment and fill that lose least, the
// finest gain that keeps every value within reach, then the one whose code
// comes nearest the budget.
ChannelEncoder::Pulses ChannelEncoder::HalfBandPulses(const double* target,
                                                      const double* pitchPart) const {
    double innovation[kSubframeSamples];
    for (int n = 0; n < kSubframeSamples; ++n)
        innovation[n] = target[n] - pitchPart[n];
    Pulses best;
    ChooseHalfBand(innovation, best.alignment, best.zeroFill);
    best.count = kSubframeSamples / 2;
    const double scale = best.zeroFill == 0 ? 0.5 : 1.0;  // the decoder halves the gain
    auto quantize = [&](int k, int* q) {
        const double g = gains_[static_cast<std::size_t>(k)] * scale;
        for (int i = 0; i < best.count; ++i)
            q[i] = static_cast<int>(
                std::clamp(std::lround(innovation[best.alignment + 2 * i] / g), -13L, 13L));
    };
    int first = 0;
    double peak = 0;
    for (int i = 0; i < best.count; ++i)
        peak = std::max(peak, std::abs(innovation[best.alignment + 2 * i]));
    while (first < 63 && peak / (gains_[static_cast<std::size_t>(first)] * scale) > 13.5)
        ++first;
    int bestDistance = -1;
    for (int k = first; k < 64; ++k) {
        int q[kSubframeSamples];
        quantize(k, q);
        BitCounter counter;
        PutPulses(counter, q, best.count);
        const int distance = std::abs(counter.bits - budget_);
        if (bestDistance < 0 || distance < bestDistance) {
            bestDistance = distance;
            best.gainIndex = k;
        }
    }
    quantize(best.gainIndex, best.values);
    best.gain = gains_[static_cast<std::size_t>(best.gainIndex)] * scale;
    return best;
}

}  // namespace tamrel::microtalk
