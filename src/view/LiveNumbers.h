// The numbers a strip shows beside its trace: its channel's latest value and
// the smallest, largest and mean value over the last second of scans, in
// engineering units, taken exactly over every scan from the history ring.
// Pure functions over the shared record, called on the user interface thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "acquisition/MeasurementSetup.h"

namespace tamix {

struct ChannelNumbers {
    double latest = 0;
    double minimum = 0;
    double maximum = 0;
    double mean = 0;
};

struct LiveNumbers {
    int scans = 0;    // how many scans the numbers are over
    int64_t end = 0;  // the scans the worker had delivered (scanLoops) when they were read
    std::array<ChannelNumbers, kMaxChannels> channels{};
};

// The scans of one second of a unit scanning every `samplePeriod` seconds,
// at least one and at most half the history ring, so that the worker has a
// second's room to go on writing while they are read.
int ScansPerSecond(double samplePeriod);

// The numbers over the `count` scans before scan `end` of `ring`, in which
// scan s lies in row s % ring's size, for each of `channels` (at most
// kMaxChannels). `count` is cut to `end` and to the ring's size.
LiveNumbers NumbersOverScans(std::span<const SampleRow> ring, int64_t end, int count,
                             std::span<const ChannelInfo> channels);

// The numbers of the run in `setup` over its last second of scans (all of
// them in its first second). Nothing when no scan has arrived, or when the
// worker went on so far during the read that it may have overwritten a row
// read (the next second reads again).
std::optional<LiveNumbers> ReadLiveNumbers(const MeasurementSetup& setup);

// "now 1.234   last 1 s: min -4.998  max 4.998  mean 0.0012 Volt", where
// `seconds` is the time the numbers span.
std::string LiveNumbersText(const ChannelNumbers& numbers, double seconds, std::string_view unit);

}  // namespace tamix
