// The power density against a plain Welch average of direct DFTs, on the simulated
// unit's signals (a 1 Hz sine has its peak at 1 Hz; the power adds up to the
// variance), the limit on long spans, the peaks and the CSV export.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <fstream>
#include <functional>
#include <numbers>
#include <random>
#include <sstream>
#include <thread>

#include "../support/AllocationCounter.h"
#include "../support/SimulatedRecording.h"
#include "../support/TempDir.h"
#include "recording/OpenRecording.h"
#include "recording/PowerDensity.h"
#include "recording/PowerDensityExport.h"
#include "recording/PowerDensityPeaks.h"

namespace tamix {
namespace {

// A recording whose values come from a function, read without allocating.
class FunctionReader final : public RecordingReader {
  public:
    FunctionReader(std::size_t channels, int64_t scans, double period,
                   std::function<double(int64_t, std::size_t)> value)
        : value_(std::move(value)) {
        info_.fileName = "generated.wdq";
        info_.channels.resize(channels);
        info_.scanCount = scans;
        info_.period = period;
    }
    const RecordingInfo& Info() const override { return info_; }
    bool ReadSamples(int64_t, int64_t, std::span<int16_t>) override { return false; }
    bool ReadValues(int64_t first, int64_t count, std::span<double> out) override {
        if (first < 0 || first + count > info_.scanCount || first + count > failFrom ||
            out.size() < static_cast<std::size_t>(count) * info_.channels.size()) {
            error_ = info_.fileName + ": the file was changed by another program";
            return false;
        }
        highest = std::max(highest, first + count);
        const std::size_t n = info_.channels.size();
        for (int64_t s = 0; s < count; ++s) {
            for (std::size_t c = 0; c < n; ++c) {
                out[static_cast<std::size_t>(s) * n + c] = value_(first + s, c);
            }
        }
        return true;
    }
    std::string Error() const override { return error_; }

    int64_t failFrom = INT64_MAX;  // reads reaching past this scan fail
    int64_t highest = 0;           // the end of the furthest read

  private:
    RecordingInfo info_;
    std::function<double(int64_t, std::size_t)> value_;
    std::string error_;
};

// Welch's average written out plainly: direct DFTs in long double, the Hann
// window, the segments' means removed, one-sided density.
std::vector<double> DirectWelch(const std::vector<double>& x, double rate, std::size_t length) {
    const std::size_t step = length / 2;
    const std::size_t segments = (x.size() - length) / step + 1;
    const long double pi = std::numbers::pi_v<long double>;
    std::vector<long double> cosine(length);
    std::vector<long double> sine(length);
    std::vector<long double> window(length);
    long double windowPower = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const long double a =
            2 * pi * static_cast<long double>(i) / static_cast<long double>(length);
        cosine[i] = std::cos(a);
        sine[i] = std::sin(a);
        window[i] = 0.5L - 0.5L * std::cos(a);
        windowPower += window[i] * window[i];
    }
    std::vector<long double> power(length / 2 + 1, 0);
    std::vector<long double> y(length);
    for (std::size_t s = 0; s < segments; ++s) {
        long double mean = 0;
        for (std::size_t i = 0; i < length; ++i) mean += x[s * step + i];
        mean /= static_cast<long double>(length);
        for (std::size_t i = 0; i < length; ++i) y[i] = (x[s * step + i] - mean) * window[i];
        for (std::size_t k = 0; k <= length / 2; ++k) {
            long double re = 0;
            long double im = 0;
            for (std::size_t i = 0; i < length; ++i) {
                const std::size_t at = (i * k) % length;
                re += y[i] * cosine[at];
                im -= y[i] * sine[at];
            }
            power[k] += re * re + im * im;
        }
    }
    std::vector<double> density(power.size());
    for (std::size_t k = 0; k < power.size(); ++k) {
        const long double twice = (k == 0 || k == length / 2) ? 1 : 2;
        density[k] = static_cast<double>(twice * power[k] /
                                         (rate * windowPower * static_cast<long double>(segments)));
    }
    return density;
}

TEST(PowerDensityShape, SegmentsAreTheLargestPowerOfTwoGivingSevenHalfOverlaps) {
    struct Case {
        int64_t first, last;
        std::size_t segmentScans, segments;
        int64_t usedEnd;
        bool limited;
    };
    const Case cases[] = {
        {0, 16, 16, 1, 16, false},
        {0, 23, 16, 1, 16, false},
        {0, 24, 16, 2, 24, false},
        {5, 70, 16, 7, 69, false},
        {3, 1003, 128, 14, 3 + 15 * 64, false},
        {0, 4096, 1024, 7, 4096, false},
        {0, 4095, 512, 14, 3840, false},
        {0, int64_t{1} << 20, 65536, 31, int64_t{1} << 20, false},
        {100, 100 + kMaxPowerDensityScans, 65536, 127, 100 + kMaxPowerDensityScans, false},
        {100, 101 + kMaxPowerDensityScans, 65536, 127, 100 + kMaxPowerDensityScans, true},
        {0, 3 * kMaxPowerDensityScans, 65536, 127, kMaxPowerDensityScans, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.first) + ".." + std::to_string(c.last));
        PowerDensityShape shape;
        std::string error;
        ASSERT_TRUE(ShapePowerDensity(c.first, c.last, shape, error)) << error;
        EXPECT_EQ(shape.segmentScans, c.segmentScans);
        EXPECT_EQ(shape.segments, c.segments);
        EXPECT_EQ(shape.first, c.first);
        EXPECT_EQ(shape.last, c.usedEnd);
        EXPECT_EQ(shape.limited, c.limited);
    }
    PowerDensityShape shape;
    std::string error;
    EXPECT_FALSE(ShapePowerDensity(10, 25, shape, error));
    EXPECT_EQ(error, "a power density needs a span of at least 16 scans; this one holds 15");
    EXPECT_FALSE(ShapePowerDensity(10, 5, shape, error));
    EXPECT_EQ(error, "a power density needs a span of at least 16 scans; this one holds 0");
    EXPECT_FALSE(ShapePowerDensity(-1, 100, shape, error));
}

TEST(PowerDensity, MatchesAPlainWelchOfDirectDfts) {
    struct Case {
        int64_t first, last;
    };
    const Case cases[] = {{0, 16}, {5, 70}, {3, 1003}, {0, 4099}, {17, 2000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.first) + ".." + std::to_string(c.last));
        // Noise, an offset and a sine between bins, seeded per channel.
        std::vector<std::vector<double>> values(3);
        for (std::size_t ch = 0; ch < values.size(); ++ch) {
            std::mt19937 random(static_cast<unsigned>(41 + ch));
            std::normal_distribution<double> noise(0.0, 0.5 + static_cast<double>(ch));
            for (int64_t s = 0; s < c.last; ++s) {
                values[ch].push_back(3.0 * static_cast<double>(ch) + noise(random) +
                                     2.0 * std::sin(0.37 * static_cast<double>(s * (ch + 1))));
            }
        }
        FunctionReader reader(3, c.last, 0.004,
                              [&](int64_t s, std::size_t ch) { return values[ch][s]; });
        PowerDensity psd;
        std::string error;
        const std::size_t channels[] = {2, 0};
        ASSERT_TRUE(ComputePowerDensity(reader, c.first, c.last, channels, {}, psd, error))
            << error;
        EXPECT_TRUE(psd.note.empty());
        EXPECT_DOUBLE_EQ(psd.rateHz, 250.0);
        EXPECT_DOUBLE_EQ(psd.binHz, 250.0 / static_cast<double>(psd.shape.segmentScans));
        ASSERT_EQ(psd.channels.size(), 2u);
        for (std::size_t j = 0; j < 2; ++j) {
            const std::size_t ch = channels[j];
            EXPECT_EQ(psd.channels[j].channel, ch);
            const std::vector<double> x(values[ch].begin() + c.first, values[ch].end());
            const std::vector<double> expected = DirectWelch(x, 250.0, psd.shape.segmentScans);
            const std::vector<double>& got = psd.channels[j].density;
            ASSERT_EQ(got.size(), expected.size());
            const double top = *std::max_element(expected.begin(), expected.end());
            for (std::size_t k = 0; k < got.size(); ++k) {
                ASSERT_NEAR(got[k], expected[k], 1e-9 * top) << "bin " << k;
            }
            // The variance of the scans used, worked out here in two passes.
            const auto used = static_cast<std::size_t>(psd.shape.last - c.first);
            double mean = 0;
            for (std::size_t i = 0; i < used; ++i) mean += x[i];
            mean /= static_cast<double>(used);
            double variance = 0;
            for (std::size_t i = 0; i < used; ++i) variance += (x[i] - mean) * (x[i] - mean);
            variance /= static_cast<double>(used);
            EXPECT_NEAR(psd.channels[j].variance, variance, 1e-9 * variance);
        }
    }
}

// The simulated unit's sines, square and triangle waves (inputs 1, 2, 3 and
// D: 1 Hz, 2 Hz, 0.5 Hz and 50 Hz) at 500 scans per second for 40 s.
class SimulatedPowerDensity : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir = std::make_unique<test::TempDir>();
        path = dir->File("simulated.wdq");
        ASSERT_TRUE(test::WriteSimulatedWdq(path, {0, 1, 2, 7}, kScans, 0.002));
    }
    static void TearDownTestSuite() { dir.reset(); }

    static constexpr int64_t kScans = 20000;
    static inline std::unique_ptr<test::TempDir> dir;
    static inline std::string path;
};

TEST_F(SimulatedPowerDensity, TheOneHertzSineHasItsPeakAtOneHertz) {
    std::string error;
    auto reader = OpenRecording(path, error);
    ASSERT_TRUE(reader) << error;
    PowerDensity psd;
    const std::size_t channels[] = {0};
    ASSERT_TRUE(ComputePowerDensity(*reader, 0, kScans, channels, {}, psd, error)) << error;
    const std::vector<PowerDensityPeak> peaks =
        StrongestPeaks(psd.channels[0].density, psd.binHz, 5);
    ASSERT_FALSE(peaks.empty());
    EXPECT_NEAR(peaks[0].frequencyHz, 1.0, 0.02);
    // A 5 V sine: 5/√2 V RMS, all but a two-thousandth of its power in the peak.
    EXPECT_NEAR(peaks[0].rms, 5.0 / std::numbers::sqrt2, 0.005);
    // What is left is the rounding of the samples, far below the sine.
    for (std::size_t p = 1; p < peaks.size(); ++p)
        EXPECT_LT(peaks[p].density, 1e-4 * peaks[0].density);
}

TEST_F(SimulatedPowerDensity, ThePowerAddsUpToTheVariance) {
    std::string error;
    auto reader = OpenRecording(path, error);
    ASSERT_TRUE(reader) << error;
    PowerDensity psd;
    const std::size_t channels[] = {0, 1, 2, 3};
    ASSERT_TRUE(ComputePowerDensity(*reader, 1000, kScans, channels, {}, psd, error)) << error;
    const auto used = psd.shape.last - psd.shape.first;
    std::vector<double> values(static_cast<std::size_t>(used) * 4);
    ASSERT_TRUE(reader->ReadValues(psd.shape.first, used, values));
    for (std::size_t c = 0; c < 4; ++c) {
        SCOPED_TRACE("channel " + std::to_string(c + 1));
        double sum = 0;
        double squares = 0;
        for (int64_t s = 0; s < used; ++s) {
            const double v = values[static_cast<std::size_t>(s) * 4 + c];
            sum += v;
            squares += v * v;
        }
        const double mean = sum / static_cast<double>(used);
        const double variance = squares / static_cast<double>(used) - mean * mean;
        EXPECT_NEAR(psd.channels[c].variance, variance, 1e-9 * variance);
        double power = 0;
        for (const double d : psd.channels[c].density) power += d * psd.binHz;
        EXPECT_NEAR(power, variance, 0.01 * variance);
    }
    // The signals' own variances: a 5 V sine 12.5 V², a square wave of ±2.5 V
    // 6.25 V², a ±8 V triangle 64/3 V², a 1 V sine 0.5 V² (to within the
    // part of a period that the 36.9 s used leave over).
    EXPECT_NEAR(psd.channels[0].variance, 12.5, 0.005 * 12.5);
    EXPECT_NEAR(psd.channels[1].variance, 6.25, 0.005 * 6.25);
    EXPECT_NEAR(psd.channels[2].variance, 64.0 / 3, 0.005 * 64 / 3);
    EXPECT_NEAR(psd.channels[3].variance, 0.5, 0.005 * 0.5);
}

TEST(PowerDensity, ALongSpanIsLimitedWithANote) {
    // Longer by more than half a segment, which the segments alone would drop.
    const int64_t span = kMaxPowerDensityScans + 100000;
    FunctionReader reader(1, span + 10, 0.001, [](int64_t s, std::size_t) {
        return std::sin(0.001 * static_cast<double>(s));
    });
    PowerDensity psd;
    std::string error;
    const std::size_t channels[] = {0};
    ASSERT_TRUE(ComputePowerDensity(reader, 10, 10 + span, channels, {}, psd, error)) << error;
    EXPECT_TRUE(psd.shape.limited);
    EXPECT_EQ(psd.shape.last, 10 + kMaxPowerDensityScans);
    EXPECT_EQ(reader.highest, 10 + kMaxPowerDensityScans);
    EXPECT_EQ(psd.note,
              "The span holds 4294304 scans (4294.3 s): the power density covers its first 4194304 "
              "scans (4194.3 s).");

    ASSERT_TRUE(
        ComputePowerDensity(reader, 10, 10 + kMaxPowerDensityScans, channels, {}, psd, error));
    EXPECT_FALSE(psd.shape.limited);
    EXPECT_EQ(psd.note, "");
}

TEST(PowerDensity, FailuresNameTheFileAndTheReason) {
    FunctionReader reader(2, 1000, 0.001, [](int64_t s, std::size_t c) {
        return c == 1 && s == 700 ? std::nan("") : 1.0;
    });
    PowerDensity psd;
    std::string error;
    const std::size_t first[] = {0};
    const std::size_t second[] = {1};
    const std::size_t missing[] = {0, 2};
    EXPECT_FALSE(ComputePowerDensity(reader, 0, 10, first, {}, psd, error));
    EXPECT_EQ(
        error,
        "generated.wdq: a power density needs a span of at least 16 scans; this one holds 10");
    EXPECT_FALSE(ComputePowerDensity(reader, 0, 1001, first, {}, psd, error));
    EXPECT_EQ(error, "generated.wdq: the span ends at scan 1001, after the recording's 1000 scans");
    EXPECT_FALSE(ComputePowerDensity(reader, 0, 1000, missing, {}, psd, error));
    EXPECT_EQ(error, "generated.wdq: the recording has no channel 3");
    EXPECT_FALSE(ComputePowerDensity(reader, 0, 1000, second, {}, psd, error));
    EXPECT_EQ(error,
              "generated.wdq: scan 700 holds a value that is not a finite number (nan) in channel "
              "2, so no power density can be computed");
    ASSERT_TRUE(ComputePowerDensity(reader, 0, 1000, first, {}, psd, error)) << error;
    reader.failFrom = 900;
    EXPECT_FALSE(ComputePowerDensity(reader, 0, 1000, first, {}, psd, error));
    EXPECT_EQ(error, "generated.wdq: the file was changed by another program");
    reader.failFrom = INT64_MAX;
    int calls = 0;
    EXPECT_FALSE(ComputePowerDensity(
        reader, 0, 1000, first, [&](int64_t, int64_t) { return ++calls < 3; }, psd, error));
    EXPECT_EQ(error, "generated.wdq: cancelled");
    EXPECT_EQ(calls, 3);
}

TEST(PowerDensity, AllocatesNothingPerSegment) {
    if (!test::AllocationCountingAvailable()) GTEST_SKIP() << "sanitizer build";
    FunctionReader reader(2, int64_t{1} << 21, 0.001, [](int64_t s, std::size_t c) {
        return static_cast<double>((s * (c + 3)) % 17);
    });
    const std::size_t channels[] = {0, 1};
    // Both spans have segments of 65536 scans: 15 of them and 63.
    long counts[2] = {};
    const int64_t spans[2] = {int64_t{1} << 19, int64_t{1} << 21};
    // The plan for the segment's size is made once, by whichever power density
    // needs it first: made before counting, it falls on neither span.
    {
        PowerDensity warm;
        std::string error;
        ASSERT_TRUE(ComputePowerDensity(reader, 0, spans[0], channels, {}, warm, error)) << error;
    }
    for (int i = 0; i < 2; ++i) {
        PowerDensity psd;
        std::string error;
        test::StartCountingAllocations();
        std::thread worker(
            [&] { ComputePowerDensity(reader, 0, spans[i], channels, {}, psd, error); });
        worker.join();
        counts[i] = test::StopCountingAllocations();
        ASSERT_EQ(psd.shape.segmentScans, 65536u) << error;
    }
    EXPECT_EQ(counts[0], counts[1]);
}

TEST(PowerDensityPeaks, LocalMaximaByLevelWithinTheInnerBins) {
    struct Case {
        std::vector<double> density;
        std::size_t count;
        std::vector<std::size_t> bins;
    };
    const Case cases[] = {
        {{9, 1, 2, 1, 5, 1, 3, 1, 8}, 5, {4, 6, 2}},  // the ends are never peaks
        {{9, 1, 2, 1, 5, 1, 3, 1, 8}, 2, {4, 6}},
        {{0, 1, 1, 0, 2, 2, 2, 0}, 5, {4, 1}},  // a flat top counts once, at its first bin
        {{1, 2, 3, 4, 5}, 5, {}},
        {{1, 2}, 5, {}},
        {{}, 5, {}},
        {{0, 3, 0, 3, 0}, 5, {1, 3}},  // equal levels in order of frequency
    };
    for (const Case& c : cases) {
        const std::vector<PowerDensityPeak> peaks = StrongestPeaks(c.density, 0.5, c.count);
        std::vector<std::size_t> bins;
        for (const PowerDensityPeak& p : peaks) bins.push_back(p.bin);
        EXPECT_EQ(bins, c.bins);
    }
}

TEST(PowerDensityPeaks, FrequencyAndRmsOfAGaussianPeak) {
    // A Gaussian of the bin number centred at 10.3: the parabola through the
    // logarithms of three bins finds its centre exactly.
    std::vector<double> density(40);
    for (std::size_t k = 0; k < density.size(); ++k) {
        const double d = (static_cast<double>(k) - 10.3) / 1.2;
        density[k] = 4.0 * std::exp(-0.5 * d * d);
    }
    const std::vector<PowerDensityPeak> peaks = StrongestPeaks(density, 0.25, 1);
    ASSERT_EQ(peaks.size(), 1u);
    EXPECT_EQ(peaks[0].bin, 10u);
    EXPECT_NEAR(peaks[0].frequencyHz, 10.3 * 0.25, 1e-9);
    EXPECT_DOUBLE_EQ(peaks[0].density, density[10]);
    double power = 0;
    for (std::size_t k = 8; k <= 12; ++k) power += density[k] * 0.25;
    EXPECT_DOUBLE_EQ(peaks[0].rms, std::sqrt(power));
}

std::vector<std::string> Split(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    std::string field;
    while (std::getline(in, field, ',')) fields.push_back(field);
    return fields;
}

TEST_F(SimulatedPowerDensity, TheCsvExportReadsBackExactly) {
    std::string error;
    auto reader = OpenRecording(path, error);
    ASSERT_TRUE(reader) << error;
    PowerDensity psd;
    const std::size_t channels[] = {0, 1, 2, 3};
    ASSERT_TRUE(ComputePowerDensity(*reader, 0, 3000, channels, {}, psd, error)) << error;
    const std::string csv = dir->File("power density.csv");
    { std::ofstream(csv) << "an earlier file\n"; }
    const std::size_t shown[] = {2, 0};
    ASSERT_TRUE(ExportPowerDensityCsv(psd, reader->Info(), shown, csv, DefaultFileOpener(), error))
        << error;
    std::ifstream in(csv);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "frequency_hz,#3: Chn2 [Volt^2/Hz],#1: Chn0 [Volt^2/Hz]");
    std::size_t bin = 0;
    while (std::getline(in, line)) {
        const std::vector<std::string> fields = Split(line);
        ASSERT_EQ(fields.size(), 3u) << line;
        double v[3] = {};
        for (std::size_t f = 0; f < 3; ++f) {
            const auto r =
                std::from_chars(fields[f].data(), fields[f].data() + fields[f].size(), v[f]);
            ASSERT_EQ(r.ptr, fields[f].data() + fields[f].size()) << fields[f];
        }
        ASSERT_LT(bin, psd.Bins());
        EXPECT_EQ(v[0], psd.Frequency(bin));
        EXPECT_NEAR(v[0], static_cast<double>(bin) * 500.0 / 512, 1e-9);
        EXPECT_EQ(v[1], psd.channels[2].density[bin]);
        EXPECT_EQ(v[2], psd.channels[0].density[bin]);
        ++bin;
    }
    EXPECT_EQ(bin, psd.Bins());

    const std::string nowhere = dir->File("missing/power density.csv");
    EXPECT_FALSE(
        ExportPowerDensityCsv(psd, reader->Info(), shown, nowhere, DefaultFileOpener(), error));
    EXPECT_EQ(error.rfind(nowhere + ": ", 0), 0u) << error;
    EXPECT_GT(error.size(), nowhere.size() + 2);
    const std::size_t beyond[] = {4};
    EXPECT_FALSE(
        ExportPowerDensityCsv(psd, reader->Info(), beyond, csv, DefaultFileOpener(), error));
    EXPECT_EQ(error, csv + ": the power density has no channel 5");
}

}  // namespace
}  // namespace tamix
