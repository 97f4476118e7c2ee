#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "acquisition/GapDetector.h"

namespace tamix {
namespace {

// A unit streaming at `period` through cycles of 8 scans, read by a host that
// waits for each cycle (caught up) except while it works off a backlog.
struct Stream {
    double period = 0.002;
    double drift = 0.0;         // the unit's clock against the host's, as a fraction
    double stallAt = -1;        // host time at which the host stops reading
    double stallFor = 0;        // for how long
    int64_t bufferScans = 256;  // what the unit holds while the host is away
    double jitter = 0;          // scheduling delays up to this, now and then

    // Runs `seconds` of host time; returns the gaps found, and the scans the
    // unit really dropped in `lostOut`.
    std::vector<GapDetector::Gap> Run(double seconds, int64_t* lostOut = nullptr) const {
        const double unitPeriod = period * (1 + drift);
        GapDetector detector(period);
        std::mt19937 rng(7);
        std::uniform_real_distribution<double> delay(0, jitter);
        std::vector<GapDetector::Gap> found;
        int64_t received = 0;
        int64_t lost = 0;
        double now = 0;
        bool stalled = false;
        while (now < seconds) {
            if (!stalled && stallAt >= 0 && now >= stallAt) {
                stalled = true;
                now += stallFor;
            }
            // What the unit could not keep while nobody read it is gone.
            const auto produced = static_cast<int64_t>(now / unitPeriod);
            const int64_t waiting = produced - lost - received;
            if (waiting > bufferScans) lost += waiting - bufferScans;
            double read = 0.0001;
            if (produced - lost - received < 8) {
                const double ready = static_cast<double>(received + lost + 8) * unitPeriod;
                read = ready - now;
                if (jitter > 0 && rng() % 10 == 0) read += delay(rng);
            }
            now += read;
            received += 8;
            const GapDetector::Gap gap = detector.AfterCycle(read, now, received, received);
            if (gap.scans != 0) found.push_back(gap);
        }
        if (lostOut != nullptr) *lostOut = lost;
        return found;
    }
};

TEST(GapDetectorTest, ASteadyStreamHasNoGapWhateverTheJitterOrDrift) {
    for (const Stream s : {Stream{}, Stream{.jitter = 0.05}, Stream{.drift = 1e-4},
                           Stream{.period = 0.001, .drift = -2e-4, .jitter = 0.03}}) {
        EXPECT_TRUE(s.Run(120).empty());
    }
}

TEST(GapDetectorTest, AStalledHostShowsAsOneGapOfTheScansTheUnitCouldNotKeep) {
    for (const double period : {0.002, 0.001}) {
        Stream s{.period = period, .stallAt = 3.0, .stallFor = 1.0, .jitter = 0.02};
        int64_t lost = 0;
        const auto gaps = s.Run(8, &lost);
        ASSERT_EQ(gaps.size(), 1u) << period;
        EXPECT_NEAR(gaps[0].scans, lost, 2) << period;
        // The gap sits in the data after what the unit had buffered when the host stalled.
        EXPECT_NEAR(gaps[0].at, 3.0 / period + s.bufferScans, 16) << period;
    }
}

TEST(GapDetectorTest, AStallTheUnitsBufferCoversIsNoGap) {
    Stream s{.stallAt = 3.0, .stallFor = 0.4};
    int64_t lost = 0;
    EXPECT_TRUE(s.Run(8, &lost).empty());
    EXPECT_EQ(lost, 0);
}

}  // namespace
}  // namespace tamix
