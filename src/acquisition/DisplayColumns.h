// The view's share of every scan: per screen column the smallest and largest
// sample of the scans it covers (so a fast signal shows its whole band) and the
// recorded-scan index and samples of its first scan (for readouts and markers).
//
// Thread rules: only the worker writes, through AddScanToColumn; the view reads
// columns below displayColumn with relaxed loads. Lock-free, nothing allocated.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <span>

#include "base/TextLimits.h"

namespace tamix {

struct DisplayColumns {
    std::array<std::array<std::atomic<int16_t>, kMaxChannels>, kBufferRows> low{};
    std::array<std::array<std::atomic<int16_t>, kMaxChannels>, kBufferRows> high{};
    // The sample of the column's first scan: what a readout of the column shows.
    std::array<std::array<std::atomic<int16_t>, kMaxChannels>, kBufferRows> first{};
    // The recorded-scan count when the column's first scan arrived.
    std::array<std::atomic<int64_t>, kBufferRows> firstScan{};
};

// Worker: one converted scan goes into `column`; `firstOfColumn` starts the
// column afresh, so it never carries the previous sweep's extremes.
inline void AddScanToColumn(DisplayColumns& columns, int column, bool firstOfColumn,
                            std::span<const int16_t> scan, int64_t scanCount) {
    constexpr auto relaxed = std::memory_order_relaxed;
    auto& low = columns.low[column];
    auto& high = columns.high[column];
    if (firstOfColumn) columns.firstScan[column].store(scanCount, relaxed);
    for (std::size_t k = 0; k < scan.size(); ++k) {
        const int16_t s = scan[k];
        if (firstOfColumn) {
            columns.first[column][k].store(s, relaxed);
            low[k].store(s, relaxed);
            high[k].store(s, relaxed);
        } else {
            low[k].store(std::min(low[k].load(relaxed), s), relaxed);
            high[k].store(std::max(high[k].load(relaxed), s), relaxed);
        }
    }
}

}  // namespace tamix
