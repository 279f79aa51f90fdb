// The stream search over an archive of 512 MiB with 20,000 streams.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "archive/FindAllOccurrences.h"
#include "archive/WindowServices.h"

namespace {

// A window that does nothing, as a command running without one would see it.
class QuietWindow : public tamrel::WindowServices {
public:
    void WarningBox(const std::string&, const std::string&) override {}
    void InformationBox(const std::string&, const std::string&) override {}
    void SetStatusPanel(int, const std::string&) override {}
    void SetProgressMin(std::int32_t) override {}
    void SetProgressMax(std::int32_t) override {}
    void SetProgressPosition(std::int32_t value) override { benchmark::DoNotOptimize(value); }
    void Busy() override {}
    void Idle() override {}
    void DisableWindow() override {}
    void EnableWindow() override {}
    void PumpEvents() override {}
    void Repaint() override {}
    std::optional<std::string> FileOpenDialog(const std::string&) override { return {}; }
    std::optional<std::string> FolderSelectionDialog() override { return {}; }
};

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
    QuietWindow window;
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
