// Decoding a stream's data blocks to 16-bit PCM, exactly, block by block as
// the stream holds them, in every codec that is heard: PCM of every layout,
// the XA ADPCM family, the consoles' ADPCM codecs, IMA ADPCM, MPEG audio
// and MicroTalk.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "audio/StreamInfo.h"

namespace tamrel {

// A stream that cannot be decoded: damaged, or in a codec without a decoder.
// The message names the stream and, for damage, the block.
class DecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// True when this program decodes the stream's codec and layout, and the
// stream's rate and channels are ones a stream can have.
bool CanDecode(const StreamInfo& info);

// Why the stream cannot be decoded (numbers no stream can have, no known
// layout, a codec without a decoder), or empty.
std::string DecodeRefusal(const StreamInfo& info, const std::string& name);

// Receives one data block's samples (frames of info.channels samples, channels
// interleaved); returns false to stop decoding.
using BlockSink = std::function<bool(const std::int16_t* samples, std::size_t frames)>;

// Hands out a stream's decoded data blocks one at a time, as the caller asks
// for them.
class BlockReader {
public:
    // Throws DecodeError for a stream that cannot be decoded.
    BlockReader(const ByteSource& source, const StreamInfo& info, std::string name);
    ~BlockReader();
    BlockReader(const BlockReader&) = delete;
    BlockReader& operator=(const BlockReader&) = delete;
    // The next block's samples (channels interleaved); false at the end.
    // Throws DecodeError at damage.
    bool Next(std::vector<std::int16_t>& samples);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Decodes the data blocks one after the other, each handed to sink, so that
// memory does not grow with the stream. Throws DecodeError (naming the
// stream and, for damage, the block) for a stream it cannot decode.
void DecodeBlocks(const ByteSource& source, const StreamInfo& info, const std::string& name,
                  const BlockSink& sink);

// Every sample the data blocks declare, channels interleaved. name names the
// stream in errors. progress, when given, is told each block done (1-based)
// and returns false to stop.
std::vector<std::int16_t> DecodeStream(const ByteSource& source, const StreamInfo& info,
                                       const std::string& name,
                                       const std::function<bool(std::size_t)>& progress = {});

// The XA ADPCM filters by index: each sample is predicted from the two
// before it, as (K1 * last + K2 * one before) / 256.
inline constexpr int kXaK1[4] = {0, 240, 460, 392};
inline constexpr int kXaK2[4] = {0, 0, -208, -220};

// The bytes of stored history before the frames of the split layout: four
// per channel, and room for two channels even in a mono stream.
inline std::size_t SplitHistoryBytes(int channels) {
    return 4 * static_cast<std::size_t>(channels < 2 ? 2 : channels);
}

// One 4-bit sample (sign-extended) through a filter and shift, with the
// history of the channel; rounding is 0x80 for v1 and 0 for the v2 family.
inline std::int16_t XaSample(int nibble, int shift, int filter, int& h1, int& h2, int rounding) {
    const int scaled = nibble * (1 << (20 - shift));
    int y = (scaled + kXaK1[filter] * h1 + kXaK2[filter] * h2 + rounding) >> 8;
    y = y < -32768 ? -32768 : (y > 32767 ? 32767 : y);
    h2 = h1;
    h1 = y;
    return static_cast<std::int16_t>(y);
}

}  // namespace tamrel
