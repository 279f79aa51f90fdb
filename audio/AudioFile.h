// Reading any audio file that libsndfile reads (WAV, FLAC, Ogg Vorbis, Opus,
// MP3) and converting it to a stream's rate and channels as 16-bit samples.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace tamrel {

// An audio file that cannot be read; the message names it and says why.
class AudioFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct PcmAudio {
    std::vector<std::int16_t> samples;  // channels interleaved
    int channels = 0;
    int rate = 0;
};

// Reads the file and converts it: resampled with libsoxr's high quality,
// mono duplicated to stereo, stereo averaged to mono (more channels: the
// first two, or all averaged for mono), and where that leaves more than 16
// bits (resampling, mixing, a float or 24-bit file) reduced to 16 bits with
// TPDF dither. A 16-bit file at that rate and channel count passes through
// unchanged.
PcmAudio ReadAudioFileAs(const std::string& path, int rate, int channels);

// The file name patterns of what can be read, for a file dialog.
const char* ReadableAudioPatterns();

}  // namespace tamrel
