// Reviewing large WinDaq recordings: the time from opening a file to its
// overview (the min-max summary built in one pass), and the time to extract
// one redraw's columns at several zooms and while panning. The files are made
// on demand in the temp folder and removed at exit.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
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
    std::string path = (std::filesystem::temp_directory_path() /
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

// Each size is made once for every benchmark that needs it.
const std::string& Recording(int gib) {
    static struct Files {
        std::map<int, std::string> paths;
        ~Files() {
            for (const auto& [size, path] : paths) std::filesystem::remove(path);
        }
    } files;
    auto& path = files.paths[gib];
    if (path.empty()) path = MakeRecording(static_cast<uint64_t>(gib) << 30);
    return path;
}

// Open and summarise; the file stays in the page cache after the first pass,
// as it does when a review window opens a file just recorded.
void BM_OpenToOverview(benchmark::State& state) {
    const uint64_t bytes = static_cast<uint64_t>(state.range(0)) << 30;
    const std::string& path = Recording(static_cast<int>(state.range(0)));
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
}
BENCHMARK(BM_OpenToOverview)
    ->ArgName("GiB")
    ->Arg(1)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// One redraw of kColumns columns over 1/zoom of a recording of range(0) GiB.
// At 1/300 of 4 GiB the columns are just under two blocks wide, the most that
// is read scan by scan.
// With range(2) == 0 each redraw jumps elsewhere in the file; otherwise it
// moves by that many columns' worth of scans, as dragging the view does.
void BM_Redraw(benchmark::State& state) {
    const std::string& path = Recording(static_cast<int>(state.range(0)));
    std::string error;
    auto reader = WdqFileReader::Open(path, error);
    MinMaxPyramid pyramid;
    if (!reader || !pyramid.Build(*reader, {}, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    const int64_t scans = reader->Info().scanCount;
    const int64_t span = std::max<int64_t>(scans / state.range(1), kColumns);
    // A pan step that is no multiple of a column or a block.
    const int64_t step =
        state.range(2) == 0 ? span / 3 + 12345 : span * state.range(2) / kColumns + 7;
    std::vector<MinMax> columns(static_cast<std::size_t>(kColumns) * kChannels);
    int64_t start = 0;
    for (auto _ : state) {
        start = (start + step) % (scans - span + 1);
        if (!pyramid.Columns(*reader, start, start + span, kColumns, columns)) {
            state.SkipWithError("columns failed");
        }
        benchmark::DoNotOptimize(columns.data());
    }
    state.counters["scans_per_column"] = static_cast<double>(span) / kColumns;
}
BENCHMARK(BM_Redraw)
    ->ArgNames({"GiB", "zoom", "pan_columns"})
    ->ArgsProduct({{1, 4}, {1, 10, 100, 1000, 10000, 1000000}, {0}})
    ->Args({4, 300, 0})
    ->Args({4, 100, 5})
    ->Args({4, 3000, 5})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
