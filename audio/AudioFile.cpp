#include "audio/AudioFile.h"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

namespace tamrel {

namespace {

struct SndFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndFile = std::unique_ptr<SNDFILE, SndFileCloser>;

// True when the file's samples are whole 16-bit values or fewer bits.
bool AtMost16Bits(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_16:
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
            return true;
        default:
            return false;
    }
}

// Reduces samples of -1..1 to 16 bits with triangular dither of one step.
std::vector<std::int16_t> ToInt16Dithered(const std::vector<float>& in) {
    std::vector<std::int16_t> out(in.size());
    std::mt19937 random(0x5EED);
    std::uniform_real_distribution<float> uniform(0.0f, 1.0f);
    for (std::size_t i = 0; i < in.size(); ++i) {
        const float dither = uniform(random) - uniform(random);
        const float v = std::round(in[i] * 32768.0f + dither);
        out[i] = static_cast<std::int16_t>(std::clamp(v, -32768.0f, 32767.0f));
    }
    return out;
}

}  // namespace

const char* ReadableAudioPatterns() {
    return "*.wav;*.flac;*.ogg;*.oga;*.opus;*.mp3;*.aif;*.aiff";
}

PcmAudio ReadAudioFileAs(const std::string& path, int rate, int channels) {
    SF_INFO info{};
    SndFile file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file)
        throw AudioFileError("Cannot read the audio file " + path + ": " + sf_strerror(nullptr));
    if (info.channels < 1 || info.samplerate < 1)
        throw AudioFileError("Cannot read the audio file " + path + ": it holds no sound");
    const auto frames = static_cast<std::size_t>(std::max<sf_count_t>(info.frames, 0));
    const auto inChannels = static_cast<std::size_t>(info.channels);
    const auto outChannels = static_cast<std::size_t>(channels);
    PcmAudio out;
    out.channels = channels;
    out.rate = rate;

    // Whole 16-bit values that need no resampling and no mixing stay as they are.
    const bool duplicateOnly = inChannels == outChannels || inChannels == 1;
    if (AtMost16Bits(info.format) && info.samplerate == rate && duplicateOnly) {
        std::vector<short> in(frames * inChannels);
        const sf_count_t read =
            sf_readf_short(file.get(), in.data(), static_cast<sf_count_t>(frames));
        in.resize(static_cast<std::size_t>(std::max<sf_count_t>(read, 0)) * inChannels);
        const std::size_t n = in.size() / inChannels;
        out.samples.resize(n * outChannels);
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t c = 0; c < outChannels; ++c)
                out.samples[i * outChannels + c] = in[i * inChannels + (inChannels == 1 ? 0 : c)];
        return out;
    }

    std::vector<float> in(frames * inChannels);
    const sf_count_t read = sf_readf_float(file.get(), in.data(), static_cast<sf_count_t>(frames));
    const std::size_t n = static_cast<std::size_t>(std::max<sf_count_t>(read, 0));
    // The channels: mono duplicated, mono made by averaging, or the first ones taken.
    std::vector<float> mixed(n * outChannels);
    for (std::size_t i = 0; i < n; ++i) {
        const float* frame = &in[i * inChannels];
        for (std::size_t c = 0; c < outChannels; ++c) {
            float v = 0;
            if (outChannels == 1) {
                for (std::size_t k = 0; k < inChannels; ++k)
                    v += frame[k];
                v /= static_cast<float>(inChannels);
            } else {
                v = frame[std::min(c, inChannels - 1)];
            }
            mixed[i * outChannels + c] = v;
        }
    }
    std::vector<float> resampled;
    if (info.samplerate == rate) {
        resampled = std::move(mixed);
    } else {
        const double ratio = static_cast<double>(rate) / info.samplerate;
        resampled.resize(static_cast<std::size_t>(std::ceil(static_cast<double>(n) * ratio)) *
                             outChannels +
                         outChannels);
        std::size_t done = 0;
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_error_t error = soxr_oneshot(
            info.samplerate, rate, static_cast<unsigned>(outChannels), mixed.data(), n, nullptr,
            resampled.data(), resampled.size() / outChannels, &done, &io, &quality, nullptr);
        if (error)
            throw AudioFileError("Cannot convert the audio file " + path + ": " + error);
        resampled.resize(done * outChannels);
    }
    out.samples = ToInt16Dithered(resampled);
    return out;
}

}  // namespace tamrel
