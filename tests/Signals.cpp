#include "Signals.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <stdexcept>

#include "Ffmpeg.h"
#include "TestFiles.h"
#include "audio/Wav.h"

namespace tamrel::test {

namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<std::int16_t> Chord(int rate, double seconds) {
    const auto n = static_cast<std::size_t>(seconds * rate);
    std::vector<std::int16_t> out(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double stroke = std::exp(-3.0 * std::fmod(t, 0.75));
        double v = 0;
        for (const double hz : {220.0, 277.18, 329.63})
            v += std::sin(2 * kPi * hz * t) + 0.3 * std::sin(4 * kPi * hz * t);
        out[i] = static_cast<std::int16_t>(std::lround(5000 * stroke * v));
    }
    return out;
}

// A quarter second of noise, a quarter of silence, in turn; the same noise
// every time.
std::vector<std::int16_t> NoiseBursts(int rate, double seconds) {
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 4000.0);
    const auto n = static_cast<std::size_t>(seconds * rate);
    std::vector<std::int16_t> out(n);
    for (std::size_t i = 0; i < n; ++i) {
        const bool on = (i * 4 / static_cast<std::size_t>(rate)) % 2 == 0;
        const double v = noise(random);
        out[i] = on ? static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0)) : 0;
    }
    return out;
}

std::vector<std::int16_t> Speech(int rate, double seconds) {
    TempDir dir;
    const std::string spoken = dir / "spoken.wav", at = dir / "at.wav";
    const std::string command = "espeak-ng -w '" + spoken +
                                "' 'The music and the speech of the game, replaced and heard "
                                "before a byte of it is written.' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("espeak-ng could not speak (is it installed?)");
    FfmpegConvert(spoken, at, "-ar " + std::to_string(rate) + " -ac 1");
    std::vector<std::int16_t> samples = FfmpegSamples(at);
    samples.resize(std::min(samples.size(), static_cast<std::size_t>(seconds * rate)));
    return samples;
}

}  // namespace

std::vector<NamedSignal> EncoderSignals(int rate, double seconds) {
    return {{"chord", Chord(rate, seconds)},
            {"noise bursts", NoiseBursts(rate, seconds)},
            {"speech", Speech(rate, seconds)}};
}

double SnrDb(const std::vector<std::int16_t>& reference, const std::vector<std::int16_t>& decoded) {
    double signal = 0, error = 0;
    const std::size_t n = std::min(reference.size(), decoded.size());
    for (std::size_t i = 0; i < n; ++i) {
        signal += double(reference[i]) * reference[i];
        const double d = double(reference[i]) - decoded[i];
        error += d * d;
    }
    return error == 0 ? 999.0 : 10 * std::log10(signal / error);
}

double FfmpegImaSnr(const std::vector<std::int16_t>& samples, int rate) {
    TempDir dir;
    WriteWavFile(dir / "in.wav", samples, 1, rate, std::nullopt);
    FfmpegConvert(dir / "in.wav", dir / "ima.wav", "-c:a adpcm_ima_wav -trellis 8");
    return SnrDb(samples, FfmpegSamples(dir / "ima.wav"));
}

}  // namespace tamrel::test
