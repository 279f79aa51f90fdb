// What an audio file declares of its own length, read from its bytes:
// libsndfile trims a cut file's length to what is there and passes over an
// Ogg page that fails its checksum, which would let a damaged file through
// as a shorter sound.
#pragma once

#include <cstdint>
#include <optional>

namespace tamrel {

class InputFile;

struct DeclaredLength {
    // The frames the file declares exactly, where its format does: a WAV
    // file's data chunk (or its fact chunk, for compressed sound), AIFF's
    // COMM chunk, FLAC's stream info, Ogg's last position. Fewer is damage.
    std::optional<std::uint64_t> frames;
    // Where an Ogg file is damaged, in seconds: a page whose checksum
    // fails, a page missing from a stream's sequence, or a stream whose
    // end-of-stream page is not there.
    std::optional<double> damagedAt;
};

// format is libsndfile's for the file (SF_FORMAT_*), rate its rate and
// libraryFrames the length libsndfile found (0 or less: none).
DeclaredLength DeclaredLengthOf(const InputFile& file, int format, int rate,
                                std::int64_t libraryFrames);

}  // namespace tamrel
