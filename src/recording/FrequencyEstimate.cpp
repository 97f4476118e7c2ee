#include "recording/FrequencyEstimate.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tamix {
namespace {

// Band either side of the mean, in standard deviations.
constexpr double kHysteresis = 0.5;
// Largest spread of the periods, as a share of their mean.
constexpr double kSpread = 0.1;
// Crossings per period tried for waves that cross their mean more than once.
constexpr std::size_t kMaxCrossingsPerPeriod = 4;

// (largest - smallest) / mean of t[j + m] - t[j] over every j.
double Spread(const std::vector<double>& t, std::size_t m) {
    double lo = INFINITY;
    double hi = -INFINITY;
    double sum = 0;
    for (std::size_t j = 0; j + m < t.size(); ++j) {
        const double p = t[j + m] - t[j];
        lo = std::min(lo, p);
        hi = std::max(hi, p);
        sum += p;
    }
    const double mean = sum / static_cast<double>(t.size() - m);
    return mean > 0 ? (hi - lo) / mean : INFINITY;
}

}  // namespace

std::optional<double> EstimateFrequency(std::span<const float> values, double period) {
    if (values.size() < 4 || !(period > 0)) return std::nullopt;
    // Two passes around the first value: exact enough for a small signal on a
    // large offset.
    const double shift = values[0];
    double sum = 0;
    for (const float v : values) sum += v - shift;
    const auto n = static_cast<double>(values.size());
    const double mean = shift + sum / n;
    double squares = 0;
    for (const float v : values) squares += (v - mean) * (v - mean);
    const double sd = std::sqrt(squares / n);
    if (!std::isfinite(mean) || !std::isfinite(sd) || sd <= 0) return std::nullopt;

    const double below = mean - kHysteresis * sd;
    const double above = mean + kHysteresis * sd;
    // Rising crossings of the mean, in scans, each interpolated between the
    // last sample below the mean and the next one, once the signal has gone
    // below the band and then above it.
    std::vector<double> crossings;
    bool armed = false;
    double crossing = 0;
    for (std::size_t i = 1; i < values.size(); ++i) {
        const double a = values[i - 1];
        const double b = values[i];
        if (b < below) armed = true;
        if (a < mean && b >= mean) crossing = static_cast<double>(i - 1) + (mean - a) / (b - a);
        if (armed && b > above) {
            crossings.push_back(crossing);
            armed = false;
        }
    }
    if (crossings.size() < 3) return std::nullopt;

    std::size_t m = 0;
    if (Spread(crossings, 1) < kSpread) {
        m = 1;
    } else {
        // More than one crossing a period only when the crossings within it
        // are plainly unequal: jitter of a plain wave must not halve its
        // frequency.
        double shortest = INFINITY;
        double longest = 0;
        for (std::size_t j = 1; j < crossings.size(); ++j) {
            shortest = std::min(shortest, crossings[j] - crossings[j - 1]);
            longest = std::max(longest, crossings[j] - crossings[j - 1]);
        }
        for (std::size_t c = 2; c <= kMaxCrossingsPerPeriod && shortest < 0.5 * longest; ++c) {
            if (crossings.size() >= 2 * c + 1 && Spread(crossings, c) < kSpread) {
                m = c;
                break;
            }
        }
    }
    const std::size_t periods = m == 0 ? 0 : (crossings.size() - 1) / m;
    if (periods < 2) return std::nullopt;
    const double scans = crossings[periods * m] - crossings[0];
    return static_cast<double>(periods) / (scans * period);
}

}  // namespace tamix
