#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "../support/TempDir.h"
#include "base/MarkerTable.h"
#include "base/Utf8Text.h"
#include "recording/EngineeringValue.h"
#include "recording/OpenRecording.h"
#include "recording/OutputFile.h"
#include "recording/WdqWriter.h"
#include "view/DisplayScaling.h"
#include "view/OverviewBuilder.h"
#include "view/ReviewCursors.h"
#include "view/ReviewMarkers.h"
#include "view/ReviewReadout.h"
#include "view/ReviewViewport.h"
#include "view/TimeAxis.h"
#include "view/TraceReadout.h"

namespace tamix {
namespace {

TEST(ReviewViewportTest, StartsWithTheWholeRecording) {
    const ReviewViewport v(100000, 0.001, 800);
    EXPECT_TRUE(v.ShowsAll());
    EXPECT_EQ(v.ScanAtColumn(0), 0);
    EXPECT_EQ(v.ScanAtColumn(400), 50000);
    EXPECT_EQ(v.ScanAtColumn(800), 100000);
    EXPECT_DOUBLE_EQ(v.SecondsAtColumn(400), 50.0);
}

// Zooming keeps the scan under the pointer under the pointer, and stays within
// the shortest span and the whole recording.
TEST(ReviewViewportTest, ZoomKeepsThePointedScanAndClamps) {
    struct Case {
        int64_t total;
        double factor;
        int column;
        int64_t span, first;
    };
    const Case cases[] = {
        {100000, 2, 400, 50000, 25000},  // around the middle
        {100000, 4, 0, 25000, 0},        // around the left edge
        {100000, 4, 800, 25000, 75000},  // around the right edge
        {100000, 1e9, 200, ReviewViewport::kMinSpan, 25000 - 2},
        {100000, 0.25, 100, 100000, 0},  // never wider than the recording
        {5, 10, 300, 5, 0},              // shorter than the shortest span
    };
    for (const Case& c : cases) {
        ReviewViewport v(c.total, 0.002, 800);
        v.Zoom(c.factor, c.column);
        EXPECT_EQ(v.Span(), c.span) << c.factor << " at " << c.column;
        EXPECT_EQ(v.First(), c.first) << c.factor << " at " << c.column;
    }
}

TEST(ReviewViewportTest, ZoomInThenOutReturnsToTheSameScans) {
    ReviewViewport v(1'000'000, 0.001, 1000);
    v.Zoom(8, 300);
    const int64_t atPointer = v.ScanAtColumn(300);
    EXPECT_NEAR(static_cast<double>(atPointer), 300000.0, 1.0);
    v.Zoom(0.125, 300);
    EXPECT_TRUE(v.ShowsAll());
}

TEST(ReviewViewportTest, PanHomeEndAndCentreStayInside) {
    ReviewViewport v(10000, 0.001, 1000);
    v.Zoom(10, 0);  // scans 0..999
    v.PanColumns(500);
    EXPECT_EQ(v.First(), 500);
    v.PanColumns(-2000);
    EXPECT_EQ(v.First(), 0);
    v.End();
    EXPECT_EQ(v.First(), 9000);
    EXPECT_EQ(v.EndScan(), 10000);
    v.Home();
    EXPECT_EQ(v.First(), 0);
    v.CentreOn(5000);
    EXPECT_EQ(v.First(), 4500);
    v.CentreOn(9990);
    EXPECT_EQ(v.First(), 9000);
    v.ScrollTo(-5);
    EXPECT_EQ(v.First(), 0);
}

// The column of a scan is the one whose range holds it, at any zoom: fewer
// scans than columns (each scan several columns wide) and many more.
TEST(ReviewViewportTest, ColumnOfScanInvertsScanAtColumn) {
    for (const int64_t span : {int64_t{37}, int64_t{640}, int64_t{1'234'567}}) {
        ReviewViewport v(2'000'000, 0.001, 640);
        v.Zoom(2'000'000.0 / static_cast<double>(span), 0);
        ASSERT_EQ(v.Span(), span);
        v.ScrollTo(1000);
        for (int64_t scan = v.First(); scan < v.EndScan();
             scan += std::max<int64_t>(1, span / 997)) {
            const auto c = v.ColumnOfScan(scan);
            ASSERT_TRUE(c) << scan;
            EXPECT_LE(v.ScanAtColumn(*c), scan);
            EXPECT_TRUE(*c == 639 || v.ScanAtColumn(*c + 1) > scan) << span << " " << scan;
        }
        EXPECT_FALSE(v.ColumnOfScan(v.First() - 1));
        EXPECT_FALSE(v.ColumnOfScan(v.EndScan()));
    }
}

TEST(TimeAxisTest, StepIsTheSmallestRoundOneWideEnough) {
    struct Case {
        double secondsPerColumn;
        int minPixels;
        double step;
    };
    const Case cases[] = {
        {0.001, 80, 0.1}, {0.0001, 80, 0.01}, {0.00001, 80, 0.001}, {1e-7, 80, 0.001},
        {0.01, 80, 1},    {0.02, 80, 2},      {0.05, 80, 5},        {0.2, 80, 30},
        {0.6, 80, 60},    {1, 80, 120},       {10, 80, 900},        {40, 80, 3600},
        {100, 80, 14400},
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(TickStep(c.secondsPerColumn, c.minPixels), c.step) << c.secondsPerColumn;
    }
}

TEST(TimeAxisTest, LabelsShowTheDecimalsTheStepNeeds) {
    struct Case {
        double seconds, step;
        const char* label;
    };
    const Case cases[] = {
        {0, 1, "0:00:00"},
        {3723, 60, "1:02:03"},
        {266400, 3600, "74:00:00"},
        {61.5, 0.5, "0:01:01.5"},
        {1.25, 0.05, "0:00:01.25"},
        {0.125, 0.001, "0:00:00.125"},
        {59.9996, 0.001, "0:01:00.000"},  // rounding carries into the minute
        {7.1, 0.1, "0:00:07.1"},
    };
    for (const Case& c : cases) EXPECT_EQ(TimeLabel(c.seconds, c.step), c.label) << c.seconds;
}

TEST(TimeAxisTest, TicksAreRoundTimesOnScreenInOrder) {
    ReviewViewport v(3'600'000, 0.001, 1000);  // an hour at 1 kHz
    v.Zoom(100, 500);                          // 36 s around the middle
    const std::vector<TimeTick> ticks = TimeTicks(v, 80);
    ASSERT_GE(ticks.size(), 5u);
    const double step = ticks[1].seconds - ticks[0].seconds;
    EXPECT_DOUBLE_EQ(step, 5.0);
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        EXPECT_GE(ticks[i].column, 0);
        EXPECT_LT(ticks[i].column, 1000);
        EXPECT_DOUBLE_EQ(std::fmod(ticks[i].seconds, step), 0.0);
        EXPECT_NEAR(v.SecondsAtColumn(ticks[i].column), ticks[i].seconds, 0.036 + 1e-9);
        if (i > 0) {
            EXPECT_GE(ticks[i].column - ticks[i - 1].column, 80);
        }
    }
    EXPECT_EQ(ticks[0].label, "0:29:45");
}

TEST(ReviewMarkersTest, NextAndPreviousGoByPositionThenByOrder) {
    const std::vector<RecordingMarker> markers = {{0, std::nullopt, "Acquisition start"},
                                                  {500, std::nullopt, "b"},
                                                  {200, std::nullopt, "a"},
                                                  {500, std::nullopt, "c"},
                                                  {900, std::nullopt, "d"}};
    struct Case {
        int64_t scan;
        std::optional<std::size_t> current, next, previous;
    };
    const Case cases[] = {
        {0, std::nullopt, 2, std::nullopt},
        {0, 0, 2, std::nullopt},
        {300, std::nullopt, 1, 2},
        {500, std::nullopt, 4, 2},  // both markers at the view's centre count as passed
        {500, 1, 3, 2},
        {500, 3, 4, 1},
        {900, 4, std::nullopt, 3},
        {2000, std::nullopt, std::nullopt, 4},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NextMarker(markers, c.scan, c.current), c.next) << c.scan;
        EXPECT_EQ(PreviousMarker(markers, c.scan, c.current), c.previous) << c.scan;
    }
}

TEST(ReviewMarkersTest, FlagTextsAreCutOnCharacters) {
    const RecordingMarker m{1200, 12,
                            "Ventil \xC3\xB6"
                            "ffnet langsam"};
    EXPECT_EQ(MarkerFlagText(3, m, 8), "3 Ventil \xC3\xB6\xE2\x80\xA6");
    EXPECT_EQ(MarkerFlagText(3, m, 100),
              "3 Ventil \xC3\xB6"
              "ffnet langsam");
    EXPECT_EQ(MarkerFlagText(0, {0, std::nullopt, ""}, 8), "0");
    EXPECT_EQ(MarkerListText(3, m, 0.001),
              "3   0:00:01.200   Ventil \xC3\xB6"
              "ffnet langsam");
}

TEST(ReviewReadoutTest, TextChannelsAreFittedToTheSampleRange) {
    struct Case {
        double lo, hi;
        bool plain;
    };
    for (const Case c :
         {Case{-9.5, 9.9, true}, Case{0, 120, false}, Case{-500, -400, false}, Case{3, 3, true}}) {
        const ChannelInfo shown =
            DisplayCalibration(ChannelInfo{}, RecordingFormat::Text, c.lo, c.hi);
        if (c.plain) {
            EXPECT_EQ(shown.valueAt1V, 1.0);
            EXPECT_EQ(shown.valueAt0V, 0.0);
        } else {
            EXPECT_NEAR(DisplaySample(c.hi, shown), 32767, 1e-6) << c.hi;
            EXPECT_NEAR(DisplaySample(c.lo, shown), -32767, 1e-6) << c.lo;
        }
    }
    ChannelInfo own;
    own.valueAt1V = 25;
    own.valueAt0V = -3;
    const ChannelInfo shown = DisplayCalibration(own, RecordingFormat::WinDaq, 0, 1000);
    EXPECT_EQ(shown.valueAt1V, 25);
    EXPECT_NEAR(DisplaySample(EngineeringValue(-1234, own), shown), -1234, 1e-9);
}

// A strip takes its input's colour, or where the recording does not tell the
// input, the colour of its place.
TEST(ReviewReadoutTest, StripsTakeTheirInputsColour) {
    struct Case {
        int32_t input;
        std::size_t position;
        int slot;
    };
    for (const Case c : {Case{5, 0, 5}, Case{0, 7, 0}, Case{kUnknownInput, 2, 2},
                         Case{kUnknownInput, 9, 1}, Case{8, 3, 3}}) {
        ChannelInfo ch;
        ch.inputNumber = c.input;
        EXPECT_EQ(ColourSlot(ch, c.position), c.slot) << c.input << " at " << c.position;
    }
}

TEST(DisplayScalingTest, FitRangeAndStepsFollowTheIconRules) {
    DisplayScaling s;
    s.FitRange(2, -1000, 3000);
    EXPECT_EQ(s.gain(2), 13);  // 52428.8 / 4000
    EXPECT_EQ(s.offset(2), -1000);
    s.FitRange(3, 50, 60);  // a flat trace gets the highest useful gain
    EXPECT_EQ(s.gain(3), 524);
    EXPECT_TRUE(s.Step({2, 1}, MouseButton::Left));
    EXPECT_EQ(s.gain(2), 26);
    EXPECT_TRUE(s.Step({2, 2}, MouseButton::Right));
    EXPECT_EQ(s.offset(2), -1000 - 4096 / 26);
    EXPECT_FALSE(s.Step({2, 0}, MouseButton::Left)) << "the magnifier's click needs the trace";
    EXPECT_TRUE(s.Step({2, 0}, MouseButton::Right));
    EXPECT_EQ(s.gain(2), 1);
    EXPECT_EQ(s.offset(2), 0);
}

// A WinDaq recording written by the recorder's own writer, with known samples.
class ReviewFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (int k = 0; k < 2; ++k) {
            CopyText(channels[k].name, k == 0 ? "Druck" : "Temp", kNameChars);
            CopyText(channels[k].unit, k == 0 ? " bar" : "   C", kUnitChars);
            channels[k].valueAt1V = k == 0 ? 2.5 : 10;
            channels[k].valueAt0V = k == 0 ? 0 : -20;
        }
        for (int s = 0; s < kScans; ++s) {
            samples.push_back(static_cast<int16_t>((s * 7919 % 60000 - 30000) & ~3));
            samples.push_back(static_cast<int16_t>(s * 4 % 32000));
        }
        std::string error;
        auto wdq = DefaultFileOpener().Create(path, error);
        ASSERT_TRUE(wdq) << error;
        std::array<uint8_t, kWdqHeaderBytes> header{};
        BuildWdqHeader(header, kScans, 2, 0.001, channels, 1700000000);
        ASSERT_TRUE(wdq->Write(header.data(), header.size()));
        std::vector<uint8_t> bytes(samples.size() * 2);
        for (std::size_t i = 0; i < samples.size(); ++i) PutWdqSample(&bytes[2 * i], samples[i]);
        ASSERT_TRUE(wdq->Write(bytes.data(), bytes.size()));
        auto markers = std::make_unique<MarkerTable>();
        CopyText(markers->markerText[0], "Acquisition start", kCommentChars);
        ASSERT_TRUE(WriteWdqTrailer(*wdq, *markers, 1, channels, 1700000000));
        ASSERT_TRUE(PatchWdqDataSize(*wdq, bytes.size()));
        ASSERT_TRUE(wdq->Close());
    }

    std::unique_ptr<RecordingReader> Open() {
        std::string error;
        auto reader = OpenRecording(path, error);
        EXPECT_TRUE(reader) << error;
        return reader;
    }

    static constexpr int kScans = 200'003;
    test::TempDir dir;
    std::string path = dir.File("review.wdq");
    std::array<ChannelInfo, 2> channels{};
    std::vector<int16_t> samples;
};

TEST_F(ReviewFileTest, ReadoutGivesTheFileValuesAtThePointer) {
    auto reader = Open();
    ASSERT_TRUE(reader);
    ReviewViewport v(reader->Info().scanCount, reader->Info().period, 700);
    v.Zoom(300, 350);
    for (const int column : {0, 1, 349, 699}) {
        ReviewReadout r;
        ASSERT_TRUE(ReadoutAtColumn(*reader, v, column, r));
        EXPECT_EQ(r.scan, v.ScanAtColumn(column));
        for (std::size_t k = 0; k < 2; ++k) {
            const int16_t sample = samples[static_cast<std::size_t>(r.scan) * 2 + k];
            EXPECT_DOUBLE_EQ(r.values[k], EngineeringValue(sample, channels[k])) << column;
        }
    }
    ReviewReadout r;
    EXPECT_FALSE(ReadoutAtColumn(*reader, v, 700, r));
    ASSERT_TRUE(ReadoutAtColumn(*reader, v, 10, r));
    EXPECT_EQ(ReviewTimeText(r), "t = " + TimeLabel(r.seconds, 0.001));
    // The values go beside the strips' labels, which name channel and input.
    EXPECT_EQ(ReviewValueText(r, 0, channels), "= " + FormatValue(r.values[0], "bar"));
    EXPECT_EQ(ReviewValueText(r, 1, channels), "= " + FormatValue(r.values[1], "C"));
    EXPECT_EQ(ReviewValueText(r, 2, channels), "") << "no third channel";
}

TEST_F(ReviewFileTest, OverviewIsBuiltOnItsOwnThreadWithProgress) {
    OverviewBuilder builder;
    builder.Start(Open());
    EXPECT_EQ(builder.Total(), kScans);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!builder.Finished() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(builder.Finished());
    EXPECT_EQ(builder.Done(), kScans);
    std::string error;
    std::unique_ptr<MinMaxPyramid> pyramid = builder.Take(error);
    ASSERT_TRUE(pyramid) << error;
    // The window's own reader queries what the builder's reader built.
    auto reader = Open();
    std::array<MinMax, 2> range{};
    ASSERT_TRUE(pyramid->Range(*reader, 1000, 150'001, range));
    for (std::size_t k = 0; k < 2; ++k) {
        double lo = std::numeric_limits<double>::infinity();
        double hi = -lo;
        for (int s = 1000; s < 150'001; ++s) {
            const double value =
                EngineeringValue(samples[static_cast<std::size_t>(s) * 2 + k], channels[k]);
            lo = std::min(lo, value);
            hi = std::max(hi, value);
        }
        EXPECT_FLOAT_EQ(range[k].min, static_cast<float>(lo));
        EXPECT_FLOAT_EQ(range[k].max, static_cast<float>(hi));
    }
}

TEST_F(ReviewFileTest, ACancelledOverviewEndsWithoutOne) {
    auto builder = std::make_unique<OverviewBuilder>();
    builder->Start(Open());
    builder->Cancel();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!builder->Finished() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::string error;
    EXPECT_FALSE(builder->Take(error));
    EXPECT_NE(error.find("cancelled"), std::string::npos) << error;
    // A builder destroyed while running stops and joins its thread.
    builder->Start(Open());
    builder.reset();
}

}  // namespace
}  // namespace tamix

namespace tamix {
namespace {

// Each cursor reads the file's own values at its scan; Δt and the differences
// follow from them.
TEST_F(ReviewFileTest, CursorsReadTheFileValuesAndTheirDifference) {
    auto reader = Open();
    ASSERT_TRUE(reader);
    CursorPair cursors;
    cursors.scan[0] = 1000;
    cursors.scan[1] = 13500;
    CursorReading reading;
    ASSERT_TRUE(ReadCursors(*reader, cursors, reading));
    for (std::size_t i = 0; i < 2; ++i) {
        ASSERT_EQ(reading.values[i].size(), 2u);
        for (std::size_t k = 0; k < 2; ++k) {
            const auto scan = static_cast<std::size_t>(*cursors.scan[i]);
            EXPECT_DOUBLE_EQ(reading.values[i][k],
                             EngineeringValue(samples[scan * 2 + k], channels[k]));
        }
    }
    const std::vector<std::string> lines = CursorReadoutLines(reading, 0.001, channels);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "Cursor 1: 0:00:01.000 (1.000000 s, scan 1000)");
    EXPECT_EQ(lines[1], "Cursor 2: 0:00:13.500 (13.500000 s, scan 13500)");
    EXPECT_EQ(lines[2], "\xCE\x94t = 12.5 s,  1/\xCE\x94t = 0.08 Hz");
    const double d = reading.values[1][1] - reading.values[0][1];
    EXPECT_NE(lines[4].find("\xCE\x94: " + FormatValue(d, "C")), std::string::npos) << lines[4];
    cursors.scan[1] = kScans;  // past the last scan
    EXPECT_FALSE(ReadCursors(*reader, cursors, reading));
}

}  // namespace
}  // namespace tamix
