// Statistics of a span of a recording, per channel and in engineering units,
// exact over every scan: the review window shows them and `tamix-file stats`
// prints them, both from this one function.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "recording/MinMaxPyramid.h"
#include "recording/RecordingReader.h"

namespace tamix {

struct ChannelStatistics {
    std::string name;  // the channel's label as `tamix-file info` prints it (input and name)
    std::string unit;
    int64_t scans = 0;
    double min = 0, max = 0;
    // Seconds from the recording's first scan, of the first scan holding it.
    double minTime = 0, maxTime = 0;
    // sd is the population standard deviation (divided by the scans, not one less).
    double pp = 0, mean = 0, rms = 0, sd = 0;
    std::optional<double> frequencyHz;  // empty where the signal is not periodic
};

struct SpanStatistics {
    int64_t first = 0, last = 0;  // scans [first, last)
    double duration = 0;          // seconds the span lasts
    std::vector<ChannelStatistics> channels;
    std::vector<std::string>
        notes;  // one sentence each, e.g. when the frequency was estimated from part of the span
};

// Scans read for a frequency estimate: a longer span is estimated from its
// first this many scans, and a note says so.
inline constexpr int64_t kFrequencyScans = int64_t{1} << 18;

// Exact statistics over every scan of [first, last) of the chosen channels
// (positions in the recording), in engineering units: whole sum blocks from
// the overview, the ends read from the file, min/max times from the
// overview's block extents. `overview` must have been built with its sums
// from `reader`. False with `error` ("FILE: reason"). One thread at a time
// per reader and overview.
bool ComputeSpanStatistics(RecordingReader& reader, MinMaxPyramid& overview, int64_t first,
                           int64_t last, std::span<const std::size_t> channels, SpanStatistics& out,
                           std::string& error);

// The table as tab-separated text with a header line, for the clipboard and
// for `tamix-file stats`: name, unit, scans, min, max, p-p, mean, rms, sd,
// freq_hz ("—" where not periodic), numbers in the C locale.
std::string StatisticsTable(const SpanStatistics& stats);

}  // namespace tamix
