// For tests and benchmarks only: conveniences the programs do not need,
// kept out of them. They are linked from tamrel_audio_for_tests, which no
// program links, so a program that calls one fails to link.
#include <algorithm>

#include "audio/AudioFile.h"
#include "audio/Encoder.h"
#include "audio/Wav.h"
#include "io/FileIo.h"

namespace tamrel {

std::string EncodeStream(const StreamInfo& info, std::string_view oldStream,
                         const std::vector<std::int16_t>& samples,
                         const std::function<void(double)>& progress, EncodeStats* stats) {
    StreamEncoder encoder(info, oldStream, stats);
    const auto channels = static_cast<std::size_t>(info.channels);
    const std::size_t total = samples.size() / channels;
    if (encoder.NeedsTraining())
        encoder.Train(samples.data(), total);
    constexpr std::size_t kStep = 28 * 1024;
    for (std::size_t at = 0; at < total; at += kStep) {
        encoder.Add(samples.data() + at * channels, std::min(kStep, total - at));
        if (progress)
            progress(static_cast<double>(std::min(total, at + kStep)) / static_cast<double>(total));
    }
    EncodedStream stream = encoder.Finish(std::nullopt);
    std::string whole = std::move(stream.head);
    for (const std::string& piece : stream.body)
        whole += piece;
    return whole;
}

void WriteWavFile(const std::string& path, const std::vector<std::int16_t>& samples, int channels,
                  std::int64_t rate, std::optional<WavLoop> loop) {
    ReplacingFileWriter file(path);
    file.Write(WavBytes(samples, channels, rate, loop));
    file.Commit();
}

PcmAudio ReadAudioFileAs(const std::string& path, int rate, int channels) {
    PcmAudio audio;
    audio.rate = rate;
    audio.channels = channels;
    AudioFileReader reader(path);
    reader.ConvertTo(rate, channels, [&](const std::int16_t* samples, std::size_t frames) {
        audio.samples.insert(audio.samples.end(), samples,
                             samples + frames * static_cast<std::size_t>(channels));
        return true;
    });
    return audio;
}

}  // namespace tamrel
