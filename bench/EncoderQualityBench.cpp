// The encoders against their yardsticks on the tests' sounds (a strummed
// chord, noise bursts, espeak-ng's speech; mono at 22,050 Hz): IMA against
// FFmpeg's IMA encoder at its widest trellis, with how many times real time
// ours runs, and MicroTalk 5:1 against 10:1. One line per sound and codec.
//   build/bench/tamrel_encoder_bench [SECONDS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "Signals.h"
#include "audio/ImaAdpcm.h"
#include "audio/MicroTalk.h"

namespace {

constexpr int kRate = 22050;

template <typename Run>
double Seconds(Run&& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// IMA as the stream encoder runs it, in blocks carrying the state.
std::vector<std::int16_t> ThroughIma(const std::vector<std::int16_t>& sound, double& seconds) {
    const std::vector<int> target(sound.begin(), sound.end());
    std::vector<std::uint8_t> codes(target.size());
    seconds = Seconds([&] {
        tamrel::adpcm::ImaState state;
        for (std::size_t at = 0; at < target.size(); at += 2048)
            tamrel::adpcm::ImaEncode(target.data() + at,
                                     std::min<std::size_t>(2048, target.size() - at), 1, state,
                                     codes.data() + at, tamrel::adpcm::kImaPaths);
    });
    tamrel::adpcm::ImaState decode;
    std::vector<std::int16_t> out;
    for (std::uint8_t code : codes)
        out.push_back(static_cast<std::int16_t>(tamrel::adpcm::ImaDecode(code, decode)));
    return out;
}

// One MicroTalk channel at the codec's own rate of bits, in blocks of 16 frames.
std::vector<std::int16_t> ThroughMicroTalk(const std::vector<std::int16_t>& sound, bool tenToOne) {
    using namespace tamrel::microtalk;
    ChannelEncoder encoder(tenToOne, kFrameSamples * 16 / (tenToOne ? 10 : 5));
    ChannelDecoder decoder;
    std::vector<std::int16_t> out(sound.size());
    for (std::size_t at = 0; at < sound.size(); at += 16 * kFrameSamples) {
        const auto count = static_cast<std::uint32_t>(
            std::min<std::size_t>(16 * kFrameSamples, sound.size() - at));
        const std::string bits = encoder.EncodeBlock(sound.data() + at, count, 1, false);
        decoder.DecodeBlock(reinterpret_cast<const unsigned char*>(bits.data()), bits.size(), count,
                            false, out.data() + at, 1);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::stod(argv[1]) : 10.0;
    for (const auto& [name, sound] : tamrel::test::EncoderSignals(kRate, seconds)) {
        const double length = static_cast<double>(sound.size()) / kRate;
        double took = 0;
        const double ours = tamrel::test::SnrDb(sound, ThroughIma(sound, took));
        const double theirs = tamrel::test::FfmpegImaSnr(sound, kRate);
        std::printf(
            "IMA, %-12s %5.1f s: ours %.2f dB, FFmpeg -trellis 8 %.2f dB: %+.2f dB; "
            "%.0f x real time\n",
            name.c_str(), length, ours, theirs, ours - theirs, length / took);
        const double ten = tamrel::test::SnrDb(sound, ThroughMicroTalk(sound, true));
        const double five = tamrel::test::SnrDb(sound, ThroughMicroTalk(sound, false));
        std::printf("MicroTalk, %-12s 5:1 %.2f dB, 10:1 %.2f dB: %+.2f dB\n", name.c_str(), five,
                    ten, five - ten);
    }
    return 0;
}
