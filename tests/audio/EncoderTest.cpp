#include "audio/Encoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "Ffmpeg.h"
#include "Signals.h"
#include "StreamBuilder.h"
#include "TestFiles.h"
#include "audio/Decoder.h"

namespace tamrel {
namespace {

using test::StreamParts;
using test::Uint32;

constexpr double kPi = 3.14159265358979323846;

// Test signals, channels interleaved: a chord with noise (music-like, with a
// few loud strokes) and a chirp from 100 Hz to 4 kHz, the range of melodies and voices.
std::vector<std::int16_t> Signal(bool chord, int channels, int rate, double seconds) {
    std::mt19937 random(static_cast<unsigned>(rate + channels));
    std::normal_distribution<double> noise(0.0, 300.0);
    const auto frames = static_cast<std::size_t>(seconds * rate);
    std::vector<std::int16_t> out(frames * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        for (int c = 0; c < channels; ++c) {
            double v;
            if (chord) {
                const double stroke = std::exp(-4.0 * std::fmod(t, 0.5));
                v = 6000 * stroke *
                        (std::sin(2 * kPi * 220 * t) + std::sin(2 * kPi * 277.2 * t + c) +
                         std::sin(2 * kPi * 329.6 * t)) +
                    noise(random);
            } else {
                const double f0 = 100, f1 = 4000;
                const double phase = 2 * kPi * (f0 * t + (f1 - f0) * t * t / (2 * seconds));
                v = 12000 * std::sin(phase + c * 0.3);
            }
            out[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
                static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0));
        }
    }
    return out;
}

using test::SnrDb;

// The stream being replaced: a header in the given kind, one data block of
// 1,120 samples per channel (the new blocks keep about that length), SCCl.
std::string OldStream(int platform, std::vector<test::Tag> tags, int channels, int rate) {
    StreamParts parts;
    parts.platform = platform;
    parts.tags = std::move(tags);
    parts.tags.push_back({0x82, static_cast<std::uint32_t>(channels)});
    parts.tags.push_back({0x84, static_cast<std::uint32_t>(rate)});
    parts.tags.push_back({0x85, 1120});
    parts.withBlockCount = true;
    parts.bigEndian = ReadStreamInfo(MemorySource(BuildStream(parts))).bigEndian;
    parts.dataPayloads = {Uint32(1120, parts.bigEndian) + std::string(2000, '\0')};
    return BuildStream(parts);
}

struct Kind {
    const char* name;
    int platform;
    std::vector<test::Tag> tags;
    bool ffmpegAgrees;  // the header is one on which FFmpeg reads as the real-file rules do
    bool exact;         // PCM16
    bool stereoOnly;
    // The least SNR in dB: 8 bits with a step of dither reach about 29.5
    // on the quiet chord, which is what 8 bits can do.
    double floor = 30.0;
};

const Kind kKinds[] = {
    {"XA ADPCM v1", 0, {{0x83, 7}}, true, false, true},
    {"XA ADPCM R1", 0, {{0x80, 1}}, true, false, false},
    {"XA ADPCM R2", 0, {{0x80, 2}}, true, false, false},
    {"XA ADPCM R3", 9, {{0x80, 3}}, true, false, false},
    {"XA ADPCM v1, version 1: the offset table", 0, {{0x80, 1}, {0xA0, 0x03}}, false, false, true},
    {"XA ADPCM v1, version 3", 0, {{0x80, 3}, {0xA0, 0x03}}, false, false, true},
    {"XA ADPCM R1, split", 4, {{0x83, 7}}, false, false, false},
    {"XA ADPCM R1, big-endian, version 1", 2, {{0x80, 1}, {0xA0, 0x0A}}, false, false, false},
    {"PCM16 LE", 0, {{0xA0, 0x00}}, false, true, false},
    {"PCM16 of kind 0x01 on PC", 0, {{0xA0, 0x01}}, false, true, false},
    {"PCM16 of kind 0x01 on the Mac", 3, {{0xA0, 0x01}}, false, true, false},
    {"PCM16 LE, version 1", 0, {{0x80, 1}, {0xA0, 0x00}}, false, true, false},
    {"PCM16 BE planar", 6, {}, false, true, false},
    {"PCM16 LE planar", 0, {{0xA0, 0x08}}, false, true, false},
    {"PCM16 LE planar, offsets (Xbox)", 7, {}, false, true, false},
    {"PCM16 BE planar, version 0 (Mac)", 3, {{0x83, 0}}, false, true, false},
    {"PCM8", 0, {{0xA0, 0x02}}, false, false, false, 28.0},
    {"PCM8 planar", 0, {{0xA0, 0x09}}, false, false, false, 28.0},
    {"PCM8, early tag on PC", 0, {{0x81, 8}}, false, false, false, 28.0},
    {"PCM8 planar, version 1 offsets", 0, {{0x80, 1}, {0xA0, 0x09}}, false, false, false, 28.0},
};

// Every header the encoder takes gives a stream that the decoder reads back
// whole: the table holds every codec and layout with an encoder.
TEST(Encoder, EveryCodecReproducesTheSignal) {
    test::TempDir dir;
    for (const Kind& kind : kKinds) {
        for (int rate : {22050, 32000}) {
            for (int channels : {1, 2}) {
                if (kind.stereoOnly && channels == 1)
                    continue;
                for (bool chord : {true, false}) {
                    SCOPED_TRACE(std::string(kind.name) + ", " + std::to_string(rate) + " Hz, " +
                                 std::to_string(channels) + " channels, " +
                                 (chord ? "chord" : "chirp"));
                    const std::string old = OldStream(kind.platform, kind.tags, channels, rate);
                    const StreamInfo info = ReadStreamInfo(MemorySource(old));
                    ASSERT_TRUE(info.Encodable()) << info.CodecName();
                    const auto signal = Signal(chord, channels, rate, 1.3);
                    const std::string stream = EncodeStream(info, old, signal);
                    const StreamInfo written = ReadStreamInfo(MemorySource(stream));
                    EXPECT_EQ(written.ProblemTexts(), std::vector<std::string>{});
                    EXPECT_EQ(written.CodecName(), info.CodecName());
                    EXPECT_EQ(written.samples, signal.size() / channels);
                    EXPECT_EQ(written.headerSamples, written.samples);
                    EXPECT_GE(written.dataBlocks.size(), 3u);
                    const auto ours = DecodeStream(MemorySource(stream), written, "new");
                    ASSERT_EQ(ours.size(), signal.size());
                    if (kind.exact) {
                        EXPECT_EQ(ours, signal);
                        continue;
                    }
                    EXPECT_GE(SnrDb(signal, ours), kind.floor);
                    if (!kind.ffmpegAgrees || !test::kHaveFfmpeg)
                        continue;
                    test::WriteFileBytes(dir / "new.asf", stream);
                    const auto theirs = test::FfmpegSamples(dir / "new.asf");
                    // FFmpeg leaves out the last block's partial frame.
                    ASSERT_GE(theirs.size() + 28 * channels, signal.size());
                    EXPECT_GE(SnrDb(signal, theirs), 30.0);
                }
            }
        }
    }
}

// PCM8: what 8 bits hold exactly comes back exactly (silence stays
// silent), and the dither is the same for the same sound, so that the same
// audio always gives the same stream.
TEST(Encoder, EightBitsKeepWhatTheyHoldAndDitherTheSameWay) {
    const std::string old = OldStream(0, {{0xA0, 0x02}}, 1, 22050);
    const StreamInfo info = ReadStreamInfo(MemorySource(old));
    ASSERT_TRUE(info.Encodable());
    std::vector<std::int16_t> held(3000);
    for (std::size_t i = 0; i < held.size(); ++i)
        held[i] = static_cast<std::int16_t>((static_cast<int>(i % 256) - 128) * 256);
    const std::string exact = EncodeStream(info, old, held);
    EXPECT_EQ(DecodeStream(MemorySource(exact), ReadStreamInfo(MemorySource(exact)), "s"), held);
    const auto signal = Signal(false, 1, 22050, 0.5);
    const std::string once = EncodeStream(info, old, signal);
    EXPECT_EQ(EncodeStream(info, old, signal), once);
    // Dithered, not merely rounded: a sample halfway between two steps
    // goes to both.
    const std::vector<std::int16_t> half(4000, 128);
    const std::string halfway = EncodeStream(info, old, half);
    const auto decoded =
        DecodeStream(MemorySource(halfway), ReadStreamInfo(MemorySource(halfway)), "s");
    EXPECT_GT(std::count(decoded.begin(), decoded.end(), 0), 1000);
    EXPECT_GT(std::count(decoded.begin(), decoded.end(), 256), 1000);
}

TEST(Encoder, TheNewStreamKeepsTheOldHeader) {
    // Flags, a codec tag, user data with a long length, a loop, and a
    // repeated header after 0xFE, which is dropped.
    std::string payload = "PT";
    payload += std::string("\0\0\xFD\x80\x01\x02\x82\x01\x02\x84\x02\x7D\x00\x8C\x01\x05", 16);
    payload += std::string("\x85\x02\x04\x60\x86\x01\x07\x87\x02\x04\x5F", 11);
    payload += std::string("\xA2\xFF\x00\x00\x00\x03xyz\xFE\x84\x02\x56\x22\xFF", 15);
    StreamParts data;
    std::string old = test::Block("SCHl", payload) +
                      test::Block("SCDl", Uint32(1120, false) + std::string(900, '\0')) +
                      test::Block("SCEl", "");
    const StreamInfo info = ReadStreamInfo(MemorySource(old));
    ASSERT_EQ(info.sampleRate, 32000);
    const auto signal = Signal(true, 2, 32000, 0.2);
    const std::string stream = EncodeStream(info, old, signal);
    std::string expected = "PT";
    expected += std::string("\0\0\xFD\x80\x01\x02\x82\x01\x02\x84\x02\x7D\x00\x8C\x01\x05", 16);
    expected += std::string("\x85\x02\x19\x00\x86\x01\x00\x87\x02\x18\xFF", 11);  // 6400 samples
    expected += std::string("\xA2\xFF\x00\x00\x00\x03xyz\xFF", 10);
    EXPECT_EQ(stream.substr(0, test::Block("SCHl", expected).size()),
              test::Block("SCHl", expected));
    const StreamInfo written = ReadStreamInfo(MemorySource(stream));
    EXPECT_EQ(written.loopStart, 0u);
    EXPECT_EQ(written.loopEnd, 6400u);
    EXPECT_FALSE(written.blockCountTag.has_value());  // the old one had no SCCl
    EXPECT_EQ(written.ProblemTexts(), std::vector<std::string>{});
}

TEST(Encoder, RawFramesOnlyWhereADPCMFails) {
    // Music-like sound, with a few bursts of full-scale noise that no ADPCM
    // frame follows: raw frames there, and the stream stays within 10 % of
    // its all-ADPCM size.
    auto signal = Signal(true, 2, 32000, 3.0);
    std::mt19937 random(3);
    for (std::size_t burst = 20000; burst < signal.size(); burst += 60000)
        for (std::size_t i = burst; i < burst + 200 && i < signal.size(); ++i)
            signal[i] = static_cast<std::int16_t>(random() % 2 ? 32767 : -32768);
    const std::string old = OldStream(0, {{0x80, 2}}, 2, 32000);
    const StreamInfo info = ReadStreamInfo(MemorySource(old));
    EncodeStats stats;
    const std::string stream = EncodeStream(info, old, signal, {}, &stats);
    EXPECT_GT(stats.rawFrames, 0u);
    const double growth = double(stats.rawFrames) * (61 - 15) / (double(stats.frames) * 15);
    EXPECT_LT(growth, 0.10);
    const auto ours = DecodeStream(MemorySource(stream), ReadStreamInfo(MemorySource(stream)), "s");
    EXPECT_GE(SnrDb(signal, ours), 30.0);
}

TEST(Encoder, CodecsWithoutAnEncoderAreRefused) {
    const std::string old = OldStream(0, {{0xA0, 0x1B}}, 1, 22050);
    const StreamInfo info = ReadStreamInfo(MemorySource(old));
    EXPECT_FALSE(info.Encodable());
    EXPECT_THROW(EncodeStream(info, old, {1, 2, 3}), EncodeError);
}

}  // namespace
}  // namespace tamrel
