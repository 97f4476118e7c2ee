// The cost of LslOutlet::Push on the pushing thread (eight channels, one scan
// or a cycle of eight), with no receiver, with one that reads everything and
// with one that has stopped reading. Loopback only, as every test here.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "streaming/LslClock.h"
#include "streaming/LslInlet.h"
#include "streaming/LslOutlet.h"

namespace {

using namespace tamix;

void BM_LslPush(benchmark::State& state) {
    const auto scans = static_cast<std::size_t>(state.range(0));
    const int receiver = static_cast<int>(state.range(1));  // 0 none, 1 reading, 2 stalled
    ::setenv(kLslLoopbackVariable, "1", 1);
    LslStreamDescription d;
    d.name = "TamixBench-" + std::to_string(::getpid()) + "-" + std::to_string(scans) + "-" +
             std::to_string(receiver);
    d.type = kLslAnalogueType;
    d.channelCount = 8;
    d.nominalRate = 1000;
    LslOutlet outlet;
    std::string error;
    if (!outlet.Open(d, LslOutletOptions(LslNetwork::LoopbackOnly), error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::atomic<bool> stop{false};
    std::thread reader;
    LslFeed feed;
    if (receiver != 0) {
        std::vector<LslFoundStream> found;
        LslResolve("name='" + d.name + "'", LslNetwork::LoopbackOnly, 10, 1, found, error);
        LslFeedOptions options;
        options.maxBufferSamples = 1000;
        if (found.empty() || !feed.Open(found.front(), options, error)) {
            state.SkipWithError("no feed");
            return;
        }
        if (receiver == 1) {
            reader = std::thread([&] {
                LslReceivedSample s;
                std::string e;
                while (!stop) feed.Next(s, 0.1, e);
            });
        }
    }
    const std::vector<float> values(8 * scans, 1.5f);
    double stamp = LslClock();
    for (auto _ : state) {
        stamp += static_cast<double>(scans) / 1000;
        benchmark::DoNotOptimize(outlet.Push(values.data(), values.size(), scans, stamp, true));
    }
    stop = true;
    if (reader.joinable()) reader.join();
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(scans));
    state.counters["dropped"] = static_cast<double>(outlet.Dropped());
}
BENCHMARK(BM_LslPush)->ArgsProduct({{1, 8}, {0, 1, 2}})->ArgNames({"scans", "receiver"});

}  // namespace
