// Reading any audio file that libsndfile reads (WAV, FLAC, Ogg Vorbis, Opus,
// MP3, AIFF) and converting it to a stream's rate and channels as 16-bit
// samples, a chunk at a time: memory stays the same whatever the file's
// length, and whatever length it claims.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tamrel {

class Folder;

// An audio file that cannot be read, or is damaged; the message names it and
// says why.
class AudioFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The lowest sample rate taken from an audio file: below it there is no
// sound to speak of, and the resampling ratio would grow without bound.
inline constexpr int kMinAudioFileRate = 1000;

// A loop of an audio file, in its own frames: [start, end).
struct FrameLoop {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
};

// What an audio file says of itself before a sample is read.
struct AudioFileFacts {
    int channels = 0;
    int rate = 0;
    // The length where the format states it exactly (FLAC's stream info, a
    // WAV file's data chunk, Ogg's last position): fewer frames is damage.
    std::optional<std::uint64_t> exactFrames;
    // What the library expects, for progress only: an estimate, or 0.
    std::uint64_t expectedFrames = 0;
    // The first forward loop of the file's instrument data (a WAV file's
    // smpl chunk), if it has one.
    std::optional<FrameLoop> loop;
};

// Receives converted frames: frames × the channels asked for, interleaved;
// returns false when it wants no more (the rest of the file is not read).
using FrameSink = std::function<bool(const std::int16_t* samples, std::size_t frames)>;

// An audio file, opened and checked: a missing file, one that is no regular
// file (a FIFO, a folder, a device: refused without waiting on it), an empty
// one, one no reader recognises and one below kMinAudioFileRate are refused
// here with AudioFileError.
class AudioFileReader {
public:
    explicit AudioFileReader(const std::string& path);
    // The file name in an opened folder, reached through it.
    AudioFileReader(const Folder& folder, const std::string& name);
    ~AudioFileReader();
    AudioFileReader(const AudioFileReader&) = delete;
    AudioFileReader& operator=(const AudioFileReader&) = delete;

    const AudioFileFacts& Facts() const;

    // Reads the whole file once, converted to rate and channels, handing it
    // to sink a chunk at a time; progress, when given, is told the file's
    // frames read so far. Channels are mixed by the file's channel map (or
    // its format's usual order): into stereo, each side takes its front
    // channel, 0.7071 of the centre and of its surrounds, divided by the sum
    // of those weights; LFE is dropped; mono is the mean of that stereo;
    // three or more channels take the file's channels one by one. Resampled
    // with libsoxr's high quality, and reduced to 16 bits with TPDF dither
    // where conversion leaves more; 16-bit sound at that rate that needs no
    // mixing passes unchanged. Throws AudioFileError naming the time where
    // the file broke on a read error, or when it ends before the length it
    // declares exactly. Returns the frames handed to sink.
    std::uint64_t ConvertTo(int rate, int channels, const FrameSink& sink,
                            const std::function<void(std::uint64_t)>& progress = {});

private:
    void Convert(int rate, int channels,
                 const std::function<void(const std::int16_t*, std::size_t)>& sink,
                 const std::function<void(std::uint64_t)>& progress);

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

struct PcmAudio {
    std::vector<std::int16_t> samples;  // channels interleaved
    int channels = 0;
    int rate = 0;
};

// For tests and benchmarks (tamrel_audio_for_tests): the whole file
// converted at once, as ConvertTo converts it.
PcmAudio ReadAudioFileAs(const std::string& path, int rate, int channels);

// The file name patterns of what can be read, for a file dialog.
const char* ReadableAudioPatterns();

}  // namespace tamrel
