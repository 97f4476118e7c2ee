// Gap markers mean lost scans, end to end: tamix-record on a pseudo-terminal
// served by tamix-sim, whose unit is frozen (SIGSTOP) or told to drop scans.
// The markers are checked against the unit's own loss counter and against
// the signal itself: the simulated signal is known, so every recorded scan
// tells which of the unit's scans it is, and where scans are missing.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "../support/ChildProcess.h"
#include "../support/TempDir.h"
#include "../support/WdqReader.h"
#include "device/SignalGenerator.h"
#include "recording/WdqWriter.h"

namespace tamix {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The simulated KPR-44B: 1 ms between scans, class 3 words. Inputs 1 and 4
// are the 1 Hz sine and the 4 s ramp: together no two scans within the ramp's
// period are alike.
constexpr double kPeriod = 0.001;
constexpr int kClass = 3;
const std::vector<int> kInputs = {0, 3};

struct Loss {
    int64_t at = 0;     // the recorded scan after which scans are missing
    int64_t scans = 0;  // how many
};

// Where the recording skips scans of the unit, found from the signal alone.
std::vector<Loss> LossesInSignal(const test::WdqFile& f) {
    auto matches = [&](int64_t recorded, int64_t unitScan) {
        for (std::size_t k = 0; k < kInputs.size(); ++k) {
            const int16_t want = RoundWdqSample(SignalGenerator::IntendedSample(
                kInputs[k], static_cast<double>(unitScan) * kPeriod, kClass));
            if (f.samples[recorded * kInputs.size() + k] != want) return false;
        }
        return true;
    };
    std::vector<Loss> losses;
    int64_t unitScan = 0;
    for (int64_t r = 0; r < f.ScanCount(); ++r, ++unitScan) {
        if (matches(r, unitScan)) continue;
        int64_t next = unitScan + 1;
        while (next < unitScan + 3000 && !matches(r, next)) ++next;
        if (next == unitScan + 3000) {
            ADD_FAILURE() << "recorded scan " << r << " is no scan the unit sent";
            return losses;
        }
        losses.push_back({r, next - unitScan});
        unitScan = next;
    }
    return losses;
}

struct Marker {
    int64_t at = 0;
    int64_t scans = 0;
};

std::vector<Marker> GapMarkers(const test::WdqFile& f) {
    std::vector<Marker> gaps;
    for (const test::WdqMarker& m : f.markers) {
        long long n = 0;
        if (std::sscanf(m.comment.c_str(), "Gap: about %lld scans lost", &n) == 1) {
            gaps.push_back({m.scan, n});
        }
    }
    return gaps;
}

struct Freeze {
    double after = 0;    // seconds after the first scans are on disk
    double seconds = 0;  // how long the unit is stopped
};

struct Case {
    const char* what;
    std::vector<std::string> simArgs;
    std::vector<Freeze> freezes;
};

class GapsTest : public ::testing::Test {
  public:
    // Runs the recorder for `seconds` against the unit; its exit status, the
    // unit's own count of lost scans and the recording.
    struct Outcome {
        int exit = -1;
        int64_t unitLost = -1;
        test::WdqFile file;
    };
    Outcome Record(const Case& c, int seconds) {
        Outcome o;
        std::vector<std::string> simArgs = {TAMIX_SIM_PATH, "--unit", "KPR-44B"};
        simArgs.insert(simArgs.end(), c.simArgs.begin(), c.simArgs.end());
        const std::string simErr = dir.File("sim.err");
        test::ChildProcess sim(simArgs, "/dev/null", simErr);
        const std::string port = sim.ReadLine();
        EXPECT_FALSE(port.empty());
        const std::string out = dir.File("gaps.wdq");
        fs::remove(out);
        test::ChildProcess rec(
            {TAMIX_RECORD_PATH, "--quiet", "--profile", dir.File("p.INI"), "--port", port,
             "--inputs", "1,4", "--time", std::to_string(seconds), out},
            "/dev/null", dir.File("rec.err"));
        // The freezes are timed from the first data on disk, whatever the
        // start-up took on a busy machine.
        const auto deadline = Clock::now() + 30s;
        std::error_code ec;
        while (Clock::now() < deadline && !(fs::exists(out, ec) && fs::file_size(out, ec) > 4096)) {
            std::this_thread::sleep_for(5ms);
        }
        const auto origin = Clock::now();
        for (const Freeze& f : c.freezes) {
            std::this_thread::sleep_until(origin + std::chrono::duration<double>(f.after));
            sim.Signal(SIGSTOP);
            std::this_thread::sleep_for(std::chrono::duration<double>(f.seconds));
            sim.Signal(SIGCONT);
        }
        o.exit = rec.ExitCode();
        sim.StopWith(SIGTERM);
        const std::string err = test::ReadText(simErr);
        long long lost = -1;
        if (const auto at = err.find("tamix-sim: "); at != std::string::npos) {
            std::sscanf(err.c_str() + at, "tamix-sim: %lld scans were lost", &lost);
        }
        o.unitLost = lost;
        std::string error;
        const auto file = test::ReadWdq(test::ReadBytes(out), error);
        EXPECT_TRUE(file.has_value()) << error;
        if (file) o.file = *file;
        return o;
    }

  protected:
    test::TempDir dir;
};

// Every loss of 16 scans or more has a marker within 64 scans of it whose
// count is within 10 %; every marker stands at such a loss; what the markers
// add up to is what the unit dropped.
void ExpectMarkersMatchLosses(const std::vector<Loss>& losses, const std::vector<Marker>& markers) {
    for (const Loss& l : losses) {
        if (l.scans < 16) continue;
        bool found = false;
        for (const Marker& m : markers) {
            if (std::llabs(m.at - l.at) <= 64) {
                found = true;
                EXPECT_NEAR(m.scans, l.scans, 0.1 * static_cast<double>(l.scans)) << "at " << l.at;
            }
        }
        EXPECT_TRUE(found) << l.scans << " scans lost at " << l.at << " have no marker";
    }
    for (const Marker& m : markers) {
        bool real = false;
        for (const Loss& l : losses) real = real || std::llabs(m.at - l.at) <= 64;
        EXPECT_TRUE(real) << "marker of " << m.scans << " at " << m.at << " where nothing was lost";
    }
}

void CheckRun(const Case& c, const GapsTest::Outcome& o) {
    SCOPED_TRACE(c.what);
    const std::vector<Loss> losses = LossesInSignal(o.file);
    const std::vector<Marker> markers = GapMarkers(o.file);
    int64_t inSignal = 0;
    for (const Loss& l : losses) inSignal += l.scans;
    // The signal and the unit agree on what was lost.
    EXPECT_EQ(inSignal, o.unitLost);
    int64_t marked = 0;
    for (const Marker& m : markers) marked += m.scans;
    if (inSignal >= 16) {
        EXPECT_NEAR(marked, inSignal, 0.1 * static_cast<double>(inSignal));
    }
    ExpectMarkersMatchLosses(losses, markers);
    if (o.unitLost >= 16) {
        EXPECT_EQ(o.exit, 5);
    } else {
        EXPECT_TRUE(markers.empty());
        EXPECT_EQ(o.exit, 0);
    }
    // The run went on to its end: 7 s of recorded scans.
    EXPECT_GE(o.file.ScanCount(), 7000);
}

TEST_F(GapsTest, MarkersStandWhereTheUnitLostScansAndNowhereElse) {
    const std::vector<Case> cases = {
        // Well within what the FIFO keeps: late, but all of it arrives.
        {"a freeze the FIFO covers", {}, {{1.0, 0.4}, {2.5, 0.5}}},
        // Longer than the FIFO keeps: a loss its buffer cannot hide.
        {"a freeze that overflows the FIFO", {}, {{1.0, 1.6}}},
        // Losses without any delay, above and below the smallest loss the
        // recorder reports (12 ms). The recorder sees the stream's level to
        // within about three scans on a busy machine, so a count within 10 %
        // is asked of 40 scans here; smaller ones are the detector's own test.
        {"a drop of 40 scans", {"--drop", "3000:40"}, {}},
        {"a drop of 5 scans", {"--drop", "3000:5"}, {}},
    };
    for (const Case& c : cases) {
        const Outcome o = Record(c, 7);
        CheckRun(c, o);
        EXPECT_EQ(GapMarkers(o.file).size(), o.unitLost >= 16 ? 1u : 0u) << c.what;
    }
}

TEST_F(GapsTest, ASilenceOfSecondsDoesNotEndTheRun) {
    const Case c{"a silence of 2.5 s", {}, {{1.0, 2.5}}};
    const Outcome o = Record(c, 7);
    CheckRun(c, o);
    EXPECT_EQ(GapMarkers(o.file).size(), 1u);
}

}  // namespace
}  // namespace tamix
