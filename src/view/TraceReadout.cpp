#include "view/TraceReadout.h"

#include <cstdio>

#include "base/ChannelLabel.h"

namespace tamix {
namespace {

constexpr double kCountsPerVolt = 3276.8;
constexpr int kScansPerColumn = 4;

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

}  // namespace

double DisplayValue(double sample, const ChannelInfo& channel) {
    return sample / kCountsPerVolt * channel.valueAt1V + channel.valueAt0V;
}

EdgeValues StripEdgeValues(const Rect& strip, int gain, int offset, const ChannelInfo& channel) {
    // The inverse of the drawing rule y = mid - (v + offset) * height * gain / 65536.
    const int mid = (strip.top + strip.bottom) / 2;
    const double countsPerPixel = 65536.0 / (static_cast<double>(strip.Height()) * gain);
    const auto sampleAt = [&](int y) { return (mid - y) * countsPerPixel - offset; };
    return {DisplayValue(sampleAt(strip.top), channel),
            DisplayValue(sampleAt(strip.bottom - 1), channel)};
}

std::string FormatValue(double value, std::string_view unit) {
    char number[32];
    std::snprintf(number, sizeof number, "%.4g", value == 0.0 ? 0.0 : value);
    std::string text(number);
    unit = Trimmed(unit);
    if (!unit.empty()) text.append(" ").append(unit);
    return text;
}

std::string SweepSpanText(int displayWidth, double samplePeriod) {
    char text[48];
    std::snprintf(text, sizeof text, "sweep %.2f s", displayWidth * kScansPerColumn * samplePeriod);
    return text;
}

std::optional<Readout> ReadoutAt(const ViewLayout& layout, const MeasurementSetup& setup,
                                 int points, int x, int y) {
    if (layout.stripHeight < 1 || x < layout.traces.left || x >= layout.traces.right ||
        y < layout.traces.top) {
        return std::nullopt;
    }
    const int c = (y - layout.traces.top) / layout.stripHeight;
    const int j = x - layout.traces.left;
    if (c >= layout.channelCount || j >= std::min(points, kBufferRows)) return std::nullopt;
    constexpr auto relaxed = std::memory_order_relaxed;
    Readout r;
    r.channel = c;
    r.column = j;
    r.scan = setup.columnExtremes.firstScan[j].load(relaxed);
    r.seconds = static_cast<double>(r.scan) * setup.profile.samplePeriod;
    r.sample = setup.columnExtremes.first[j][c].load(relaxed);
    r.value = DisplayValue(r.sample, setup.channels[c]);
    return r;
}

std::string ReadoutText(const Readout& r, const ChannelInfo& channel) {
    char time[48];
    std::snprintf(time, sizeof time, "t = %.3f s   ", r.seconds);
    return std::string(time) + ChannelLabel(channel, static_cast<std::size_t>(r.channel)) + " = " +
           FormatValue(r.value, channel.Unit());
}

std::optional<int> ColumnOfScan(const DisplayColumns& columns, int points, int64_t scan) {
    points = std::min(points, kBufferRows);
    constexpr auto relaxed = std::memory_order_relaxed;
    if (points < 1 || scan < columns.firstScan[0].load(relaxed)) return std::nullopt;
    // First scans never decrease within a sweep: the last column starting at or
    // before `scan` holds it (after a pause, the column where recording resumed).
    int lo = 0, hi = points - 1;
    while (lo < hi) {
        const int m = (lo + hi + 1) / 2;
        if (columns.firstScan[m].load(relaxed) <= scan) {
            lo = m;
        } else {
            hi = m - 1;
        }
    }
    if (lo == points - 1 && scan >= columns.firstScan[lo].load(relaxed) + kScansPerColumn) {
        return std::nullopt;  // not gathered yet
    }
    return lo;
}

}  // namespace tamix
