// The power density of a span of a WinDaq recording as the power density window computes
// it: reading the scans, Welch's segments through FFTW and the densities. One
// channel of 2^20 scans (about 17 min at 1 kHz), eight channels of as many,
// and the longest span, 2^22 scans. The file is made once in the temp folder
// (page-cached, as a file just recorded is) and removed at exit.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "base/MarkerTable.h"
#include "recording/OpenRecording.h"
#include "recording/OutputFile.h"
#include "recording/PowerDensity.h"
#include "recording/WdqWriter.h"

namespace {

using namespace tamix;

constexpr int kChannels = 8;
constexpr int64_t kScans = int64_t{1} << 22;

// Eight sines over noise-like steps, 1 ms apart.
std::string MakeRecording() {
    std::string path = (std::filesystem::temp_directory_path() /
                        ("tamix-power density-bench-" + std::to_string(::getpid()) + ".wdq"))
                           .string();
    std::array<ChannelInfo, kChannels> channels{};
    std::string error;
    auto file = DefaultFileOpener().Create(path, error);
    std::array<uint8_t, kWdqHeaderBytes> header{};
    BuildWdqHeader(header, kScans, kChannels, 0.001, channels, 1700000000);
    bool ok = file && file->Write(header.data(), header.size());
    std::vector<uint8_t> chunk(static_cast<std::size_t>(4096) * kChannels * 2);
    for (int64_t s = 0; ok && s < kScans; s += 4096) {
        for (int64_t i = 0; i < 4096; ++i) {
            for (int k = 0; k < kChannels; ++k) {
                const double t = static_cast<double>(s + i) * 0.001;
                const double v = 8000 * std::sin(2 * 3.14159265358979 * (k + 1) * 7.3 * t) +
                                 static_cast<double>(((s + i) * 7919 * (k + 3)) % 2001 - 1000);
                PutWdqSample(&chunk[static_cast<std::size_t>((i * kChannels + k) * 2)],
                             static_cast<int16_t>(v));
            }
        }
        ok = file->Write(chunk.data(), chunk.size());
    }
    auto markers = std::make_unique<MarkerTable>();
    ok = ok && WriteWdqTrailer(*file, *markers, 1, channels, 1700000000) &&
         PatchWdqDataSize(*file, static_cast<uint64_t>(kScans) * 2 * kChannels) && file->Close();
    if (!ok) std::fprintf(stderr, "cannot make %s: %s\n", path.c_str(), error.c_str());
    return path;
}

const std::string& Recording() {
    static struct File {
        std::string path = MakeRecording();
        ~File() { std::filesystem::remove(path); }
    } file;
    return file.path;
}

// Arguments: scans, channels.
void BM_PowerDensity(benchmark::State& state) {
    const int64_t scans = state.range(0);
    std::vector<std::size_t> channels(static_cast<std::size_t>(state.range(1)));
    std::iota(channels.begin(), channels.end(), std::size_t{0});
    std::string error;
    auto reader = OpenRecording(Recording(), error);
    if (!reader) {
        state.SkipWithError(error.c_str());
        return;
    }
    PowerDensity psd;
    for (auto _ : state) {
        if (!ComputePowerDensity(*reader, 0, scans, channels, {}, psd, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        benchmark::DoNotOptimize(psd.channels.front().density.data());
    }
    state.counters["segments"] = static_cast<double>(psd.shape.segments);
    state.counters["scans/s"] = benchmark::Counter(static_cast<double>(scans * state.range(1)),
                                                   benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_PowerDensity)
    ->Args({int64_t{1} << 20, 1})
    ->Args({int64_t{1} << 20, 8})
    ->Args({kScans, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace
