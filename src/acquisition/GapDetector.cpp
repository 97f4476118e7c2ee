#include "acquisition/GapDetector.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace tamix {

namespace {

// How long, and over how many caught-up cycles, a shortfall must last before
// it counts: a second covers the sending rhythm of a unit and the host's
// wake-ups at many phases, so that its lowest value is what is in flight plus
// what was lost.
constexpr double kSpan = 1.0;
// A loss is judged over longer, so that its lowest shortfall comes as close
// to what is in flight as the level's does.
constexpr double kConfirm = 2.0;
// The new level is the lowest shortfall of the latest part of that stretch.
constexpr double kLevelSpan = 1.5;
// A pause between two batches this long is a stall (of the unit, the bus or
// the host) after which the unit sends what its buffer kept; shorter pauses
// are the host's own rhythm of wake-ups. No unit's buffer overflows faster.
constexpr double kStall = 0.2;
constexpr int kMinCycles = 8;
// The smallest loss reported: the in-flight level, taken as the lowest of a
// half second, is steady to a scan or two, and a loaded machine's delays only
// ever raise single values.
constexpr double kThresholdSeconds = 0.012;
constexpr int64_t kThresholdScans = 4;
// How far below the lowest shortfall of a second a single cycle after the loss
// may still come (its phase against the unit's deliveries).
constexpr double kLevelNoise = 2.0;

}  // namespace

GapDetector::GapDetector(double period, int scansPerCycle)
    : period_(period > 0 ? period : 0.001),
      scansPerCycle_(std::max(1, scansPerCycle)),
      threshold_(std::max<int64_t>(
          kThresholdScans, static_cast<int64_t>(std::ceil(kThresholdSeconds / period_ - 1e-9)))) {}

void GapDetector::Settle(double shortfall, double time) {
    if (windowCount_ == 0) {
        windowMin_ = shortfall;
        windowStart_ = time;
    }
    windowMin_ = std::min(windowMin_, shortfall);
    if (++windowCount_ < kMinCycles || time - windowStart_ < kSpan) return;
    windowCount_ = 0;
    // Downwards at once (delays only raise the shortfall), upwards by halves:
    // the unit's crystal and the host's clock drift apart by a fraction of a
    // scan per second, which this follows, and one slow second does not move
    // the level far.
    if (!haveLevel_ || windowMin_ < level_) {
        level_ = windowMin_;
    } else {
        level_ += 0.5 * (windowMin_ - level_);
    }
    haveLevel_ = true;
}

GapDetector::Gap GapDetector::AfterCycle(const Cycle& c) {
    const double pause = c.end - previousEnd_;
    previousEnd_ = c.end;
    bool resumed = false;
    if (pause > kStall && pause > longestPause_) {
        longestPause_ = pause;
        resumedAt_ = c.end;
        resumed = true;
    }
    // Only a cycle that had to wait for its batch has the whole stream behind
    // it; while a backlog is worked off, the shortfall says nothing.
    const bool caughtUp = c.queued >= 0 ? c.queued < static_cast<double>(scansPerCycle_)
                                        : c.end - c.start >= 0.5 * scansPerCycle_ * period_;
    if (!caughtUp) {
        if (resumed && suspect_) suspectCount_ = -1;  // starts over at the next caught-up cycle
        return {};
    }
    const double queued = std::max(0.0, c.queued);
    const double shortfall = c.start / period_ - (static_cast<double>(c.received) + queued);
    const bool atLevel = !haveLevel_ || shortfall < level_ + static_cast<double>(threshold_);
    if (!atLevel && resumed) {
        // Measured before this cycle's own long wait, while the unit was
        // still silent: only what comes after the wait tells what was lost.
        suspect_ = true;
        suspectCount_ = -1;
        return {};
    }
    if (atLevel) {
        // The stream is whole up to here.
        suspect_ = false;
        // A stall within this very cycle came after its measurement.
        if (!resumed) longestPause_ = 0;
        lastWholeAt_ = c.recorded + static_cast<int64_t>(queued);
        Settle(shortfall, c.start);
        return {};
    }
    // Scans missing since the stream was last whole. After a stall the unit
    // sends what its buffer kept, then what it makes from then on: the gap
    // lies before the scans made since the stream came back, as the cycle
    // most caught up tells (a buffer may come in several pieces).
    const bool restart = !suspect_ || suspectCount_ < 0;
    const int64_t arrived = c.recorded + static_cast<int64_t>(queued);
    if (longestPause_ > 0 && (restart || shortfall < suspectMin_)) {
        const double live = std::max(0.0, (c.start - resumedAt_) / period_);
        suspectAt_ = std::max<int64_t>(0, arrived - std::llround(live));
    }
    if (restart) {
        suspect_ = true;
        suspectMin_ = shortfall;
        suspectSince_ = c.start;
        suspectCount_ = 0;
    }
    suspectMin_ = std::min(suspectMin_, shortfall);
    samples_[static_cast<std::size_t>(suspectCount_) % samples_.size()] = {c.start, shortfall,
                                                                           arrived};
    if (++suspectCount_ < 2 * kMinCycles || c.start - suspectSince_ < kConfirm) return {};
    // The new level is the lowest shortfall of the last 1.5 s; one high
    // value before the loss (a late delivery) is no part of it.
    const int count = std::min<int>(suspectCount_, static_cast<int>(samples_.size()));
    const int first = suspectCount_ - count;
    auto sample = [&](int i) -> const Sample& {
        return samples_[static_cast<std::size_t>(i) % samples_.size()];
    };
    double newLevel = shortfall;
    for (int i = first; i < suspectCount_; ++i) {
        if (sample(i).time >= c.start - kLevelSpan)
            newLevel = std::min(newLevel, sample(i).shortfall);
    }
    // Where the shortfall rose to its new level for good: the first of the
    // cycles that all stand at it. A late second at the end can make the
    // lowest value of that second too high; the cycles before it, at the
    // new level too, then lower it.
    int k = suspectCount_ - 1;
    for (int round = 0; round < 4; ++round) {
        while (k > first && sample(k - 1).shortfall >= newLevel - kLevelNoise) --k;
        double lowest = newLevel;
        for (int i = k; i < suspectCount_; ++i) lowest = std::min(lowest, sample(i).shortfall);
        if (lowest >= newLevel) break;
        newLevel = lowest;
    }
    const double rise = newLevel - level_;
    Gap gap;
    if (rise >= static_cast<double>(threshold_)) {
        gap.scans = std::llround(rise);
        if (longestPause_ > 0) {
            gap.at = suspectAt_;
        } else {
            // Without a stall, between the last cycle below the new level and
            // the first at it.
            const int64_t before =
                k > first ? sample(k - 1).arrived : std::min(lastWholeAt_, sample(k).arrived);
            gap.at = std::midpoint(before, sample(k).arrived);
        }
        lost_ += gap.scans;
    }
    // Either way the stream has settled at this level.
    level_ = newLevel;
    suspect_ = false;
    windowCount_ = 0;
    longestPause_ = 0;
    lastWholeAt_ = arrived;
    return gap;
}

}  // namespace tamix
