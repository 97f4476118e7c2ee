// The host's side of a paced stream through the real serial code: a
// simulated KPR-44B (8 channels, 1 ms) on a pseudo-terminal, read for 2 s.
// Measures the reading thread's CPU and context switches per second for the
// protocol's exchange (a request, then its block, eight times a cycle) and
// for a pipelined one (the cycle's eight requests in one write, the eight
// blocks in one read). The pipelined exchange sends requests before the
// previous block was read; the program does not use it with real units.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <array>
#include <chrono>
#include <string>

#include "base/ChannelInfo.h"
#include "device/InstrumentProtocol.h"
#include "device/InstrumentSource.h"
#include "device/LinuxSerialDriver.h"
#include "device/PtyUnit.h"

namespace {

using namespace tamix;

constexpr int kChannels = 8;
constexpr int kCycles = 250;  // 2 s at 1 ms per scan

void Exchange(benchmark::State& state, bool pipelined) {
    SimulatedUnitOptions options;
    options.serial = "A4001lsz";
    PtyUnit pty(options);
    std::string error;
    if (!pty.Open(error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    pty.Start();
    SerialPortInfo port;
    ParsePortSpec(pty.path() + "=A4001lsz", port);
    LinuxSerialDriver driver({port}, "/nonexistent", "/dev");
    CUsbLink link;
    link.SetDriver(&driver);
    std::array<ChannelInfo, kChannels> channels{};
    for (int k = 0; k < kChannels; ++k) channels[k].inputNumber = k;
    DeviceProfile profile;
    if (SetupDevice(link, profile, channels) != SetupResult::Ok) {
        state.SkipWithError("no unit on the pseudo-terminal");
        return;
    }
    StartStreaming(link);
    std::array<uint8_t, kBlockBytes * kChannels> batch{};
    const std::array<uint8_t, kChannels> requests{};  // kBlockRequest each
    double cpu = 0, switches = 0, seconds = 0;
    for (auto _ : state) {
        rusage r0{}, r1{};
        getrusage(RUSAGE_THREAD, &r0);
        const auto t0 = std::chrono::steady_clock::now();
        for (int c = 0; c < kCycles; ++c) {
            bool complete = false;
            if (pipelined) {
                link.AwaitQueued(batch.size());
                link.WriteBytes(requests);
                uint32_t got = 0;
                complete = link.ReadBlock(batch, &got) == FT_OK && got == batch.size();
            } else {
                complete = ReadBatch(link, kChannels, batch).Complete(kChannels);
            }
            if (!complete) {
                state.SkipWithError("a batch was incomplete");
                break;
            }
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        getrusage(RUSAGE_THREAD, &r1);
        const auto us = [](const timeval& tv) { return tv.tv_sec * 1e6 + tv.tv_usec; };
        cpu += (us(r1.ru_utime) + us(r1.ru_stime) - us(r0.ru_utime) - us(r0.ru_stime)) / 1e6;
        switches += static_cast<double>(r1.ru_nvcsw + r1.ru_nivcsw - r0.ru_nvcsw - r0.ru_nivcsw);
    }
    StopStreaming(link);
    link.Close();
    state.counters["cpu_ms_per_s"] = cpu / seconds * 1000;
    state.counters["switches_per_s"] = switches / seconds;
    state.counters["sim_wakeups_per_s"] = static_cast<double>(pty.wakeUps()) / seconds;
}

void BM_PtyExchange(benchmark::State& state) {
    Exchange(state, false);
}
void BM_PtyExchangePipelined(benchmark::State& state) {
    Exchange(state, true);
}
BENCHMARK(BM_PtyExchange)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PtyExchangePipelined)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
