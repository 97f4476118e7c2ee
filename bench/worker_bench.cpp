// The whole acquisition loop against an unpaced simulated unit with 8 channels,
// recording to a real file: scans and file bytes per second of the worker
// (set-up excluded), beside a plain write of as many bytes to the same disk.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "acquisition/MeasurementSetup.h"
#include "acquisition/WorkerThread.h"
#include "device/SimulatedDriver.h"

namespace {

using namespace tamix;

void BM_WorkerLoop(benchmark::State& state) {
    const int fileType = static_cast<int>(state.range(0));
    const double seconds = 200.0;  // 200000 scans at 1 ms
    const std::string path =
        "/tmp/tamix-bench-" + std::to_string(::getpid()) + (fileType == 0 ? ".wdq" : ".dat");
    auto setup = std::make_unique<MeasurementSetup>();
    SimulatedUnitOptions unit;
    unit.serial = "A4001lsz";  // KPR-44B: 1 ms, eight inputs
    unit.paced = false;
    SimulatedDriver driver({unit});
    setup->link.SetDriver(&driver);
    setup->channelCount = 8;
    int64_t scans = 0;
    int64_t bytes = 0;
    for (auto _ : state) {
        setup->fileType = FileTypeOf(fileType);
        setup->totalTime = seconds;
        setup->SetOutputFileName(path);
        setup->ResetMarkers();
        WorkerThread worker;
        if (worker.StartRun(*setup, DefaultFileOpener()) != StartResult::Running) {
            state.SkipWithError("no unit");
            break;
        }
        const auto t0 = std::chrono::steady_clock::now();
        while (setup->workerActive.load()) std::this_thread::yield();
        const auto t1 = std::chrono::steady_clock::now();
        worker.Join();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
        scans += setup->runEndScans.load();
        std::error_code ec;
        bytes += static_cast<int64_t>(std::filesystem::file_size(path, ec));
    }
    std::remove(path.c_str());
    std::remove((path.substr(0, path.size() - 4) + "_info.txt").c_str());
    state.counters["scans/s"] =
        benchmark::Counter(static_cast<double>(scans), benchmark::Counter::kIsRate);
    state.counters["ns/sample"] = benchmark::Counter(
        static_cast<double>(scans * 8), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_WorkerLoop)
    ->Arg(0)
    ->Arg(1)
    ->ArgNames({"text"})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

// The yardstick: the bytes of a 200 s, 8-channel WinDaq recording written to
// the same disk in 64 KiB writes, then closed.
void BM_PlainWrite(benchmark::State& state) {
    const std::string path = "/tmp/tamix-bench-plain-" + std::to_string(::getpid());
    const std::vector<char> bytes(1156 + 16 * 200000 + 1024, 'x');
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) {
            state.SkipWithError("cannot create the file");
            break;
        }
        for (std::size_t at = 0; at < bytes.size(); at += 65536) {
            std::fwrite(bytes.data() + at, 1, std::min<std::size_t>(65536, bytes.size() - at), f);
        }
        std::fclose(f);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    std::remove(path.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_PlainWrite)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
