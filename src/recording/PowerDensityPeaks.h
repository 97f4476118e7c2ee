// The strongest peaks of a power density: its local maxima by level, each
// with a frequency refined between the bins and the root-mean-square value
// of the sine it stands for.
#pragma once

#include <cstddef>
#include <vector>

#include "recording/PowerDensity.h"

namespace tamix {

// Bins either side of a peak that hold its power: a Hann window spreads a sine
// over five bins with all but a two-thousandth of its power.
inline constexpr std::size_t kPeakHalfWidthBins = 2;

struct PowerDensityPeak {
    std::size_t bin = 0;
    // The bin's frequency moved by a parabola through the logarithms of the
    // peak's three levels (exact for a Gaussian, within a few hundredths of a
    // bin for a Hann window's main lobe).
    double frequencyHz = 0;
    double density = 0;  // the bin's level, unit²/Hz
    // The square root of the power in the bins within kPeakHalfWidthBins: the
    // RMS value of a sine at this frequency (its amplitude / √2).
    double rms = 0;
};

// At most `count` local maxima of `density` (bins 1 .. n-2, a level above the
// bin before and not below the one after), the highest first. The DC bin and
// the Nyquist bin are never peaks.
std::vector<PowerDensityPeak> StrongestPeaks(const std::vector<double>& density, double binHz,
                                             std::size_t count);

}  // namespace tamix
