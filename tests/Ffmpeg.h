// FFmpeg as the tests' oracle for what a stream holds: it decodes a stream
// file on its own, so its samples and counts are a second opinion.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// FFmpeg is a Linux program here: the Windows build's tests, run under wine,
// leave what needs it to the Linux build (which runs the same decoders and
// encoders), and the Windows program's files are compared with the Linux
// build's byte for byte by tamrel_windows_compare (run by scripts/windows.sh).
#ifdef _WIN32
#define TAMREL_NEEDS_FFMPEG() GTEST_SKIP() << "needs FFmpeg, which only the Linux build has"
#else
#define TAMREL_NEEDS_FFMPEG() static_cast<void>(0)
#endif

namespace tamrel::test {

#ifdef _WIN32
inline constexpr bool kHaveFfmpeg = false;
#else
inline constexpr bool kHaveFfmpeg = true;
#endif

// The samples FFmpeg decodes from the file, channels interleaved.
std::vector<std::int16_t> FfmpegSamples(const std::string& path);

// Converts an audio file with ffmpeg, options standing before the output
// (a codec, a channel layout); throws when ffmpeg fails.
void FfmpegConvert(const std::string& in, const std::string& out, const std::string& options = "");

struct FfprobeFacts {
    int channels = 0;
    int sampleRate = 0;
    std::uint64_t samples = 0;  // the sum of the packets' durations
};
FfprobeFacts Ffprobe(const std::string& path);

}  // namespace tamrel::test
