// IMA ADPCM, the PC's 4-bit codec, with the standard's step table and
// shift-and-add arithmetic: the per-block state of PC streams and the
// frames of Xbox streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/Codecs.h"
#include "audio/Samples.h"

namespace tamrel::adpcm {

struct ImaState {
    int predictor = 0;
    int index = 0;  // 0..88
};
int ImaDecode(int code, ImaState& state);
// Codes for n targets (stride apart) from state, which becomes the state
// after them, with the least squared error the search finds. paths 0 is the
// plain greedy choice (the nearer of the two codes around each target);
// otherwise the search keeps, for each step index, that many cheapest paths
// (a trellis kept apart by step size, at most 64 paths in all), each tried
// with the codes around its target. Four paths reach FFmpeg's IMA encoder
// at its widest trellis on noise, speech and chords; more gain little for
// their cost.
void ImaEncode(const int* target, std::size_t n, std::size_t stride, ImaState& state,
               std::uint8_t* codes, int paths);
inline constexpr int kImaPaths = 4;

// Xbox IMA: 36-byte frames of 64 samples (the stored first sample and 63
// nibbles, low first; the 64th nibble is padding).
inline constexpr int kXboxFrameBytes = 36;
inline constexpr int kXboxFrameSamples = 64;
void DecodeXboxFrame(const unsigned char* frame, int count, std::int16_t* out, std::size_t stride);
// index is the step index carried from frame to frame by the encoder.
void EncodeXboxFrame(const int* target, int count, int& index, std::string& out);

}  // namespace tamrel::adpcm

namespace tamrel {

// The coders of PC streams' IMA: each block starts with the state of two
// channels.
std::unique_ptr<CodecDecoder> MakeImaDecoder(const StreamInfo& info);
std::unique_ptr<CodecEncoder> MakeImaEncoder(const StreamInfo& info, EncodeStats& stats);

}  // namespace tamrel
