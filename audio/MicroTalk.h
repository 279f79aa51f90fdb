// MicroTalk 10:1 and 5:1, a speech codec: 432-sample frames of 12
// reflection coefficients, a pitch predictor and a coded excitation per
// 108-sample subframe. One decoder per channel; its state (the stream
// header, the coefficients, the excitation history and the filter memory)
// runs on across blocks, and only the bit reader starts again at each block.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/Codecs.h"

namespace tamrel::microtalk {

inline constexpr int kFrameSamples = 432;
inline constexpr int kSubframeSamples = 108;
// The most samples a byte of MicroTalk data can stand for: the shortest
// frame (runs of zeros everywhere) takes 25 bytes.
inline constexpr int kMostSamplesPerByte = 18;

class ChannelDecoder {
public:
    class Bits;  // the bit reader of one block's data

    // Decodes count samples from one block's bitstream of this channel
    // (data, after the byte that precedes it), into out, stride apart.
    // later: the revision whose frames each start with a flag byte and may
    // carry a raw patch. Returns an empty string, or what is damaged (a
    // frame that needs bits past the data, a raw patch outside the frame);
    // nothing is ever read outside the data.
    std::string DecodeBlock(const unsigned char* data, std::size_t size, std::uint32_t count,
                            bool later, std::int16_t* out, std::size_t stride);

private:
    bool DecodeFrame(Bits& bits, std::array<double, kFrameSamples>& frame);
    void Synthesize(const int (&coefficients)[12], std::array<double, kFrameSamples>& frame);

    bool haveHeader_ = false;
    bool halfBand_ = false;
    int threshold_ = 0;
    std::array<double, 64> gains_{};
    std::array<double, 12> reflection_{};   // the current set, moved toward each frame's
    std::array<double, 324> excitation_{};  // the last 324 values of e
    std::array<double, 12> memory_{};       // y[n-1] .. y[n-12]
};

// The encoder of one channel: per frame 12 reflection coefficients by
// Levinson-Durbin, quantized to the table; per subframe the pitch lag and
// gain against the excitation the decoder will have, and the rest coded with
// pulses to fill the bit budget (the full band of 5:1 against the decoder's
// own output, the half band of 10:1 against the input's).
class ChannelEncoder {
public:
    // halfBand: 10:1 (half the positions coded); bitsPerFrame: the budget
    // of a frame's data.
    ChannelEncoder(bool halfBand, int bitsPerFrame);
    // One block's bitstream (without the byte before it) for count samples
    // stride apart, in whole frames (the last padded with silence). later:
    // the revision with a flag byte (0x00) before each frame.
    std::string EncodeBlock(const std::int16_t* samples, std::uint32_t count, std::size_t stride,
                            bool later);

private:
    class Writer;
    using Stages = std::array<std::array<double, 12>, 4>;  // the predictor at each stage
    // A subframe's coded values and how the decoder reads them.
    struct Pulses {
        int values[kSubframeSamples] = {};
        int count = 0;
        int gainIndex = 0;
        double gain = 0;  // as the decoder applies it
        int alignment = 0, zeroFill = 1;
    };
    void EncodeFrame(const double* input, Writer& out);
    void EncodeSubframe(const double* input, int subframe, const Stages& stages, Writer& out);
    Pulses FullBandPulses(const double* input, int first, const Stages& stages,
                          const double* pitchPart) const;
    Pulses HalfBandPulses(const double* target, const double* pitchPart) const;

    bool halfBand_;
    int budget_;  // bits for a subframe's excitation
    bool wroteHeader_ = false;
    std::array<double, 64> gains_{};
    std::array<double, 12> reflection_{};   // the decoder's current set
    std::array<double, 324> excitation_{};  // the decoder's e history
    std::array<double, 12> past_{};         // the input's last 12 samples (half band)
    std::array<double, 12> synthesis_{};    // the decoder's last 12 outputs (full band)
    std::array<double, 432 + 324> e_{};     // the frame's e, after the history
};

}  // namespace tamrel::microtalk

namespace tamrel {

std::unique_ptr<CodecDecoder> MakeMicroTalkDecoder(const StreamInfo& info);
std::unique_ptr<CodecEncoder> MakeMicroTalkEncoder(const StreamInfo& info, EncodeStats& stats);

}  // namespace tamrel
