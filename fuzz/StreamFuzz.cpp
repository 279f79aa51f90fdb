// Feeds arbitrary bytes to the stream reader and every decoder, as a damaged
// download or an old disc would: no read outside the given bytes, no hang,
// and either as many samples as the blocks declare or a clear error.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "audio/Decoder.h"
#include "audio/StreamInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A copy of exactly these bytes, so that reading one past them is caught.
    const std::vector<char> bytes(data, data + size);
    const tamrel::MemorySource source(std::string_view(bytes.data(), bytes.size()));
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
    if (!tamrel::CanDecode(info))
        return 0;
    try {
        const std::vector<std::int16_t> samples = tamrel::DecodeStream(source, info, "fuzz");
        if (samples.size() != info.samples * static_cast<std::uint64_t>(info.channels))
            std::abort();
    } catch (const tamrel::DecodeError&) {
    }
    return 0;
}
