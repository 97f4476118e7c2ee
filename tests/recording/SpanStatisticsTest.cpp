#include "recording/SpanStatistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>

#include "../support/TempDir.h"
#include "WdqBytes.h"
#include "device/SignalGenerator.h"
#include "recording/FrequencyEstimate.h"
#include "recording/TextFileReader.h"
#include "recording/TextWriter.h"
#include "recording/WdqFileReader.h"

namespace tamix {
namespace {

constexpr int64_t kSumBlock = int64_t{1} << MinMaxPyramid::kSumShift;

void WriteFile(const std::string& path, std::span<const uint8_t> bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

// One channel over [first, last) by brute force on every value the reader
// gives: two passes in long double, the rms from the squares themselves.
struct Reference {
    double min = INFINITY, max = -INFINITY, mean = 0, rms = 0, sd = 0;
    int64_t minScan = -1, maxScan = -1;
};

Reference BruteForce(const std::vector<double>& all, std::size_t n, std::size_t k, int64_t first,
                     int64_t last) {
    Reference r;
    long double sum = 0;
    long double squares = 0;
    for (int64_t s = first; s < last; ++s) {
        const double v = all[static_cast<std::size_t>(s) * n + k];
        sum += v;
        squares += static_cast<long double>(v) * v;
        if (v < r.min) r.min = v, r.minScan = s;
        if (v > r.max) r.max = v, r.maxScan = s;
    }
    const auto count = static_cast<long double>(last - first);
    const long double mean = sum / count;
    long double spread = 0;
    for (int64_t s = first; s < last; ++s) {
        const long double d = all[static_cast<std::size_t>(s) * n + k] - mean;
        spread += d * d;
    }
    r.mean = static_cast<double>(mean);
    r.rms = static_cast<double>(std::sqrt(squares / count));
    r.sd = static_cast<double>(std::sqrt(spread / count));
    return r;
}

// Every statistic of every channel over the spans, against the brute force.
void CheckSpans(RecordingReader& reader, MinMaxPyramid& overview,
                const std::vector<std::pair<int64_t, int64_t>>& spans, const std::string& label) {
    const RecordingInfo& info = reader.Info();
    const std::size_t n = info.channels.size();
    std::vector<double> all(static_cast<std::size_t>(info.scanCount) * n);
    ASSERT_TRUE(reader.ReadValues(0, info.scanCount, all)) << reader.Error();
    std::vector<std::size_t> channels(n);
    for (std::size_t k = 0; k < n; ++k) channels[k] = n - 1 - k;  // any order
    for (const auto& [first, last] : spans) {
        SpanStatistics stats;
        std::string error;
        ASSERT_TRUE(ComputeSpanStatistics(reader, overview, first, last, channels, stats, error))
            << label << ": " << error;
        const std::string where =
            label + " [" + std::to_string(first) + ", " + std::to_string(last) + ")";
        EXPECT_EQ(stats.first, first);
        EXPECT_EQ(stats.last, last);
        EXPECT_DOUBLE_EQ(stats.duration, static_cast<double>(last - first) * info.period) << where;
        ASSERT_EQ(stats.channels.size(), n);
        for (std::size_t c = 0; c < n; ++c) {
            const ChannelStatistics& got = stats.channels[c];
            const Reference want = BruteForce(all, n, channels[c], first, last);
            const double scale = std::max({std::abs(want.min), std::abs(want.max), 1e-300});
            const std::string what = where + " channel " + std::to_string(channels[c]);
            EXPECT_EQ(got.scans, last - first) << what;
            EXPECT_EQ(got.min, want.min) << what;
            EXPECT_EQ(got.max, want.max) << what;
            EXPECT_DOUBLE_EQ(got.minTime, static_cast<double>(want.minScan) * info.period) << what;
            EXPECT_DOUBLE_EQ(got.maxTime, static_cast<double>(want.maxScan) * info.period) << what;
            EXPECT_NEAR(got.pp, want.max - want.min, 1e-12 * scale) << what;
            EXPECT_NEAR(got.mean, want.mean, 1e-12 * scale) << what;
            EXPECT_NEAR(got.rms, want.rms, 1e-12 * scale) << what;
            EXPECT_NEAR(got.sd, want.sd, 1e-9 * want.sd + 1e-12 * scale) << what;
        }
    }
}

// The cases every recording is checked over: inside one sum block, across
// blocks, on their edges, the whole recording, its first and last scan, and
// random spans from a fixed seed.
std::vector<std::pair<int64_t, int64_t>> Spans(int64_t scans, std::mt19937& rng) {
    std::vector<std::pair<int64_t, int64_t>> spans = {
        {0, scans},
        {0, 1},
        {scans - 1, scans},
        {100, 5000},
        {5000, scans - 3000},
        {kSumBlock, 2 * kSumBlock},
        {kSumBlock - 1, 3 * kSumBlock + 1},
        {kSumBlock + 1, 3 * kSumBlock - 1},
    };
    std::uniform_int_distribution<int64_t> at(0, scans - 1);
    for (int i = 0; i < 30; ++i) {
        int64_t a = at(rng);
        int64_t b = at(rng);
        if (a > b) std::swap(a, b);
        spans.emplace_back(a, b + 1);
    }
    return spans;
}

struct WdqCase {
    const char* label;
    int channels;
    bool hiRes;
    double slope;   // volts per count >> 2, as the file stores it
    int offset;     // counts every sample sits on
    int amplitude;  // counts of the wave and noise on it
};

const WdqCase kWdqCases[] = {
    {"two channels", 2, false, 1 / 819.2, 0, 20000},
    {"HiRes, falling calibration", 3, true, -2 / 819.2, 0, 20000},
    {"small wave on a large offset", 1, false, 1 / 819.2, 30000, 3},
    {"eight channels", 8, false, 0.5 / 819.2, -1000, 9000},
    {"nine channels", 9, true, 1 / 819.2, 0, 500},
    // Clipped at both ends: the largest squares the block sums can meet.
    {"HiRes, four channels at full scale", 4, true, 1 / 819.2, 0, 40000},
    {"eight channels at full scale", 8, false, 1 / 819.2, 0, 40000},
};

TEST(SpanStatistics, WinDaqSpansMatchABruteForcePass) {
    test::TempDir dir;
    std::mt19937 rng(4242);
    for (const WdqCase& c : kWdqCases) {
        constexpr int kScans = 5 * kSumBlock + 777;
        test::WdqBytesSpec spec;
        spec.channels = c.channels;
        spec.channelByte = static_cast<uint8_t>(0x20 | c.channels);
        spec.flags = c.hiRes ? 0x0002 : 0;
        spec.slopes.assign(static_cast<std::size_t>(c.channels), c.slope);
        spec.intercepts.assign(static_cast<std::size_t>(c.channels), 0.25);
        spec.units.clear();
        std::uniform_int_distribution<int> noise(-c.amplitude / 8 - 1, c.amplitude / 8 + 1);
        for (int s = 0; s < kScans; ++s) {
            for (int k = 0; k < c.channels; ++k) {
                const double wave = c.amplitude * std::sin(s * 0.0013 * (k + 1));
                // Event bits outside HiRes files come with the words and must not count.
                spec.samples.push_back(static_cast<int16_t>(
                    std::clamp(c.offset + static_cast<int>(wave) + noise(rng), -32768, 32767)));
            }
        }
        spec.events = {0, 0};
        const std::string path = dir.File(std::string(c.label) + ".wdq");
        WriteFile(path, test::MakeWdqBytes(spec));
        std::string error;
        auto reader = WdqFileReader::Open(path, error);
        ASSERT_TRUE(reader) << error;
        MinMaxPyramid overview;
        ASSERT_TRUE(overview.Build(*reader, {}, error)) << error;
        CheckSpans(*reader, overview, Spans(kScans, rng), c.label);
    }
}

TEST(SpanStatistics, TextSpansMatchABruteForcePass) {
    test::TempDir dir;
    std::mt19937 rng(99);
    const std::string path = dir.File("run.dat");
    std::array<ChannelInfo, 3> channels{};
    channels[1].valueAt1V = -100;
    channels[2].valueAt0V = 3;
    std::string text;
    char line[kMaxTextLine];
    std::uniform_int_distribution<int> word(-32768, 32767);
    constexpr int64_t kScans = 3 * kSumBlock + 4321;
    for (int64_t s = 0; s < kScans; ++s) {
        const std::array<int16_t, 3> v = {static_cast<int16_t>(word(rng)),
                                          static_cast<int16_t>(s % 60000 - 30000),
                                          static_cast<int16_t>(word(rng) / 16)};
        text.append(line, FormatTextLine(line, s, 0.001, v, channels));
    }
    WriteFile(path, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    std::string error;
    auto reader = TextFileReader::Open(path, error);
    ASSERT_TRUE(reader) << error;
    MinMaxPyramid overview;
    ASSERT_TRUE(overview.Build(*reader, {}, error)) << error;
    CheckSpans(*reader, overview, Spans(kScans, rng), "text");
}

// Markers (a pause, a gap) are no part of the samples: a span across them is
// just its scans, here with a jump in the signal where the marker is.
TEST(SpanStatistics, SpansAcrossPauseAndGapMarkersAreExact) {
    test::TempDir dir;
    test::WdqBytesSpec spec;
    constexpr int kScans = 4 * kSumBlock;
    constexpr int kPause = 2 * kSumBlock + 300;
    for (int s = 0; s < kScans; ++s) {
        spec.samples.push_back(static_cast<int16_t>((s < kPause ? -4000 : 9000) + s % 97 * 4));
        spec.samples.push_back(static_cast<int16_t>(s % 1000 * 8));
    }
    spec.events = {0, 0, 0x80000000u | 0, static_cast<uint32_t>(-kPause), 0x80000000u | 18};
    spec.annotations = std::string("Acquisition start\0Pause\0", 24);
    const std::string path = dir.File("pause.wdq");
    WriteFile(path, test::MakeWdqBytes(spec));
    std::string error;
    auto reader = WdqFileReader::Open(path, error);
    ASSERT_TRUE(reader) << error;
    ASSERT_GE(reader->Info().markers.size(), 2u);
    MinMaxPyramid overview;
    ASSERT_TRUE(overview.Build(*reader, {}, error)) << error;
    CheckSpans(
        *reader, overview,
        {{kPause - 1, kPause + 1}, {kSumBlock + 5, kScans - 5}, {kPause - 3000, kPause + 9000}},
        "pause");
}

// A reader of one channel of 9 V plus a 1 mV sine of 1000 scans a period,
// made up as it is read: far more scans than a test file would hold.
class OffsetSineReader : public RecordingReader {
  public:
    explicit OffsetSineReader(int64_t scans) {
        info_.fileName = "offset-sine";
        info_.format = RecordingFormat::Text;
        info_.channels.resize(1);
        info_.period = 0.001;
        info_.scanCount = scans;
    }
    const RecordingInfo& Info() const override { return info_; }
    bool ReadSamples(int64_t, int64_t, std::span<int16_t>) override { return false; }
    bool ReadValues(int64_t first, int64_t count, std::span<double> out) override {
        for (int64_t i = 0; i < count; ++i) {
            out[static_cast<std::size_t>(i)] = Value(first + i);
        }
        return true;
    }
    std::string Error() const override { return {}; }
    static double Value(int64_t s) {
        return 9.0 + 0.001 * std::sin(2 * std::numbers::pi * static_cast<double>(s % 1000) / 1000);
    }

  private:
    RecordingInfo info_;
};

TEST(SpanStatistics, SmallSignalOnALargeOffsetKeepsItsDigits) {
    constexpr int64_t kScans = 4'000'000;
    OffsetSineReader reader(kScans);
    MinMaxPyramid overview;
    std::string error;
    ASSERT_TRUE(overview.Build(reader, {}, error)) << error;
    std::vector<double> all(kScans);
    ASSERT_TRUE(reader.ReadValues(0, kScans, all));
    const std::size_t channel = 0;
    for (const auto& [first, last] : {std::pair<int64_t, int64_t>{0, kScans}, {12345, 3'456'789}}) {
        SpanStatistics stats;
        ASSERT_TRUE(ComputeSpanStatistics(reader, overview, first, last, std::span(&channel, 1),
                                          stats, error))
            << error;
        const Reference want = BruteForce(all, 1, 0, first, last);
        const ChannelStatistics& got = stats.channels[0];
        EXPECT_NEAR(got.mean, want.mean, 1e-13);
        EXPECT_NEAR(got.sd, want.sd, 1e-10 * want.sd) << first;
        EXPECT_NEAR(got.sd, 0.001 / std::numbers::sqrt2, 1e-8);
        ASSERT_TRUE(got.frequencyHz);
        EXPECT_NEAR(*got.frequencyHz, 1.0, 1e-6);
        // Longer than what the frequency reads: which part it came from is told.
        ASSERT_EQ(stats.notes.size(), 1u);
        EXPECT_NE(stats.notes[0].find("first 262144 scans"), std::string::npos) << stats.notes[0];
    }
}

// The simulated unit's inputs over 20 s at 500 Hz, as a 12-bit model codes
// them: frequency, rms and p-p within the model's resolution of 16 counts.
TEST(SpanStatistics, SimulatedSignalsGiveTheirFrequencyRmsAndPeakToPeak) {
    test::TempDir dir;
    constexpr int kChannels = 8;
    constexpr int kScans = 10000;
    constexpr double kPeriod = 0.002;
    test::WdqBytesSpec spec;
    spec.channels = kChannels;
    spec.channelByte = 0x20 | kChannels;
    spec.flags = 0x0002;  // HiRes: every bit is signal
    spec.period = kPeriod;
    spec.slopes.assign(kChannels, 1 / 819.2);  // 1 V a volt
    spec.intercepts.assign(kChannels, 0.0);
    spec.units.clear();
    for (int s = 0; s < kScans; ++s) {
        for (int k = 0; k < kChannels; ++k) {
            spec.samples.push_back(SignalGenerator::IntendedSample(k, s * kPeriod, 1));
        }
    }
    spec.events = {0, 0};
    const std::string path = dir.File("sim.wdq");
    WriteFile(path, test::MakeWdqBytes(spec));
    std::string error;
    auto reader = WdqFileReader::Open(path, error);
    ASSERT_TRUE(reader) << error;
    ASSERT_DOUBLE_EQ(reader->Info().channels[0].valueAt1V, 1.0);
    MinMaxPyramid overview;
    ASSERT_TRUE(overview.Build(*reader, {}, error)) << error;
    const std::vector<std::size_t> all = {0, 1, 2, 3, 4, 5, 6, 7};
    SpanStatistics stats;
    ASSERT_TRUE(ComputeSpanStatistics(*reader, overview, 0, kScans, all, stats, error)) << error;
    EXPECT_TRUE(stats.notes.empty());
    constexpr double kStep = 16 / 3276.8;
    const struct {
        int input;
        std::optional<double> hz;
    } kExpected[] = {{0, 1.0}, {1, 2.0}, {2, 0.5},          {3, 0.25},
                     {4, 1.2}, {5, 1.2}, {6, std::nullopt}, {7, 50.0}};
    for (const auto& e : kExpected) {
        const ChannelStatistics& got = stats.channels[static_cast<std::size_t>(e.input)];
        ASSERT_EQ(got.frequencyHz.has_value(), e.hz.has_value()) << "input " << e.input;
        if (e.hz) {
            EXPECT_NEAR(*got.frequencyHz, *e.hz, *e.hz * 1e-3) << "input " << e.input;
        }
    }
    const ChannelStatistics& sine = stats.channels[0];
    EXPECT_NEAR(sine.rms, 5.0 / std::numbers::sqrt2, kStep / 2);
    EXPECT_NEAR(sine.sd, 5.0 / std::numbers::sqrt2, kStep / 2);
    EXPECT_NEAR(sine.pp, 10.0, kStep);
    EXPECT_NEAR(sine.mean, 0.0, kStep / 2);
    // The first maximum is a quarter period in.
    EXPECT_NEAR(sine.maxTime, 0.25, 0.05);
    const ChannelStatistics& constant = stats.channels[6];
    EXPECT_NEAR(constant.mean, 2.5, kStep);
    EXPECT_EQ(constant.sd, 0.0);
    EXPECT_EQ(constant.pp, 0.0);
    EXPECT_EQ(constant.minTime, 0.0);
}

// Signals that are not periodic give no frequency; periodic ones under noise
// and on an offset still give theirs.
TEST(FrequencyEstimate, NoFrequencyWithoutPeriodsAndTheRightOneUnderNoise) {
    std::mt19937 rng(7);
    std::normal_distribution<float> gauss(0, 1);
    constexpr int kScans = 20000;
    constexpr double kPeriod = 0.001;
    const auto make = [&](auto f) {
        std::vector<float> v(kScans);
        for (int i = 0; i < kScans; ++i) v[static_cast<std::size_t>(i)] = f(i);
        return v;
    };
    const struct {
        const char* what;
        std::vector<float> values;
        std::optional<double> hz;
    } kCases[] = {
        {"noise", make([&](int) { return gauss(rng); }), std::nullopt},
        {"noise on an offset", make([&](int) { return 100 + 0.1f * gauss(rng); }), std::nullopt},
        {"constant", make([](int) { return 2.5f; }), std::nullopt},
        {"ramp", make([](int i) { return i * 0.001f; }), std::nullopt},
        {"noisy ramp", make([&](int i) { return i * 0.001f + 0.2f * gauss(rng); }), std::nullopt},
        {"step", make([](int i) { return i < 7000 ? -1.0f : 1.0f; }), std::nullopt},
        {"one and a half periods", make([](int i) { return std::sin(i * 0.00047f); }),
         std::nullopt},
        {"sine with noise on an offset", make([&](int i) {
             return 100 + std::sin(i * 0.006f * std::numbers::pi_v<float>) + 0.1f * gauss(rng);
         }),
         3.0},
        {"square", make([](int i) { return i % 250 < 125 ? 5.0f : -5.0f; }), 4.0},
        // Two rises through the mean each period, 0.7 and 0.3 of it apart.
        {"two unequal rises a period", make([](int i) {
             const auto bump = [x = static_cast<float>(i % 1000)](float at, float a, float w) {
                 return a * std::exp(-0.5f * (x - at) * (x - at) / (w * w));
             };
             return bump(100, 1, 10) + bump(160, -0.6f, 10) + bump(450, 0.6f, 30) +
                    bump(600, -0.5f, 30);
         }),
         1.0},
    };
    for (const auto& c : kCases) {
        const std::optional<double> got = EstimateFrequency(c.values, kPeriod);
        ASSERT_EQ(got.has_value(), c.hz.has_value()) << c.what << " " << got.value_or(0);
        if (c.hz) {
            EXPECT_NEAR(*got, *c.hz, *c.hz * 5e-3) << c.what;
        }
    }
}

TEST(SpanStatistics, RefusesSpansChannelsAndOverviewsThatDoNotFit) {
    OffsetSineReader reader(50000);
    MinMaxPyramid overview;
    std::string error;
    ASSERT_TRUE(overview.Build(reader, {}, error)) << error;
    const std::size_t good = 0;
    const std::size_t bad = 1;
    SpanStatistics stats;
    EXPECT_FALSE(
        ComputeSpanStatistics(reader, overview, 10, 10, std::span(&good, 1), stats, error));
    EXPECT_NE(error.find("offset-sine: "), std::string::npos) << error;
    EXPECT_FALSE(
        ComputeSpanStatistics(reader, overview, 0, 50001, std::span(&good, 1), stats, error));
    EXPECT_FALSE(ComputeSpanStatistics(reader, overview, 0, 10, std::span(&bad, 1), stats, error));
    EXPECT_NE(error.find("no channel 2"), std::string::npos) << error;
    MinMaxPyramid withoutSums(9, false);
    ASSERT_TRUE(withoutSums.Build(reader, {}, error)) << error;
    EXPECT_FALSE(
        ComputeSpanStatistics(reader, withoutSums, 0, 10, std::span(&good, 1), stats, error));
    OffsetSineReader other(60000);
    EXPECT_FALSE(ComputeSpanStatistics(other, overview, 0, 10, std::span(&good, 1), stats, error));
}

TEST(SpanStatistics, TableHasAHeaderAndADashWhereNotPeriodic) {
    SpanStatistics stats;
    ChannelStatistics a;
    a.name = "A: Druck";
    a.unit = "bar";
    a.scans = 3;
    a.min = -1.5;
    a.minTime = 0.002;
    a.max = 2;
    a.maxTime = 0.004;
    a.pp = 3.5;
    a.mean = 0.25;
    a.rms = 1;
    a.sd = 0.5;
    a.frequencyHz = 50;
    ChannelStatistics b = a;
    b.name = "#2";
    b.frequencyHz.reset();
    stats.channels = {a, b};
    EXPECT_EQ(StatisticsTable(stats),
              "name\tunit\tscans\tmin\tmin_at_s\tmax\tmax_at_s\tp-p\tmean\trms\tsd\tfreq_hz\n"
              "A: Druck\tbar\t3\t-1.5\t0.002\t2\t0.004\t3.5\t0.25\t1\t0.5\t50\n"
              "#2\tbar\t3\t-1.5\t0.002\t2\t0.004\t3.5\t0.25\t1\t0.5\t\u2014\n");
}

}  // namespace
}  // namespace tamix
