// The stream search over an archive of 512 MiB with 20,000 streams.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "QuietWindow.h"
#include "archive/pair/FindAllOccurrences.h"

namespace {

// Audio-like noise (every byte value, so the first byte of the pattern turns
// up about every 256 bytes) with the pattern planted at even spacing.
const std::string& Archive() {
    static const std::string archive = [] {
        constexpr std::size_t kSize = std::size_t{512} << 20;
        constexpr std::size_t kStreams = 20000;
        std::string bytes(kSize, '\0');
        std::uint64_t state = 0x9E3779B97F4A7C15ull;
        for (std::size_t i = 0; i + 8 <= kSize; i += 8) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            std::memcpy(bytes.data() + i, &state, 8);
        }
        for (std::size_t k = 0; k < kStreams; ++k)
            std::memcpy(bytes.data() + k * (kSize / kStreams), "SCHl", 4);
        return bytes;
    }();
    return archive;
}

void BM_FindStreamsIn512MiB(benchmark::State& state) {
    const std::string& archive = Archive();
    tamrel::bench::QuietWindow window;
    tamrel::ArrInt offsets;
    for (auto _ : state) {
        tamrel::FindAllOccurrences(archive, "SCHl", true, offsets, window);
        benchmark::DoNotOptimize(offsets.data());
    }
    state.counters["streams"] = static_cast<double>(offsets.size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(archive.size()));
}
BENCHMARK(BM_FindStreamsIn512MiB)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
