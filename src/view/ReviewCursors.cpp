#include "view/ReviewCursors.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "base/ChannelLabel.h"
#include "view/TimeAxis.h"
#include "view/TraceReadout.h"

namespace tamix {
namespace {

bool Wide(const ReviewViewport& view) {
    return view.Span() > 0 && static_cast<double>(view.Columns()) >=
                                  kSnapColumnsPerScan * static_cast<double>(view.Span());
}

std::string Number(double value, const char* format) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

std::optional<double> Decimal(std::string_view s) {
    s = Trim(s);
    if (s.empty()) return std::nullopt;
    double value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

}  // namespace

int64_t CursorScanAt(const ReviewViewport& view, double x) {
    if (view.TotalScans() <= 0) return 0;
    const int column = static_cast<int>(std::clamp(std::floor(x), 0.0, view.Columns() - 1.0));
    return std::clamp<int64_t>(view.ScanAtColumn(column), 0, view.TotalScans() - 1);
}

double CursorColumn(const ReviewViewport& view, int64_t scan) {
    if (view.Span() <= 0) return 0;
    const double perScan = static_cast<double>(view.Columns()) / static_cast<double>(view.Span());
    if (Wide(view)) return (static_cast<double>(scan - view.First()) + 0.5) * perScan;
    if (const std::optional<int> column = view.ColumnOfScan(scan)) return *column;
    return static_cast<double>(scan - view.First()) * perScan;
}

std::optional<std::pair<int64_t, int64_t>> CursorPair::Span() const {
    if (!Both()) return std::nullopt;
    const auto [lo, hi] = std::minmax(*scan[0], *scan[1]);
    return std::pair<int64_t, int64_t>(lo, hi + 1);
}

bool ReadCursors(RecordingReader& reader, const CursorPair& cursors, CursorReading& out) {
    const std::size_t n = reader.Info().channels.size();
    for (std::size_t i = 0; i < 2; ++i) {
        out.scan[i] = cursors.scan[i];
        out.values[i].assign(cursors.scan[i] ? n : 0, 0.0);
        if (cursors.scan[i] && !reader.ReadValues(*cursors.scan[i], 1, out.values[i])) return false;
    }
    return true;
}

std::vector<std::string> CursorReadoutLines(const CursorReading& reading, double period,
                                            std::span<const ChannelInfo> channels) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < 2; ++i) {
        std::string line = "Cursor " + std::to_string(i + 1) + ": ";
        if (reading.scan[i]) {
            const double t = static_cast<double>(*reading.scan[i]) * period;
            line += TimeLabel(t, 0.001) + " (" + Number(t, "%.6f") + " s, scan " +
                    std::to_string(*reading.scan[i]) + ")";
        } else {
            line += "not placed";
        }
        lines.push_back(std::move(line));
    }
    if (!reading.scan[0] && !reading.scan[1]) return lines;
    const bool both = reading.scan[0] && reading.scan[1];
    if (both) {
        const double dt = static_cast<double>(*reading.scan[1] - *reading.scan[0]) * period;
        std::string line = "\xCE\x94t = " + Number(dt, "%.6g") + " s";
        line += dt != 0 ? ",  1/\xCE\x94t = " + Number(1.0 / dt, "%.6g") + " Hz"
                        : ",  1/\xCE\x94t = \xE2\x80\x94";
        lines.push_back(std::move(line));
    }
    for (std::size_t k = 0; k < channels.size(); ++k) {
        const std::string_view unit = channels[k].Unit();
        std::string line = ChannelTitle(channels[k], k) + ":";
        for (std::size_t i = 0; i < 2; ++i) {
            if (k < reading.values[i].size())
                line +=
                    "  " + std::to_string(i + 1) + ": " + FormatValue(reading.values[i][k], unit);
        }
        if (both && k < reading.values[0].size() && k < reading.values[1].size()) {
            line += "  \xCE\x94: " + FormatValue(reading.values[1][k] - reading.values[0][k], unit);
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

std::optional<double> ParseTypedTime(std::string_view text) {
    std::string_view s = Trim(text);
    double scale = 1;
    for (const auto& [suffix, factor] : {std::pair<std::string_view, double>{"ms", 1e-3},
                                         {"min", 60.0},
                                         {"h", 3600.0},
                                         {"s", 1.0}}) {
        if (s.size() > suffix.size() && s.substr(s.size() - suffix.size()) == suffix) {
            s = Trim(s.substr(0, s.size() - suffix.size()));
            scale = factor;
            break;
        }
    }
    // h:mm:ss.s or mm:ss.s: each part before the seconds is a whole number.
    double seconds = 0;
    std::size_t colons = 0;
    while (true) {
        const std::size_t colon = s.find(':');
        if (colon == std::string_view::npos) break;
        if (scale != 1 || ++colons > 2) return std::nullopt;
        const std::string_view part = s.substr(0, colon);
        int whole = 0;
        const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), whole);
        if (part.empty() || ec != std::errc() || end != part.data() + part.size() || whole < 0)
            return std::nullopt;
        seconds = seconds * 60 + whole;
        s = s.substr(colon + 1);
    }
    const std::optional<double> last = Decimal(s);
    if (!last || *last < 0 || (colons > 0 && *last >= 60)) return std::nullopt;
    const double total = (seconds * 60 * (colons > 0 ? 1 : 0) + *last) * scale;
    return std::isfinite(total) ? std::optional<double>(total) : std::nullopt;
}

int64_t ScanAtSeconds(double seconds, double period, int64_t total) {
    if (total <= 0 || !(period > 0)) return 0;
    const double scan = std::round(seconds / period);
    return std::clamp<int64_t>(static_cast<int64_t>(std::clamp(scan, 0.0, 9e18)), 0, total - 1);
}

}  // namespace tamix
