// Encoding 16-bit PCM into a stream of the same kind as the one it
// replaces: the header kept (tag 0x85 and the loop set anew), blocks of
// about the old blocks' length, in the old stream's codec and layout.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "audio/StreamInfo.h"
#include "io/FileIo.h"

namespace tamrel {

// A stream in a codec or layout without an encoder, or one too long to write.
class EncodeError : public InputError {
public:
    using InputError::InputError;
};

struct EncodeStats {
    std::uint64_t frames = 0;     // ADPCM and raw frames, all channels
    std::uint64_t rawFrames = 0;  // of them raw (R2 and R3 only)
};

// A new stream: the header (with SCCl where the old stream had one), then
// the data blocks and the end block in pieces of a few megabytes, so that a
// growing stream is never copied whole to a larger buffer.
struct EncodedStream {
    std::string head;
    std::vector<std::string> body;
    std::uint64_t frames = 0;  // samples per channel
    std::uint64_t Size() const;
};

// Encodes a new stream as its samples arrive (info.channels of them per
// frame, at info.sampleRate), holding only what is encoded and the part of
// a block still to come.
class StreamEncoder {
public:
    // info describes the stream being replaced (and must outlive the
    // encoder); oldHeader holds at least its header block, whose tags the
    // new stream keeps.
    StreamEncoder(const StreamInfo& info, std::string_view oldHeader, EncodeStats* stats = nullptr);
    ~StreamEncoder();
    StreamEncoder(const StreamEncoder&) = delete;
    StreamEncoder& operator=(const StreamEncoder&) = delete;

    // True for codecs whose header holds coefficients fitted to the sound
    // (DSP, N64), until Train has been given it: a caller that can read its
    // input twice hands it all to Train first, so that the coefficients fit
    // all of it; otherwise they fit the first blocks' worth.
    bool NeedsTraining() const;
    // A first reading of the sound (as Add takes it); memory stays bounded.
    void Train(const std::int16_t* samples, std::size_t frames);
    // Adds frames; throws EncodeError when the stream would reach 2 GiB.
    void Add(const std::int16_t* samples, std::size_t frames);
    // Throws the EncodeError that Add would throw later when even the
    // fewest bytes that many frames can take reach 2 GiB, or when no
    // stream can count them: a sound of a declared length is refused before
    // a sample of it is read.
    void CheckLength(std::uint64_t frames) const;
    std::uint64_t Frames() const;
    // The whole stream. A stream that loops gets loop tags: loop where given,
    // else over everything; one that does not loop gets none. Throws
    // EncodeError when no frame was added.
    EncodedStream Finish(std::optional<SampleLoop> loop);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// For tests and benchmarks (tamrel_audio_for_tests): the new stream for
// interleaved samples at once, looping (where the stream
// loops) over everything: oldStream is the stream being replaced, whose
// header and block length are kept. progress is told the share done (0 to 1).
std::string EncodeStream(const StreamInfo& info, std::string_view oldStream,
                         const std::vector<std::int16_t>& samples,
                         const std::function<void(double)>& progress = {},
                         EncodeStats* stats = nullptr);

}  // namespace tamrel
