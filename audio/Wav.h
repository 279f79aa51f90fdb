// WAV files of decoded streams: RIFF, 16-bit PCM, with a `smpl` chunk that
// keeps the stream's loop for editors and re-encoders.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tamrel {

struct WavLoop {
    std::uint32_t start = 0;
    std::uint32_t end = 0;  // exclusive
};

// The file's bytes for interleaved samples.
std::string WavBytes(const std::vector<std::int16_t>& samples, int channels, int rate,
                     std::optional<WavLoop> loop);

// Writes the file through a temporary file renamed over path.
void WriteWavFile(const std::string& path, const std::vector<std::int16_t>& samples, int channels,
                  int rate, std::optional<WavLoop> loop);

}  // namespace tamrel
