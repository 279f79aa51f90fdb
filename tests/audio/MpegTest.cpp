// MPEG Layer II and III inside the streams: frames made by FFmpeg's
// encoders, grouped into blocks whose counts leave out the start delay, are
// decoded, trimmed and counted exactly, within 2 of FFmpeg's own decoding
// of the same frames; damage and a header that disagrees with its frames
// are the stream's problem.
#include "audio/Mpeg.h"

#include <gtest/gtest.h>

#include <cmath>

#include "Ffmpeg.h"
#include "StreamBuilder.h"
#include "TestFiles.h"
#include "audio/Decoder.h"
#include "audio/Encoder.h"
#include "audio/StreamInfo.h"
#include "audio/Wav.h"
#include "io/Bytes.h"

namespace tamrel {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<std::int16_t> Tone(int channels, int rate, double seconds) {
    std::vector<std::int16_t> out;
    for (int i = 0; i < static_cast<int>(rate * seconds); ++i)
        for (int c = 0; c < channels; ++c)
            out.push_back(static_cast<std::int16_t>(
                8000 * std::sin(2 * kPi * 440 * (c + 1) * i / rate) +
                3000 * std::sin(2 * kPi * 1234 * i / rate) * std::sin(2 * kPi * 2 * i / rate)));
    return out;
}

struct MpegCase {
    const char* what;
    int layer, channels, rate, platform;
};

// FFmpeg's decoding of an MPEG file, the start delay dropped and count
// samples per channel kept (fewer where the file holds fewer).
std::vector<std::int16_t> FfmpegTrimmed(const std::string& path, int layer, int channels,
                                        std::size_t count) {
    const auto all = test::FfmpegSamples(path);
    const std::size_t from = static_cast<std::size_t>(mpeg::StartDelay(layer) * channels);
    const std::size_t end = std::min(all.size(), from + count * static_cast<std::size_t>(channels));
    return from < end ? std::vector<std::int16_t>(all.begin() + static_cast<std::ptrdiff_t>(from),
                                                  all.begin() + static_cast<std::ptrdiff_t>(end))
                      : std::vector<std::int16_t>{};
}

int WorstDifference(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
    int worst = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
        worst = std::max(worst, std::abs(a[i] - b[i]));
    return worst;
}

struct Made {
    std::string stream;                // the stream
    std::vector<std::int16_t> theirs;  // FFmpeg's decoding of its frames, delay and count applied
    std::uint32_t count = 0;
};

// Encodes the sound with FFmpeg, then puts its frames into a stream of
// blocks of four frames, the delay taken from the first blocks' counts.
Made MakeStream(int layer, int channels, int rate, int platform, std::uint32_t extraCount = 0) {
    test::TempDir dir;
    const auto sound = Tone(channels, rate, 0.6);
    test::WriteFileBytes(dir / "in.wav", WavBytes(sound, channels, rate, std::nullopt));
    const std::string raw = dir / (layer == 2 ? "out.mp2" : "out.mp3");
    test::FfmpegConvert(dir / "in.wav", raw,
                        layer == 2 ? "-c:a mp2 -b:a 128k"
                                   : "-c:a libmp3lame -b:a 96k -write_xing 0 -id3v2_version 0");
    const std::string bytes = test::ReadFileBytes(raw);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    std::vector<std::pair<std::size_t, std::size_t>> frames;  // offset, length
    int frameSamples = 0;
    for (std::size_t at = 0; const auto h = mpeg::ReadFrameHeader(data + at, bytes.size() - at);) {
        if (static_cast<std::size_t>(h->bytes) > bytes.size() - at)
            break;
        frames.push_back({at, static_cast<std::size_t>(h->bytes)});
        frameSamples = h->samples;
        at += static_cast<std::size_t>(h->bytes);
    }
    Made made;
    // FFmpeg's Layer II encoder drops the sound's tail: the count is what
    // the frames hold after the delay, at most the sound.
    const auto held =
        static_cast<std::int64_t>(frames.size()) * frameSamples - mpeg::StartDelay(layer);
    made.count = static_cast<std::uint32_t>(std::min<std::int64_t>(
                     static_cast<std::int64_t>(sound.size() / channels), held)) +
                 extraCount;
    const bool be = platform == 0x10;
    test::StreamParts parts;
    parts.platform = platform;
    parts.tags = {{0x80, 1},
                  {0xA0, layer == 2 ? 0x0Fu : 0x10u},
                  {0x82, static_cast<std::uint32_t>(channels)},
                  {0x84, static_cast<std::uint32_t>(rate)},
                  {0x85, made.count}};
    std::int64_t delay = mpeg::StartDelay(layer), left = made.count;
    for (std::size_t f = 0; f < frames.size(); f += 4) {
        const std::size_t n = std::min<std::size_t>(4, frames.size() - f);
        std::int64_t count = static_cast<std::int64_t>(n) * frameSamples;
        const std::int64_t fromDelay = std::min(delay, count);
        delay -= fromDelay;
        count = std::min(count - fromDelay, left);
        if (f + n == frames.size())
            count = left;  // the last block takes what is left
        left -= count;
        // Mono: offset 4 and four zero bytes; stereo: offset 0, both channels'.
        std::string payload = test::Uint32(static_cast<std::uint32_t>(count), be);
        payload += channels == 1 ? test::Uint32(4, be) + std::string(4, '\0')
                                 : test::Uint32(0, be) + test::Uint32(0, be);
        for (std::size_t k = f; k < f + n; ++k)
            payload += bytes.substr(frames[k].first, frames[k].second);
        parts.dataPayloads.push_back(payload);
    }
    made.stream = test::BuildStream(parts);
    made.theirs = FfmpegTrimmed(raw, layer, channels, made.count);
    return made;
}

TEST(Mpeg, LayersTwoAndThreeDecodeTrimmedAndCountedExactly) {
    TAMREL_NEEDS_FFMPEG();
    const MpegCase cases[] = {
        {"Layer II, stereo, MPEG-1", 2, 2, 44100, 0},
        {"Layer II, mono, MPEG-1, big-endian", 2, 1, 32000, 0x10},
        {"Layer II, mono, MPEG-2", 2, 1, 22050, 0},
        {"Layer III, stereo, MPEG-1", 3, 2, 44100, 0},
        {"Layer III, mono, MPEG-2, big-endian", 3, 1, 22050, 0x10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Made made = MakeStream(c.layer, c.channels, c.rate, c.platform);
        const StreamInfo info = ReadStreamInfo(MemorySource(made.stream));
        EXPECT_EQ(info.ProblemTexts(), std::vector<std::string>{});
        ASSERT_TRUE(info.Playable());
        EXPECT_EQ(info.samples, made.count);
        const auto ours = DecodeStream(MemorySource(made.stream), info, "s");
        ASSERT_EQ(ours.size(), std::size_t{made.count} * c.channels);
        ASSERT_EQ(made.theirs.size(), ours.size());
        EXPECT_LE(WorstDifference(ours, made.theirs), 2);
    }
}

TEST(Mpeg, DamageAndDisagreementAreTheStreamsProblem) {
    TAMREL_NEEDS_FFMPEG();
    // Counts beyond what the frames hold: damaged, not padded.
    const Made longer = MakeStream(2, 2, 44100, 0, 5000);
    try {
        DecodeStream(MemorySource(longer.stream), ReadStreamInfo(MemorySource(longer.stream)), "s");
        ADD_FAILURE() << "decoded";
    } catch (const DecodeError& e) {
        EXPECT_NE(std::string(e.what()).find(": the frames hold fewer samples than the blocks "
                                             "count; the stream is damaged"),
                  std::string::npos)
            << e.what();
    }
    // A first block that holds no frame yet (an encoder's delay) is fine.
    const Made made = MakeStream(3, 2, 44100, 0);
    std::string early = made.stream;
    const std::size_t firstBlock = early.find("SCDl");
    early.insert(firstBlock, test::Block("SCDl", test::Uint32(0, false) + std::string(8, '\0')));
    const StreamInfo earlyInfo = ReadStreamInfo(MemorySource(early));
    EXPECT_EQ(earlyInfo.ProblemTexts(), std::vector<std::string>{});
    EXPECT_EQ(
        DecodeStream(MemorySource(early), earlyInfo, "s"),
        DecodeStream(MemorySource(made.stream), ReadStreamInfo(MemorySource(made.stream)), "s"));
    // A header that says 22050 Hz over frames of 44100 Hz.
    std::string stream = MakeStream(2, 2, 44100, 0).stream;
    const std::string rate = std::string("\x84\x02\xAC\x44", 4);
    stream.replace(stream.find(rate), rate.size(), std::string("\x84\x02\x56\x22", 4));
    const StreamInfo info = ReadStreamInfo(MemorySource(stream));
    EXPECT_EQ(info.ProblemTexts(), std::vector<std::string>{"header and frames disagree"});
    EXPECT_FALSE(info.Playable());
}

// The frames of a stream's blocks, back to back (at each block's first
// channel offset), as an MPEG file FFmpeg reads.
std::string FramesOf(const std::string& stream) {
    const StreamInfo info = ReadStreamInfo(MemorySource(stream));
    std::string out;
    for (const StreamBlock& b : info.dataBlocks) {
        const auto* p = reinterpret_cast<const unsigned char*>(stream.data()) + b.offset + 8;
        const std::size_t start =
            4 + 4 * static_cast<std::size_t>(info.channels) + ReadUint32(p + 4, info.bigEndian);
        out.append(reinterpret_cast<const char*>(p) + start,
                   mpeg::FramesLength(p + start, b.size - 8 - start));
    }
    return out;
}

// Replace: the new stream at the old one's rate, channels and bitrate, its
// counts adding up to the sound, and its decoding lined up with the sound
// sample for sample (a shift of one is caught), within 2 of FFmpeg's.
TEST(Mpeg, EncodedStreamsLineUpWithTheirSound) {
    TAMREL_NEEDS_FFMPEG();
    const MpegCase cases[] = {
        {"Layer II, stereo, MPEG-1", 2, 2, 44100, 0},
        {"Layer II, mono, MPEG-2, big-endian", 2, 1, 22050, 0x10},
        {"Layer III, stereo, MPEG-1", 3, 2, 44100, 0},
        {"Layer III, mono, MPEG-2, big-endian", 3, 1, 22050, 0x10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Made old = MakeStream(c.layer, c.channels, c.rate, c.platform);
        const StreamInfo info = ReadStreamInfo(MemorySource(old.stream));
        ASSERT_TRUE(info.Encodable());
        // A sound with sharp onsets, no length that frames divide.
        std::vector<std::int16_t> sound = Tone(c.channels, c.rate, 0.9);
        for (std::size_t i = 0; i < sound.size(); ++i)
            if ((i / static_cast<std::size_t>(c.channels)) % 3000 < 40)
                sound[i] = static_cast<std::int16_t>(sound[i] / 3 + 12000);
        const std::string stream = EncodeStream(info, old.stream, sound);
        const StreamInfo written = ReadStreamInfo(MemorySource(stream));
        EXPECT_EQ(written.ProblemTexts(), std::vector<std::string>{});
        EXPECT_EQ(written.samples, sound.size() / c.channels);
        EXPECT_EQ(written.mpegBitrate, info.mpegBitrate);
        const auto ours = DecodeStream(MemorySource(stream), written, "s");
        ASSERT_EQ(ours.size(), sound.size());
        // The error is least with no shift.
        auto error = [&](int shift) {
            double sum = 0;
            const auto ch = static_cast<std::ptrdiff_t>(c.channels);
            for (std::ptrdiff_t i = 3000; i + 3000 < static_cast<std::ptrdiff_t>(sound.size());
                 ++i) {
                const double d = double(sound[static_cast<std::size_t>(i)]) -
                                 ours[static_cast<std::size_t>(i + shift * ch)];
                sum += d * d;
            }
            return sum;
        };
        for (int shift : {-2, -1, 1, 2})
            EXPECT_LT(error(0), error(shift)) << "shift " << shift;
        test::TempDir dir;
        test::WriteFileBytes(dir / (c.layer == 2 ? "s.mp2" : "s.mp3"), FramesOf(stream));
        const auto theirs = FfmpegTrimmed(dir / (c.layer == 2 ? "s.mp2" : "s.mp3"), c.layer,
                                          c.channels, ours.size() / c.channels);
        ASSERT_EQ(theirs.size(), ours.size());
        EXPECT_LE(WorstDifference(ours, theirs), 2);
    }
}

// Every length of sound, from one sample on, is encoded whole: the frames
// cover the start delay and every sample, whatever is left over of the last
// frame; each case puts N plus the delay just before, on or after a frame's
// edge, or in the middle.
TEST(Mpeg, EveryLengthIsEncodedWhole) {
    TAMREL_NEEDS_FFMPEG();
    const MpegCase cases[] = {
        {"Layer II, stereo, MPEG-1", 2, 2, 44100, 0},  {"Layer II, mono, MPEG-2", 2, 1, 22050, 0},
        {"Layer III, stereo, MPEG-1", 3, 2, 44100, 0}, {"Layer III, mono, MPEG-1", 3, 1, 32000, 0},
        {"Layer III, stereo, MPEG-2", 3, 2, 24000, 0}, {"Layer III, mono, MPEG-2", 3, 1, 16000, 0},
    };
    for (const auto& c : cases) {
        const Made old = MakeStream(c.layer, c.channels, c.rate, c.platform);
        const StreamInfo info = ReadStreamInfo(MemorySource(old.stream));
        ASSERT_TRUE(info.Encodable()) << c.what;
        const int frame = c.layer == 3 && c.rate < 32000 ? 576 : 1152;
        const int delay = mpeg::StartDelay(c.layer);
        std::vector<int> lengths = {1, 2, 100, 575, 576, 577, 1151, 1152, 1153, 4000};
        for (int frames : {1, 2, 3, 7, 40, 62, 63, 64})
            for (int edge : {-1, 0, 1, frame / 2, delay - 1, delay, delay + 1})
                if (const int n = frames * frame + edge - delay; n > 0)
                    lengths.push_back(n);
        if (c.layer == 2)
            lengths.push_back(60 * c.rate + 7);  // a minute, and a few samples
        for (int n : lengths) {
            SCOPED_TRACE(std::string(c.what) + ", " + std::to_string(n) + " samples");
            std::vector<std::int16_t> sound = Tone(c.channels, c.rate, 1.0 * n / c.rate + 1);
            sound.resize(static_cast<std::size_t>(n) * c.channels);
            const std::string stream = EncodeStream(info, old.stream, sound);
            const StreamInfo written = ReadStreamInfo(MemorySource(stream));
            EXPECT_EQ(written.ProblemTexts(), std::vector<std::string>{});
            EXPECT_EQ(written.samples, static_cast<std::uint64_t>(n));
            try {
                EXPECT_EQ(DecodeStream(MemorySource(stream), written, "s").size(), sound.size());
            } catch (const DecodeError& e) {
                ADD_FAILURE() << e.what();
            }
        }
    }
}

}  // namespace
}  // namespace tamrel
