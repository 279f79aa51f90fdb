// XA ADPCM as these streams hold it: 28-sample frames of 4-bit codes
// through one of four second-order filters. v1 interleaves both channels
// in a 30-byte frame; the v2 family (R1, R2, R3) runs each channel's
// 15-byte frames, and R2 and R3 may hold a raw frame of exact samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "audio/Codecs.h"

namespace tamrel {

inline constexpr int kXaFrameSamples = 28;
inline constexpr int kXaFrameBytes = 15;     // the v2 family's, per channel
inline constexpr int kXaV1FrameBytes = 30;   // both channels'
inline constexpr int kXaRawFrameBytes = 61;  // the mark, two of history, 28 samples
inline constexpr unsigned char kXaRawMark = 0xEE;

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

// A raw frame is written where the best ADPCM frame clips, or where its
// squared error exceeds this many times the average of the frames before.
inline constexpr double kRawFrameErrorRatio = 40.0;

std::unique_ptr<CodecDecoder> MakeXaDecoder(const StreamInfo& info);
std::unique_ptr<CodecEncoder> MakeXaEncoder(const StreamInfo& info, EncodeStats& stats);

}  // namespace tamrel
