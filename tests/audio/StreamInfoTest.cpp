#include "audio/StreamInfo.h"

#include <gtest/gtest.h>

#include "StreamBuilder.h"

namespace tamrel {
namespace {

using test::BuildStream;
using test::StreamParts;
using test::Tag;

// A data block's payload: the count in the codec's byte order and some bytes.
std::string Data(std::uint32_t count, bool bigEndian = false, std::size_t bytes = 64) {
    return test::Uint32(count, bigEndian) + std::string(bytes, '\x21');
}

struct Expected {
    std::string description;  // FormatDescription
    std::uint64_t samples = 0;
    std::vector<std::string> problems;
    int version = -1;  // -1: not checked
};

TEST(StreamInfo, CodecChannelsAndRateByTheRealFileRules) {
    struct Case {
        const char* what;
        int platform;
        std::vector<Tag> tags;
        bool bigEndian;
        Expected expected;
    };
    const Case cases[] = {
        {"PC, early codec XA: v1",
         0,
         {{0x82, 2}, {0x83, 7}},
         false,
         {"XA ADPCM v1, stereo, 22050 Hz", 112, {}, 0}},
        {"PC, version 1: R1",
         0,
         {{0x80, 1}, {0x84, 32000}},
         false,
         {"XA ADPCM R1, mono, 32000 Hz", 112, {}, 1}},
        {"PC, version 2: R2",
         0,
         {{0x80, 2}, {0x82, 2}},
         false,
         {"XA ADPCM R2, stereo, 22050 Hz", 112, {}, 2}},
        {"PC, version 3 and codec 0x0A: R2",
         0,
         {{0x80, 3}, {0xA0, 0x0A}},
         false,
         {"XA ADPCM R2, mono, 22050 Hz", 112, {}, 3}},
        {"PC, version 2 and codec 0x0A: R2 (FFmpeg reads R1)",
         0,
         {{0x80, 2}, {0xA0, 0x0A}},
         false,
         {"XA ADPCM R2, mono, 22050 Hz", 112, {}, 2}},
        {"Xbox 360 by default: version 3, R3, big-endian, 44100 Hz",
         9,
         {{0x82, 2}},
         true,
         {"XA ADPCM R3, stereo, 44100 Hz", 112, {}, 3}},
        {"PS2, version 1 and codec 0x0A: R1",
         5,
         {{0xA0, 0x0A}},
         false,
         {"XA ADPCM R1, mono, 22050 Hz", 112, {}, 1}},
        {"Saturn, early codec XA: the split R1",
         4,
         {{0x83, 7}},
         true,
         {"XA ADPCM R1, mono, 22050 Hz", 112, {}, 0}},
        // PS-ADPCM: each block's whole frames (three here), not its count.
        {"PSX by default: PS-ADPCM", 1, {}, false, {"PS-ADPCM, mono, 22050 Hz", 168, {}, 0}},
        // Neither layout is known: N64 in version 0, DSP without its coefficients.
        {"N64 by default",
         2,
         {},
         true,
         {"N64 ADPCM, mono, 22050 Hz", 112, {"no known layout for N64 ADPCM in version 0"}, 0}},
        {"GameCube by default",
         6,
         {{0x82, 2}},
         true,
         {"PCM16 BE planar, stereo, 24000 Hz", 112, {}, 2}},
        {"Xbox by default", 7, {}, false, {"PCM16 LE planar, mono, 24000 Hz", 112, {}, 2}},
        {"Wii by default",
         0x10,
         {},
         true,
         {"DSP ADPCM, mono, 32000 Hz",
          112,
          {"no known layout for DSP ADPCM without coefficients for channel 1"},
          3}},
        {"generic by default: big-endian, so R3",
         8,
         {},
         true,
         {"XA ADPCM R3, mono, 48000 Hz", 112, {}, 2}},
        {"PC by default: PCM16 LE",
         0,
         {{0x82, 2}},
         false,
         {"PCM16 LE, stereo, 22050 Hz", 112, {}, -1}},
        {"PC, 8 bits", 0, {{0x81, 8}}, false, {"PCM8, mono, 22050 Hz", 112, {}, -1}},
        {"PC, interleaved PCM16 of kind 0x01: the platform's byte order, little-endian",
         0,
         {{0xA0, 0x01}},
         false,
         {"PCM16 LE, mono, 22050 Hz", 112, {}, -1}},
        {"Mac, interleaved PCM16 of kind 0x01: big-endian",
         3,
         {{0xA0, 0x01}},
         true,
         {"PCM16 BE, mono, 22050 Hz", 112, {}, -1}},
        {"Mac, early PCM: planar, big-endian",
         3,
         {{0x83, 0}},
         true,
         {"PCM16 BE planar, mono, 22050 Hz", 112, {}, -1}},
        {"Mac, early XA: v1",
         3,
         {{0x83, 7}, {0x82, 2}},
         true,
         {"XA ADPCM v1, stereo, 22050 Hz", 112, {}, -1}},
        {"early IMA", 0, {{0x83, 2}}, false, {"IMA ADPCM, mono, 22050 Hz", 112, {}, -1}},
        {"early MicroTalk", 0, {{0x83, 9}}, false, {"MicroTalk 10:1, mono, 22050 Hz", 112, {}, -1}},
        {"five channels",
         0,
         {{0x82, 5}, {0xA0, 0x08}},
         false,
         {"PCM16 LE planar, 5 channels, 22050 Hz", 112, {}, -1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StreamParts parts;
        parts.platform = c.platform;
        parts.tags = c.tags;
        parts.dataPayloads = {Data(56, c.bigEndian), Data(56, c.bigEndian)};
        const std::string stream = BuildStream(parts);
        const StreamInfo info = ReadStreamInfo(MemorySource(stream));
        EXPECT_EQ(FormatDescription(info), c.expected.description);
        EXPECT_EQ(info.samples, c.expected.samples);
        EXPECT_EQ(info.ProblemTexts(), c.expected.problems);
        if (c.expected.version >= 0) {
            EXPECT_EQ(info.version, c.expected.version);
        }
        EXPECT_EQ(info.dataBlocks.size(), 2u);
        EXPECT_TRUE(info.endBlock);
    }
}

TEST(StreamInfo, CodecsAreNamedAsUsersSeeThem) {
    // A few the list shows, and a value the program does not know.
    const std::pair<std::uint32_t, const char*> names[] = {
        {0x0A, "XA ADPCM R1"},
        {0x07, "PCM16 BE planar"},
        {0x1B, "ATRAC3plus"},
        {0x99, "codec 0x99"},
    };
    for (const auto& [value, name] : names) {
        StreamParts parts;
        parts.tags = {{0xA0, value}};
        parts.dataPayloads = {Data(28)};
        EXPECT_EQ(ReadStreamInfo(MemorySource(BuildStream(parts))).CodecName(), name) << value;
    }
}

TEST(StreamInfo, LengthLoopAndBlockCount) {
    StreamParts parts;
    parts.tags = {{0x80, 2}, {0x82, 2}, {0x84, 32000}, {0x85, 84 + 70000}, {0x86, 10}, {0x87, 99}};
    parts.dataPayloads = {Data(84), Data(70000, false, 400)};
    parts.withBlockCount = true;
    parts.after = std::string(12, '\0');  // Pack's zero padding is no problem
    const StreamInfo info = ReadStreamInfo(MemorySource(BuildStream(parts)));
    EXPECT_EQ(info.samples, 70084u);
    EXPECT_EQ(info.headerSamples, 70084u);
    EXPECT_EQ(info.loopStart, 10u);
    EXPECT_EQ(info.loopEnd, 100u);
    EXPECT_EQ(info.blockCountTag, 2u);
    EXPECT_EQ(info.ProblemTexts(), std::vector<std::string>{});
    EXPECT_EQ(FormatDuration(info.Duration()), "0:02.19");
    EXPECT_EQ(FormatDuration(151.4), "2:31.40");
    EXPECT_EQ(FormatDuration(59.996), "1:00.00");
}

TEST(StreamInfo, NumbersNoStreamCanHaveAndLoopsOutsideItAreProblems) {
    struct Case {
        const char* what;
        int platform;
        std::vector<Tag> tags;
        bool blockCountBigEndian;
        std::vector<std::string> problems;
        bool validLoop;
        bool plausible = false;
    };
    const Case cases[] = {
        {"a rate below 1000 Hz",
         0,
         {{0x84, 8}},
         false,
         {"the header declares 8 Hz, which no stream can have"},
         false},
        {"a rate of 2^31",
         0,
         {{0x84, 0x80000000u}},
         false,
         {"the header declares 2147483648 Hz, which no stream can have"},
         false},
        {"a rate of 20 MHz",
         0,
         {{0x84, 20000000}},
         false,
         {"the header declares 20000000 Hz, which no stream can have"},
         false},
        {"192 kHz is a rate", 0, {{0x84, 192000}}, false, {}, false, true},
        {"nine channels",
         0,
         {{0x82, 9}},
         false,
         {"the header declares 9 channels, which no stream can have"},
         false},
        {"a loop inside", 0, {{0x86, 10}, {0x87, 55}}, false, {}, true, true},
        {"a loop to the last sample", 0, {{0x86, 0}, {0x87, 55}}, false, {}, true, true},
        {"a loop past the end",
         0,
         {{0x86, 10}, {0x87, 56}},
         false,
         {"the loop 10-57 ends after the stream's 56 samples"},
         false,
         true},
        {"a loop end of 0xFFFFFFFF",
         0,
         {{0x86, 0}, {0x87, 0xFFFFFFFFu}},
         false,
         {"the loop 0-4294967296 ends after the stream's 56 samples"},
         false,
         true},
        {"an inverted loop",
         0,
         {{0x86, 40}, {0x87, 9}},
         false,
         {"the loop 40-10 ends before it starts"},
         false,
         true},
        {"SCCl in the other byte order on a big-endian platform", 9, {}, false, {}, false, true},
        {"SCCl in the other byte order on PC", 0, {}, true, {}, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StreamParts parts;
        parts.platform = c.platform;
        parts.tags = c.tags;
        const bool bigEndian = c.platform == 9;
        parts.dataPayloads = {Data(28, bigEndian), Data(28, bigEndian)};
        parts.withBlockCount = true;
        parts.bigEndian = c.blockCountBigEndian;
        const StreamInfo info = ReadStreamInfo(MemorySource(BuildStream(parts)));
        EXPECT_EQ(info.ProblemTexts(), c.problems);
        EXPECT_EQ(info.ValidLoop().has_value(), c.validLoop);
        // Numbers no stream can have make it unplayable; a loop outside it does not.
        EXPECT_EQ(info.HasProblem(StreamProblem::Kind::Implausible), !c.plausible);
        EXPECT_EQ(info.Playable(), c.plausible);
        EXPECT_EQ(info.HasProblem(StreamProblem::Kind::Loop),
                  !c.validLoop && c.plausible && !c.problems.empty());
    }
}

TEST(StreamInfo, DamageIsReportedAndNothingIsReadOutsideTheStream) {
    StreamParts good;
    good.tags = {{0x80, 2}, {0x85, 56}};
    good.dataPayloads = {Data(28), Data(28)};
    good.withBlockCount = true;
    const std::string stream = BuildStream(good);
    const std::size_t firstData = test::HeaderBlock(0, good.tags).size() + 12;
    struct Case {
        const char* what;
        std::string bytes;
        std::vector<std::string> problems;
    };
    std::string tinyBlock = stream;
    tinyBlock.replace(firstData + 4, 4, test::Uint32(4, false));
    std::string unknown = stream;
    unknown.replace(firstData, 4, "ABCD");
    StreamParts counts = good;
    counts.tags = {{0x80, 2}, {0x85, 50}};
    StreamParts blocks = good;
    blocks.withBlockCount = false;
    const std::string sccl = BuildStream(good);
    std::string wrongCount = sccl;
    wrongCount.replace(test::HeaderBlock(0, good.tags).size() + 8, 4, test::Uint32(5, false));
    const Case cases[] = {
        {"no header", Data(28), {"no stream header"}},
        {"a header without its PT", test::Block("SCHl", "XX\1\1"), {"no stream header"}},
        {"a block size below 8",
         tinyBlock,
         {"a block size out of range at byte " + std::to_string(firstData)}},
        {"cut inside a block",
         stream.substr(0, stream.size() - 30),
         {"the stream ends inside a block"}},
        {"an unknown block",
         unknown,
         {"an unknown block 'ABCD' at byte " + std::to_string(firstData),
          "SCCl counts 2 data blocks, the stream has 1",
          "the header counts 56 samples, the blocks 28"}},
        {"the header's count disagrees",
         BuildStream(counts),
         {"the header counts 50 samples, the blocks 56"}},
        {"SCCl disagrees", wrongCount, {"SCCl counts 5 data blocks, the stream has 2"}},
        {"no end block", stream.substr(0, stream.size() - 8), {"no end block"}},
        {"bytes after the end",
         stream + std::string(3, '\0') + "x",
         {"bytes after the end block that are not zero"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // A copy of exactly the stream's bytes, so that a read beyond them
        // shows under the sanitizers.
        const std::vector<char> exact(c.bytes.begin(), c.bytes.end());
        const StreamInfo info =
            ReadStreamInfo(MemorySource(std::string_view(exact.data(), exact.size())));
        EXPECT_EQ(info.ProblemTexts(), c.problems);
    }
}

}  // namespace
}  // namespace tamrel
