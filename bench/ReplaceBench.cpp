// Makes what bench/replace.sh measures: a pair whose first stream is XA
// ADPCM R2 stereo at 32000 Hz, and a music-like WAV file of the given length
// at 44100 Hz stereo, written as it is made so that even an hour costs no
// memory here.
//
//   tamrel_replace_bench make DIR MINUTES   (writes DIR/music.ast, .abk, DIR/in.wav)
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "audio/Wav.h"

namespace {

std::string U32(std::uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
}

std::string Block(const char* id, std::string payload) {
    payload.resize((payload.size() + 3) / 4 * 4, '\0');
    return std::string(id, 4) + U32(static_cast<std::uint32_t>(8 + payload.size())) + payload;
}

// An R2 stereo stream (PC, version 2) at 32000 Hz of ten blocks of 1,120
// samples per channel, silent.
std::string R2Stream() {
    std::string header = "PT";
    header +=
        std::string("\0\0\xFD\x80\x01\x02\x82\x01\x02\x84\x02\x7D\x00\x85\x02\x2B\xC0\xFF", 18);
    std::string stream = Block("SCHl", header);
    for (int b = 0; b < 10; ++b) {
        std::string payload = U32(1120) + U32(0) + U32(40 * 15);
        for (int f = 0; f < 80; ++f)
            payload += std::string(1, '\x0C') + std::string(14, '\0');
        stream += Block("SCDl", payload);
    }
    return stream + Block("SCEl", "");
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() ||
        std::fclose(f) != 0) {
        std::cerr << "cannot write " << path << "\n";
        std::exit(1);
    }
}

int Make(const std::string& dir, double minutes) {
    const std::string first = R2Stream();
    const std::string second = Block("SCHl", "PT\0\0\xFF") + Block("SCEl", "");
    WriteFile(dir + "/music.ast", first + second);
    WriteFile(dir + "/music.abk", std::string(16, '\x11') +
                                      U32(static_cast<std::uint32_t>(first.size())) +
                                      std::string(16, '\x11'));
    // A chord with a slow envelope and some noise, like music.
    const int rate = 44100;
    const auto frames = static_cast<std::uint64_t>(minutes * 60 * rate);
    tamrel::WavFileWriter wav(dir + "/in.wav", 2, rate, frames, std::nullopt);
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 200.0);
    std::vector<std::int16_t> chunk;
    for (std::uint64_t at = 0; at < frames;) {
        chunk.clear();
        const std::uint64_t n = std::min<std::uint64_t>(65536, frames - at);
        for (std::uint64_t i = at; i < at + n; ++i) {
            const double t = static_cast<double>(i) / rate;
            const double envelope = 0.6 + 0.4 * std::sin(t * 0.7);
            for (int c = 0; c < 2; ++c)
                chunk.push_back(static_cast<std::int16_t>(
                    envelope * 5000 *
                        (std::sin(6.2832 * 220 * t + c) + std::sin(6.2832 * 330 * t) +
                         std::sin(6.2832 * (440 + 3 * std::sin(t)) * t)) +
                    noise(random)));
        }
        wav.Append(chunk.data(), static_cast<std::size_t>(n));
        at += n;
    }
    wav.Commit();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "make")
        return Make(argv[2], std::atof(argv[3]));
    std::cerr << "usage: tamrel_replace_bench make DIR MINUTES\n";
    return 2;
}
