// Finds scans lost before they reached the host: the unit makes one scan per
// sample period since streaming began, so once the host has caught up with the
// stream, a lasting rise in the scans made but not arrived is a gap; a late
// delivery that all arrives is none. Worker thread only.
#pragma once

#include <array>
#include <cstdint>

namespace tamix {

class GapDetector {
  public:
    // `period` in seconds; a cycle brings `scansPerCycle` scans.
    explicit GapDetector(double period, int scansPerCycle = 8);

    // What the host saw of one cycle; times in seconds since streaming began.
    struct Cycle {
        double start = 0;      // when the cycle began, before it waited for its batch
        double end = 0;        // when its batch had arrived
        int64_t received = 0;  // scans received before this cycle's batch
        double queued = -1;    // scans already in the host's buffer at `start`; < 0 unknown
        int64_t recorded = 0;  // the recording's scan index of the cycle's first scan
    };

    struct Gap {
        int64_t scans = 0;  // 0: no gap found
        int64_t at = 0;     // the recording's scan index where the scans are missing
    };

    // After each cycle; a gap is reported once the stream has shown its loss
    // for long enough that a late delivery is ruled out.
    Gap AfterCycle(const Cycle& cycle);

    int64_t lost() const { return lost_; }
    // The smallest loss reported, in scans.
    int64_t threshold() const { return threshold_; }

  private:
    void Settle(double shortfall, double time);

    double period_;
    int scansPerCycle_;
    int64_t threshold_;
    // The level of the shortfall (scans made but not arrived) while nothing is
    // lost: what is in flight between the unit and the host.
    bool haveLevel_ = false;
    double level_ = 0;
    // The current stretch of caught-up cycles at the level: its lowest
    // shortfall, its start and its length.
    double windowMin_ = 0;
    double windowStart_ = 0;
    int windowCount_ = 0;
    // Since the last cycle at the level: where the stream was whole, the
    // longest stall between two batches (0: none), and when it ended (the
    // stream came back then).
    int64_t lastWholeAt_ = 0;
    double previousEnd_ = 0;
    double longestPause_ = 0;
    double resumedAt_ = 0;
    // A shortfall above the level that has not yet lasted long enough.
    bool suspect_ = false;
    double suspectMin_ = 0;
    double suspectSince_ = 0;
    int suspectCount_ = 0;
    int64_t suspectAt_ = 0;
    // The caught-up cycles of the suspect's stretch (the latest, when longer).
    struct Sample {
        double time = 0;
        double shortfall = 0;
        int64_t arrived = 0;  // the recording's index of the scan next to arrive
    };
    std::array<Sample, 256> samples_{};
    int64_t lost_ = 0;
};

}  // namespace tamix
