#include "audio/Wav.h"

#include "io/FileIo.h"

namespace tamrel {

namespace {

void Put32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>(v >> (8 * i)));
}

void Put16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v));
    out.push_back(static_cast<char>(v >> 8));
}

}  // namespace

std::string WavBytes(const std::vector<std::int16_t>& samples, int channels, int rate,
                     std::optional<WavLoop> loop) {
    const auto dataSize = static_cast<std::uint32_t>(samples.size() * 2);
    const std::uint32_t smplSize = loop ? 36 + 24 : 0;
    std::string out;
    out.reserve(44 + dataSize + (loop ? 8 + smplSize : 0));
    out += "RIFF";
    Put32(out, 4 + (8 + 16) + (8 + dataSize) + (loop ? 8 + smplSize : 0));
    out += "WAVEfmt ";
    Put32(out, 16);
    Put16(out, 1);  // PCM
    Put16(out, static_cast<std::uint16_t>(channels));
    Put32(out, static_cast<std::uint32_t>(rate));
    Put32(out, static_cast<std::uint32_t>(rate * channels * 2));
    Put16(out, static_cast<std::uint16_t>(channels * 2));
    Put16(out, 16);
    out += "data";
    Put32(out, dataSize);
    for (std::int16_t s : samples)
        Put16(out, static_cast<std::uint16_t>(s));
    if (loop) {
        out += "smpl";
        Put32(out, smplSize);
        Put32(out, 0);  // manufacturer
        Put32(out, 0);  // product
        Put32(out,
              rate > 0 ? static_cast<std::uint32_t>(1000000000u / static_cast<unsigned>(rate)) : 0);
        Put32(out, 60);  // the unity note: middle C
        Put32(out, 0);   // pitch fraction
        Put32(out, 0);   // SMPTE format
        Put32(out, 0);   // SMPTE offset
        Put32(out, 1);   // one loop
        Put32(out, 0);   // no sampler data
        Put32(out, 0);   // cue point id
        Put32(out, 0);   // forward
        Put32(out, loop->start);
        Put32(out, loop->end > 0 ? loop->end - 1 : 0);  // smpl counts its end inclusively
        Put32(out, 0);                                  // fraction
        Put32(out, 0);                                  // play forever
    }
    return out;
}

void WriteWavFile(const std::string& path, const std::vector<std::int16_t>& samples, int channels,
                  int rate, std::optional<WavLoop> loop) {
    ReplacingFileWriter file(path);
    file.Write(WavBytes(samples, channels, rate, loop));
    file.Commit();
}

}  // namespace tamrel
