// MicroTalk 10:1 and 5:1: the reference streams, made from random but valid
// frames, decode to their samples; hand-made streams show the known answer
// of zero coefficients, the later revision's raw patches, counts that are
// no multiple of a frame, and damage found inside the block.
#include "audio/MicroTalk.h"

#include <gtest/gtest.h>

#include <cmath>

#include "Ffmpeg.h"
#include "Signals.h"
#include "StreamBuilder.h"
#include "TestFiles.h"
#include "audio/Decoder.h"
#include "audio/Encoder.h"
#include "audio/StreamInfo.h"

namespace tamrel {
namespace {

constexpr double kPi = 3.14159265358979323846;

using test::Uint32;

std::vector<std::int16_t> Decode(const std::string& stream) {
    return DecodeStream(MemorySource(stream), ReadStreamInfo(MemorySource(stream)), "s");
}

TEST(MicroTalk, TheReferenceStreamsDecodeToTheirSamples) {
    for (const char* name :
         {"microtalk-10-original", "microtalk-10-later", "microtalk-5-original"}) {
        SCOPED_TRACE(name);
        const std::string base = std::string(TAMREL_TEST_DATA) + "/microtalk/" + name;
        const std::string stream = test::ReadFileBytes(base + ".asf");
        const std::string raw = test::ReadFileBytes(base + ".s16le");
        const auto samples = Decode(stream);
        ASSERT_EQ(samples.size() * 2, raw.size());
        int worst = 0;
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const auto want =
                static_cast<std::int16_t>(static_cast<unsigned char>(raw[2 * i]) |
                                          static_cast<unsigned char>(raw[2 * i + 1]) << 8);
            worst = std::max(worst, std::abs(samples[i] - want));
        }
        EXPECT_LE(worst, 1);
    }
}

// Bits written least significant first, as the stream reads them.
class BitWriter {
public:
    void Put(int value, int bits) {
        for (int i = 0; i < bits; ++i, ++at_) {
            if (at_ % 8 == 0)
                bytes_.push_back('\0');
            bytes_.back() = static_cast<char>(bytes_.back() | ((value >> i) & 1) << (at_ % 8));
        }
    }
    void Ones(int n) {
        for (int i = 0; i < n; ++i)
            Put(1, 1);
    }
    void Align() { at_ = (at_ + 7) / 8 * 8; }
    void Byte(int value) {
        Align();
        Put(value, 8);
    }
    const std::string& Bytes() const { return bytes_; }

private:
    std::string bytes_;
    std::size_t at_ = 0;
};

// The stream header: half band, threshold 32 - t, gain 0 = 8, step 1.04.
void Header(BitWriter& w, bool halfBand, int t) {
    w.Put(halfBand, 1);
    w.Put(t, 4);
    w.Put(0, 4);
    w.Put(0, 6);
}

// Coefficients that are all zero: index 0 (which is 0) or 32 for the first
// (the first index also picks the excitation), 32 for the rest.
void ZeroCoefficients(BitWriter& w, int first) {
    w.Put(first, 6);
    for (int i = 1; i < 4; ++i)
        w.Put(32, 6);
    for (int i = 4; i < 12; ++i)
        w.Put(16, 5);
}

double Gain(int k) {
    double g = 8;
    for (int i = 0; i < k; ++i)
        g *= 1.04;
    return g;
}

std::int16_t Rounded(double v) {
    return static_cast<std::int16_t>(std::round(v));
}

// A MicroTalk 10:1 stream (codec tag 0x04) of one channel in version 1.
std::string Stream(int platform, int version,
                   std::vector<std::pair<std::uint32_t, std::string>> blocks,
                   std::vector<test::Tag> more = {}) {
    test::StreamParts parts;
    parts.platform = platform;
    parts.tags = {{0x80, static_cast<std::uint32_t>(version)}, {0xA0, 0x04}};
    parts.tags.insert(parts.tags.end(), more.begin(), more.end());
    for (const auto& [count, bits] : blocks)
        parts.dataPayloads.push_back(Uint32(count, false) + Uint32(0, false) + '\x01' + bits);
    return BuildStream(parts);
}

// With zero coefficients and pitch gains, each output sample is the fixed
// gain times its coded value: every-sample codes in full band; multi-pulse
// values, a large pulse and runs of zeros; half band with zero fill.
TEST(MicroTalk, ZeroCoefficientsGiveTheGainTimesTheCodedValues) {
    // Every-sample: the pattern 0, -2, +2 over a frame, gain index 10 + s.
    BitWriter every;
    Header(every, false, 0);  // threshold 32: index 32 codes every sample
    ZeroCoefficients(every, 32);
    std::vector<std::int16_t> want;
    for (int s = 0; s < 4; ++s) {
        every.Put(0, 8);
        every.Put(0, 4);
        every.Put(10 + s, 6);
        for (int n = 0; n < 108; ++n) {
            const int v = n % 3 == 0 ? 0 : (n % 3 == 1 ? -2 : 2);
            if (v == 0)
                every.Put(0, 1);
            else
                every.Put(v > 0 ? 3 : 1, 2);  // 1 then 1 (+2) or 0 (-2)
            want.push_back(Rounded(Gain(10 + s) * v));
        }
    }
    EXPECT_EQ(Decode(Stream(5, 1, {{432, every.Bytes()}})), want);

    // Multi-pulse, full band: +1, -1, +3, -2, +9 (a large pulse), then runs.
    BitWriter pulses;
    Header(pulses, false, 0);
    ZeroCoefficients(pulses, 0);  // index 0 is below the threshold
    want.clear();
    for (int s = 0; s < 4; ++s) {
        pulses.Put(0, 8);
        pulses.Put(0, 4);
        pulses.Put(20, 6);
        std::vector<int> x(108, 0);
        if (s == 1) {
            pulses.Put(1, 1), pulses.Put(0, 1);                    // small: +1
            pulses.Put(0, 1), pulses.Put(1, 1);                    // small: -1
            pulses.Ones(3), pulses.Put(0, 1), pulses.Put(1, 1);    // small: +3
            pulses.Put(1, 1), pulses.Put(0, 1), pulses.Put(0, 1);  // large: -2
            pulses.Ones(6), pulses.Put(0, 1);                      // large: a large pulse,
            pulses.Ones(2), pulses.Put(0, 1), pulses.Put(1, 1);    // 7 + 2 = +9
            pulses.Ones(7), pulses.Put(63, 6);                     // large: 70 zeros
            pulses.Ones(8), pulses.Put(63, 6);                     // small: 70, cut to 33
            x[0] = 1, x[1] = -1, x[2] = 3, x[3] = -2, x[4] = 9;
        } else {
            pulses.Ones(8), pulses.Put(63, 6);  // 70 zeros
            pulses.Ones(8), pulses.Put(31, 6);  // 38 zeros
        }
        for (int v : x)
            want.push_back(Rounded(Gain(20) * v));
    }
    EXPECT_EQ(Decode(Stream(5, 1, {{432, pulses.Bytes()}})), want);

    // Half band with zero fill, odd alignment: the coded values at 1, 3, ...
    BitWriter half;
    Header(half, true, 0);
    ZeroCoefficients(half, 32);
    want.clear();
    for (int s = 0; s < 4; ++s) {
        half.Put(0, 8);
        half.Put(0, 4);
        half.Put(5, 6);
        half.Put(1, 1);  // alignment: odd positions
        half.Put(1, 1);  // zero fill
        for (int n = 0; n < 108; ++n) {
            const int v = n % 2 == 1 ? (n % 4 == 1 ? 2 : -2) : 0;
            if (n % 2 == 1)
                half.Put(v > 0 ? 3 : 1, 2);
            want.push_back(Rounded(Gain(5) * v));
        }
    }
    EXPECT_EQ(Decode(Stream(5, 1, {{432, half.Bytes()}})), want);
}

// One every-sample frame whose subframe 1 starts with +2 and is otherwise
// silent; lag and pitch gain for subframe 0.
void SilentFrame(BitWriter& w, int lag, int pitch, bool pulse) {
    ZeroCoefficients(w, 32);
    for (int s = 0; s < 4; ++s) {
        w.Put(s == 0 ? lag : 0, 8);
        w.Put(s == 0 ? pitch : 0, 4);
        w.Put(0, 6);
        for (int n = 0; n < 108; ++n) {
            if (pulse && s == 1 && n == 0)
                w.Put(3, 2);
            else
                w.Put(0, 1);
        }
    }
}

// The state runs across blocks (the header read once, only the bit reader
// starting again); a count that ends inside a frame drops its rest; a lag
// beyond the stored history reads its oldest value; the later revision's
// raw patch replaces output after synthesis.
TEST(MicroTalk, StateAcrossBlocksLagsAndRawPatches) {
    BitWriter first, second;
    Header(first, false, 0);
    SilentFrame(first, 0, 0, true);       // e = 16 at sample 108: the oldest kept
    SilentFrame(second, 255, 15, false);  // the next block: lag 363, gain 1
    const auto samples = Decode(Stream(5, 1, {{432, first.Bytes()}, {50, second.Bytes()}}));
    ASSERT_EQ(samples.size(), 482u);
    EXPECT_EQ(samples[108], 16);
    for (int n = 0; n < 50; ++n)
        EXPECT_EQ(samples[432 + static_cast<std::size_t>(n)], n <= 39 ? 16 : 0) << n;

    // The later revision: a flag byte per frame, 0xEE with a patch of two
    // samples at 10 after the frame's bits.
    BitWriter later;
    later.Byte(0xEE);
    Header(later, false, 0);
    SilentFrame(later, 0, 0, true);
    later.Align();
    for (int v : {0, 10, 0, 2, 0x04, 0xD2, 0xFF, 0xFB})
        later.Byte(v);
    const auto patched = Decode(Stream(0, 3, {{432, later.Bytes()}}));
    ASSERT_EQ(patched.size(), 432u);
    EXPECT_EQ(patched[10], 1234);
    EXPECT_EQ(patched[11], -5);
    EXPECT_EQ(patched[108], 16);

    // Damage: a patch outside the frame, a frame cut short; a loop.
    BitWriter outside = later;
    std::string bytes = outside.Bytes();
    bytes[bytes.size() - 8] = '\x01';  // the patch's position: 0x01FF = 511
    bytes[bytes.size() - 7] = '\xFF';
    const struct {
        const char* what;
        std::string stream;
        std::string error;
    } damaged[] = {
        {"a raw patch outside its frame", Stream(0, 3, {{432, bytes}}),
         "The stream s, data block 1 (byte 20): a raw patch lies outside its frame"},
        {"a frame cut short", Stream(5, 1, {{432, first.Bytes().substr(0, 40)}}),
         "The stream s, data block 1 (byte 20): a frame ends beyond the block"},
    };
    for (const auto& c : damaged) {
        SCOPED_TRACE(c.what);
        EXPECT_THROW(
            try { Decode(c.stream); } catch (const DecodeError& e) {
                EXPECT_EQ(std::string(e.what()), c.error);
                throw;
            },
            DecodeError);
    }
    const std::string looped = Stream(5, 1, {{432, first.Bytes()}}, {{0x86, 0}, {0x87, 431}});
    const StreamInfo info = ReadStreamInfo(MemorySource(looped));
    EXPECT_EQ(info.ProblemTexts(),
              std::vector<std::string>{"loops in MicroTalk streams are not supported"});
    EXPECT_FALSE(info.Playable());
}

// Speech-like: a voiced buzz (a glottal-like pulse train through two
// resonances) with a moving pitch, syllables and a pause.
std::vector<std::int16_t> Speech(int channels, int rate, double seconds) {
    std::vector<std::int16_t> out;
    double phase = 0, r1[2] = {}, r2[2] = {};
    for (int i = 0; i < static_cast<int>(rate * seconds); ++i) {
        const double t = static_cast<double>(i) / rate;
        phase += (120 + 30 * std::sin(2 * kPi * 1.5 * t)) / rate;
        const double pulse = phase - std::floor(phase) < 0.1 ? 1.0 : 0.0;
        const double syllable =
            std::max(0.0, std::sin(2 * kPi * 3 * t)) * (t > 1.0 && t < 1.2 ? 0 : 1);
        // Two resonances, near 700 and 1200 Hz.
        auto resonate = [&](double(&r)[2], double hz, double in) {
            const double w = 2 * kPi * hz / rate, radius = 0.97;
            const double y = in + 2 * radius * std::cos(w) * r[0] - radius * radius * r[1];
            r[1] = r[0];
            r[0] = y;
            return y;
        };
        const double v = resonate(r2, 1200, resonate(r1, 700, pulse * syllable * 600));
        for (int c = 0; c < channels; ++c)
            out.push_back(
                static_cast<std::int16_t>(std::clamp(v * (1 - 0.2 * c), -32768.0, 32767.0)));
    }
    return out;
}

// Encode → decode: exactly as long as the sound, following its waveform,
// for both kinds and both revisions, mono and stereo.
TEST(MicroTalk, EncodedSpeechFollowsTheWaveform) {
    const struct {
        const char* what;
        int platform, version, codec, channels;
        double floor;  // dB: what each reaches, less a margin
    } cases[] = {
        {"10:1, original revision", 5, 1, 0x04, 1, 7.5},
        {"10:1, later revision, stereo", 0, 3, 0x04, 2, 7.0},
        {"5:1, original revision", 5, 1, 0x16, 1, 28.0},
        {"10:1, version 0 (early codec 9)", 0, 0, -1, 1, 7.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::StreamParts parts;
        parts.platform = c.platform;
        parts.tags = {{0x80, static_cast<std::uint32_t>(c.version)},
                      {0x82, static_cast<std::uint32_t>(c.channels)}};
        if (c.codec >= 0)
            parts.tags.push_back({0xA0, static_cast<std::uint32_t>(c.codec)});
        else
            parts.tags.push_back({0x83, 9});
        parts.dataPayloads = {Uint32(432, false) + std::string(4 * c.channels + 60, '\0')};
        const std::string old = BuildStream(parts);
        const StreamInfo info = ReadStreamInfo(MemorySource(old));
        ASSERT_TRUE(info.Encodable()) << ::testing::PrintToString(info.ProblemTexts());
        const auto speech = Speech(c.channels, 22050, 1.5);
        const std::string stream = EncodeStream(info, old, speech);
        const StreamInfo written = ReadStreamInfo(MemorySource(stream));
        EXPECT_EQ(written.ProblemTexts(), std::vector<std::string>{});
        const auto back = DecodeStream(MemorySource(stream), written, "s");
        ASSERT_EQ(back.size(), speech.size());
        double signal = 0, error = 0;
        for (std::size_t i = 0; i < speech.size(); ++i) {
            signal += double(speech[i]) * speech[i];
            error += (double(speech[i]) - back[i]) * (double(speech[i]) - back[i]);
        }
        EXPECT_GE(10 * std::log10(signal / error), c.floor);
    }
}

// A mono stream of the codec (0x04 10:1, 0x16 5:1) written over an old one
// of the codec's own rate of bits, and read back by the program's decoder.
std::vector<std::int16_t> ThroughMicroTalk(int codec, const std::vector<std::int16_t>& sound) {
    test::StreamParts parts;
    parts.platform = 5;
    parts.tags = {{0x80, 1}, {0x82, 1}, {0xA0, static_cast<std::uint32_t>(codec)}};
    const std::size_t frameBytes = codec == 0x04 ? 86 : 172;  // 432 samples of 16 bits, 10:1 or 5:1
    parts.dataPayloads = {Uint32(432, false) + Uint32(0, false) + "\x01" +
                          std::string(frameBytes, '\0')};
    const std::string old = BuildStream(parts);
    const std::string stream = EncodeStream(ReadStreamInfo(MemorySource(old)), old, sound);
    return Decode(stream);
}

// 5:1 spends twice the bits of 10:1 on the whole band, and must sound that
// much better on speech, a chord and noise; each stays above its floor.
TEST(MicroTalk, FiveToOneIsWellAboveTenToOne) {
    TAMREL_NEEDS_FFMPEG();
    const struct {
        const char* signal;
        double tenFloor, fiveFloor;
    } floors[] = {{"chord", 17, 40}, {"noise bursts", 2.5, 14}, {"speech", 7, 32}};
    const auto signals = test::EncoderSignals(22050, 3.0);
    ASSERT_EQ(signals.size(), std::size(floors));
    for (std::size_t k = 0; k < signals.size(); ++k) {
        SCOPED_TRACE(signals[k].name);
        ASSERT_EQ(signals[k].name, floors[k].signal);
        const double ten =
            test::SnrDb(signals[k].samples, ThroughMicroTalk(0x04, signals[k].samples));
        const double five =
            test::SnrDb(signals[k].samples, ThroughMicroTalk(0x16, signals[k].samples));
        EXPECT_GE(five, ten + 3);
        EXPECT_GE(ten, floors[k].tenFloor);
        EXPECT_GE(five, floors[k].fiveFloor);
    }
}

}  // namespace
}  // namespace tamrel
