#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "acquisition/MeasurementSetup.h"
#include "base/Utf8Text.h"
#include "view/StatusText.h"
#include "view/TracePalette.h"
#include "view/TraceReadout.h"

namespace tamix {
namespace {

TEST(TracePaletteTest, EveryInputContrastsWithLightAndDarkBackgrounds) {
    // White, the light theme's off-white, two dark themes' window colours, black.
    for (const Rgb bg :
         {Rgb{255, 255, 255}, Rgb{246, 245, 244}, Rgb{53, 53, 53}, Rgb{36, 36, 36}, Rgb{0, 0, 0}}) {
        for (int input = 0; input < 8; ++input) {
            EXPECT_GE(ContrastRatio(TraceColour(input, bg), bg), kMinTraceContrast)
                << "input " << input << " on " << int(bg.r);
            for (int other = 0; other < input; ++other) {
                EXPECT_NE(TraceColour(input, bg), TraceColour(other, bg));
            }
        }
        EXPECT_GE(ContrastRatio(InkFor(bg), bg), 7.0);
    }
}

TEST(TraceReadoutTest, EdgeValuesInvertTheDrawingRule) {
    ChannelInfo volts;
    ChannelInfo pressure;
    pressure.valueAt1V = 100.0;  // 100 mmHg per volt
    pressure.valueAt0V = 20.0;
    const Rect strip{15, 16, 1000, 116};  // 100 rows, middle row 66
    struct Case {
        const ChannelInfo* channel;
        int gain, offset;
        double top, bottom;
    };
    // Gain 1: the top row is +50 rows = 32768 counts = 10 V; gain 4 a quarter of it;
    // an offset of 3276.8 counts moves both edges down by 1 V.
    for (const Case c :
         {Case{&volts, 1, 0, 10.0, -9.8}, Case{&volts, 4, 0, 2.5, -2.45},
          Case{&pressure, 1, 0, 1020.0, -960.0}, Case{&volts, 1, 3277, 9.0, -10.8}}) {
        const EdgeValues e = StripEdgeValues(strip, c.gain, c.offset, *c.channel);
        EXPECT_NEAR(e.top, c.top, 0.01);
        EXPECT_NEAR(e.bottom, c.bottom, 0.01);
    }
    EXPECT_EQ(FormatValue(2.5, "Volt"), "2.5 Volt");
    EXPECT_EQ(FormatValue(-1234.5678, "  mV"), "-1235 mV");
    EXPECT_EQ(SweepSpanText(985, 0.002), "sweep 7.88 s");
}

class ColumnsTest : public ::testing::Test {
  protected:
    // Columns of four scans each; scans stand still from column `pauseAt` for
    // `pauseColumns` columns, as they do while recording is paused.
    void Fill(int points, int pauseAt = -1, int pauseColumns = 0) {
        int64_t scan = 0;
        for (int j = 0; j < points; ++j) {
            setup->columnExtremes.firstScan[j] = scan;
            if (j < pauseAt || j >= pauseAt + pauseColumns) scan += 4;
        }
    }
    std::unique_ptr<MeasurementSetup> setup = std::make_unique<MeasurementSetup>();
};

TEST_F(ColumnsTest, AScanFallsOnTheColumnThatGatheredIt) {
    Fill(100);
    struct Case {
        int64_t scan;
        std::optional<int> column;
    };
    for (const Case c : {Case{0, 0}, Case{3, 0}, Case{4, 1}, Case{399, 99}, Case{400, {}}}) {
        EXPECT_EQ(ColumnOfScan(setup->columnExtremes, 100, c.scan), c.column) << c.scan;
    }
    EXPECT_EQ(ColumnOfScan(setup->columnExtremes, 0, 0), std::nullopt);
    // A later sweep begins past scan 0: the start marker is not on it.
    setup->columnExtremes.firstScan[0] = 4000;
    EXPECT_EQ(ColumnOfScan(setup->columnExtremes, 1, 0), std::nullopt);
}

TEST_F(ColumnsTest, APauseMarkerFallsWhereRecordingResumed) {
    Fill(50, 10, 5);  // columns 10..14 paused at scan 40; 15 resumes with scan 40
    EXPECT_EQ(ColumnOfScan(setup->columnExtremes, 50, 40), 15);
    EXPECT_EQ(ColumnOfScan(setup->columnExtremes, 50, 44), 16);
}

TEST_F(ColumnsTest, TheColumnsHoldTheBandOfAFastSignal) {
    // A reference: every scan kept, compared with the hand-off's extremes.
    std::mt19937 random(7);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::array<int16_t, 2> scan{};
    std::array<int16_t, 4 * 2 * 10> all{};
    for (int i = 0; i < 40; ++i) {
        for (int k = 0; k < 2; ++k) scan[k] = all[i * 2 + k] = static_cast<int16_t>(sample(random));
        AddScanToColumn(setup->columnExtremes, i / 4, i % 4 == 0, scan, 1000 + i);
    }
    for (int j = 0; j < 10; ++j) {
        EXPECT_EQ(setup->columnExtremes.firstScan[j], 1000 + 4 * j);
        for (int k = 0; k < 2; ++k) {
            int16_t lo = all[(4 * j) * 2 + k], hi = lo;
            for (int i = 4 * j; i < 4 * j + 4; ++i) {
                lo = std::min(lo, all[i * 2 + k]);
                hi = std::max(hi, all[i * 2 + k]);
            }
            EXPECT_EQ(setup->columnExtremes.low[j][k], lo);
            EXPECT_EQ(setup->columnExtremes.high[j][k], hi);
            EXPECT_EQ(setup->columnExtremes.first[j][k], all[(4 * j) * 2 + k]);
        }
    }
}

TEST_F(ColumnsTest, TheReadoutShowsTheColumnsFirstScan) {
    setup->channelCount = 2;
    setup->profile.samplePeriod = 0.002;
    setup->channels[1].valueAt1V = 2.0;
    Fill(200);
    setup->columnExtremes.first[37][1] = 3277;
    const ViewLayout l = ComputeLayout(1000, 216, 2);
    const auto r = ReadoutAt(l, *setup, 200, l.traces.left + 37, l.strips[1].top + 5);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->channel, 1);
    EXPECT_EQ(r->scan, 148);
    EXPECT_DOUBLE_EQ(r->seconds, 148 * 0.002);
    EXPECT_NEAR(r->value, 2.0, 0.001);
    // The channel is named by its input, whatever place it has in the run.
    setup->channels[1].inputNumber = 5;
    CopyText(setup->channels[1].name, "chn", kNameChars);
    EXPECT_EQ(ReadoutText(*r, setup->channels[1]), "t = 0.296 s   B: chn = 2 Volt");
    EXPECT_FALSE(ReadoutAt(l, *setup, 200, l.traces.left + 200, l.strips[1].top + 5));
    EXPECT_FALSE(ReadoutAt(l, *setup, 200, 5, l.strips[1].top + 5));
}

TEST(StatusTextTest, SizesAndTheEndOfARun) {
    EXPECT_EQ(SizeText(100), "100 bytes");
    EXPECT_EQ(SizeText(2048), "2 KB");
    EXPECT_EQ(SizeText(13 * 1024 * 1024 / 10), "1.3 MB");
    auto setup = std::make_unique<MeasurementSetup>();
    setup->profile.samplePeriod = 0.002;
    setup->scanCount = 1830;
    EXPECT_EQ(RunEndStatus(*setup, "/tmp/a.wdq", ""), "Saved /tmp/a.wdq (00:00:03)");
    EXPECT_EQ(RunEndStatus(*setup, "", ""), "Screen-only run ended (00:00:03)");
    EXPECT_EQ(RunEndStatus(*setup, "/tmp/a.wdq", "Lost.\n\nRecorded time: 00:00:03"),
              "Lost. Recorded time: 00:00:03");
}

}  // namespace
}  // namespace tamix
