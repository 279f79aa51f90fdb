// The sound features' costs: reading the details of 20,000 stream files,
// reading and decoding a ten-minute stream file (the reads it costs against
// its blocks: a megabyte a read), and decoding and encoding 32 kHz
// stereo; for the consoles' ADPCM codecs, export and replace of a 10-minute
// stereo stream at 32 kHz (coefficient fitting included), and what IMA's
// look-ahead gains over the greedy choice; MicroTalk's export and replace
// of ten minutes of mono at 22,050 Hz.
//   build/bench/tamrel_audio_bench
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "audio/ConsoleAdpcm.h"
#include "audio/Decoder.h"
#include "audio/Encoder.h"
#include "audio/ImaAdpcm.h"
#include "audio/StreamInfo.h"
#include "io/FaultInjection.h"
#include "io/FileIo.h"

namespace {

std::string U32(std::uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
}

std::string Block(const char* id, const std::string& payload) {
    return std::string(id, 4) + U32(static_cast<std::uint32_t>(8 + payload.size())) + payload;
}

// An R2 stream (PC, version 2) of `seconds` at 32 kHz in blocks of 1,120
// samples per channel, with random frames.
std::string R2Stream(int channels, int seconds, std::uint32_t seed) {
    std::mt19937 random(seed);
    const std::uint32_t perBlock = 1120, frames = perBlock / 28;
    const std::uint32_t blocks = static_cast<std::uint32_t>(seconds) * 32000 / perBlock;
    std::string header = "PT";
    header += std::string("\0\0\xFD\x80\x01\x02\x82\x01", 8);
    header += static_cast<char>(channels);
    header += std::string("\x84\x02\x7D\x00\xFF", 5);
    header.resize((header.size() + 3) / 4 * 4, '\0');
    std::string stream = Block("SCHl", header);
    for (std::uint32_t b = 0; b < blocks; ++b) {
        std::string payload = U32(perBlock);
        for (int c = 0; c < channels; ++c)
            payload += U32(static_cast<std::uint32_t>(c) * frames * 15);
        for (int c = 0; c < channels; ++c)
            for (std::uint32_t f = 0; f < frames; ++f) {
                payload += static_cast<char>((random() % 4) << 4 | (random() % 13));
                for (int i = 0; i < 14; ++i)
                    payload += static_cast<char>(random());
            }
        stream += Block("SCDl", payload);
    }
    return stream + Block("SCEl", "");
}

void ReadDetailsOf20000Files(benchmark::State& state) {
    // 20,000 stream files of 20 data blocks each, made once.
    static const std::string folder = [] {
        char pattern[] = "/tmp/tamrel-audio-bench-XXXXXX";
        const std::string dir = ::mkdtemp(pattern);
        for (int k = 0; k < 20000; ++k) {
            const std::string stream = R2Stream(2, 0, static_cast<std::uint32_t>(k));
            std::string withBlocks = stream.substr(0, stream.size() - 8);
            std::string payload = U32(28) + U32(0) + U32(15) + std::string(30, '\x12');
            for (int b = 0; b < 20; ++b)
                withBlocks += Block("SCDl", payload);
            withBlocks += Block("SCEl", "");
            std::FILE* f = std::fopen((dir + "/s" + std::to_string(k)).c_str(), "wb");
            std::fwrite(withBlocks.data(), 1, withBlocks.size(), f);
            std::fclose(f);
        }
        return dir;
    }();
    for (auto _ : state) {
        std::uint64_t samples = 0;
        for (int k = 0; k < 20000; ++k) {
            samples += tamrel::ReadStreamInfo(tamrel::FileSource(folder + "/s" + std::to_string(k)))
                           .samples;
        }
        benchmark::DoNotOptimize(samples);
    }
    // Blocks read per second (20 data blocks, the header and the end block
    // per file, the files' opening included): 1,000,000 / this is the cost
    // of a thousand blocks in milliseconds.
    state.counters["blocks/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * 20000 * 22, benchmark::Counter::kIsRate);
}
BENCHMARK(ReadDetailsOf20000Files)->Unit(benchmark::kMillisecond);

void Decode32kStereo(benchmark::State& state) {
    const int seconds = 60;
    const std::string stream = R2Stream(2, seconds, 1);
    const tamrel::MemorySource source(stream);
    const tamrel::StreamInfo info = tamrel::ReadStreamInfo(source);
    for (auto _ : state)
        benchmark::DoNotOptimize(tamrel::DecodeStream(source, info, "bench"));
    // Seconds of sound decoded per second: the times real time.
    state.counters["x real time"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * info.Duration(), benchmark::Counter::kIsRate);
}
BENCHMARK(Decode32kStereo)->Unit(benchmark::kMillisecond);

// A stream file of ten minutes (17,142 blocks) read and decoded from disk,
// as export and play read it: the reads the file costs, against its blocks.
void DecodeAStreamFile(benchmark::State& state) {
    static const std::string path = [] {
        char pattern[] = "/tmp/tamrel-audio-bench-file-XXXXXX";
        const std::string dir = ::mkdtemp(pattern);
        const std::string stream = R2Stream(2, 600, 2);
        std::FILE* f = std::fopen((dir + "/ten-minutes.asf").c_str(), "wb");
        std::fwrite(stream.data(), 1, stream.size(), f);
        std::fclose(f);
        return dir + "/ten-minutes.asf";
    }();
    double blocks = 0, reads = 0, seconds = 0;
    for (auto _ : state) {
        tamrel::SetIoFault(std::nullopt);  // the counts start again
        const tamrel::FileSource source(path);
        const tamrel::StreamInfo info = tamrel::ReadStreamInfo(source);
        std::uint64_t frames = 0;
        tamrel::DecodeBlocks(source, info, "bench", [&](const std::int16_t*, std::size_t n) {
            frames += n;
            return true;
        });
        benchmark::DoNotOptimize(frames);
        blocks = static_cast<double>(info.dataBlocks.size());
        reads = tamrel::IoCallCount(tamrel::IoOperation::Read);
        seconds = info.Duration();
    }
    state.counters["blocks"] = blocks;
    state.counters["reads"] = reads;
    state.counters["x real time"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * seconds, benchmark::Counter::kIsRate);
}
BENCHMARK(DecodeAStreamFile)->Unit(benchmark::kMillisecond);

void Encode32kStereo(benchmark::State& state) {
    // Ten seconds of a chord with noise, encoded as R2 stereo at 32 kHz.
    const int seconds = 10;
    const std::string old = R2Stream(2, 1, 2);
    const tamrel::StreamInfo info = tamrel::ReadStreamInfo(tamrel::MemorySource(old));
    std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds) * 32000 * 2);
    std::mt19937 random(5);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] =
            static_cast<std::int16_t>(8000 * std::sin(static_cast<double>(i / 2) * 0.0432) +
                                      6000 * std::sin(static_cast<double>(i / 2) * 0.0545) +
                                      static_cast<int>(random() % 600) - 300);
    for (auto _ : state)
        benchmark::DoNotOptimize(tamrel::EncodeStream(info, old, samples));
    state.counters["x real time"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * seconds, benchmark::Counter::kIsRate);
}
BENCHMARK(Encode32kStereo)->Unit(benchmark::kMillisecond);

// Music-like: harmonics over a stepping fundamental, notes, a little noise.
std::vector<std::int16_t> Music(int channels, int rate, int seconds) {
    std::mt19937 random(3);
    std::normal_distribution<double> noise(0.0, 60.0);
    const std::size_t frames = static_cast<std::size_t>(seconds) * static_cast<std::size_t>(rate);
    std::vector<std::int16_t> out(frames * static_cast<std::size_t>(channels));
    double phase = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate, note = std::fmod(t, 0.25);
        phase += 2 * M_PI * 110.0 * std::pow(2.0, std::fmod(std::floor(t * 4), 24.0) / 12.0) / rate;
        const double envelope = std::min(1.0, note * 100) * std::exp(-3.0 * note);
        for (int c = 0; c < channels; ++c) {
            double v = 0;
            for (int h = 1; h <= 5; ++h)
                v += std::sin(h * phase + c) / h;
            out[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
                static_cast<std::int16_t>(
                    std::clamp(7500 * envelope * v + noise(random), -32768.0, 32767.0));
        }
    }
    return out;
}

struct ConsoleCodec {
    const char* name;
    std::string header;  // SCHl payload after "PT"
};

// A stereo 32 kHz stream to replace, in each codec's own header.
std::string ConsoleStream(int index) {
    const std::string dsp = std::string("\x8F\x21") + std::string(33, '\0');
    const std::string n64 =
        std::string("\x8F\x28") + std::string("\0\0\0\x02\0\0\0\x01", 8) + std::string(32, '\0');
    const std::string common("\x82\x01\x02\x84\x02\x7D\x00", 7);
    const std::string headers[] = {
        std::string("\x01\x00", 2) + common,              // PS-ADPCM, PSX
        std::string("\x00\x00\x83\x01\x02", 5) + common,  // IMA
        std::string("\x07\x00\xA0\x01\x14", 5) + common,  // Xbox IMA
        std::string("\x10\x00", 2) + common + dsp + std::string("\x90\x21") +
            std::string(33, '\0'),                                                           // DSP
        std::string("\x02\x00\x80\x01\x01", 5) + common + n64 + "\x90\x28" + n64.substr(2),  // N64
    };
    std::string payload = "PT" + headers[index] + "\xFF";
    payload.resize((payload.size() + 3) / 4 * 4, '\0');
    const bool be = index >= 3;
    std::string count = be ? std::string("\0\0\x08\0", 4) : U32(2048);
    return Block("SCHl", payload) + Block("SCDl", count + std::string(8 + 2400, '\0')) +
           Block("SCEl", "");
}

const std::vector<std::int16_t>& TenMinutes() {
    static const std::vector<std::int16_t> music = Music(2, 32000, 600);
    return music;
}

// Replace: the old stream's kind, the sound encoded anew, in times real time.
void MeasureReplace(benchmark::State& state, const std::string& old,
                    const std::vector<std::int16_t>& sound, double seconds) {
    const tamrel::StreamInfo info = tamrel::ReadStreamInfo(tamrel::MemorySource(old));
    state.SetLabel(info.CodecName());
    for (auto _ : state)
        benchmark::DoNotOptimize(tamrel::EncodeStream(info, old, sound));
    state.counters["x real time"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * seconds, benchmark::Counter::kIsRate);
}

// Export: the stream of that sound decoded block by block.
void MeasureExport(benchmark::State& state, const std::string& old,
                   const std::vector<std::int16_t>& sound) {
    const std::string stream =
        tamrel::EncodeStream(tamrel::ReadStreamInfo(tamrel::MemorySource(old)), old, sound);
    const tamrel::MemorySource source(stream);
    const tamrel::StreamInfo info = tamrel::ReadStreamInfo(source);
    state.SetLabel(info.CodecName());
    for (auto _ : state) {
        std::uint64_t frames = 0;
        tamrel::DecodeBlocks(source, info, "bench", [&](const std::int16_t*, std::size_t n) {
            frames += n;
            return true;
        });
        benchmark::DoNotOptimize(frames);
    }
    state.counters["x real time"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * info.Duration(), benchmark::Counter::kIsRate);
}

void ReplaceConsoleCodec(benchmark::State& state) {
    MeasureReplace(state, ConsoleStream(static_cast<int>(state.range(0))), TenMinutes(), 600);
}
BENCHMARK(ReplaceConsoleCodec)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->Iterations(1);

void ExportConsoleCodec(benchmark::State& state) {
    MeasureExport(state, ConsoleStream(static_cast<int>(state.range(0))), TenMinutes());
}
BENCHMARK(ExportConsoleCodec)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->Iterations(3);

// IMA: the SNR of the greedy choice and of the encoder's small trellis on
// 20 seconds of the music-like signal, mono at 22,050 Hz.
void ImaLookAheadGain(benchmark::State& state) {
    const auto music = Music(1, 22050, 20);
    const std::vector<int> target(music.begin(), music.end());
    auto snr = [&](int beam) {
        tamrel::adpcm::ImaState encode, decode;
        std::vector<std::uint8_t> codes(target.size());
        tamrel::adpcm::ImaEncode(target.data(), target.size(), 1, encode, codes.data(), beam);
        double signal = 0, error = 0;
        for (std::size_t i = 0; i < codes.size(); ++i) {
            const double d = tamrel::adpcm::ImaDecode(codes[i], decode) - target[i];
            signal += double(target[i]) * target[i];
            error += d * d;
        }
        return 10 * std::log10(signal / error);
    };
    double greedy = 0, trellis = 0;
    for (auto _ : state) {
        greedy = snr(0);
        trellis = snr(tamrel::adpcm::kImaPaths);
    }
    state.counters["greedy dB"] = greedy;
    state.counters["look-ahead dB"] = trellis;
}
BENCHMARK(ImaLookAheadGain)->Unit(benchmark::kMillisecond)->Iterations(1);

// MicroTalk 10:1 (0) and 5:1 (1), mono at 22,050 Hz: replace and export of
// ten minutes of the music-like signal (speech is what it is made for, but
// the cost does not depend on the sound).
std::string MicroTalkStream(int kind) {
    std::string payload = "PT" + std::string("\x05\x00\x80\x01\x01\xA0\x01", 7) +
                          std::string(1, kind == 0 ? '\x04' : '\x16') + "\xFF";
    payload.resize((payload.size() + 3) / 4 * 4, '\0');
    return Block("SCHl", payload) + Block("SCDl", U32(432) + U32(0) + std::string(100, '\0')) +
           Block("SCEl", "");
}

const std::vector<std::int16_t>& TenMinutesMono() {
    static const std::vector<std::int16_t> music = Music(1, 22050, 600);
    return music;
}

void ReplaceMicroTalk(benchmark::State& state) {
    MeasureReplace(state, MicroTalkStream(static_cast<int>(state.range(0))), TenMinutesMono(), 600);
}
BENCHMARK(ReplaceMicroTalk)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->Iterations(1);

void ExportMicroTalk(benchmark::State& state) {
    MeasureExport(state, MicroTalkStream(static_cast<int>(state.range(0))), TenMinutesMono());
}
BENCHMARK(ExportMicroTalk)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->Iterations(3);

// MPEG Layer II (0) and III (1), stereo at 44,100 Hz: replace and export of
// ten minutes. The stream to replace is made by this program's own encoder
// from a first stream whose one frame gives the bitrate (192 kbit/s).
std::string MpegStream(int kind) {
    std::string payload =
        "PT" + std::string("\x00\x00\x80\x01\x01\x82\x01\x02\x84\x02\xAC\x44\xA0\x01", 14) +
        std::string(1, kind == 0 ? '\x0F' : '\x10') + "\xFF";
    payload.resize((payload.size() + 3) / 4 * 4, '\0');
    // One frame header (MPEG-1, the layer, 192 kbit/s, 44100 Hz, stereo) and silence.
    const int bytes = 144 * 192000 / 44100;
    std::string frame = std::string(1, '\xFF') + std::string(1, kind == 0 ? '\xFD' : '\xFB') +
                        "\xA0" + std::string(1, '\x00');
    frame.resize(static_cast<std::size_t>(bytes), '\0');
    std::string data = U32(0) + U32(0) + U32(0) + frame;
    data.resize((data.size() + 3) / 4 * 4, '\0');
    return Block("SCHl", payload) + Block("SCDl", data) + Block("SCEl", "");
}

const std::vector<std::int16_t>& TenMinutes44k() {
    static const std::vector<std::int16_t> music = Music(2, 44100, 600);
    return music;
}

void ReplaceMpeg(benchmark::State& state) {
    MeasureReplace(state, MpegStream(static_cast<int>(state.range(0))), TenMinutes44k(), 600);
}
BENCHMARK(ReplaceMpeg)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->Iterations(1);

void ExportMpeg(benchmark::State& state) {
    MeasureExport(state, MpegStream(static_cast<int>(state.range(0))), TenMinutes44k());
}
BENCHMARK(ExportMpeg)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
