#include "view/TimeAxis.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace tamix {

double TickStep(double secondsPerColumn, int minPixels) {
    // A millisecond is the finest a label shows; above ten seconds the steps
    // follow the clock.
    static constexpr std::array<double, 22> kSteps = {
        0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1,    2,
        5,     10,    15,    30,   60,   120,  300, 600, 900, 1800, 3600};
    const double least = secondsPerColumn * minPixels;
    for (const double step : kSteps) {
        if (step >= least * (1 - 1e-9)) return step;
    }
    double hours = 7200;
    while (hours < least) hours *= 2;
    return hours;
}

std::string TimeLabel(double seconds, double step) {
    const int decimals = step >= 1 - 1e-9       ? 0
                         : step >= 0.1 - 1e-12  ? 1
                         : step >= 0.01 - 1e-12 ? 2
                                                : 3;
    const long long scale = decimals == 0 ? 1 : decimals == 1 ? 10 : decimals == 2 ? 100 : 1000;
    const long long units = std::llround(std::max(seconds, 0.0) * static_cast<double>(scale));
    const long long whole = units / scale;
    char text[48];
    int n = std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                          whole % 60);
    if (decimals > 0 && n > 0) {
        std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), ".%0*lld", decimals,
                      units % scale);
    }
    return text;
}

std::vector<TimeTick> TimeTicks(const ReviewViewport& view, int minPixels) {
    std::vector<TimeTick> ticks;
    if (view.Span() <= 0 || view.Period() <= 0) return ticks;
    const double secondsPerColumn =
        static_cast<double>(view.Span()) * view.Period() / view.Columns();
    const double step = TickStep(secondsPerColumn, minPixels);
    const double t0 = static_cast<double>(view.First()) * view.Period();
    const double t1 = static_cast<double>(view.EndScan()) * view.Period();
    // Whole multiples of the step, so that no error adds up along the axis.
    for (auto k = static_cast<long long>(std::ceil(t0 / step - 1e-9)); k * step < t1; ++k) {
        const double t = static_cast<double>(k) * step;
        const auto column = static_cast<int>(std::lround(view.ColumnOfSeconds(t)));
        if (column < 0 || column >= view.Columns()) continue;
        ticks.push_back({column, t, TimeLabel(t, step)});
    }
    return ticks;
}

}  // namespace tamix
