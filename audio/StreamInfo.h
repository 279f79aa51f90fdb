// What a stream is, read from its own header block and its blocks' 8-byte
// preambles, without decoding a sample: platform, codec, channels, rate,
// length, loop, and every problem found on the way.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "audio/Blocks.h"
#include "audio/Codecs.h"

namespace tamrel {

// Something the reader found wrong with a stream, and how much it matters.
struct StreamProblem {
    enum class Kind {
        NoHeader,     // not a stream
        Damage,       // the blocks or the header are broken: decoding may stop there
        Count,        // a count disagrees with the blocks: harmless to the sound
        Implausible,  // numbers no stream can have: the stream is not sound
        Loop,         // a loop outside the stream: no loop is made of it
        Layout,       // a codec in a version or channel count whose layout is not known
        NoDecoder,    // a codec this program decides not to decode: why
    };
    Kind kind;
    std::string text;
    bool operator==(const StreamProblem&) const = default;
};

// The block of a stream: where it starts in the stream and how long it is,
// its 8-byte preamble included.
struct StreamBlock {
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
    // SCDl: the block's sample count per channel; for PS-ADPCM, whose
    // players ignore it, the samples of its whole frames.
    std::uint32_t samples = 0;
};

struct StreamInfo {
    bool hasHeader = false;
    int platform = 0;
    int version = 0;
    Codec codec = Codec::Other;
    int codecValue = -1;     // tag 0xA0 as written, or -1
    bool bigEndian = false;  // the codec's numbers (counts, offsets, PCM16 BE)
    // As declared (64 bits, so that no declared value wraps); a stream whose
    // numbers no stream can have has an Implausible problem.
    std::int64_t channels = 1;
    std::int64_t sampleRate = 0;
    int bitsPerSample = 16;                      // tag 0x81, for PCM
    std::optional<std::uint32_t> headerSamples;  // tag 0x85
    std::uint64_t samples = 0;                   // the sum of the data blocks' counts
    std::optional<std::uint32_t> loopStart;      // tag 0x86
    std::optional<std::uint64_t> loopEnd;        // exclusive: tag 0x87 plus 1
    std::optional<std::uint32_t> blockCountTag;  // SCCl, in the codec's byte order
    std::uint32_t headerSize = 0;                // the header block, preamble included
    // The values of the header's coefficient tags (DSP's pairs, N64's
    // codebooks), one per channel in kCoefficientTags' order; empty where
    // the header has none.
    std::vector<std::string> coefficientTags;
    int mpegBitrate = 0;  // MPEG: the first frame's, in kbit/s
    std::vector<StreamBlock> dataBlocks;
    bool endBlock = false;
    std::vector<StreamProblem> problems;

    std::string CodecName() const { return tamrel::CodecName(codec, codecValue); }
    // The problems' texts, in the order found.
    std::vector<std::string> ProblemTexts() const;
    bool HasProblem(StreamProblem::Kind kind) const;
    // True when the stream can be decoded: a header, numbers a stream can
    // have, and a codec and layout with a decoder (DecodeVerdict says why not).
    bool Playable() const;
    // The same for the encoder: the stream can be replaced.
    bool Encodable() const;
    // Seconds of sound, from the blocks' counts; 0 without a rate.
    double Duration() const;
    // True when the header has loop tags: such a stream loops.
    bool Loops() const { return loopStart.has_value() || loopEnd.has_value(); }
    // The loop as a range of samples [start, end) inside the stream; nothing
    // when the stream does not loop or its loop lies outside it or is empty.
    std::optional<std::pair<std::uint64_t, std::uint64_t>> ValidLoop() const;
    // The later revision of the format's frames (the XA ADPCM R2/R3 family,
    // MicroTalk's byte-aligned frames): version 3, or 2 on PC, Mac and generic.
    bool LaterRevision() const;
    // DSP on the 3DS: each channel's frames follow two numbers of history.
    bool DspHistoryBeforeFrames() const;
};

// Whether a stream can be decoded (played, exported) or encoded
// (replaced), and why not: the one answer every host gives.
struct Verdict {
    bool ok = true;
    // "The stream NAME cannot be decoded: no known layout for N64 ADPCM in
    // version 0.", "The stream NAME is ATRAC3plus: ...", or empty.
    std::string why;
    // The same in a few words, for a menu: "ATRAC3plus: no decoder", "No
    // known layout for N64 ADPCM in version 0", or empty.
    std::string brief;
};
Verdict DecodeVerdict(const StreamInfo& info, const std::string& name);
Verdict EncodeVerdict(const StreamInfo& info, const std::string& name);

// The header tags that hold each channel's coefficients, channel 0 first.
inline constexpr unsigned char kCoefficientTags[6] = {0x8F, 0x90, 0x91, 0xAB, 0xAC, 0xAD};

// The sample rates and channel counts a stream can have.
inline constexpr std::int64_t kMinStreamRate = 1000;
inline constexpr std::int64_t kMaxStreamRate = 192000;
inline constexpr std::int64_t kMaxStreamChannels = 8;

// Reads the header and walks the blocks. Never reads outside the source.
StreamInfo ReadStreamInfo(const ByteSource& source);

// "XA ADPCM R2, stereo, 32000 Hz", or "no stream header".
std::string FormatDescription(const StreamInfo& info);
// "2:31.40": minutes, seconds and hundredths.
std::string FormatDuration(double seconds);

}  // namespace tamrel
