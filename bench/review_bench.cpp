// Reviewing large WinDaq recordings: the time from opening a file to its
// overview (the min-max summary built in one pass), and the time to extract
// one redraw's columns at several zooms. The files are made on demand in the
// temp folder and removed afterwards.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "base/MarkerTable.h"
#include "recording/MinMaxPyramid.h"
#include "recording/OutputFile.h"
#include "recording/WdqFileReader.h"
#include "recording/WdqWriter.h"

namespace {

using namespace tamix;

constexpr int kChannels = 8;
constexpr int kColumns = 1600;

// A closed recording of about `bytes` bytes of eight slow waves.
std::string MakeRecording(uint64_t bytes) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("tamix-review-bench-" + std::to_string(::getpid()) + "-" +
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
    for (int64_t s = 0; ok && s < scans; s += scansPerChunk) {
        const int64_t count = std::min(scansPerChunk, scans - s);
        for (int64_t i = 0; i < count; ++i) {
            for (int k = 0; k < kChannels; ++k) {
                const auto v = static_cast<int16_t>(((s + i) * (k + 1) * 7) % 60000 - 30000);
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

// Open and summarise; the file stays in the page cache after the first pass,
// as it does when a review window opens a file just recorded.
void BM_OpenToOverview(benchmark::State& state) {
    const uint64_t bytes = static_cast<uint64_t>(state.range(0)) << 30;
    const std::string path = MakeRecording(bytes);
    std::size_t memory = 0;
    for (auto _ : state) {
        std::string error;
        auto reader = WdqFileReader::Open(path, error);
        MinMaxPyramid pyramid;
        if (!reader || !pyramid.Build(*reader, {}, error)) state.SkipWithError(error.c_str());
        memory = pyramid.MemoryBytes();
        benchmark::DoNotOptimize(memory);
    }
    state.counters["summary_MiB"] = static_cast<double>(memory) / (1 << 20);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    std::filesystem::remove(path);
}
BENCHMARK(BM_OpenToOverview)
    ->Arg(1)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();

// One redraw of kColumns columns over 1/zoom of a 1 GiB recording.
void BM_RedrawRange(benchmark::State& state) {
    // Made once for all zooms, removed at exit.
    static const struct Recording {
        std::string path = MakeRecording(uint64_t{1} << 30);
        ~Recording() { std::filesystem::remove(path); }
    } recording;
    const std::string& path = recording.path;
    std::string error;
    auto reader = WdqFileReader::Open(path, error);
    MinMaxPyramid pyramid;
    if (!reader || !pyramid.Build(*reader, {}, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    const int64_t scans = reader->Info().scanCount;
    const int64_t span = std::max<int64_t>(scans / state.range(0), kColumns);
    std::vector<MinMax> columns(static_cast<std::size_t>(kColumns) * kChannels);
    int64_t start = 0;
    for (auto _ : state) {
        // Scroll through the file so that each redraw reads other scans.
        start = (start + span / 3 + 12345) % (scans - span + 1);
        if (!pyramid.Columns(*reader, start, start + span, kColumns, columns)) {
            state.SkipWithError("columns failed");
        }
        benchmark::DoNotOptimize(columns.data());
    }
    state.counters["scans_per_column"] = static_cast<double>(span) / kColumns;
}
BENCHMARK(BM_RedrawRange)
    ->Arg(1)
    ->Arg(100)
    ->Arg(10000)
    ->Arg(1000000)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
