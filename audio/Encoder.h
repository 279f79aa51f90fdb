// Encoding 16-bit PCM into a stream of the same kind as the one it
// replaces: the header kept (tag 0x85 and the loop set anew), blocks of
// about the old blocks' length, in the old stream's codec and layout.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "audio/StreamInfo.h"

namespace tamrel {

// A stream in a codec or layout without an encoder.
class EncodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// True when this program encodes the stream's codec and layout.
bool CanEncode(const StreamInfo& info);

struct EncodeStats {
    std::uint64_t frames = 0;     // ADPCM and raw frames, all channels
    std::uint64_t rawFrames = 0;  // of them raw (R2 and R3 only)
};

// The new stream for interleaved samples (info.channels of them per frame,
// at info.sampleRate): oldStream is the stream being replaced, whose header
// and block length are kept. progress is told the share done (0 to 1).
std::string EncodeStream(const StreamInfo& info, std::string_view oldStream,
                         const std::vector<std::int16_t>& samples,
                         const std::function<void(double)>& progress = {},
                         EncodeStats* stats = nullptr);

// A raw frame is written where the best ADPCM frame clips, or where its
// squared error exceeds this many times the average of the frames before.
inline constexpr double kRawFrameErrorRatio = 40.0;

}  // namespace tamrel
