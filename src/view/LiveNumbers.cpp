#include "view/LiveNumbers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "recording/EngineeringValue.h"
#include "view/TraceReadout.h"

namespace tamix {

int ScansPerSecond(double samplePeriod) {
    constexpr int kMost = kBufferRows / 2;
    if (!(samplePeriod > 0)) return 1;
    const double scans = std::round(1.0 / samplePeriod);
    return scans >= kMost ? kMost : std::max(1, static_cast<int>(scans));
}

LiveNumbers NumbersOverScans(std::span<const SampleRow> ring, int64_t end, int count,
                             std::span<const ChannelInfo> channels) {
    LiveNumbers out;
    const auto rows = static_cast<int64_t>(ring.size());
    const int64_t n = std::min({static_cast<int64_t>(count), end, rows});
    if (n <= 0 || rows == 0) return out;
    out.scans = static_cast<int>(n);
    out.end = end;
    const std::size_t used = std::min(channels.size(), static_cast<std::size_t>(kMaxChannels));
    std::array<int, kMaxChannels> low{};
    std::array<int, kMaxChannels> high{};
    std::array<int64_t, kMaxChannels> sum{};
    low.fill(std::numeric_limits<int>::max());
    high.fill(std::numeric_limits<int>::min());
    constexpr auto relaxed = std::memory_order_relaxed;
    for (int64_t s = end - n; s < end; ++s) {
        const SampleRow& row = ring[static_cast<std::size_t>(s % rows)];
        for (std::size_t k = 0; k < used; ++k) {
            const int v = row[k].load(relaxed);
            low[k] = std::min(low[k], v);
            high[k] = std::max(high[k], v);
            sum[k] += v;
        }
    }
    const SampleRow& last = ring[static_cast<std::size_t>((end - 1) % rows)];
    for (std::size_t k = 0; k < used; ++k) {
        const ChannelInfo& channel = channels[k];
        // A calibration may fall with the voltage: the smallest sample is then the largest value.
        const double a = EngineeringValue(static_cast<int16_t>(low[k]), channel);
        const double b = EngineeringValue(static_cast<int16_t>(high[k]), channel);
        ChannelNumbers& c = out.channels[k];
        c.latest = EngineeringValue(last[k].load(relaxed), channel);
        c.minimum = std::min(a, b);
        c.maximum = std::max(a, b);
        c.mean = DisplayValue(static_cast<double>(sum[k]) / static_cast<double>(n), channel);
    }
    return out;
}

std::optional<LiveNumbers> ReadLiveNumbers(const MeasurementSetup& setup) {
    // The worker publishes the count after the scan's row (release order).
    const int64_t end = setup.scanLoops.load(std::memory_order_acquire);
    if (end <= 0) return std::nullopt;
    const int count = ScansPerSecond(setup.profile.samplePeriod);
    LiveNumbers numbers = NumbersOverScans(setup.historyRing, end, count, setup.SelectedChannels());
    // The row of the oldest scan read is written again kBufferRows scans later.
    const int64_t after = setup.scanLoops.load(std::memory_order_acquire);
    if (after - (end - numbers.scans) >= kBufferRows) return std::nullopt;
    return numbers;
}

std::string LiveNumbersText(const ChannelNumbers& numbers, double seconds, std::string_view unit) {
    char span[32];
    std::snprintf(span, sizeof span, "%.2g", seconds);
    return "now " + FormatValue(numbers.latest, "") + "   last " + span + " s: min " +
           FormatValue(numbers.minimum, "") + "  max " + FormatValue(numbers.maximum, "") +
           "  mean " + FormatValue(numbers.mean, unit);
}

}  // namespace tamix
