// The power density window's arithmetic without a window: the axes fitted to the
// channels shown, linear or logarithmic, the pixels of each trace, the ticks,
// and the texts of the readout and the peaks.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "recording/PowerDensity.h"
#include "recording/PowerDensityPeaks.h"
#include "recording/RecordingReader.h"

namespace tamix {

enum class LevelScale { Linear, Decibel };
enum class FrequencyScale { Linear, Logarithmic };

// The plot's rectangle in pixels; x grows rightwards, y downwards.
struct PlotArea {
    int left = 0;
    int top = 0;
    int width = 1;
    int height = 1;
};

struct AxisTick {
    double value = 0;  // hertz, or the level in the axis's unit
    int pixel = 0;     // x for frequencies, y for levels
    std::string text;  // empty for a minor tick
};

struct PlotPoint {
    int x = 0;
    int y = 0;
};

// Lowest level the decibel axis shows below its top: 16-bit samples have a
// range of about 100 dB, so this leaves room for their floor.
inline constexpr double kDecibelSpan = 140.0;

class PowerDensityPlot {
  public:
    // Fits both axes to the channels of `power density` at `shown` (indices into
    // its channels): frequencies from 0 (linear) or the first bin (logarithmic)
    // to the Nyquist frequency, levels from 0 or a floor up to a little above
    // the highest level shown.
    void Fit(const PowerDensity& psd, std::span<const std::size_t> shown, LevelScale level,
             FrequencyScale frequency);
    void SetArea(PlotArea area) { area_ = area; }
    const PlotArea& Area() const { return area_; }

    LevelScale Level() const { return level_; }
    FrequencyScale Frequency() const { return frequency_; }
    double MinFrequency() const { return fMin_; }
    double MaxFrequency() const { return fMax_; }
    double AxisBottom() const { return yMin_; }
    double AxisTop() const { return yMax_; }

    // A density in the axis's unit: itself, or decibels relative to one
    // unit²/Hz (a density of 0 gives the axis's bottom).
    double AxisLevel(double density) const;

    int XOf(double hz) const;
    double FrequencyAt(int x) const;
    int YOf(double axisLevel) const;
    double LevelAt(int y) const;

    // The bin nearest to the frequency under `x`, within the bins shown.
    std::size_t BinAt(int x, const PowerDensity& psd) const;

    // The polyline of one channel's densities: a point per bin where bins are
    // wider than a pixel, else the highest and lowest level in each pixel
    // column, so that no peak falls between two points.
    std::vector<PlotPoint> Trace(const PowerDensity& psd, const std::vector<double>& density) const;

    // Ticks at 1, 2 or 5 times a power of ten, about `minGap` pixels apart or
    // more; a logarithmic frequency axis gets its decades labelled and the
    // steps between them as minor ticks.
    std::vector<AxisTick> FrequencyTicks(int minGap) const;
    std::vector<AxisTick> LevelTicks(int minGap) const;

  private:
    PlotArea area_;
    LevelScale level_ = LevelScale::Decibel;
    FrequencyScale frequency_ = FrequencyScale::Linear;
    double fMin_ = 0;
    double fMax_ = 1;
    double yMin_ = 0;
    double yMax_ = 1;
};

// "Volt²/Hz", or "1/Hz" for a channel without a unit.
std::string DensityUnit(const ChannelInfo& channel);
// "0.5 Hz", "12.25 Hz": enough decimals to tell bins `binHz` apart, plus `extra`.
std::string FrequencyText(double hz, double binHz, int extra = 0);
// "1.234e-05 Volt²/Hz" or "-48.2 dB".
std::string LevelText(double density, LevelScale scale, const ChannelInfo& channel);
// "1.000 Hz: 3.536 Volt rms, 12.3 dB": a peak as the list shows it.
std::string PeakText(const PowerDensityPeak& peak, double binHz, LevelScale scale,
                     const ChannelInfo& channel);
// "1.46 Hz   A: chn 1.234e-05 Volt²/Hz   C: chn -48.2 dB": the readout at `bin`.
std::string PowerDensityReadout(const PowerDensity& psd, std::span<const std::size_t> shown,
                                const RecordingInfo& info, std::size_t bin, LevelScale scale);

}  // namespace tamix
