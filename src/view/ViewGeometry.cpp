#include "view/ViewGeometry.h"

#include <algorithm>
#include <cmath>

#include "base/Clock.h"

namespace tamix {

ViewLayout ComputeLayout(int width, int height, int channelCount) {
    ViewLayout l;
    l.header = {0, 0, width, kHeaderHeight};
    l.traces = {kIconColumnWidth, kHeaderHeight, width, height};
    l.traceWidth = l.traces.Width();
    if (channelCount < 1 || channelCount > 8) return l;
    l.channelCount = channelCount;
    l.stripHeight = std::max(l.traces.Height(), 0) / channelCount;
    for (int i = 0; i < channelCount; ++i) {
        const int top = l.traces.top + i * l.stripHeight;
        l.strips[i] = {l.traces.left, top, l.traces.right, top + l.stripHeight};
    }
    return l;
}

Rect ViewLayout::IconCell(int strip, int k) const {
    const int third = stripHeight / 3;
    const int top = traces.top + strip * stripHeight + k * third;
    return {0, top, kIconColumnWidth, top + third};
}

int DisplayWidthFor(int traceWidth) {
    return std::clamp(traceWidth, 100, 2048);
}

int PointY(int mid, int v, int offset, int stripHeight, int gain) {
    const double scale = static_cast<double>(stripHeight * gain);
    return mid - static_cast<int>(std::trunc(static_cast<double>(v + offset) * scale / 65536.0));
}

std::string ClockText(int64_t scanCount, double samplePeriod) {
    return FormatClock(
        static_cast<int64_t>(std::trunc(static_cast<double>(scanCount) * samplePeriod)));
}

}  // namespace tamix
