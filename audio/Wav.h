// WAV files of decoded streams: RIFF, 16-bit PCM, with a `smpl` chunk that
// keeps the stream's loop for editors and re-encoders.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "io/FileIo.h"

namespace tamrel {

struct WavLoop {
    std::uint32_t start = 0;
    std::uint32_t end = 0;  // exclusive
};

// Sound that a WAV file cannot hold: RIFF's sizes are 32-bit.
class WavTooLongError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The file's bytes for interleaved samples.
std::string WavBytes(const std::vector<std::int16_t>& samples, int channels, std::int64_t rate,
                     std::optional<WavLoop> loop);

// A WAV file written through a temporary file as its samples arrive, so that
// a long stream never has to be held whole: the number of frames is known
// before the first sample, as RIFF wants it in the header.
class WavFileWriter {
public:
    // Throws WavTooLongError when that many frames do not fit in a WAV file,
    // IoError when the temporary file cannot be created.
    WavFileWriter(const std::string& path, int channels, std::int64_t rate, std::uint64_t frames,
                  std::optional<WavLoop> loop);
    // The same for a name in an open folder, which must outlive the writer.
    WavFileWriter(const Folder& folder, const std::string& name, int channels, std::int64_t rate,
                  std::uint64_t frames, std::optional<WavLoop> loop);
    void Append(const std::int16_t* samples, std::size_t frames);
    // Writes the loop, checks that every frame announced came, and renames
    // the file into place.
    void Commit();

private:
    void Start();

    ReplacingFileWriter file_;
    int channels_;
    std::int64_t rate_;
    std::uint64_t frames_, written_ = 0;
    std::optional<WavLoop> loop_;
    std::string buffer_;
};

// For tests (tamrel_audio_for_tests): writes the file through a temporary
// file renamed over path.
void WriteWavFile(const std::string& path, const std::vector<std::int16_t>& samples, int channels,
                  std::int64_t rate, std::optional<WavLoop> loop);

}  // namespace tamrel
