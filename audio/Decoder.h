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
#include "io/FileIo.h"

namespace tamrel {

// A stream that cannot be decoded: damaged, or one DecodeVerdict refuses.
// The message names the stream and, for damage, the block.
class DecodeError : public InputError {
public:
    using InputError::InputError;
};

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

}  // namespace tamrel
