// Finds scans lost before they reached the host: the unit's stream should hold
// one scan per sample period since streaming began, so a lasting shortfall of
// received scans against the monotonic clock is a gap. Worker thread only.
#pragma once

#include <cstdint>

namespace tamix {

class GapDetector {
  public:
    // `period` in seconds; a cycle brings `scansPerCycle` scans.
    explicit GapDetector(double period, int scansPerCycle = 8);

    struct Gap {
        int64_t scans = 0;  // 0: no gap found
        int64_t at = 0;     // the recording's scan index where it showed first
    };

    // After each cycle: the cycle's read took `readSeconds`, `elapsedSeconds`
    // have passed since streaming began, `received` scans have arrived, and
    // the recording stands at scan `recorded`.
    Gap AfterCycle(double readSeconds, double elapsedSeconds, int64_t received, int64_t recorded);

    int64_t lost() const { return lost_; }

  private:
    double period_;
    double caughtUpRead_;  // a read this long waited for the unit: no backlog
    int cyclesPerBlock_;
    int64_t threshold_;
    int cycle_ = 0;
    bool blockHasSample_ = false;
    double blockMin_ = 0;
    bool haveBaseline_ = false;
    double baseline_ = 0;
    bool haveCandidate_ = false;
    int64_t candidateAt_ = 0;
    int64_t lost_ = 0;
};

}  // namespace tamix
