// Statistics of spans of a large WinDaq recording once its overview exists,
// and the overview's build with and without the sums that make them fast:
// its time and its memory. The files are made on demand in the temp folder
// and removed at exit.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "base/MarkerTable.h"
#include "recording/MinMaxPyramid.h"
#include "recording/OutputFile.h"
#include "recording/SpanStatistics.h"
#include "recording/WdqFileReader.h"
#include "recording/WdqWriter.h"

namespace {

using namespace tamix;

constexpr int kChannels = 8;

// A closed recording of about `bytes` bytes of eight waves and some noise.
std::string MakeRecording(uint64_t bytes) {
    std::string path = (std::filesystem::temp_directory_path() /
                        ("tamix-stats-bench-" + std::to_string(::getpid()) + "-" +
                         std::to_string(bytes >> 20) + ".wdq"))
                           .string();
    const auto scans = static_cast<int64_t>(bytes / (2 * kChannels));
    std::array<ChannelInfo, kChannels> channels{};
    std::string error;
    auto file = DefaultFileOpener().Create(path, error);
    std::array<uint8_t, kWdqHeaderBytes> header{};
    BuildWdqHeader(header, scans, kChannels, 0.001, channels, 1700000000);
    bool ok = file && file->Write(header.data(), header.size());
    std::vector<uint8_t> chunk(1 << 20);
    const int64_t scansPerChunk = static_cast<int64_t>(chunk.size()) / (2 * kChannels);
    std::minstd_rand noise(1);
    for (int64_t s = 0; ok && s < scans; s += scansPerChunk) {
        const int64_t count = std::min(scansPerChunk, scans - s);
        for (int64_t i = 0; i < count; ++i) {
            for (int k = 0; k < kChannels; ++k) {
                const auto v = static_cast<int16_t>(((s + i) * (k + 1) * 7) % 60000 - 30000 +
                                                    static_cast<int>(noise() % 64));
                PutWdqSample(&chunk[static_cast<std::size_t>((i * kChannels + k) * 2)], v);
            }
        }
        ok = file->Write(chunk.data(), static_cast<std::size_t>(count * 2 * kChannels));
    }
    auto markers = std::make_unique<MarkerTable>();
    ok = ok && WriteWdqTrailer(*file, *markers, 1, channels, 1700000000) &&
         PatchWdqDataSize(*file, static_cast<uint64_t>(scans) * 2 * kChannels) && file->Close();
    if (!ok) std::fprintf(stderr, "cannot make %s: %s\n", path.c_str(), error.c_str());
    return path;
}

// Each size (in MiB) is made once for every benchmark that needs it.
const std::string& Recording(int64_t mib) {
    static struct Files {
        std::map<int64_t, std::string> paths;
        ~Files() {
            for (const auto& [size, path] : paths) std::filesystem::remove(path);
        }
    } files;
    auto& path = files.paths[mib];
    if (path.empty()) path = MakeRecording(static_cast<uint64_t>(mib) << 20);
    return path;
}

// The overview's build from a file in the page cache, with (range(1) == 1)
// and without its sums.
void BM_OverviewBuild(benchmark::State& state) {
    const std::string& path = Recording(state.range(0));
    std::size_t memory = 0;
    for (auto _ : state) {
        std::string error;
        auto reader = WdqFileReader::Open(path, error);
        MinMaxPyramid pyramid(9, state.range(1) != 0);
        if (!reader || !pyramid.Build(*reader, {}, error)) state.SkipWithError(error.c_str());
        memory = pyramid.MemoryBytes() + pyramid.SumBytes();
        benchmark::DoNotOptimize(memory);
    }
    state.counters["overview_MiB"] = static_cast<double>(memory) / (1 << 20);
    state.SetBytesProcessed(state.iterations() * (state.range(0) << 20));
}
BENCHMARK(BM_OverviewBuild)
    ->ArgNames({"MiB", "sums"})
    ->ArgsProduct({{4096}, {0, 1, 0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// Statistics of all eight channels over random spans (from one scan to the
// whole recording, lengths spread evenly on a log scale), the frequency
// estimate included.
void BM_SpanStatistics(benchmark::State& state) {
    const std::string& path = Recording(state.range(0));
    std::string error;
    auto reader = WdqFileReader::Open(path, error);
    MinMaxPyramid overview;
    if (!reader || !overview.Build(*reader, {}, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    const int64_t scans = reader->Info().scanCount;
    const std::vector<std::size_t> channels = {0, 1, 2, 3, 4, 5, 6, 7};
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> logLength(0, std::log(static_cast<double>(scans)));
    SpanStatistics stats;
    for (auto _ : state) {
        const auto length = std::max<int64_t>(1, static_cast<int64_t>(std::exp(logLength(rng))));
        const int64_t first =
            static_cast<int64_t>(rng() % static_cast<uint64_t>(scans - length + 1));
        if (!ComputeSpanStatistics(*reader, overview, first, first + length, channels, stats,
                                   error)) {
            state.SkipWithError(error.c_str());
        }
        benchmark::DoNotOptimize(stats.channels.data());
    }
}
BENCHMARK(BM_SpanStatistics)->ArgName("MiB")->Arg(4096)->Unit(benchmark::kMillisecond);

// The same over the whole recording, the longest span there is.
void BM_WholeRecordingStatistics(benchmark::State& state) {
    const std::string& path = Recording(state.range(0));
    std::string error;
    auto reader = WdqFileReader::Open(path, error);
    MinMaxPyramid overview;
    if (!reader || !overview.Build(*reader, {}, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    const std::vector<std::size_t> channels = {0, 1, 2, 3, 4, 5, 6, 7};
    SpanStatistics stats;
    for (auto _ : state) {
        if (!ComputeSpanStatistics(*reader, overview, 1, reader->Info().scanCount - 1, channels,
                                   stats, error)) {
            state.SkipWithError(error.c_str());
        }
        benchmark::DoNotOptimize(stats.channels.data());
    }
}
BENCHMARK(BM_WholeRecordingStatistics)->ArgName("MiB")->Arg(4096)->Unit(benchmark::kMillisecond);

}  // namespace
