#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "../support/TempDir.h"
#include "acquisition/WorkerThread.h"
#include "device/SignalGenerator.h"
#include "device/SimulatedDriver.h"
#include "view/LiveNumbers.h"

namespace tamix {
namespace {

using namespace std::chrono_literals;
using Scan = std::array<int16_t, kMaxChannels>;

// Volts of a sample (±32768 counts = ±10 V) times the channel's value per
// volt plus its value at 0 V, and the numbers of a stretch of scans, the plain way.
double Engineering(int sample, const ChannelInfo& c) {
    const double volts = sample * 10.0 / 32768.0;
    return volts * c.valueAt1V + c.valueAt0V;
}

ChannelNumbers BruteForce(const std::vector<Scan>& scans, std::size_t k, const ChannelInfo& c) {
    std::vector<double> values;
    for (const Scan& s : scans) values.push_back(Engineering(s[k], c));
    ChannelNumbers n;
    n.latest = values.back();
    n.minimum = *std::min_element(values.begin(), values.end());
    n.maximum = *std::max_element(values.begin(), values.end());
    double sum = 0;
    for (double v : values) sum += v;
    n.mean = sum / static_cast<double>(values.size());
    return n;
}

void ExpectNumbers(const ChannelNumbers& got, const ChannelNumbers& want) {
    const double tolerance = 1e-9 * (1.0 + std::abs(want.maximum) + std::abs(want.minimum));
    EXPECT_NEAR(got.latest, want.latest, tolerance);
    EXPECT_NEAR(got.minimum, want.minimum, tolerance);
    EXPECT_NEAR(got.maximum, want.maximum, tolerance);
    EXPECT_NEAR(got.mean, want.mean, tolerance);
}

std::array<ChannelInfo, 3> Calibrations() {
    std::array<ChannelInfo, 3> c{};
    c[1].valueAt1V = 100.0;  // 100 units per volt, 20 at 0 V
    c[1].valueAt0V = 20.0;
    c[2].valueAt1V = -3.0;  // falls with the voltage: its smallest sample is its largest value
    c[2].valueAt0V = 1.0;
    return c;
}

// Seeded random scans written into a ring as the worker writes them (scan s
// into row s % rows), kept whole beside it for the brute-force pass.
TEST(LiveNumbersTest, NumbersOverTheRingMatchABruteForcePassOverTheScans) {
    struct Case {
        int64_t written;  // scans the worker has delivered
        int count;        // scans asked for
        int expected;     // scans the numbers are over
    };
    const Case cases[] = {
        {1, 1000, 1},                   // the first scan of a run
        {7, 1000, 7},                   // less than a second so far
        {1000, 1000, 1000},             // exactly a second, no wrap yet
        {kBufferRows, 1000, 1000},      // the ring just full
        {kBufferRows + 5, 1000, 1000},  // the second straddles the ring's end
        {10 * kBufferRows + 999, 500, 500},
        {3000, 1, 1},
        {5000, kBufferRows + 10, kBufferRows},  // never more than the ring holds
    };
    const std::array<ChannelInfo, 3> channels = Calibrations();
    std::mt19937 random(20261211);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.written << " scans, " << c.count << " asked");
        auto ring = std::make_unique<std::array<SampleRow, kBufferRows>>();
        std::vector<Scan> all;
        for (int64_t s = 0; s < c.written; ++s) {
            Scan scan{};
            for (std::size_t k = 0; k < channels.size(); ++k) {
                scan[k] = static_cast<int16_t>(sample(random));
                (*ring)[s % kBufferRows][k].store(scan[k]);
            }
            all.push_back(scan);
        }
        const LiveNumbers got = NumbersOverScans(*ring, c.written, c.count, channels);
        ASSERT_EQ(got.scans, c.expected);
        EXPECT_EQ(got.end, c.written);
        const std::vector<Scan> last(all.end() - c.expected, all.end());
        for (std::size_t k = 0; k < channels.size(); ++k) {
            SCOPED_TRACE(k);
            ExpectNumbers(got.channels[k], BruteForce(last, k, channels[k]));
        }
    }
    auto ring = std::make_unique<std::array<SampleRow, kBufferRows>>();
    EXPECT_EQ(NumbersOverScans(*ring, 0, 1000, channels).scans, 0) << "no scan yet";
}

TEST(LiveNumbersTest, ASecondIsTheUnitsScansOfOneSecondWithinHalfTheRing) {
    struct Case {
        double period;
        int scans;
    };
    for (const Case c : {Case{0.001, 1000}, Case{0.002, 500}, Case{0.0020025, 499},
                         Case{0.0001, kBufferRows / 2}, Case{2.0, 1}, Case{0.0, 1}}) {
        EXPECT_EQ(ScansPerSecond(c.period), c.scans) << c.period;
    }
}

TEST(LiveNumbersTest, TheTextGivesTheSpanAndTheValuesWithTheirUnit) {
    const ChannelNumbers n{1.23456, -4.99847, 5.0, 0.0};
    EXPECT_EQ(LiveNumbersText(n, 1.0, "Volt"),
              "now 1.235   last 1 s: min -4.998  max 5  mean 0 Volt");
    EXPECT_EQ(LiveNumbersText(n, 0.25, " mV"),
              "now 1.235   last 0.25 s: min -4.998  max 5  mean 0 mV");
}

// The real worker against an unpaced simulated unit: what the view reads
// after the run is the last second of the scans the unit meant to send.
TEST(LiveNumbersTest, AfterARunTheNumbersAreThoseOfItsLastSecondOfScans) {
    test::TempDir dir;
    auto setup = std::make_unique<MeasurementSetup>();
    SimulatedUnitOptions unit;
    unit.serial = "A4001lsz";  // 1 ms
    unit.paced = false;
    unit.fixedInputs = {0, 1, 2, 3, 4, 5, 6, 7};
    SimulatedDriver driver({unit});
    setup->link.SetDriver(&driver);
    const std::array<ChannelInfo, 3> calibrations = Calibrations();
    const int inputs[] = {0, 3, 4};  // sine, sawtooth, ECG
    setup->channelCount = 3;
    for (int k = 0; k < 3; ++k) {
        setup->channels[k] = calibrations[k];
        setup->channels[k].inputNumber = inputs[k];
    }
    setup->saveToFile = SaveMode::ToFile;
    setup->fileType = FileTypeOf(0);
    setup->totalTime = 2.5;
    setup->SetOutputFileName(dir.File("live.wdq"));
    setup->ResetMarkers();
    WorkerThread worker;
    ASSERT_EQ(worker.StartRun(*setup, DefaultFileOpener()), StartResult::Running);
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (setup->workerActive && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_FALSE(setup->workerActive);
    worker.Join();

    const std::optional<LiveNumbers> got = ReadLiveNumbers(*setup);
    ASSERT_TRUE(got);
    const int64_t end = setup->scanLoops;
    ASSERT_GT(end, 2000);
    EXPECT_EQ(got->end, end);
    ASSERT_EQ(got->scans, 1000);
    std::vector<Scan> last;
    for (int64_t s = end - 1000; s < end; ++s) {
        Scan scan{};
        for (int k = 0; k < 3; ++k) {
            scan[k] = SignalGenerator::IntendedSample(
                inputs[k], static_cast<double>(s) * setup->profile.samplePeriod,
                setup->profile.modelClass);
        }
        last.push_back(scan);
    }
    for (std::size_t k = 0; k < 3; ++k) {
        SCOPED_TRACE(inputs[k]);
        ExpectNumbers(got->channels[k], BruteForce(last, k, calibrations[k]));
    }
    // The 5 V sine over one whole period.
    EXPECT_NEAR(got->channels[0].maximum, 5.0, 1e-3);
    EXPECT_NEAR(got->channels[0].minimum, -5.0, 1e-3);
}

TEST(LiveNumbersTest, NothingIsReadBeforeTheFirstScan) {
    auto setup = std::make_unique<MeasurementSetup>();
    EXPECT_FALSE(ReadLiveNumbers(*setup));
}

}  // namespace
}  // namespace tamix
