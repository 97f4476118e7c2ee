// Neumaier's compensated sum, for sums of many doubles that must keep the
// digits a plain running sum loses.
#pragma once

#include <cmath>

namespace tamix {

// The rounding error of every addition is kept apart and added back at the end.
struct CompensatedSum {
    double sum = 0;
    double error = 0;

    void Add(double x) {
        const double t = sum + x;
        error += std::abs(sum) >= std::abs(x) ? (sum - t) + x : (x - t) + sum;
        sum = t;
    }
    double Value() const { return sum + error; }
};

}  // namespace tamix
