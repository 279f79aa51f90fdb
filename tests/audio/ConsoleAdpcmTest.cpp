// The consoles' ADPCM codecs (PS-ADPCM, IMA, Xbox IMA, DSP, N64): encode →
// decode round trips over every layout, hand-made frames whose samples the
// test computes from each codec's arithmetic, FFmpeg where it reads the same
// bytes the same way, and hostile headers and frames.
#include "audio/ConsoleAdpcm.h"
#include "audio/ImaAdpcm.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>

#include "Ffmpeg.h"
#include "Signals.h"
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

using test::SnrDb;

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
                ASSERT_TRUE(info.Encodable()) << ::testing::PrintToString(info.ProblemTexts());
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
                EXPECT_GE(SnrDb(signal, ours), layout.floor);
                for (int c = 0; layout.coefficients && c < channels; ++c) {
                    EXPECT_NE(written.coefficientTags[static_cast<std::size_t>(c)],
                              layout.n64 ? ZeroN64Tag() : ZeroDspTag());
                }
            }
        }
    }
}

// A stream of the given header and data payloads (each a count first).
std::string StreamOf(int platform, std::vector<test::Tag> tags, std::vector<test::RawTag> rawTags,
                     std::vector<std::string> payloads) {
    StreamParts parts;
    parts.platform = platform;
    parts.tags = std::move(tags);
    parts.rawTags = std::move(rawTags);
    parts.dataPayloads = std::move(payloads);
    return BuildStream(parts);
}

std::vector<std::int16_t> Decode(const std::string& stream) {
    return DecodeStream(MemorySource(stream), ReadStreamInfo(MemorySource(stream)), "s");
}

std::int16_t Clip(std::int64_t v) {
    return static_cast<std::int16_t>(std::clamp<std::int64_t>(v, -32768, 32767));
}

int Nibble(const std::string& frame, int byte, bool high) {
    const int b = static_cast<unsigned char>(frame[static_cast<std::size_t>(byte)]);
    const int n = high ? b >> 4 : b & 15;
    return n >= 8 ? n - 16 : n;
}

// PS-ADPCM: the prediction truncated toward zero (not floored), history
// unclipped, shifts 13-15 read as 9, low nibble first, history carried into
// the next block, and a block's samples its whole frames (its count is not
// read), the stream's total ending the last.
TEST(ConsoleAdpcm, PsAdpcmFramesFollowTheFormatsArithmetic) {
    // Loud positive codes under filter 4 drive the history past 16 bits;
    // then negative codes under filter 2 with shift 14.
    const std::string loud = std::string("\x40\x00", 2) + std::string(14, '\x77');
    const std::string down = std::string("\x2E\x00", 2) + std::string(14, '\xD9');
    const std::string odd = std::string("\x3C\x00", 2) + std::string(14, '\x1F');
    // Version 0, mono: the first block's count says 5, but players read its
    // two whole frames; the second block's frame ends at the total of 60.
    const std::string stream = StreamOf(1, {{0x85, 60}}, {},
                                        {Uint32(5, false) + Uint32(0, false) + loud + down,
                                         Uint32(0, false) + Uint32(0, false) + odd});
    std::vector<std::int16_t> want;
    std::int64_t h1 = 0, h2 = 0;
    bool sawTruncation = false, sawClipping = false;
    for (const std::string* frame : {&loud, &down, &odd}) {
        int filter = static_cast<unsigned char>((*frame)[0]) >> 4;
        int shift = (*frame)[0] & 15;
        shift = shift > 12 ? 9 : shift;
        const int k1[] = {0, 60, 115, 98, 122}, k2[] = {0, 0, -52, -55, -60};
        for (int k = 0; k < 28 && want.size() < 60; ++k) {
            const std::int64_t p = k1[filter] * h1 + k2[filter] * h2;
            const std::int64_t truncated = p < 0 ? -(-p / 64) : p / 64;
            sawTruncation = sawTruncation || (p < 0 && p % 64 != 0);
            const std::int64_t s =
                ((std::int64_t{Nibble(*frame, 2 + k / 2, k % 2 == 1)} * 4096) >> shift) + truncated;
            sawClipping = sawClipping || s > 32767;
            want.push_back(Clip(s));
            h2 = h1;
            h1 = s;
        }
    }
    ASSERT_TRUE(sawTruncation && sawClipping);  // the case shows both rules
    EXPECT_EQ(Decode(stream), want);

    // Stereo version 0 holds each channel's frames in its half of the block.
    const std::string quiet = std::string("\x0C\x00", 2) + std::string(14, '\x12');
    const auto stereo =
        Decode(StreamOf(1, {{0x82, 2}, {0x85, 56}}, {},
                        {Uint32(56, false) + Uint32(0, false) + loud + down + quiet + quiet}));
    const auto left =
        Decode(StreamOf(1, {{0x85, 56}}, {}, {Uint32(56, false) + Uint32(0, false) + loud + down}));
    const auto right = Decode(
        StreamOf(1, {{0x85, 56}}, {}, {Uint32(56, false) + Uint32(0, false) + quiet + quiet}));
    ASSERT_EQ(stereo.size(), 112u);
    for (std::size_t i = 0; i < 56; ++i) {
        EXPECT_EQ(stereo[2 * i], left[i]);
        EXPECT_EQ(stereo[2 * i + 1], right[i]);
    }
}

// IMA with the state in the block: the standard's shift-and-add step (the
// multiplying form gives 35 where it gives 34 below), high nibble first,
// left in the high nibble, and each block from its stored state.
TEST(ConsoleAdpcm, ImaFramesFollowTheStandardsArithmetic) {
    auto state = [](int predictor, int index) {
        std::string s;
        PutInt16(s, predictor, false);
        PutInt16(s, index, false);
        return s;
    };
    // Mono, three codes (7, 7, 0xF) from predictor 100 at index 10 (step 19).
    const std::string mono = StreamOf(0, {{0x83, 2}}, {},
                                      {Uint32(3, false) + state(100, 10) + state(0, 0) + "\x77\xF0",
                                       Uint32(1, false) + state(-5, 0) + state(0, 0) + "\x10"});
    // 100 + (2+4+9+19) = 134 at index 18 (step 41), + (5+10+20+41) = 210 at
    // index 26 (step 88), − (11+22+44+88) = 45. The second block restarts at
    // −5 with step 7: code 1 adds 0 + 1 → −4.
    EXPECT_EQ(Decode(mono), (std::vector<std::int16_t>{134, 210, 45, -4}));
    // Stereo: a byte per pair, left high.
    const std::string stereo =
        StreamOf(0, {{0x83, 2}, {0x82, 2}}, {},
                 {Uint32(2, false) + state(0, 0) + state(1000, 88) + "\x08\x70"});
    // Left: code 0 (+0) then 7 at index 0: 0+1+3+7 = 11 → 11. Right: code 8
    // at step 32767: −(4095) → −3095, then code 0 at index 87 (29794): +3724.
    EXPECT_EQ(Decode(stereo), (std::vector<std::int16_t>{0, -3095, 11, 629}));
}

// Xbox IMA: the stored first sample, then 63 codes low nibble first; the
// 64th nibble is padding, and each frame restarts from its own header.
TEST(ConsoleAdpcm, XboxFramesHold64Samples) {
    auto frame = [](int first, int index, char codes) {
        std::string f;
        PutInt16(f, first, false);
        f.push_back(static_cast<char>(index));
        f.push_back('\0');
        f += std::string(31, codes) + std::string(1, static_cast<char>((codes & 15) | 0xF0));
        return f;
    };
    const std::string stream = StreamOf(
        7, {{0xA0, 0x14}}, {},
        {Uint32(64 + 3, false) + Uint32(0, false) + frame(-300, 20, '\x21') + frame(7, 0, '\x07')});
    std::vector<std::int16_t> want{-300};
    adpcm::ImaState state{-300, 20};
    for (int k = 0; k < 63; ++k)
        want.push_back(static_cast<std::int16_t>(adpcm::ImaDecode(k % 2 == 0 ? 1 : 2, state)));
    // The second frame: 7, then code 7 from index 0 (0+1+3+7 = 11), then code 0.
    want.insert(want.end(), {7, 18, 20});
    EXPECT_EQ(Decode(stream), want);
}

// DSP: the format's + 1024 rounding inside the shift (FFmpeg floors the
// prediction apart and drifts away), coefficients in the header in the
// platform's byte order, high nibble first, the 3DS's 4 bytes of history
// skipped, and a count that ends inside a frame.
TEST(ConsoleAdpcm, DspFramesFollowTheFormatsRounding) {
    // Pair 0: 0.5 · h1; pair 1: 1.9 · h1 − 0.95 · h2 (a pole near 1).
    const std::int16_t c[16] = {1024, 0, 3891, -1946};
    std::string be, le;
    for (std::int16_t v : c) {
        PutInt16(be, v, true);
        PutInt16(le, v, false);
    }
    be.push_back('\0');
    le.push_back('\0');
    const std::string frames = std::string("\x00\x11\x11\x11\x11\x11\x11\x11", 8) +
                               std::string("\x13\x7F\x80\x9A\x21\x03\xE5\x5E", 8);
    std::vector<std::int16_t> want;
    std::int64_t h1 = 0, h2 = 0;
    bool differsFromFloor = false;
    for (int f = 0; f < 2; ++f) {
        const int pair = static_cast<unsigned char>(frames[8 * f]) >> 4, scale = frames[8 * f] & 15;
        for (int k = 0; k < 14 && want.size() < 25; ++k) {
            const std::int64_t n = Nibble(frames, 8 * f + 1 + k / 2, k % 2 == 0);
            const std::int64_t p = c[2 * pair] * h1 + c[2 * pair + 1] * h2;
            const std::int16_t s = Clip(((n << scale) * 2048 + 1024 + p) >> 11);
            differsFromFloor = differsFromFloor || s != Clip((p >> 11) + (n << scale));
            want.push_back(s);
            h2 = h1;
            h1 = s;
        }
    }
    ASSERT_TRUE(differsFromFloor);
    const std::string wii =
        StreamOf(0x10, {{0x85, 25}}, {{0x8F, be}}, {Uint32(25, true) + Uint32(0, true) + frames});
    EXPECT_EQ(Decode(wii), want);
    const std::string threeDs =
        StreamOf(0x14, {{0x85, 25}}, {{0x8F, le}},
                 {Uint32(25, false) + Uint32(0, false) + "\x7F\x7F\x7F\x7F" + frames});
    EXPECT_EQ(Decode(threeDs), want);
}

// N64: two groups of 8, each from the group's start history through the
// codebook, the residuals before each sample adding in through the h1
// numbers; the history after a group is its outputs 6 and 7.
TEST(ConsoleAdpcm, N64FramesDecodeInTwoGroups) {
    std::array<std::int16_t, 16> p0{}, p1{};
    for (int i = 0; i < 8; ++i) {
        p0[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(-1900 + 100 * i);
        p0[static_cast<std::size_t>(8 + i)] = static_cast<std::int16_t>(3900 - 300 * i);
        p1[static_cast<std::size_t>(8 + i)] = static_cast<std::int16_t>(1024 >> i);
    }
    std::string book = Uint32(2, true) + Uint32(2, true);
    for (const auto* p : {&p0, &p1})
        for (std::int16_t v : *p)
            PutInt16(book, v, true);
    const std::string frames = std::string("\x30\x17\x7F\x80\x01\x92\x34\xA5\x6E", 9) +
                               std::string("\x51\x70\x12\x34\x56\x78\x9A\xBC\xDE", 9);
    std::vector<std::int16_t> want;
    std::int64_t h1 = 0, h2 = 0;
    for (int f = 0; f < 2; ++f) {
        const int scale = static_cast<unsigned char>(frames[9 * f]) >> 4;
        const auto& p = (frames[9 * f] & 15) == 0 ? p0 : p1;
        for (int group = 0; group < 2; ++group) {
            std::int64_t r[8], out[8];
            for (int i = 0; i < 8; ++i)
                r[i] = Nibble(frames, 9 * f + 1 + (group * 8 + i) / 2, i % 2 == 0) * (1 << scale);
            for (int i = 0; i < 8; ++i) {
                std::int64_t sum = p[static_cast<std::size_t>(i)] * h2 +
                                   p[static_cast<std::size_t>(8 + i)] * h1 + r[i] * 2048;
                for (int k = 0; k < i; ++k)
                    sum += r[k] * p[static_cast<std::size_t>(8 + i - 1 - k)];
                out[i] = Clip(sum >> 11);
                if (want.size() < 30)
                    want.push_back(static_cast<std::int16_t>(out[i]));
            }
            h2 = out[6];
            h1 = out[7];
        }
    }
    const std::string stream = StreamOf(2, {{0x80, 1}, {0x85, 30}}, {{0x8F, book}},
                                        {Uint32(30, true) + Uint32(0, true) + frames});
    EXPECT_EQ(Decode(stream), want);
}

// Where FFmpeg reads these streams as the format does: PS-ADPCM, mono,
// version 0 on the PSX, no codec tags, blocks of whole frames.
TEST(ConsoleAdpcm, PsAdpcmMonoAgreesWithFfmpeg) {
    TAMREL_NEEDS_FFMPEG();
    const Layout psx{"PSX", 1, {}, false, false, 0};
    const std::string old = OldStream(psx, 1, 22050);
    const auto signal = Music(1, 22050, 1.0);
    const std::string stream = EncodeStream(ReadStreamInfo(MemorySource(old)), old, signal);
    test::TempDir dir;
    test::WriteFileBytes(dir / "s.asf", stream);
    const auto theirs = test::FfmpegSamples(dir / "s.asf");
    const auto ours = Decode(stream);
    // FFmpeg decodes the last block's partial frame whole.
    ASSERT_GE(theirs.size(), ours.size());
    EXPECT_EQ(std::vector<std::int16_t>(theirs.begin(),
                                        theirs.begin() + static_cast<std::ptrdiff_t>(ours.size())),
              ours);
}

// The plain greedy IMA choice against the encoder's small trellis.
TEST(ConsoleAdpcm, ImaLookAheadBeatsTheGreedyChoice) {
    const auto signal = Music(1, 22050);
    std::vector<int> target(signal.begin(), signal.end());
    auto snrWith = [&](int beam) {
        adpcm::ImaState state;
        std::vector<std::uint8_t> codes(target.size());
        adpcm::ImaEncode(target.data(), target.size(), 1, state, codes.data(), beam);
        adpcm::ImaState decode;
        std::vector<std::int16_t> out;
        for (std::uint8_t code : codes)
            out.push_back(static_cast<std::int16_t>(adpcm::ImaDecode(code, decode)));
        return SnrDb(signal, out);
    };
    EXPECT_GE(snrWith(adpcm::kImaPaths), snrWith(0) + 0.3);
}

// IMA against FFmpeg's encoder at its widest search, the best open one, on
// the same sounds: never more than a hair below it.
TEST(ConsoleAdpcm, ImaReachesFfmpegsWidestTrellis) {
    TAMREL_NEEDS_FFMPEG();
    for (const auto& [name, sound] : test::EncoderSignals(22050, 3.0)) {
        SCOPED_TRACE(name);
        std::vector<int> target(sound.begin(), sound.end());
        adpcm::ImaState state, decode;
        std::vector<std::uint8_t> codes(target.size());
        // In blocks, as the stream encoder hands them over.
        for (std::size_t at = 0; at < target.size(); at += 2048)
            adpcm::ImaEncode(target.data() + at, std::min<std::size_t>(2048, target.size() - at), 1,
                             state, codes.data() + at, adpcm::kImaPaths);
        std::vector<std::int16_t> out;
        for (std::uint8_t code : codes)
            out.push_back(static_cast<std::int16_t>(adpcm::ImaDecode(code, decode)));
        EXPECT_GE(SnrDb(sound, out), test::FfmpegImaSnr(sound, 22050) - 0.15);
    }
}

// What the writer keeps to: PS-ADPCM blocks of whole frames but the last,
// N64 codebooks of at most 7 predictors, coefficient tags that read back.
TEST(ConsoleAdpcm, TheWriterKeepsTheLayoutRules) {
    for (const Layout& layout : kLayouts) {
        SCOPED_TRACE(layout.name);
        const std::string old = OldStream(layout, 2, 22050);
        const StreamInfo info = ReadStreamInfo(MemorySource(old));
        const auto signal = Music(2, 22050, 0.5 + 5.0 / 22050);
        const std::string stream = EncodeStream(info, old, signal);
        const StreamInfo written = ReadStreamInfo(MemorySource(stream));
        ASSERT_GE(written.dataBlocks.size(), 3u);
        for (std::size_t b = 0; info.codec == Codec::PsAdpcm && b + 1 < written.dataBlocks.size();
             ++b) {
            EXPECT_EQ(written.dataBlocks[b].samples % 28, 0u) << "block " << b;
        }
        if (info.codec == Codec::N64Adpcm) {
            for (int c = 0; c < 2; ++c) {
                const auto book =
                    adpcm::ReadN64Codebook(written.coefficientTags[static_cast<std::size_t>(c)]);
                ASSERT_TRUE(book.has_value());
                EXPECT_LE(book->predictors, adpcm::kN64WrittenPredictors);
                EXPECT_GE(book->predictors, 2);
            }
        }
        for (int c = 0; info.codec == Codec::DspAdpcm && c < 2; ++c)
            EXPECT_EQ(written.coefficientTags[static_cast<std::size_t>(c)].size(), 33u);
    }
}

// Headers of no known layout are listed and refused; hostile frames and
// numbers are the stream's problem, never a crash or an allocation.
TEST(ConsoleAdpcm, UnknownLayoutsAndHostileStreams) {
    const std::string dsp = ZeroDspTag();
    const struct {
        const char* what;
        std::string stream;
        std::string problem;
    } layouts[] = {
        {"N64 in version 0", StreamOf(2, {}, {{0x8F, ZeroN64Tag()}}, {Uint32(0, true)}),
         "no known layout for N64 ADPCM in version 0"},
        {"an N64 codebook of order 3",
         StreamOf(2, {{0x80, 1}},
                  {{0x8F, Uint32(3, true) + Uint32(1, true) + std::string(48, '\0')}},
                  {Uint32(0, true)}),
         "no known layout for N64 ADPCM without a codebook for channel 1"},
        {"IMA in version 1", StreamOf(0, {{0x83, 2}, {0x80, 1}}, {}, {Uint32(0, false)}),
         "no known layout for IMA ADPCM in version 1"},
        {"IMA with three channels", StreamOf(0, {{0x83, 2}, {0x82, 3}}, {}, {Uint32(0, false)}),
         "no known layout for IMA ADPCM with 3 channels"},
        {"Xbox IMA in version 0", StreamOf(7, {{0xA0, 0x14}, {0x80, 0}}, {}, {Uint32(0, false)}),
         "no known layout for Xbox IMA ADPCM in version 0"},
        {"DSP with a short coefficient tag",
         StreamOf(0x10, {}, {{0x8F, std::string(31, '\0')}}, {Uint32(0, true)}),
         "no known layout for DSP ADPCM without coefficients for channel 1"},
        {"DSP with more channels than tags",
         StreamOf(0x10, {{0x82, 7}},
                  {{0x8F, dsp}, {0x90, dsp}, {0x91, dsp}, {0xAB, dsp}, {0xAC, dsp}, {0xAD, dsp}},
                  {Uint32(0, true)}),
         "no known layout for DSP ADPCM without coefficients for channel 7"},
        {"PS-ADPCM in version 0 with three channels",
         StreamOf(1, {{0x82, 3}}, {}, {Uint32(0, false)}),
         "no known layout for PS-ADPCM in version 0 with 3 channels"},
    };
    for (const auto& c : layouts) {
        SCOPED_TRACE(c.what);
        const StreamInfo info = ReadStreamInfo(MemorySource(c.stream));
        EXPECT_EQ(info.ProblemTexts(), std::vector<std::string>{c.problem});
        EXPECT_FALSE(info.Playable());
        EXPECT_FALSE(info.Encodable());
        try {
            DecodeStream(MemorySource(c.stream), info, "s");
            ADD_FAILURE() << "decoded";
        } catch (const DecodeError& e) {
            EXPECT_EQ(std::string(e.what()), "The stream s cannot be decoded: " + c.problem + ".");
        }
    }

    // A codebook of 8 predictors needs the tag's long length form.
    const std::string eight = Uint32(2, true) + Uint32(8, true) + std::string(256, '\x01');
    const StreamInfo long8 = ReadStreamInfo(MemorySource(
        StreamOf(2, {{0x80, 1}}, {{0x8F, eight}}, {Uint32(0, true) + Uint32(0, true)})));
    EXPECT_EQ(long8.ProblemTexts(), std::vector<std::string>{});
    EXPECT_TRUE(long8.Playable());

    // The largest numbers a header and a frame can hold decode, clipped.
    const std::string big(33, '\x7F');
    const std::string maxCodebook = Uint32(2, true) + Uint32(1, true) + std::string(32, '\x7F');
    const struct {
        const char* what;
        std::string stream;
        std::string error;  // empty: decodes
    } hostile[] = {
        {"DSP with the largest coefficients and scale",
         StreamOf(0x10, {}, {{0x8F, big}},
                  {Uint32(28, true) + Uint32(0, true) + std::string(16, '\x7F')}),
         ""},
        {"N64 with the largest codebook and scale",
         StreamOf(2, {{0x80, 1}}, {{0x8F, maxCodebook}},
                  {Uint32(32, true) + Uint32(0, true) + std::string(18, '\xF0')}),
         ""},
        {"PS-ADPCM with filter 15 and shift 15, growing history",
         StreamOf(1, {}, {},
                  {Uint32(28 * 40, false) + Uint32(0, false) + std::string(16 * 40, '\x47')}),
         ""},
        {"an N64 frame naming a predictor beyond the codebook",
         StreamOf(
             2, {{0x80, 1}}, {{0x8F, ZeroN64Tag(2)}},
             {Uint32(16, true) + Uint32(0, true) + std::string("\x02", 1) + std::string(8, '\0')}),
         "The stream s, data block 1 (byte 92): a frame names predictor 2, beyond the codebook's "
         "2"},
        {"a DSP channel offset beyond the block",
         StreamOf(0x10, {}, {{0x8F, dsp}},
                  {Uint32(14, true) + Uint32(4000, true) + std::string(8, '\0')}),
         "The stream s, data block 1 (byte 52): a channel's frames ends beyond the block"},
        {"an Xbox count beyond its bytes",
         StreamOf(7, {{0xA0, 0x14}}, {},
                  {Uint32(1000, false) + Uint32(0, false) + std::string(36, '\0')}),
         "The stream s, data block 1 (byte 20): the block declares 1000 samples, more than its 44 "
         "bytes hold"},
        {"IMA with fewer codes than its count",
         StreamOf(0, {{0x83, 2}}, {},
                  {Uint32(20, false) + std::string(8, '\0') + std::string(4, '\0')}),
         "The stream s, data block 1 (byte 20): the samples ends beyond the block"},
    };
    for (const auto& c : hostile) {
        SCOPED_TRACE(c.what);
        try {
            const auto samples = Decode(c.stream);
            EXPECT_EQ(c.error, "");
            EXPECT_FALSE(samples.empty());
        } catch (const DecodeError& e) {
            EXPECT_EQ(std::string(e.what()), c.error);
        }
    }
}

}  // namespace
}  // namespace tamrel
