// Feeds arbitrary bytes to the stream reader and every decoder, as a damaged
// download or an old disc would: no read outside the given bytes, no hang,
// and either as many samples as the blocks declare or a clear error. What
// decodes is then written as WAV bytes, and encoded again in the stream's own
// format and decoded back: the round trip of a replacement, on any header.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "audio/Decoder.h"
#include "audio/Encoder.h"
#include "audio/StreamInfo.h"
#include "audio/Wav.h"

namespace {

// Encodes the samples in the stream's own kind and decodes them back: the
// same number of samples, or the encoder's clear refusal.
void RoundTrip(const tamrel::StreamInfo& info, std::string_view bytes,
               const std::vector<std::int16_t>& samples) {
    if (!info.Encodable())
        return;
    std::string stream;
    try {
        stream = tamrel::EncodeStream(info, bytes, samples);
    } catch (const tamrel::EncodeError&) {
        return;
    }
    const tamrel::MemorySource written(stream);
    const tamrel::StreamInfo back = tamrel::ReadStreamInfo(written);
    if (!back.problems.empty())
        std::abort();  // the encoder writes only what its reader takes
    const auto channels = static_cast<std::uint64_t>(info.channels);
    if (tamrel::DecodeStream(written, back, "again").size() != samples.size() / channels * channels)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A copy of exactly these bytes, so that reading one past them is caught.
    const std::vector<char> bytes(data, data + size);
    const std::string_view view(bytes.data(), bytes.size());
    const tamrel::MemorySource source(view);
    const tamrel::StreamInfo info = tamrel::ReadStreamInfo(source);
    if (!info.hasHeader && info.problems.empty())
        std::abort();  // a stream without a header says so
    std::uint64_t declared = 0;
    for (const tamrel::StreamBlock& block : info.dataBlocks) {
        if (block.offset + block.size > size)
            std::abort();  // a block the walk accepted lies inside the stream
        declared += block.samples;
    }
    if (declared != info.samples)
        std::abort();
    if (!info.Playable())
        return 0;
    std::vector<std::int16_t> samples;
    try {
        samples = tamrel::DecodeStream(source, info, "fuzz");
        if (samples.size() != info.samples * static_cast<std::uint64_t>(info.channels))
            std::abort();
    } catch (const tamrel::DecodeError&) {
        return 0;
    }
    const auto loop = info.ValidLoop();
    const std::string wav =
        tamrel::WavBytes(samples, static_cast<int>(info.channels), info.sampleRate,
                         loop ? std::optional<tamrel::WavLoop>(
                                    tamrel::WavLoop{static_cast<std::uint32_t>(loop->first),
                                                    static_cast<std::uint32_t>(loop->second)})
                              : std::nullopt);
    if (wav.size() != 44 + samples.size() * 2 + (loop ? 68 : 0))
        std::abort();
    RoundTrip(info, view, samples);
    return 0;
}
