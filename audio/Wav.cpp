#include "audio/Wav.h"

#include "io/Bytes.h"

namespace tamrel {

namespace {

constexpr std::uint32_t kSmplSize = 36 + 24;  // one loop
// RIFF's size field counts everything after it: "WAVE", fmt and data
// chunks, and the smpl chunk.
constexpr std::uint64_t kRiffOverhead = 4 + (8 + 16) + 8 + (8 + kSmplSize);

// RIFF's numbers are little-endian.
void Put32(std::string& out, std::uint32_t v) {
    PutUint32(out, v, false);
}

void Put16(std::string& out, std::uint16_t v) {
    PutUint16(out, v, false);
}

// The bytes of the samples' data chunk, the data size checked to fit.
std::uint64_t DataSize(int channels, std::uint64_t frames) {
    const std::uint64_t size = frames * static_cast<std::uint64_t>(channels) * 2;
    if (channels < 1 || frames > (std::uint64_t{1} << 40) || size > 0xFFFFFFFFu - kRiffOverhead)
        throw WavTooLongError("more than 4 GiB of samples, which a WAV file cannot hold");
    return size;
}

// Everything before the samples: RIFF, fmt and the data chunk's preamble.
std::string Head(int channels, std::int64_t rate, std::uint32_t dataSize, bool loop) {
    const auto rate32 = static_cast<std::uint32_t>(rate);
    std::string out;
    out += "RIFF";
    Put32(out, 4 + (8 + 16) + (8 + dataSize) + (loop ? 8 + kSmplSize : 0));
    out += "WAVEfmt ";
    Put32(out, 16);
    Put16(out, 1);  // PCM
    Put16(out, static_cast<std::uint16_t>(channels));
    Put32(out, rate32);
    Put32(out, static_cast<std::uint32_t>(std::uint64_t{rate32} *
                                          static_cast<std::uint64_t>(channels) * 2));
    Put16(out, static_cast<std::uint16_t>(channels * 2));
    Put16(out, 16);
    out += "data";
    Put32(out, dataSize);
    return out;
}

// The smpl chunk that carries the loop after the samples.
std::string LoopChunk(std::int64_t rate, const WavLoop& loop) {
    std::string out = "smpl";
    Put32(out, kSmplSize);
    Put32(out, 0);  // manufacturer
    Put32(out, 0);  // product
    Put32(out, rate > 0 ? static_cast<std::uint32_t>(1000000000 / rate) : 0);
    Put32(out, 60);  // the unity note: middle C
    Put32(out, 0);   // pitch fraction
    Put32(out, 0);   // SMPTE format
    Put32(out, 0);   // SMPTE offset
    Put32(out, 1);   // one loop
    Put32(out, 0);   // no sampler data
    Put32(out, 0);   // cue point id
    Put32(out, 0);   // forward
    Put32(out, loop.start);
    Put32(out, loop.end > 0 ? loop.end - 1 : 0);  // smpl counts its end inclusively
    Put32(out, 0);                                // fraction
    Put32(out, 0);                                // play forever
    return out;
}

void PutSamples(std::string& out, const std::int16_t* samples, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        Put16(out, static_cast<std::uint16_t>(samples[i]));
}

}  // namespace

std::string WavBytes(const std::vector<std::int16_t>& samples, int channels, std::int64_t rate,
                     std::optional<WavLoop> loop) {
    const auto frames = channels > 0 ? samples.size() / static_cast<std::size_t>(channels) : 0;
    const auto dataSize = static_cast<std::uint32_t>(DataSize(channels, frames));
    std::string out = Head(channels, rate, dataSize, loop.has_value());
    out.reserve(out.size() + dataSize + 8 + kSmplSize);
    PutSamples(out, samples.data(), dataSize / 2);
    if (loop)
        out += LoopChunk(rate, *loop);
    return out;
}

WavFileWriter::WavFileWriter(const std::string& path, int channels, std::int64_t rate,
                             std::uint64_t frames, std::optional<WavLoop> loop)
    // The size is checked before the temporary file is made.
    : file_([&] {
          DataSize(channels, frames);
          return path;
      }()),
      channels_(channels),
      rate_(rate),
      frames_(frames),
      loop_(loop) {
    Start();
}

WavFileWriter::WavFileWriter(const Folder& folder, const std::string& name, int channels,
                             std::int64_t rate, std::uint64_t frames, std::optional<WavLoop> loop)
    : file_([&] {
          DataSize(channels, frames);
          return ReplacingFileWriter(folder, name);
      }()),
      channels_(channels),
      rate_(rate),
      frames_(frames),
      loop_(loop) {
    Start();
}

void WavFileWriter::Start() {
    file_.Write(Head(channels_, rate_, static_cast<std::uint32_t>(DataSize(channels_, frames_)),
                     loop_.has_value()));
}

void WavFileWriter::Append(const std::int16_t* samples, std::size_t frames) {
    if (written_ + frames > frames_)
        throw std::logic_error("more frames than the WAV file announced");
    written_ += frames;
    buffer_.clear();
    PutSamples(buffer_, samples, frames * static_cast<std::size_t>(channels_));
    file_.Write(buffer_);
}

void WavFileWriter::Commit() {
    if (written_ != frames_)
        throw std::logic_error("fewer frames than the WAV file announced");
    if (loop_)
        file_.Write(LoopChunk(rate_, *loop_));
    file_.Commit();
}

}  // namespace tamrel
