// The gap detector against a table of synthetic streams whose losses are known.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

#include "acquisition/GapDetector.h"

namespace tamix {
namespace {

// A unit that makes a scan every `period` of its own crystal into a FIFO,
// whose bridge hands the FIFO to the host every `chunk` seconds unless the
// unit is frozen, and a host that reads cycles of 8 scans and sleeps for
// about `wake` seconds whenever it has caught up, as the recorder does.
struct Stream {
    const char* what = "";
    double period = 0.001;
    double drift = 0.0;  // the unit's clock against the host's, as a fraction
    double chunk = 0.016;
    double wake = 0.096;
    double jitter = 0.0;  // host wake-ups up to this late, one in four
    int64_t fifoScans = 1024;
    struct Freeze {
        double at = 0;
        double seconds = 0;
    };
    std::vector<Freeze> freezes = {};
    struct Drop {
        int64_t at = 0;
        int64_t count = 0;
    };
    std::vector<Drop> drops = {};
    double seconds = 20;

    struct Loss {
        int64_t at = 0;  // received scans before the missing ones
        int64_t scans = 0;
    };
    struct Result {
        std::vector<GapDetector::Gap> gaps;
        std::vector<Loss> losses;
    };

    bool Frozen(double t) const {
        for (const Freeze& f : freezes)
            if (t >= f.at && t < f.at + f.seconds) return true;
        return false;
    }

    Result Run() const {
        Result r;
        GapDetector detector(period, 8);
        std::mt19937 rng(11);
        std::uniform_real_distribution<double> late(0, jitter);
        const double unitPeriod = period * (1 + drift);
        int64_t made = 0, fifo = 0, queue = 0, received = 0;
        double nextChunk = chunk;
        auto lose = [&](int64_t n) {
            const int64_t at = received + queue + fifo;
            if (!r.losses.empty() && r.losses.back().at == at) {
                r.losses.back().scans += n;
            } else {
                r.losses.push_back({at, n});
            }
        };
        // Everything the unit and its bridge do up to host time `t`.
        auto advance = [&](double t) {
            for (;;) {
                const double scanDue = static_cast<double>(made + 1) * unitPeriod;
                if (scanDue > t && nextChunk > t) return;
                if (scanDue <= nextChunk) {
                    bool dropped = false;
                    for (const Drop& d : drops) dropped |= made >= d.at && made < d.at + d.count;
                    if (dropped || fifo >= fifoScans) {
                        lose(1);
                    } else {
                        ++fifo;
                    }
                    ++made;
                } else {
                    if (!Frozen(nextChunk)) {
                        queue += fifo;
                        fifo = 0;
                    }
                    nextChunk += chunk;
                }
            }
        };
        double t = 0;
        double phase = 0;
        while (t < seconds) {
            const double start = t;
            const int64_t queued = queue;
            if (queue < 8) {
                // As the link does: a delay that runs through a delivery's phases.
                phase += 0.6180339887498949;
                if (phase >= 1) phase -= 1;
                t += wake - static_cast<double>(queue) * period + 0.004 +
                     phase * std::min(0.016, wake);
                if (jitter > 0 && rng() % 4 == 0) t += late(rng);
                advance(t);
                while (queue < 8) {
                    t = nextChunk + 0.0002;
                    advance(t);
                }
            } else {
                t += 0.00002;
                advance(t);
            }
            const GapDetector::Gap gap =
                detector.AfterCycle({start, t, received, static_cast<double>(queued), received});
            if (gap.scans != 0) r.gaps.push_back(gap);
            queue -= 8;
            received += 8;
        }
        return r;
    }
};

// Every loss of 16 scans or more is one gap within 64 scans of it, its count
// within 10 %; smaller ones are not reported; there is no other gap.
TEST(GapDetectorTest, GapsAreTheLossesOfTheStreamAndNothingElse) {
    const std::vector<Stream> streams = {
        {.what = "steady"},
        {.what = "late wake-ups, a fast crystal", .drift = -1e-4, .jitter = 0.05, .seconds = 120},
        {.what = "late wake-ups, a slow crystal", .drift = 1e-4, .jitter = 0.05, .seconds = 120},
        {.what = "a 2 ms unit, a watched trace", .period = 0.002, .wake = 0.025, .jitter = 0.02},
        {.what = "a freeze the FIFO covers", .freezes = {{3.0, 0.8}, {9.0, 0.5}}},
        {.what = "a freeze that overflows it", .freezes = {{3.0, 2.0}}},
        {.what = "two freezes that overflow it",
         .jitter = 0.02,
         .freezes = {{3.0, 1.5}, {9.0, 3.0}}},
        {.what = "drops just above the threshold", .drops = {{3000, 16}, {9000, 20}}},
        {.what = "drops below it", .drops = {{3000, 5}, {9000, 10}}},
        {.what = "a 2 ms unit's drop", .period = 0.002, .drops = {{2000, 16}}},
        {.what = "a drop among late wake-ups", .jitter = 0.03, .drops = {{5000, 40}}},
    };
    for (const Stream& s : streams) {
        SCOPED_TRACE(s.what);
        const Stream::Result r = s.Run();
        std::size_t expected = 0;
        for (const Stream::Loss& l : r.losses) {
            if (l.scans < 16) continue;
            ++expected;
            bool found = false;
            for (const GapDetector::Gap& g : r.gaps) {
                if (std::llabs(g.at - l.at) > 64) continue;
                found = true;
                EXPECT_NEAR(g.scans, l.scans, 0.1 * static_cast<double>(l.scans)) << l.at;
            }
            EXPECT_TRUE(found) << l.scans << " scans at " << l.at;
        }
        EXPECT_EQ(r.gaps.size(), expected);
        for (const GapDetector::Gap& g : r.gaps) {
            bool real = false;
            for (const Stream::Loss& l : r.losses) real |= std::llabs(g.at - l.at) <= 64;
            EXPECT_TRUE(real) << g.scans << " at " << g.at;
        }
    }
}

TEST(GapDetectorTest, TheSmallestLossReportedIsTwelveMilliseconds) {
    EXPECT_EQ(GapDetector(0.001).threshold(), 12);
    EXPECT_EQ(GapDetector(0.002).threshold(), 6);
}

}  // namespace
}  // namespace tamix
