// The whole acquisition loop against an unpaced simulated unit with 8 channels,
// recording to a real file: scans per second of the worker (set-up excluded).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "acquisition/MeasurementSetup.h"
#include "acquisition/WorkerThread.h"
#include "device/SimulatedDriver.h"

namespace {

using namespace tamix;

void BM_WorkerLoop(benchmark::State& state) {
    const int fileType = static_cast<int>(state.range(0));
    const double seconds = 20.0;  // 20000 scans at 1 ms
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
    }
    std::remove(path.c_str());
    std::remove((path.substr(0, path.size() - 4) + "_info.txt").c_str());
    state.counters["scans/s"] =
        benchmark::Counter(static_cast<double>(scans), benchmark::Counter::kIsRate);
    state.counters["ns/sample"] = benchmark::Counter(
        static_cast<double>(scans * 8), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_WorkerLoop)
    ->Arg(0)
    ->Arg(1)
    ->ArgNames({"text"})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

}  // namespace
