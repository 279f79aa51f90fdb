// The sounds the encoders are measured on, mono: a strummed chord, bursts of
// noise between silences, and spoken words (espeak-ng, brought to the rate
// by FFmpeg), with the SNR of a decoded copy against them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tamrel::test {

struct NamedSignal {
    std::string name;
    std::vector<std::int16_t> samples;
};

// Each signal of the set, seconds long at rate (the speech is as long as
// its sentence when that is shorter). The speech needs espeak-ng and FFmpeg.
std::vector<NamedSignal> EncoderSignals(int rate, double seconds);

// The SNR in dB of decoded against reference over their common length.
double SnrDb(const std::vector<std::int16_t>& reference, const std::vector<std::int16_t>& decoded);

// The SNR that FFmpeg's IMA ADPCM (WAV) encoder reaches on samples at its
// widest search (-trellis 8), decoded by FFmpeg.
double FfmpegImaSnr(const std::vector<std::int16_t>& samples, int rate);

}  // namespace tamrel::test
