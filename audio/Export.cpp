#include "audio/Export.h"

#include "audio/Decoder.h"
#include "audio/Wav.h"

namespace tamrel {

namespace {

using WavOpener = std::function<WavFileWriter(int channels, std::int64_t rate, std::uint64_t frames,
                                              std::optional<WavLoop> loop)>;

void Export(const ByteSource& stream, const std::string& name, const WavOpener& open,
            const std::function<bool(std::size_t)>& progress) {
    const StreamInfo info = ReadStreamInfo(stream);
    if (const Verdict verdict = DecodeVerdict(info, name); !verdict.ok)
        throw DecodeError(verdict.why);
    // A loop outside the stream is listed as its problem and not written.
    std::optional<WavLoop> loop;
    if (const auto valid = info.ValidLoop())
        loop = WavLoop{static_cast<std::uint32_t>(valid->first),
                       static_cast<std::uint32_t>(valid->second)};
    const int channels = static_cast<int>(info.channels);
    std::optional<WavFileWriter> wav;
    try {
        wav.emplace(open(channels, info.sampleRate, info.samples, loop));
    } catch (const WavTooLongError& e) {
        throw DecodeError("The stream " + name + " holds " + e.what() + ".");
    }
    std::size_t blocks = 0;
    bool stopped = false;
    DecodeBlocks(stream, info, name, [&](const std::int16_t* samples, std::size_t frames) {
        wav->Append(samples, frames);
        stopped = progress && !progress(++blocks);
        return !stopped;
    });
    // A stopped export leaves nothing: its temporary file goes with the writer.
    if (!stopped)
        wav->Commit();
}

}  // namespace

void ExportWav(const ByteSource& stream, const std::string& name, const std::string& wavPath,
               const std::function<bool(std::size_t)>& progress) {
    Export(
        stream, name,
        [&](int channels, std::int64_t rate, std::uint64_t frames, std::optional<WavLoop> loop) {
            return WavFileWriter(wavPath, channels, rate, frames, loop);
        },
        progress);
}

void ExportWav(const ByteSource& stream, const std::string& name, const Folder& folder,
               const std::string& wavName, const std::function<bool(std::size_t)>& progress) {
    Export(
        stream, name,
        [&](int channels, std::int64_t rate, std::uint64_t frames, std::optional<WavLoop> loop) {
            return WavFileWriter(folder, wavName, channels, rate, frames, loop);
        },
        progress);
}

std::string WavNameFor(const std::string& streamName) {
    const std::string ext = ".asf";
    if (streamName.size() > ext.size() &&
        streamName.compare(streamName.size() - ext.size(), ext.size(), ext) == 0)
        return streamName.substr(0, streamName.size() - ext.size()) + ".wav";
    return streamName + ".wav";
}

}  // namespace tamrel
