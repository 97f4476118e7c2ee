#include "view/DisplayScaling.h"

#include <algorithm>
#include <cmath>

namespace tamix {

std::optional<IconHit> HitTestIconColumn(const ViewLayout& layout, int x, int y) {
    if (x >= kIconColumnWidth) return std::nullopt;
    if (y < layout.traces.top || y > layout.traces.bottom) return std::nullopt;
    const int h = layout.stripHeight;
    if (layout.channelCount < 1 || h < 3) return std::nullopt;
    int c = (y - layout.traces.top) / h;
    c = std::clamp(c, 0, layout.channelCount - 1);
    const int z = (y - c * h - layout.traces.top) / (h / 3);
    return IconHit{c, z};
}

void DisplayScaling::ResetAll() {
    gain_.fill(1);
    offset_.fill(0);
}

void DisplayScaling::AutoscaleChannel(int c, const MeasurementSetup& setup, int points) {
    points = std::clamp(points, 0, kBufferRows);
    if (points < 1 || c < 0 || c >= kMaxChannels) return;
    int hi = setup.displayColumns[0][c].load(std::memory_order_relaxed);
    int lo = hi;
    for (int j = 0; j < points; ++j) {
        const int v = setup.displayColumns[j][c].load(std::memory_order_relaxed);
        hi = std::max(hi, v);
        lo = std::min(lo, v);
    }
    FitRange(c, lo, hi);
}

void DisplayScaling::FitRange(int c, int lo, int hi) {
    if (c < 0 || c >= kMaxChannels) return;
    int gain = 524;
    if (hi > lo + 100) {
        gain = static_cast<int>(std::trunc(52428.8 / (hi - lo)));
        if (gain < 1) gain = 1;
    }
    gain_[c] = gain;
    offset_[c] = -(hi + lo) / 2;
}

bool DisplayScaling::AutoscaleAll(const MeasurementSetup& setup, int points) {
    if (points < 100) return false;
    const int n = std::clamp(setup.channelCount, 0, kMaxChannels);
    for (int c = 0; c < n; ++c) AutoscaleChannel(c, setup, points);
    return true;
}

void DisplayScaling::Click(const IconHit& hit, MouseButton button, const MeasurementSetup& setup,
                           int points) {
    if (hit.channel < 0 || hit.channel >= kMaxChannels || Step(hit, button)) return;
    if (hit.zone == 0 && points > 100) AutoscaleChannel(hit.channel, setup, points);
}

bool DisplayScaling::Step(const IconHit& hit, MouseButton button) {
    const int c = hit.channel;
    if (c < 0 || c >= kMaxChannels) return true;
    const bool left = button == MouseButton::Left;
    switch (hit.zone) {
        case 0:
            if (left) return false;
            gain_[c] = 1;
            offset_[c] = 0;
            break;
        case 1:
            gain_[c] = left ? std::min(gain_[c] * 2, 512) : std::max(gain_[c] / 2, 1);
            break;
        case 2:
            if (left && offset_[c] < 30000) offset_[c] += 4096 / gain_[c];
            if (!left && offset_[c] > -30000) offset_[c] -= 4096 / gain_[c];
            break;
        default:
            break;
    }
    return true;
}

}  // namespace tamix
