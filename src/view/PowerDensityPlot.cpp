#include "view/PowerDensityPlot.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "base/ChannelLabel.h"

namespace tamix {
namespace {

std::string Number(double value, std::chars_format format, int precision) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, format, precision);
    return std::string(buf, r.ptr);
}

std::string_view Trimmed(std::string_view unit) {
    while (!unit.empty() && unit.front() == ' ') unit.remove_prefix(1);
    while (!unit.empty() && unit.back() == ' ') unit.remove_suffix(1);
    return unit;
}

// 1, 2 or 5 times a power of ten, no smaller than `range` / `count`.
double NiceStep(double range, int count) {
    const double raw = range / std::max(count, 1);
    if (!(raw > 0) || !std::isfinite(raw)) return 1;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0}) {
        if (m * magnitude >= raw * (1 - 1e-9)) return m * magnitude;
    }
    return 10 * magnitude;
}

std::string TickText(double value, double step) {
    // Multiples of the step, without the last bits of binary rounding.
    if (std::abs(value) < step * 1e-6) value = 0;
    return Number(value, std::chars_format::general, 6);
}

std::size_t FirstBin(FrequencyScale frequency) {
    return frequency == FrequencyScale::Logarithmic ? 1 : 0;
}

}  // namespace

void PowerDensityPlot::Fit(const PowerDensity& psd, std::span<const std::size_t> shown,
                           LevelScale level, FrequencyScale frequency) {
    level_ = level;
    frequency_ = frequency;
    const std::size_t bins = psd.Bins();
    const double nyquist = psd.rateHz / 2;
    fMax_ = nyquist > 0 ? nyquist : 1;
    fMin_ = frequency == FrequencyScale::Logarithmic ? std::max(psd.binHz, fMax_ * 1e-9) : 0;
    double highest = 0;
    double lowest = std::numeric_limits<double>::infinity();
    for (const std::size_t j : shown) {
        if (j >= psd.channels.size()) continue;
        const std::vector<double>& d = psd.channels[j].density;
        for (std::size_t k = FirstBin(frequency); k < std::min(bins, d.size()); ++k) {
            highest = std::max(highest, d[k]);
            if (d[k] > 0) lowest = std::min(lowest, d[k]);
        }
    }
    if (level == LevelScale::Linear) {
        yMin_ = 0;
        yMax_ = highest > 0 ? highest * 1.05 : 1;
        return;
    }
    if (!(highest > 0)) {
        yMax_ = 0;
        yMin_ = -kDecibelSpan;
        return;
    }
    yMax_ = 10 * std::ceil((10 * std::log10(highest) + 1) / 10);
    yMin_ = std::max(10 * std::floor(10 * std::log10(lowest) / 10), yMax_ - kDecibelSpan);
    if (yMin_ >= yMax_) yMin_ = yMax_ - 10;
}

double PowerDensityPlot::AxisLevel(double density) const {
    if (level_ == LevelScale::Linear) return density;
    return density > 0 ? 10 * std::log10(density) : yMin_;
}

int PowerDensityPlot::XOf(double hz) const {
    double t = 0;
    if (frequency_ == FrequencyScale::Logarithmic) {
        t = hz > 0 && fMax_ > fMin_ ? std::log(hz / fMin_) / std::log(fMax_ / fMin_) : 0;
    } else if (fMax_ > fMin_) {
        t = (hz - fMin_) / (fMax_ - fMin_);
    }
    t = std::clamp(t, 0.0, 1.0);
    return area_.left + static_cast<int>(std::lround(t * (area_.width - 1)));
}

double PowerDensityPlot::FrequencyAt(int x) const {
    const double t =
        std::clamp(static_cast<double>(x - area_.left) / std::max(area_.width - 1, 1), 0.0, 1.0);
    if (frequency_ == FrequencyScale::Logarithmic) return fMin_ * std::pow(fMax_ / fMin_, t);
    return fMin_ + t * (fMax_ - fMin_);
}

int PowerDensityPlot::YOf(double axisLevel) const {
    double t = (axisLevel - yMin_) / (yMax_ - yMin_);
    if (!std::isfinite(t)) t = 0;
    t = std::clamp(t, 0.0, 1.0);
    return area_.top + area_.height - 1 - static_cast<int>(std::lround(t * (area_.height - 1)));
}

double PowerDensityPlot::LevelAt(int y) const {
    const double t =
        static_cast<double>(area_.top + area_.height - 1 - y) / std::max(area_.height - 1, 1);
    return yMin_ + t * (yMax_ - yMin_);
}

std::size_t PowerDensityPlot::BinAt(int x, const PowerDensity& psd) const {
    const std::size_t bins = psd.Bins();
    if (bins == 0 || !(psd.binHz > 0)) return 0;
    const double k = std::round(FrequencyAt(x) / psd.binHz);
    const auto first = static_cast<double>(std::min(FirstBin(frequency_), bins - 1));
    return static_cast<std::size_t>(std::clamp(k, first, static_cast<double>(bins - 1)));
}

std::vector<PlotPoint> PowerDensityPlot::Trace(const PowerDensity& psd,
                                               const std::vector<double>& density) const {
    std::vector<PlotPoint> points;
    const std::size_t bins = std::min(psd.Bins(), density.size());
    std::size_t k = FirstBin(frequency_);
    while (k < bins) {
        // The bins that fall into this pixel column.
        const int x = XOf(psd.Frequency(k));
        int high = YOf(AxisLevel(density[k]));
        int low = high;
        bool highFirst = true;
        std::size_t end = k + 1;
        for (; end < bins && XOf(psd.Frequency(end)) == x; ++end) {
            const int y = YOf(AxisLevel(density[end]));
            if (y < high) {
                high = y;
                highFirst = false;
            }
            if (y > low) low = y;
        }
        if (end == k + 1 || high == low) {
            points.push_back({x, high});
        } else if (highFirst) {
            points.push_back({x, high});
            points.push_back({x, low});
        } else {
            points.push_back({x, low});
            points.push_back({x, high});
        }
        k = end;
    }
    return points;
}

std::vector<AxisTick> PowerDensityPlot::FrequencyTicks(int minGap) const {
    std::vector<AxisTick> ticks;
    if (frequency_ == FrequencyScale::Logarithmic) {
        const int from = static_cast<int>(std::floor(std::log10(fMin_)));
        const int to = static_cast<int>(std::ceil(std::log10(fMax_)));
        // Few decades leave room to name 2 and 5 as well.
        const double decadePixels = area_.width / std::max(std::log10(fMax_ / fMin_), 1e-9);
        const bool namedSteps = decadePixels >= 4.0 * minGap;
        for (int d = from; d <= to; ++d) {
            const double decade = std::pow(10.0, d);
            for (int m = 1; m <= 9; ++m) {
                const double f = m * decade;
                if (f < fMin_ * (1 - 1e-9) || f > fMax_ * (1 + 1e-9)) continue;
                const bool named = m == 1 || (namedSteps && (m == 2 || m == 5));
                ticks.push_back({f, XOf(f), named ? TickText(f, decade) : std::string()});
            }
        }
        return ticks;
    }
    const double step = NiceStep(fMax_ - fMin_, area_.width / std::max(minGap, 1));
    for (double i = std::ceil(fMin_ / step); i * step <= fMax_ * (1 + 1e-9); i += 1) {
        ticks.push_back({i * step, XOf(i * step), TickText(i * step, step)});
    }
    return ticks;
}

std::vector<AxisTick> PowerDensityPlot::LevelTicks(int minGap) const {
    std::vector<AxisTick> ticks;
    const double step = NiceStep(yMax_ - yMin_, area_.height / std::max(minGap, 1));
    for (double i = std::ceil(yMin_ / step); i * step <= yMax_ + step * 1e-9; i += 1) {
        const double v = i * step;
        std::string text = level_ == LevelScale::Linear ? Number(v, std::chars_format::general, 3)
                                                        : TickText(v, step);
        if (level_ == LevelScale::Linear && std::abs(v) < step * 1e-6) text = "0";
        ticks.push_back({v, YOf(v), std::move(text)});
    }
    return ticks;
}

std::string DensityUnit(const ChannelInfo& channel) {
    const std::string_view unit = Trimmed(channel.Unit());
    return unit.empty() ? "1/Hz" : std::string(unit) + "\xC2\xB2/Hz";
}

std::string FrequencyText(double hz, double binHz, int extra) {
    const int decimals =
        binHz > 0 ? std::clamp(static_cast<int>(std::ceil(-std::log10(binHz))) + 1, 0, 6) : 3;
    return Number(hz, std::chars_format::fixed, std::min(decimals + extra, 9)) + " Hz";
}

std::string LevelText(double density, LevelScale scale, const ChannelInfo& channel) {
    if (scale == LevelScale::Linear) {
        return Number(density, std::chars_format::scientific, 3) + " " + DensityUnit(channel);
    }
    if (!(density > 0)) return "-\xE2\x88\x9E dB";
    return Number(10 * std::log10(density), std::chars_format::fixed, 1) + " dB";
}

std::string PeakText(const PowerDensityPeak& peak, double binHz, LevelScale scale,
                     const ChannelInfo& channel) {
    const std::string_view unit = Trimmed(channel.Unit());
    return FrequencyText(peak.frequencyHz, binHz, 1) + ": " +
           Number(peak.rms, std::chars_format::general, 4) +
           (unit.empty() ? "" : " " + std::string(unit)) + " rms, " +
           LevelText(peak.density, scale, channel);
}

std::string PowerDensityReadout(const PowerDensity& psd, std::span<const std::size_t> shown,
                                const RecordingInfo& info, std::size_t bin, LevelScale scale) {
    std::string text = FrequencyText(psd.Frequency(bin), psd.binHz);
    for (const std::size_t j : shown) {
        if (j >= psd.channels.size()) continue;
        const ChannelPowerDensity& cs = psd.channels[j];
        if (bin >= cs.density.size() || cs.channel >= info.channels.size()) continue;
        const ChannelInfo& channel = info.channels[cs.channel];
        text += "   " + ChannelLabel(channel, cs.channel) + " " +
                LevelText(cs.density[bin], scale, channel);
    }
    return text;
}

}  // namespace tamix
