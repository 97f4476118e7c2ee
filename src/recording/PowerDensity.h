// The power density of a span of a recording: Welch's average of Hann-windowed
// segments, as one-sided power density. Shared by the power density window
// and anything else that shows a power density, so every figure comes from here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "recording/ProgressCallback.h"
#include "recording/RecordingReader.h"

namespace tamix {

// Segments are powers of two from kMinPowerDensitySegment to kMaxPowerDensitySegment
// scans; a span needs at least one whole segment.
inline constexpr std::size_t kMinPowerDensitySegment = 16;
inline constexpr std::size_t kMaxPowerDensitySegment = std::size_t{1} << 16;
// Longer spans are cut to their first kMaxPowerDensityScans scans (about 70 min at
// 1 kHz), which keeps a power density of eight channels within a few seconds.
inline constexpr int64_t kMaxPowerDensityScans = int64_t{1} << 22;

// How a span is cut into segments: what ComputePowerDensity does with [first, last).
struct PowerDensityShape {
    int64_t first = 0;
    int64_t last = 0;              // the end of the scans used (≤ the span's end)
    std::size_t segmentScans = 0;  // a power of two
    std::size_t segments = 0;      // overlapping by half a segment
    bool limited = false;          // the span was longer than kMaxPowerDensityScans
};

// The shape for scans [first, last): the largest power of two that gives at
// least seven half-overlapping segments, within the bounds above; false with
// `error` when the span holds fewer than kMinPowerDensitySegment scans.
bool ShapePowerDensity(int64_t first, int64_t last, PowerDensityShape& shape, std::string& error);

struct ChannelPowerDensity {
    std::size_t channel = 0;  // position in the recording
    // Power density in the channel's unit squared per hertz at
    // frequency k × binHz, k = 0 .. segmentScans / 2; the bins between 0 and
    // the Nyquist frequency count twice (one-sided). Each segment's mean is
    // removed first, so bin 0 holds only what the mean varies over the span.
    std::vector<double> density;
    double variance = 0;  // of the scans used, for comparison with the integral
};

struct PowerDensity {
    PowerDensityShape shape;
    double rateHz = 0;  // scans per second
    double binHz = 0;   // rateHz / segmentScans
    std::vector<ChannelPowerDensity> channels;
    // Why the power density covers less than the span asked for; empty when it is whole.
    std::string note;

    std::size_t Bins() const { return shape.segmentScans / 2 + 1; }
    double Frequency(std::size_t bin) const { return static_cast<double>(bin) * binHz; }
};

// The note of a limited span: "The span holds N scans (T s): the power density
// covers its first M scans (U s)."
std::string PowerDensityLimitNote(const PowerDensityShape& shape, int64_t spanScans, double period);

// The power density of scans [first, last) of the channels at `channels` (positions
// in the recording), read with ReadValues in the reader's thread. False with
// `error` ("FILE: reason") when the span is too short or outside the
// recording, a value is not finite, the file cannot be read, the build has no
// FFT, or `progress` cancelled.
bool ComputePowerDensity(RecordingReader& reader, int64_t first, int64_t last,
                         std::span<const std::size_t> channels, const ProgressCallback& progress,
                         PowerDensity& out, std::string& error);

// Whether this build can compute power densities at all.
bool PowerDensityAvailable();

}  // namespace tamix
