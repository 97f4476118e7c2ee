// The smallest and largest of each channel's stored 16-bit samples over a run
// of interleaved scans: the inner loop of summarising and redrawing recordings.
#pragma once

#include <cstdint>
#include <limits>
#include <span>

namespace tamix {

struct SampleMinMax {
    int16_t min = 0;
    int16_t max = 0;
};

// What merging into gives the first sample it sees.
inline constexpr SampleMinMax kNoSamples{std::numeric_limits<int16_t>::max(),
                                         std::numeric_limits<int16_t>::min()};

// Merges `scans` scans of `channels` interleaved samples at `samples` into
// `into[0..channels)`.
void ScanSampleMinMax(const int16_t* samples, int64_t scans, std::size_t channels,
                      std::span<SampleMinMax> into);

}  // namespace tamix
