// MPEG audio Layer II and III inside the streams: the frames of a block
// found by their headers, and the whole stream's frames decoded with
// libmpg123 as one bitstream (Layer III's reservoir crosses blocks), the
// encoder's start delay dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "audio/Codecs.h"

namespace tamrel::mpeg {

// What a frame's 4-byte header says.
struct FrameHeader {
    int layer = 0;  // 2 or 3 (Layer I is not found in these streams)
    int rate = 0;   // Hz
    int channels = 0;
    int samples = 0;  // per channel
    int bytes = 0;    // the whole frame's
    int bitrate = 0;  // kbit/s
};

// The header at data, or nothing where there is none (no sync, a reserved
// value, free format).
std::optional<FrameHeader> ReadFrameHeader(const unsigned char* data, std::size_t size);

// The frames back to back from the start of data: their length in bytes,
// up to the first byte that starts no whole frame (padding).
std::size_t FramesLength(const unsigned char* data, std::size_t size);

// The samples the encoders put before the sound: dropped after decoding.
inline int StartDelay(int layer) {
    return layer == 2 ? 481 : 1105;
}

// One stream's decoder: frames in, 16-bit samples (channels interleaved)
// out, in order.
class Decoder {
public:
    Decoder(int rate, int channels);
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
    // Feeds frames and appends what they decode to out; an empty string, or
    // what the library found wrong.
    std::string Feed(const unsigned char* frames, std::size_t size, std::deque<std::int16_t>& out);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// One stream's encoder: Layer II with libtwolame, Layer III with
// libmp3lame, constant bitrate, no tag frame, at the stream's rate and
// channels; its output cut into whole frames.
class Encoder {
public:
    // Throws std::runtime_error when the library refuses the format.
    Encoder(int layer, int rate, int channels, int bitrate);
    ~Encoder();
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;
    // Encodes frames × channels interleaved samples; appends the whole MPEG
    // frames that are ready to out and returns how many.
    std::size_t Add(const std::int16_t* samples, std::size_t frames, std::string& out);
    // Flushes the rest, so that the delay and every sample are covered.
    std::size_t Flush(std::string& out);
    int FrameSamples() const;

private:
    std::size_t TakeFrames(std::string& out);
    void Release();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tamrel::mpeg

namespace tamrel {

std::unique_ptr<CodecDecoder> MakeMpegDecoder(const StreamInfo& info);
std::unique_ptr<CodecEncoder> MakeMpegEncoder(const StreamInfo& info, EncodeStats& stats);

}  // namespace tamrel
