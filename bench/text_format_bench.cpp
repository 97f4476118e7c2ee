// The text line writer's number formatting against the C library's.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "acquisition/MeasurementSetup.h"
#include "recording/NumberFormat.h"
#include "recording/TextWriter.h"

namespace {

using namespace tamix;

std::vector<double> EngineeringValues() {
    std::mt19937_64 rng(42);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::vector<double> values(4096);
    for (double& v : values) v = sample(rng) / 3276.8 * 1.0 + 0.0;
    return values;
}

template <std::size_t (*Format)(double, char*)>
void BM_FormatValue(benchmark::State& state) {
    const std::vector<double> values = EngineeringValues();
    char buf[64];
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Format(values[i++ & 4095], buf));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatValue<FormatG4>)->Name("FormatValue/fast");
BENCHMARK(BM_FormatValue<FormatG4Snprintf>)->Name("FormatValue/snprintf+fixup");
BENCHMARK(BM_FormatValue<FormatG4ToChars>)->Name("FormatValue/to_chars+fixup");

void BM_TextLine8Channels(benchmark::State& state) {
    auto setup = std::make_unique<MeasurementSetup>();
    std::array<int16_t, 8> samples{12345, -2000, 32767, -32768, 5, 400, -7000, 16384};
    char line[kMaxTextLine];
    int64_t scan = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(FormatTextLine(line, scan++, 0.001, samples, setup->channels));
    }
    state.SetItemsProcessed(state.iterations() * 8);
}
BENCHMARK(BM_TextLine8Channels);

}  // namespace
