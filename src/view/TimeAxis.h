// The review window's time axis: a round tick step for the zoom, and times as
// "h:mm:ss" with as many decimals of the second as the step needs.
#pragma once

#include <string>
#include <vector>

#include "view/ReviewViewport.h"

namespace tamix {

struct TimeTick {
    int column = 0;
    double seconds = 0;
    std::string label;
};

// The smallest round step (1, 2, 5 times a power of ten up to 10 s, then 15 s,
// 30 s, minutes and hours) whose ticks lie at least `minPixels` apart.
double TickStep(double secondsPerColumn, int minPixels);

// "1:02:03" for a step of a second or more, else "1:02:03.5", "0:00:00.25"
// or "0:00:00.125" (tenths, hundredths or thousandths, as the step needs).
std::string TimeLabel(double seconds, double step);

// The ticks on screen, left to right.
std::vector<TimeTick> TimeTicks(const ReviewViewport& view, int minPixels);

}  // namespace tamix
