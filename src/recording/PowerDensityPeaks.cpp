#include "recording/PowerDensityPeaks.h"

#include <algorithm>
#include <cmath>

namespace tamix {

std::vector<PowerDensityPeak> StrongestPeaks(const std::vector<double>& density, double binHz,
                                             std::size_t count) {
    std::vector<PowerDensityPeak> peaks;
    const std::size_t n = density.size();
    if (n < 3 || count == 0) return peaks;
    for (std::size_t k = 1; k + 1 < n; ++k) {
        const double b = density[k];
        if (!(b > density[k - 1] && b >= density[k + 1])) continue;
        PowerDensityPeak peak;
        peak.bin = k;
        peak.density = b;
        double offset = 0;
        const double lo = density[k - 1];
        const double hi = density[k + 1];
        if (lo > 0 && hi > 0) {
            const double a = std::log(lo);
            const double c = std::log(hi);
            const double m = std::log(b);
            const double curve = a - 2 * m + c;
            if (curve < 0) offset = std::clamp(0.5 * (a - c) / curve, -0.5, 0.5);
        }
        peak.frequencyHz = (static_cast<double>(k) + offset) * binHz;
        const std::size_t from = k > kPeakHalfWidthBins ? k - kPeakHalfWidthBins : 0;
        const std::size_t to = std::min(n - 1, k + kPeakHalfWidthBins);
        double power = 0;
        for (std::size_t j = from; j <= to; ++j) power += density[j];
        peak.rms = std::sqrt(power * binHz);
        peaks.push_back(peak);
    }
    const std::size_t kept = std::min(count, peaks.size());
    std::partial_sort(peaks.begin(), peaks.begin() + static_cast<std::ptrdiff_t>(kept), peaks.end(),
                      [](const PowerDensityPeak& x, const PowerDensityPeak& y) {
                          return x.density > y.density || (x.density == y.density && x.bin < y.bin);
                      });
    peaks.resize(kept);
    return peaks;
}

}  // namespace tamix
