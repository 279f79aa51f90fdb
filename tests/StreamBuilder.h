// Builds streams (header, blocks, end) from a few lines, so that each test of
// the sound features states its case in the bytes it needs.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tamrel::test {

// A header tag: its number and value, written big-endian in as many bytes
// as it needs.
using Tag = std::pair<int, std::uint32_t>;

// The header block: "SCHl", its size, "PT", the platform, 0xFD, the tags,
// 0xFF, zero padding to a multiple of 4.
// Raw tags follow, their values as given (a length above 254 in the long
// form: 0xFF and four big-endian bytes).
using RawTag = std::pair<int, std::string>;
std::string HeaderBlock(int platform, const std::vector<Tag>& tags,
                        const std::vector<RawTag>& rawTags = {});
// A block of any id: its size counts the preamble; the payload is padded
// with zero bytes to a multiple of 4.
std::string Block(const char* id, const std::string& payload);
// A u32 in either byte order.
std::string Uint32(std::uint32_t value, bool bigEndian);

struct StreamParts {
    int platform = 0;
    std::vector<Tag> tags;
    std::vector<RawTag> rawTags;
    std::vector<std::string> dataPayloads;  // SCDl payloads, count first
    bool withBlockCount = false;            // SCCl before the data blocks
    bool bigEndian = false;                 // byte order of the SCCl count
    bool withEnd = true;
    std::string after;  // bytes after the end block
};

std::string BuildStream(const StreamParts& parts);

// Three streams of three kinds: PCM16 LE stereo at 32000 Hz with a loop
// (samples 5 to 100, in two blocks of 60 and 40), XA ADPCM R2 mono of 28
// samples, and ATRAC3plus, which has no decoder.
std::vector<std::string> ThreeKindsOfStreams();

// A PCM16 LE stereo stream at 32000 Hz of blocks of 100 samples of a tone:
// many small blocks, the stream whose reading costs the most calls (130,000
// blocks are 53 MB and seven minutes).
std::string ManyBlockStream(std::uint32_t blocks);

}  // namespace tamrel::test
