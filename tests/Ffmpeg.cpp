#include "Ffmpeg.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include "TestFiles.h"

namespace tamrel::test {

namespace {

std::string Output(const std::string& command) {
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        throw std::runtime_error("cannot run " + command);
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    if (::pclose(pipe) != 0)
        throw std::runtime_error("failed: " + command + "\n" + out);
    return out;
}

}  // namespace

std::vector<std::int16_t> FfmpegSamples(const std::string& path) {
    const std::string bytes = Output("ffmpeg -nostdin -v error -i '" + path +
                                     "' -f s16le -acodec pcm_s16le - 2>/dev/null");
    std::vector<std::int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                               static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    return samples;
}

void FfmpegConvert(const std::string& in, const std::string& out, const std::string& options) {
    Output("ffmpeg -nostdin -v error -y -i '" + in + "' " + options + " '" + out + "' 2>&1");
}

FfprobeFacts Ffprobe(const std::string& path) {
    FfprobeFacts facts;
    std::istringstream lines(
        Output("ffprobe -v error -show_entries stream=channels,sample_rate:packet=duration "
               "-of default=noprint_wrappers=1 '" +
               path + "'"));
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("channels=", 0) == 0)
            facts.channels = std::stoi(line.substr(9));
        if (line.rfind("sample_rate=", 0) == 0)
            facts.sampleRate = std::stoi(line.substr(12));
        if (line.rfind("duration=", 0) == 0 && line != "duration=N/A")
            facts.samples += std::stoull(line.substr(9));
    }
    return facts;
}

}  // namespace tamrel::test
