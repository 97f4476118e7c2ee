// The cut of a span into segments and the note of a limited span: the same
// in builds with and without an FFT.
#include <algorithm>
#include <bit>
#include <charconv>

#include "recording/PowerDensity.h"

namespace tamix {
namespace {

std::string Seconds(double seconds) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, seconds, std::chars_format::general, 6);
    return std::string(buf, r.ptr) + " s";
}

}  // namespace

bool ShapePowerDensity(int64_t first, int64_t last, PowerDensityShape& shape, std::string& error) {
    const int64_t span = last - first;
    if (first < 0 || span < static_cast<int64_t>(kMinPowerDensitySegment)) {
        error = "a power density needs a span of at least " +
                std::to_string(kMinPowerDensitySegment) + " scans; this one holds " +
                std::to_string(std::max<int64_t>(span, 0));
        return false;
    }
    shape = {};
    shape.first = first;
    shape.limited = span > kMaxPowerDensityScans;
    const int64_t scans = std::min(span, kMaxPowerDensityScans);
    // Seven segments or more keep the average's scatter to about a third of
    // one periodogram's, and the longest segment that allows is the finest
    // resolution.
    const auto quarter = static_cast<std::size_t>(scans / 4);
    shape.segmentScans = std::clamp(quarter == 0 ? std::size_t{0} : std::bit_floor(quarter),
                                    kMinPowerDensitySegment, kMaxPowerDensitySegment);
    const auto step = static_cast<int64_t>(shape.segmentScans / 2);
    const int64_t segments = (scans - static_cast<int64_t>(shape.segmentScans)) / step + 1;
    shape.segments = static_cast<std::size_t>(segments);
    shape.last = first + (segments + 1) * step;
    return true;
}

std::string PowerDensityLimitNote(const PowerDensityShape& shape, int64_t spanScans,
                                  double period) {
    const int64_t used = shape.last - shape.first;
    return "The span holds " + std::to_string(spanScans) + " scans (" +
           Seconds(static_cast<double>(spanScans) * period) +
           "): the power density covers its first " + std::to_string(used) + " scans (" +
           Seconds(static_cast<double>(used) * period) + ").";
}

}  // namespace tamix
