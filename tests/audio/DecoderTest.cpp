#include "audio/Decoder.h"

#include <gtest/gtest.h>

#include <random>

#include "Ffmpeg.h"
#include "StreamBuilder.h"
#include "TestFiles.h"

namespace tamrel {
namespace {

using test::StreamSpec;
using test::Uint32;

enum class Kind { V1, R1, R2, R3 };

const char* KindName(Kind kind) {
    switch (kind) {
    case Kind::V1: return "v1";
    case Kind::R1: return "R1";
    case Kind::R2: return "R2";
    default: return "R3";
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
    auto header = [&](std::uint8_t filterShift) {
        return static_cast<char>(filterShift);
    };
    const bool bigEndian = kind == Kind::R3;
    StreamSpec spec;
    spec.platform = kind == Kind::R3 ? 9 : 0;
    spec.withBlockCount = true;
    spec.bigEndian = bigEndian;
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
                payload += header(static_cast<std::uint8_t>((random() % 13) << 4 | (random() % 13)));
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
        spec.dataPayloads.push_back(payload);
    }
    const std::uint32_t rate = random() % 2 ? 22050 : 32000;
    switch (kind) {
    case Kind::V1: spec.tags = {{0x82, 2}, {0x83, 7}}; break;
    case Kind::R1: spec.tags = {{0x80, 1}, {0x82, static_cast<std::uint32_t>(channels)}}; break;
    case Kind::R2: spec.tags = {{0x80, 2}, {0x82, static_cast<std::uint32_t>(channels)}}; break;
    case Kind::R3: spec.tags = {{0x80, 3}, {0x82, static_cast<std::uint32_t>(channels)}}; break;
    }
    spec.tags.push_back({0x84, rate});
    spec.tags.push_back({0x85, total});
    return BuildStream(spec);
}

TEST(Decoder, XaStreamsDecodeAsFfmpegDecodesThem) {
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
            ASSERT_EQ(info.problems, std::vector<std::string>{});
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
