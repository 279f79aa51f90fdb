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
    const auto& table = ReflectionTable();
    const std::array<double, 12> before = reflection_;
    const int ends[4] = {12, 24, 36, kFrameSamples};
    int n = 0;
    for (int stage = 1; stage <= 4; ++stage) {
        // The coefficients move a quarter of the way at each stage.
        std::array<double, 12> r;
        for (std::size_t i = 0; i < 12; ++i)
            r[i] = before[i] +
                   (table[static_cast<std::size_t>(coefficients[i])] - before[i]) * stage / 4.0;
        if (stage == 4)
            for (std::size_t i = 0; i < 12; ++i)
                r[i] = table[static_cast<std::size_t>(coefficients[i])];
        reflection_ = r;
        // The predictor by the step-up recursion.
        double a[12] = {r[0]};
        for (int m = 1; m < 12; ++m) {
            double next[12];
            for (int i = 0; i < m; ++i)
                next[i] = a[i] + r[static_cast<std::size_t>(m)] * a[m - 1 - i];
            next[m] = r[static_cast<std::size_t>(m)];
            std::copy(next, next + m + 1, a);
        }
        for (; n < ends[stage - 1]; ++n) {
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
