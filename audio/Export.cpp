#include "audio/Export.h"

#include "audio/Decoder.h"
#include "audio/Wav.h"

namespace tamrel {

void ExportWav(const ByteSource& stream, const std::string& name, const std::string& wavPath,
               const std::function<bool(std::size_t)>& progress) {
    const StreamInfo info = ReadStreamInfo(stream);
    const std::vector<std::int16_t> samples = DecodeStream(stream, info, name, progress);
    std::optional<WavLoop> loop;
    if (info.loopStart && info.loopEnd && *info.loopEnd > *info.loopStart)
        loop = WavLoop{*info.loopStart, *info.loopEnd};
    WriteWavFile(wavPath, samples, info.channels, info.sampleRate, loop);
}

std::string WavNameFor(const std::string& streamName) {
    const std::string ext = ".asf";
    if (streamName.size() > ext.size() &&
        streamName.compare(streamName.size() - ext.size(), ext.size(), ext) == 0)
        return streamName.substr(0, streamName.size() - ext.size()) + ".wav";
    return streamName + ".wav";
}

}  // namespace tamrel
