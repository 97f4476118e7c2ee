#include <gtest/gtest.h>

#include <memory>

#include "acquisition/MeasurementSetup.h"
#include "control/MeasurementCommands.h"
#include "view/DisplayScaling.h"
#include "view/ViewGeometry.h"

namespace tamix {
namespace {

TEST(ViewGeometryTest, LaysOutHeaderIconColumnAndStrips) {
    const ViewLayout l = ComputeLayout(1000, 416, 3);
    EXPECT_EQ(l.traceWidth, 985);
    EXPECT_EQ(l.stripHeight, 133);
    EXPECT_EQ(l.strips[2].top, 16 + 266);
    EXPECT_EQ(l.strips[2].bottom, 16 + 399);
    EXPECT_EQ(l.strips[0].left, 15);
    const Rect cell = l.IconCell(1, 2);
    EXPECT_EQ(cell.top, 16 + 133 + 88);
    EXPECT_EQ(cell.bottom, 16 + 133 + 132);
    EXPECT_EQ(l.IconY(cell), (cell.top + cell.bottom) / 2 - 7);
}

TEST(ViewGeometryTest, SweepWidthIsClamped) {
    struct Case {
        int clientWidth, traceWidth, displayWidth;
    };
    for (const Case c : {Case{1000, 985, 985}, Case{2500, 2485, 2048}, Case{80, 65, 100}}) {
        const ViewLayout l = ComputeLayout(c.clientWidth, 300, 4);
        EXPECT_EQ(l.traceWidth, c.traceWidth);
        EXPECT_EQ(DisplayWidthFor(l.traceWidth), c.displayWidth);
    }
}

TEST(ViewGeometryTest, NoChannelAndTinyWindowsDivideByNothing) {
    const ViewLayout none = ComputeLayout(800, 600, 0);
    EXPECT_EQ(none.stripHeight, 0);
    EXPECT_FALSE(HitTestIconColumn(none, 5, 100));
    const ViewLayout tiny = ComputeLayout(800, 20, 8);
    EXPECT_EQ(tiny.stripHeight, 0);
    EXPECT_FALSE(HitTestIconColumn(tiny, 5, 17));
    const ViewLayout negative = ComputeLayout(10, 5, 2);
    EXPECT_EQ(negative.stripHeight, 0);
}

TEST(ViewGeometryTest, PointsMapFullScaleOntoTheStripEdges) {
    EXPECT_EQ(PointY(100, 32767, 0, 200, 1), 1);
    EXPECT_EQ(PointY(100, -32768, 0, 200, 1), 200);
    EXPECT_EQ(PointY(100, 1000, -1000, 200, 13), 100);
    EXPECT_EQ(PointY(100, 100, 0, 200, 2), 100 - static_cast<int>(100.0 * 400 / 65536));
    EXPECT_EQ(PointY(50, -1, 0, 100, 1), 50) << "truncated toward zero";
}

TEST(ViewGeometryTest, ClockShowsWholeRecordedSeconds) {
    EXPECT_EQ(ClockText(0, 0.002), "00:00:00");
    EXPECT_EQ(ClockText(1999, 0.002), "00:00:03");
    EXPECT_EQ(ClockText(180'000'000, 0.002), "100:00:00");
}

class ScalingTest : public ::testing::Test {
  protected:
    void Fill(int c, std::initializer_list<int> values, int points) {
        auto it = values.begin();
        for (int j = 0; j < points; ++j) {
            setup->displayColumns[j][c] = static_cast<int16_t>(*it);
            if (++it == values.end()) it = values.begin();
        }
    }
    std::unique_ptr<MeasurementSetup> setup = std::make_unique<MeasurementSetup>();
    DisplayScaling s;
};

TEST(HitTestTest, FindsChannelAndZone) {
    const ViewLayout l = ComputeLayout(800, 316, 3);  // strips of 100 rows
    EXPECT_FALSE(HitTestIconColumn(l, 15, 50)) << "right of the icon column";
    EXPECT_FALSE(HitTestIconColumn(l, 3, 10)) << "in the header";
    const auto wedge = HitTestIconColumn(l, 3, 16 + 100 + 40);
    ASSERT_TRUE(wedge);
    EXPECT_EQ(wedge->channel, 1);
    EXPECT_EQ(wedge->zone, 1);
    const auto below = HitTestIconColumn(l, 3, 16 + 200 + 99);
    ASSERT_TRUE(below);
    EXPECT_EQ(below->channel, 2);
    EXPECT_EQ(below->zone, 3);
}

TEST_F(ScalingTest, WedgeDoublesAndHalvesWithinLimits) {
    s.Set(0, 300, 0);
    s.Click({0, 1}, MouseButton::Left, *setup, 0);
    EXPECT_EQ(s.gain(0), 512);
    s.Click({0, 1}, MouseButton::Left, *setup, 0);
    EXPECT_EQ(s.gain(0), 512);
    s.Click({0, 1}, MouseButton::Right, *setup, 0);
    EXPECT_EQ(s.gain(0), 256);
    s.Set(1, 1, 0);
    s.Click({1, 1}, MouseButton::Right, *setup, 0);
    EXPECT_EQ(s.gain(1), 1);
    s.Set(1, 3, 0);
    s.Click({1, 1}, MouseButton::Right, *setup, 0);
    EXPECT_EQ(s.gain(1), 1);
}

TEST_F(ScalingTest, ShiftStepsDependOnGainAndStopAtTheLimit) {
    struct Case {
        int gain, offset, after;
    };
    for (const Case c :
         {Case{3, 0, 1365}, Case{524, 0, 7}, Case{1, 29999, 34095}, Case{1, 30000, 30000}}) {
        s.Set(0, c.gain, c.offset);
        s.Click({0, 2}, MouseButton::Left, *setup, 0);
        EXPECT_EQ(s.offset(0), c.after);
    }
    s.Set(0, 1, -30000);
    s.Click({0, 2}, MouseButton::Right, *setup, 0);
    EXPECT_EQ(s.offset(0), -30000);
}

TEST_F(ScalingTest, AutoscaleFitsTheCurrentSweep) {
    Fill(0, {-1000, 3000, 0}, 200);
    Fill(1, {500}, 200);
    Fill(2, {-30000, 30000}, 200);
    s.AutoscaleChannel(0, *setup, 200);
    s.AutoscaleChannel(1, *setup, 200);
    s.AutoscaleChannel(2, *setup, 200);
    EXPECT_EQ(s.gain(0), 13);
    EXPECT_EQ(s.offset(0), -1000);
    EXPECT_EQ(s.gain(1), 524);
    EXPECT_EQ(s.offset(1), -500);
    EXPECT_EQ(s.gain(2), 1);
    EXPECT_EQ(s.offset(2), 0);
}

TEST_F(ScalingTest, MagnifierNeedsMoreThanAHundredPointsAutoscaleAllAHundred) {
    setup->channelCount = 1;
    Fill(0, {-1000, 3000}, 100);
    s.Click({0, 0}, MouseButton::Left, *setup, 100);
    EXPECT_EQ(s.gain(0), 1);
    EXPECT_FALSE(s.AutoscaleAll(*setup, 99));
    EXPECT_TRUE(s.AutoscaleAll(*setup, 100));
    EXPECT_EQ(s.gain(0), 13);
    s.Click({0, 0}, MouseButton::Right, *setup, 100);
    EXPECT_EQ(s.gain(0), 1);
    EXPECT_EQ(s.offset(0), 0);
}

TEST(CommandRulesTest, FollowTheRunState) {
    auto setup = std::make_unique<MeasurementSetup>();
    using namespace cmd;
    const auto enabled = [&](int id) { return CommandStateFor(id, *setup).enabled; };
    EXPECT_TRUE(enabled(ID_MEASUREMENT_START));
    EXPECT_TRUE(enabled(ID_APP_EXIT));
    EXPECT_FALSE(enabled(ID_MEASUREMENT_STOP));
    EXPECT_FALSE(enabled(ID_TOOLS_ADDMARKER)) << "no output file";
    EXPECT_FALSE(enabled(ID_MEASUREMENT_COMMPORT));
    setup->SetStatus(RunStatus::Running);
    setup->SetOutputFileName("/tmp/x.wdq");
    EXPECT_FALSE(enabled(ID_MEASUREMENT_START));
    EXPECT_FALSE(enabled(ID_MEASUREMENT_CALIBRATE));
    EXPECT_FALSE(enabled(ID_APP_EXIT));
    EXPECT_TRUE(enabled(ID_MEASUREMENT_STOP));
    EXPECT_TRUE(enabled(ID_MEASUREMENT_PAUSE));
    EXPECT_TRUE(enabled(ID_TOOLS_ADDMARKER));
    EXPECT_FALSE(CommandStateFor(ID_MEASUREMENT_PAUSE, *setup).checked);
    setup->SetStatus(RunStatus::Paused);
    EXPECT_TRUE(CommandStateFor(ID_MEASUREMENT_PAUSE, *setup).checked);
    for (int i = 1; i < 200; ++i) setup->AddMarker(i * 10, "", 0);
    EXPECT_FALSE(enabled(ID_TOOLS_ADDMARKER));
    setup->SetEightChannels(1);
    EXPECT_TRUE(CommandStateFor(ID_MEASUREMENT_EIGHTCHANNELS, *setup).checked);
    EXPECT_FALSE(enabled(ID_MEASUREMENT_EIGHTCHANNELS));
    EXPECT_TRUE(enabled(ID_TOOLS_AUTOSCALEALL));
}

TEST(CommandTextsTest, NoticesAndPauseMarkers) {
    const std::pair<double, const char*> notices[] = {
        {600, "10 minutes"},
        {7200, "120 minutes"},
        {60, "1 minute"},
        {30, "30 seconds"},
        {1, "1 second"},
        {0.6, "0.6 seconds"},
        {90, "1 minute 30 seconds"},
        {121, "2 minutes 1 second"},
        {59.9999, "1 minute"},
        {0.5 * 60, "30 seconds"},
        {0.05 * 3600, "3 minutes"},
        {1e-3, "0.001 seconds"},
    };
    for (const auto& [seconds, after] : notices) {
        EXPECT_EQ(AutoStopNotice(seconds),
                  std::string("Recording will be stopped automatically after ") + after)
            << seconds;
    }
    EXPECT_EQ(PauseMarkerText(15000 + 15000, 15000, 0.002), "Pause time:00:00:30");
    EXPECT_EQ(PauseMarkerText(37500 + 1000, 1000, 0.002), "Pause time:00:01:15");
}

}  // namespace
}  // namespace tamix
