#include "acquisition/GapDetector.h"

#include <algorithm>
#include <cmath>

namespace tamix {

// Only reads that had to wait for the unit are compared with the clock: a read
// served from a backlog says nothing about loss. Scheduling delays only ever
// make the shortfall look larger, so the smallest shortfall of about half a
// second of cycles is the level; a level that rises by more than two cycles
// and 20 ms (more than a loaded machine's wake-up delay lasting a whole block)
// is a gap. A slow drift between the unit's crystal and the
// host's clock moves the level by a fraction of a scan per second and is
// followed, not reported.
GapDetector::GapDetector(double period, int scansPerCycle)
    : period_(period > 0 ? period : 0.001),
      caughtUpRead_(0.5 * scansPerCycle * period_),
      cyclesPerBlock_(std::max(4, static_cast<int>(0.5 / (scansPerCycle * period_)))),
      threshold_(std::max<int64_t>(2 * scansPerCycle, static_cast<int64_t>(0.020 / period_))) {}

GapDetector::Gap GapDetector::AfterCycle(double readSeconds, double elapsedSeconds,
                                         int64_t received, int64_t recorded) {
    if (readSeconds >= caughtUpRead_) {
        const double shortfall = elapsedSeconds / period_ - static_cast<double>(received);
        blockMin_ = blockHasSample_ ? std::min(blockMin_, shortfall) : shortfall;
        blockHasSample_ = true;
        // Where the shortfall first stood high, for the marker.
        const bool high = haveBaseline_ && shortfall - baseline_ > static_cast<double>(threshold_);
        if (high && !haveCandidate_) candidateAt_ = recorded;
        haveCandidate_ = high;
    }
    if (++cycle_ < cyclesPerBlock_) return {};
    cycle_ = 0;
    if (!blockHasSample_) return {};
    blockHasSample_ = false;
    if (!haveBaseline_) {
        haveBaseline_ = true;
        baseline_ = blockMin_;
        return {};
    }
    const double rise = blockMin_ - baseline_;
    baseline_ = blockMin_;
    if (rise <= static_cast<double>(threshold_)) return {};
    const Gap gap{static_cast<int64_t>(std::llround(rise)),
                  haveCandidate_ ? candidateAt_ : recorded};
    haveCandidate_ = false;
    lost_ += gap.scans;
    return gap;
}

}  // namespace tamix
