#include "audio/Decoder.h"

#include <gtest/gtest.h>

#include <random>

#include "Ffmpeg.h"
#include "StreamBuilder.h"
#include "TestFiles.h"
#include "audio/Export.h"

namespace tamrel {
namespace {

using test::BuildStream;
using test::StreamParts;
using test::Uint32;

enum class Kind { V1, R1, R2, R3 };

const char* KindName(Kind kind) {
    switch (kind) {
        case Kind::V1:
            return "v1";
        case Kind::R1:
            return "R1";
        case Kind::R2:
            return "R2";
        default:
            return "R3";
    }
}

std::string Int16(int value, bool bigEndian) {
    std::string out(2, '\0');
    out[bigEndian ? 1 : 0] = static_cast<char>(value & 0xFF);
    out[bigEndian ? 0 : 1] = static_cast<char>((value >> 8) & 0xFF);
    return out;
}

// Random frames in the headers on which FFmpeg and the real-file rules agree:
// v1 = PC with tags 0x82 = 2 and 0x83 = 7; R1 = PC version 1; R2 = PC version
// 2; R3 = Xbox 360 version 3 (big-endian). Block counts are multiples of 28.
std::string RandomXaStream(Kind kind, int channels, std::mt19937& random, bool rawFrames) {
    auto byte = [&] { return static_cast<char>(random() & 0xFF); };
    auto header = [&](std::uint8_t filterShift) { return static_cast<char>(filterShift); };
    const bool bigEndian = kind == Kind::R3;
    StreamParts parts;
    parts.platform = kind == Kind::R3 ? 9 : 0;
    parts.withBlockCount = true;
    parts.bigEndian = bigEndian;
    std::uint32_t total = 0;
    const int blocks = 3 + static_cast<int>(random() % 3);
    for (int b = 0; b < blocks; ++b) {
        const std::uint32_t frames = 1 + random() % 12;
        const std::uint32_t count = frames * 28;
        total += count;
        std::string payload = Uint32(count, bigEndian);
        if (kind == Kind::V1) {
            for (int i = 0; i < 4; ++i)
                payload += Int16(static_cast<int>(random() % 2001) - 1000, false);
            for (std::uint32_t f = 0; f < frames; ++f) {
                payload += header(static_cast<std::uint8_t>((random() % 4) << 4 | (random() % 4)));
                payload +=
                    header(static_cast<std::uint8_t>((random() % 13) << 4 | (random() % 13)));
                for (int i = 0; i < 28; ++i)
                    payload += byte();
            }
        } else {
            std::vector<std::string> runs(static_cast<std::size_t>(channels));
            for (auto& run : runs) {
                if (kind == Kind::R1)
                    run += Int16(static_cast<int>(random() % 2001) - 1000, bigEndian) +
                           Int16(static_cast<int>(random() % 2001) - 1000, bigEndian);
                for (std::uint32_t f = 0; f < frames; ++f) {
                    if (rawFrames && kind != Kind::R1 && random() % 5 == 0) {
                        run += static_cast<char>(0xEE);
                        for (int i = 0; i < 60; ++i)
                            run += byte();
                        continue;
                    }
                    run += header(static_cast<std::uint8_t>((random() % 4) << 4 | (random() % 13)));
                    for (int i = 0; i < 14; ++i)
                        run += byte();
                }
            }
            std::uint32_t offset = 0;
            for (const auto& run : runs) {
                payload += Uint32(offset, bigEndian);
                offset += static_cast<std::uint32_t>(run.size());
            }
            for (const auto& run : runs)
                payload += run;
        }
        parts.dataPayloads.push_back(payload);
    }
    const std::uint32_t rate = random() % 2 ? 22050 : 32000;
    switch (kind) {
        case Kind::V1:
            parts.tags = {{0x82, 2}, {0x83, 7}};
            break;
        case Kind::R1:
            parts.tags = {{0x80, 1}, {0x82, static_cast<std::uint32_t>(channels)}};
            break;
        case Kind::R2:
            parts.tags = {{0x80, 2}, {0x82, static_cast<std::uint32_t>(channels)}};
            break;
        case Kind::R3:
            parts.tags = {{0x80, 3}, {0x82, static_cast<std::uint32_t>(channels)}};
            break;
    }
    parts.tags.push_back({0x84, rate});
    parts.tags.push_back({0x85, total});
    return BuildStream(parts);
}

TEST(Decoder, XaStreamsDecodeAsFfmpegDecodesThem) {
    TAMREL_NEEDS_FFMPEG();
    std::mt19937 random(14);
    test::TempDir dir;
    for (Kind kind : {Kind::V1, Kind::R1, Kind::R2, Kind::R3}) {
        for (int round = 0; round < 3; ++round) {
            const int channels = kind == Kind::V1 ? 2 : 1 + round % 2;
            SCOPED_TRACE(std::string(KindName(kind)) + ", " + std::to_string(channels) +
                         " channels, round " + std::to_string(round));
            const std::string stream = RandomXaStream(kind, channels, random, round == 2);
            const std::string path = dir / "s.asf";
            test::WriteFileBytes(path, stream);
            const StreamInfo info = ReadStreamInfo(MemorySource(stream));
            ASSERT_EQ(info.ProblemTexts(), std::vector<std::string>{});
            const test::FfprobeFacts facts = test::Ffprobe(path);
            EXPECT_EQ(facts.channels, info.channels);
            EXPECT_EQ(facts.sampleRate, info.sampleRate);
            EXPECT_EQ(facts.samples, info.samples);
            const std::vector<std::int16_t> ours = DecodeStream(MemorySource(stream), info, "s");
            ASSERT_EQ(ours.size(), info.samples * static_cast<std::uint64_t>(channels));
            const std::vector<std::int16_t> theirs = test::FfmpegSamples(path);
            ASSERT_EQ(theirs.size(), ours.size());
            std::size_t first = 0;
            while (first < ours.size() && ours[first] == theirs[first])
                ++first;
            EXPECT_EQ(first, ours.size()) << "first difference at sample " << first;
        }
    }
}

}  // namespace
}  // namespace tamrel

namespace tamrel {
namespace {

std::vector<std::int16_t> Decode(const std::string& stream) {
    return DecodeStream(MemorySource(stream), ReadStreamInfo(MemorySource(stream)), "s");
}

TEST(Decoder, PcmOfEveryLayoutGivesBackTheSamplesPutIn) {
    // Two channels, two blocks of 3 and 2 samples: left k, right -k * 100.
    struct Case {
        const char* what;
        int platform;
        std::vector<test::Tag> tags;
        bool bigEndian, planar, eightBit, offsets;
    };
    const Case cases[] = {
        {"PCM16 LE", 0, {{0xA0, 0x00}}, false, false, false, false},
        {"PCM16 of kind 0x01 on PC: little-endian", 0, {{0xA0, 0x01}}, false, false, false, false},
        {"PCM16 of kind 0x01 on the Mac: big-endian", 3, {{0xA0, 0x01}}, true, false, false, false},
        {"PCM16 BE planar on PC: big-endian all the same",
         0,
         {{0xA0, 0x07}},
         true,
         true,
         false,
         false},
        {"PCM8", 0, {{0xA0, 0x02}}, false, false, true, false},
        {"PCM16 LE planar", 0, {{0xA0, 0x08}}, false, true, false, false},
        {"PCM8 planar", 0, {{0xA0, 0x09}}, false, true, true, false},
        {"PCM16 BE planar, version 2, offsets (GameCube)", 6, {}, true, true, false, true},
        {"PCM16 LE planar, version 2, offsets (Xbox)", 7, {}, false, true, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto value = [&](int channel, int k) {
            const int v = channel == 0 ? k : -k * 100;
            return c.eightBit ? v / 256 * 256 + (channel == 0 ? k * 256 : -k * 256) - v / 256 * 256
                              : v;
        };
        auto sampleBytes = [&](int v) {
            if (c.eightBit)
                return std::string(1, static_cast<char>(v / 256));
            return Int16(v, c.bigEndian);
        };
        // The codec's numbers are big-endian on the GameCube and the Mac.
        const bool countsBigEndian = c.platform == 6 || c.platform == 3;
        StreamParts parts;
        parts.platform = c.platform;
        parts.tags = c.tags;
        parts.tags.push_back({0x82, 2});
        std::vector<std::int16_t> expected;
        int k = 1;
        for (std::uint32_t count : {3u, 2u}) {
            std::string payload = Uint32(count, countsBigEndian);
            std::string data[2];
            for (std::uint32_t i = 0; i < count; ++i, ++k) {
                for (int ch = 0; ch < 2; ++ch) {
                    expected.push_back(static_cast<std::int16_t>(value(ch, k)));
                    if (c.planar)
                        data[ch] += sampleBytes(value(ch, k));
                    else
                        data[0] += sampleBytes(value(ch, k));
                }
            }
            if (c.offsets)
                payload += Uint32(0, countsBigEndian) +
                           Uint32(static_cast<std::uint32_t>(data[0].size()), countsBigEndian);
            parts.dataPayloads.push_back(payload + data[0] + data[1]);
        }
        EXPECT_EQ(Decode(BuildStream(parts)), expected);
    }
}

// A frame of filter 0 and shift 12 gives back its nibbles as they stand,
// whatever the history: the layout alone decides where they land. The
// stored history takes 8 bytes even in a mono stream.
TEST(Decoder, TheSplitLayoutOfTheOriginalRevision) {
    for (int channels : {1, 2}) {
        SCOPED_TRACE(channels);
        StreamParts parts;
        parts.platform = 4;  // Saturn: early XA is the split R1, version 0
        parts.tags = {{0x83, 7}, {0x82, static_cast<std::uint32_t>(channels)}};
        std::string payload = Uint32(56, true) + std::string(8, '\x55');  // the stored history
        std::vector<std::int16_t> expected(56 * static_cast<std::size_t>(channels));
        for (int ch = 0; ch < channels; ++ch)
            for (int frame = 0; frame < 2; ++frame) {
                payload += '\x0C';
                for (int i = 0; i < 14; ++i) {
                    const int high = (ch * 3 + frame + i) % 16, low = (i * 5 + ch) % 16;
                    payload += static_cast<char>(high << 4 | low);
                    const int at = frame * 28 + 2 * i;
                    expected[static_cast<std::size_t>(at * channels + ch)] =
                        static_cast<std::int16_t>(high >= 8 ? high - 16 : high);
                    expected[static_cast<std::size_t>((at + 1) * channels + ch)] =
                        static_cast<std::int16_t>(low >= 8 ? low - 16 : low);
                }
            }
        parts.dataPayloads = {payload};
        EXPECT_EQ(Decode(BuildStream(parts)), expected);
    }
}

TEST(Decoder, EverySampleABlockDeclaresEvenInItsLastPartialFrame) {
    TAMREL_NEEDS_FFMPEG();
    // FFmpeg drops each block's last count mod 28 samples; everything before
    // them agrees, and the history of R1 and v1 restarts at every block.
    std::mt19937 random(28);
    test::TempDir dir;
    for (Kind kind : {Kind::V1, Kind::R1}) {
        SCOPED_TRACE(KindName(kind));
        std::string stream = RandomXaStream(kind, 2, random, false);
        StreamInfo info = ReadStreamInfo(MemorySource(stream));
        // Each block declares 5 samples less than its frames hold.
        for (const StreamBlock& block : info.dataBlocks)
            stream.replace(block.offset + 8, 4, Uint32(block.samples - 5, false));
        info = ReadStreamInfo(MemorySource(stream));
        test::WriteFileBytes(dir / "p.asf", stream);
        const std::vector<std::int16_t> ours = Decode(stream);
        const std::vector<std::int16_t> theirs = test::FfmpegSamples(dir / "p.asf");
        ASSERT_EQ(ours.size(), info.samples * 2);
        std::vector<std::int16_t> ourWholeFrames;
        std::size_t at = 0;
        for (const StreamBlock& block : info.dataBlocks) {
            const std::size_t whole = block.samples / 28 * 28 * 2;
            ourWholeFrames.insert(ourWholeFrames.end(), ours.begin() + static_cast<long>(at),
                                  ours.begin() + static_cast<long>(at + whole));
            at += block.samples * 2;
        }
        EXPECT_EQ(ourWholeFrames, theirs);
    }
}

TEST(Decoder, DamageEndsTheStreamWithAClearError) {
    StreamParts good;
    good.tags = {{0x80, 2}, {0x82, 2}};
    const std::string frame = std::string(1, '\x12') + std::string(14, '\x34');
    good.dataPayloads = {Uint32(28, false) + Uint32(0, false) + Uint32(15, false) + frame + frame};
    ASSERT_EQ(Decode(BuildStream(good)).size(), 56u);
    struct Case {
        const char* what;
        std::string payload;
        std::string message;
    };
    const Case cases[] = {
        {"a channel offset beyond the block",
         Uint32(28, false) + Uint32(0, false) + Uint32(400, false) + frame + frame,
         "The stream s, data block 1 (byte 20): a frame ends beyond the block"},
        {"a block that ends before its frames",
         Uint32(42, false) + Uint32(0, false) + Uint32(15, false) + frame + frame,
         "The stream s, data block 1 (byte 20): the block declares 42 samples, more than its 44 "
         "bytes hold"},
        {"a filter that does not exist",
         Uint32(28, false) + Uint32(0, false) + Uint32(15, false) + "\x52" + std::string(14, '\0') +
             frame,
         "The stream s, data block 1 (byte 20): a frame names filter 5, which XA ADPCM does not "
         "have"},
        {"a count no block could hold",
         Uint32(0x7FFFFFFF, false) + Uint32(0, false) + Uint32(15, false) + frame + frame,
         "The stream s, data block 1 (byte 20): the block declares 2147483647 samples, more than "
         "its 44 bytes hold"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StreamParts parts = good;
        parts.dataPayloads = {c.payload};
        const std::string stream = BuildStream(parts);
        const std::vector<char> exact(stream.begin(), stream.end());
        const std::string_view bytes(exact.data(), exact.size());
        try {
            DecodeStream(MemorySource(bytes), ReadStreamInfo(MemorySource(bytes)), "s");
            ADD_FAILURE() << "no error";
        } catch (const DecodeError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
}

TEST(Decoder, AHeaderNoStreamCanHaveIsRefused) {
    const std::pair<std::vector<test::Tag>, const char*> cases[] = {
        {{{0x84, 0x80000000u}},
         "The stream s cannot be decoded: the header declares 2147483648 Hz, which no stream can "
         "have."},
        {{{0x84, 8}},
         "The stream s cannot be decoded: the header declares 8 Hz, which no stream can have."},
        {{{0x84, 20000000}},
         "The stream s cannot be decoded: the header declares 20000000 Hz, which no stream can "
         "have."},
        {{{0x82, 0}},
         "The stream s cannot be decoded: the header declares 0 channels, which no stream can "
         "have."},
        {{{0x82, 0xFFFFFFFFu}},
         "The stream s cannot be decoded: the header declares 4294967295 channels, which no stream "
         "can have."},
    };
    test::TempDir dir;
    for (const auto& [tags, message] : cases) {
        SCOPED_TRACE(message);
        StreamParts parts;
        parts.tags = tags;
        parts.tags.push_back({0xA0, 0x00});
        parts.dataPayloads = {Uint32(28, false) + std::string(112, '\0')};
        const std::string stream = BuildStream(parts);
        const StreamInfo info = ReadStreamInfo(MemorySource(stream));
        EXPECT_FALSE(info.Playable());
        try {
            DecodeStream(MemorySource(stream), info, "s");
            ADD_FAILURE() << "no error";
        } catch (const DecodeError& e) {
            EXPECT_STREQ(e.what(), message);
        }
        // Nor is a WAV file written for it.
        test::WriteFileBytes(dir / "s.asf", stream);
        EXPECT_THROW(ExportWav(FileSource(dir / "s.asf"), "s", dir / "s.wav"), DecodeError);
        EXPECT_EQ(dir.Listing(), "s.asf\n");
    }
}

TEST(Decoder, ACodecWithoutADecoderIsNamedNotDecoded) {
    // A codec still to come, and one the program decides not to decode.
    const std::pair<int, std::string> cases[] = {
        {0x30, "The stream intro_00002.asf is codec 0x30, which this program cannot decode yet."},
        {0x1B,
         "The stream intro_00002.asf is ATRAC3plus: only one large library decodes it and "
         "no open encoder exists, so this program can neither play nor replace it; its "
         "bytes are kept as they are."},
    };
    for (const auto& [codec, message] : cases) {
        StreamParts parts;
        parts.tags = {{0x80, 1}, {0xA0, static_cast<std::uint32_t>(codec)}};
        parts.dataPayloads = {Uint32(28, false) + std::string(40, '\x77')};
        const std::string stream = BuildStream(parts);
        const StreamInfo info = ReadStreamInfo(MemorySource(stream));
        EXPECT_FALSE(info.Playable());
        try {
            DecodeStream(MemorySource(stream), info, "intro_00002.asf");
            ADD_FAILURE() << "no error";
        } catch (const DecodeError& e) {
            EXPECT_EQ(std::string(e.what()), message);
        }
    }
}

}  // namespace
}  // namespace tamrel
