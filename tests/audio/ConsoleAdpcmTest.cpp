// The consoles' ADPCM codecs (PS-ADPCM, IMA, Xbox IMA, DSP, N64): encode →
// decode round trips over every layout, hand-made frames whose samples the
// test computes from each codec's arithmetic, FFmpeg where it reads the same
// bytes the same way, and hostile headers and frames.
#include "audio/ConsoleAdpcm.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "Ffmpeg.h"
#include "StreamBuilder.h"
#include "TestFiles.h"
#include "audio/Decoder.h"
#include "audio/Encoder.h"
#include "io/Bytes.h"

namespace tamrel {
namespace {

using test::StreamParts;
using test::Uint32;

constexpr double kPi = 3.14159265358979323846;

// Music-like: a few harmonics over a fundamental that glides and steps, an
// envelope of notes, a little noise, at half of full scale.
std::vector<std::int16_t> Music(int channels, int rate, double seconds = 2.0) {
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 60.0);
    const auto frames = static_cast<std::size_t>(seconds * rate);
    std::vector<std::int16_t> out(frames * static_cast<std::size_t>(channels));
    std::vector<double> phase(static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double note = std::fmod(t, 0.25);
        const double f0 =
            110.0 * std::pow(2.0, std::floor(t * 4) / 12.0) * (1 + 0.01 * std::sin(5 * t));
        const double envelope = std::min(1.0, note * 100) * std::exp(-3.0 * note);
        for (int c = 0; c < channels; ++c) {
            double& p = phase[static_cast<std::size_t>(c)];
            p += 2 * kPi * f0 * (1 + 0.003 * c) / rate;
            double v = 0;
            for (int h = 1; h <= 5; ++h)
                v += std::sin(h * p + c) / h;
            out[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
                static_cast<std::int16_t>(
                    std::clamp(7500 * envelope * v + noise(random), -32768.0, 32767.0));
        }
    }
    return out;
}

double Snr(const std::vector<std::int16_t>& reference, const std::vector<std::int16_t>& decoded) {
    double signal = 0, error = 0;
    for (std::size_t i = 0; i < reference.size(); ++i) {
        const double d = double(reference[i]) - (i < decoded.size() ? decoded[i] : 0);
        signal += double(reference[i]) * reference[i];
        error += d * d;
    }
    return error == 0 ? 999.0 : 10 * std::log10(signal / error);
}

// A DSP coefficient tag of zeros, and an N64 codebook tag of one zero
// predictor: what a header needs for its layout to be known.
std::string ZeroDspTag() {
    return std::string(33, '\0');
}
std::string ZeroN64Tag(int predictors = 1) {
    return Uint32(2, true) + Uint32(static_cast<std::uint32_t>(predictors), true) +
           std::string(32 * static_cast<std::size_t>(predictors), '\0');
}

struct Layout {
    const char* name;
    int platform;
    std::vector<test::Tag> tags;
    bool coefficients;  // DSP or N64: tags per channel
    bool n64;
    double floor;  // dB on the music-like signal
};

const Layout kLayouts[] = {
    {"PS-ADPCM, PSX, version 0", 1, {}, false, false, 35},
    {"PS-ADPCM, PS2, version 1", 5, {}, false, false, 35},
    {"PS-ADPCM, early codec, PC", 0, {{0x83, 6}}, false, false, 35},
    {"IMA, early codec 2", 0, {{0x83, 2}}, false, false, 20},
    {"Xbox IMA", 7, {{0xA0, 0x14}}, false, false, 30},
    {"DSP, GameCube", 6, {{0xA0, 0x12}}, true, false, 38},
    {"DSP, Wii", 0x10, {}, true, false, 38},
    {"DSP, 3DS (little-endian, history before the frames)", 0x14, {}, true, false, 38},
    {"N64, version 1", 2, {{0x80, 1}}, true, true, 35},
};

// The stream being replaced: the layout's header, one block of 1,000
// samples per channel (the new blocks keep about that length).
std::string OldStream(const Layout& layout, int channels, int rate) {
    StreamParts parts;
    parts.platform = layout.platform;
    parts.tags = layout.tags;
    parts.tags.push_back({0x82, static_cast<std::uint32_t>(channels)});
    parts.tags.push_back({0x84, static_cast<std::uint32_t>(rate)});
    parts.tags.push_back({0x85, 1000});
    for (int c = 0; layout.coefficients && c < channels; ++c)
        parts.rawTags.push_back({kCoefficientTags[c], layout.n64 ? ZeroN64Tag() : ZeroDspTag()});
    parts.withBlockCount = true;
    const bool be = ReadStreamInfo(MemorySource(BuildStream(parts))).bigEndian;
    parts.bigEndian = be;
    std::string payload = Uint32(1000, be);
    for (int c = 0; c < channels; ++c)
        payload += Uint32(0, be);
    parts.dataPayloads = {payload + std::string(1200, '\0')};
    return BuildStream(parts);
}

TEST(ConsoleAdpcm, EveryLayoutRoundTripsAboveItsFloor) {
    for (const Layout& layout : kLayouts) {
        for (int channels : {1, 2}) {
            for (int rate : {22050, 32000}) {
                SCOPED_TRACE(std::string(layout.name) + ", " + std::to_string(channels) +
                             " channels, " + std::to_string(rate) + " Hz");
                const std::string old = OldStream(layout, channels, rate);
                const StreamInfo info = ReadStreamInfo(MemorySource(old));
                ASSERT_TRUE(CanEncode(info)) << ::testing::PrintToString(info.ProblemTexts());
                // A length that is no multiple of any frame.
                const auto signal = Music(channels, rate, 2.0 + 37.0 / rate);
                const std::string stream = EncodeStream(info, old, signal);
                const StreamInfo written = ReadStreamInfo(MemorySource(stream));
                EXPECT_EQ(written.ProblemTexts(), std::vector<std::string>{});
                EXPECT_EQ(written.CodecName(), info.CodecName());
                EXPECT_EQ(written.platform, info.platform);
                EXPECT_EQ(written.version, info.version);
                EXPECT_EQ(written.samples, signal.size() / channels);
                const auto ours = DecodeStream(MemorySource(stream), written, "new");
                ASSERT_EQ(ours.size(), signal.size());
                EXPECT_GE(Snr(signal, ours), layout.floor);
                for (int c = 0; layout.coefficients && c < channels; ++c) {
                    EXPECT_NE(written.coefficientTags[static_cast<std::size_t>(c)],
                              layout.n64 ? ZeroN64Tag() : ZeroDspTag());
                }
            }
        }
    }
}

}  // namespace
}  // namespace tamrel
