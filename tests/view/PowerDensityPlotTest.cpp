// The power density window's arithmetic: pixels and frequencies both ways on
// linear and logarithmic axes, the fitted ranges, the ticks, the traces that
// keep every peak, and the texts of the readout and the peaks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "base/Utf8Text.h"
#include "view/PowerDensityPlot.h"

namespace tamix {
namespace {

// 1000 scans per second in segments of 1024: 513 bins 0.9765625 Hz apart.
PowerDensity MakePowerDensity(std::vector<std::vector<double>> densities) {
    PowerDensity s;
    s.shape.segmentScans = 1024;
    s.shape.segments = 7;
    s.rateHz = 1000;
    s.binHz = 1000.0 / 1024;
    for (std::size_t c = 0; c < densities.size(); ++c) {
        ChannelPowerDensity cs;
        cs.channel = c;
        cs.density = std::move(densities[c]);
        cs.density.resize(513, 1e-6);
        s.channels.push_back(std::move(cs));
    }
    return s;
}

constexpr PlotArea kArea{50, 20, 801, 401};

TEST(PowerDensityPlotTest, PixelsAndFrequenciesBothWays) {
    const PowerDensity s = MakePowerDensity({{}});
    const std::size_t shown[] = {0};
    PowerDensityPlot plot;
    plot.SetArea(kArea);
    plot.Fit(s, shown, LevelScale::Decibel, FrequencyScale::Linear);
    EXPECT_EQ(plot.MinFrequency(), 0);
    EXPECT_EQ(plot.MaxFrequency(), 500);
    struct Case {
        double hz;
        int x;
    };
    for (const Case c : {Case{0, 50}, Case{125, 250}, Case{250, 450}, Case{500, 850}, Case{-3, 50},
                         Case{900, 850}}) {
        EXPECT_EQ(plot.XOf(c.hz), c.x) << c.hz;
    }
    EXPECT_DOUBLE_EQ(plot.FrequencyAt(250), 125);
    EXPECT_DOUBLE_EQ(plot.FrequencyAt(0), 0);
    EXPECT_DOUBLE_EQ(plot.FrequencyAt(2000), 500);
    EXPECT_EQ(plot.BinAt(250, s), 128u);  // 125 Hz is bin 128 exactly
    EXPECT_EQ(plot.BinAt(51, s), 1u);     // 0.625 Hz lies nearer bin 1
    EXPECT_EQ(plot.BinAt(0, s), 0u);
    EXPECT_EQ(plot.BinAt(5000, s), 512u);

    plot.Fit(s, shown, LevelScale::Decibel, FrequencyScale::Logarithmic);
    EXPECT_EQ(plot.MinFrequency(), s.binHz);
    // 0.9765625 Hz to 500 Hz: nine octaves, the middle one at 22.1 Hz.
    const double middle = std::sqrt(s.binHz * 500);
    EXPECT_EQ(plot.XOf(middle), 450);
    EXPECT_EQ(plot.XOf(s.binHz), 50);
    EXPECT_EQ(plot.XOf(0), 50);
    EXPECT_EQ(plot.XOf(500), 850);
    EXPECT_NEAR(plot.FrequencyAt(450), middle, 1e-9);
    EXPECT_NEAR(plot.FrequencyAt(850), 500, 1e-9);
    // On a logarithmic axis the DC bin is not shown.
    EXPECT_EQ(plot.BinAt(0, s), 1u);
    EXPECT_EQ(plot.BinAt(450, s), 23u);  // 22.1 Hz / 0.977 Hz = 22.6
    for (int x = kArea.left; x < kArea.left + kArea.width; x += 37) {
        EXPECT_EQ(plot.XOf(plot.FrequencyAt(x)), x);
    }
}

TEST(PowerDensityPlotTest, LevelsFitTheChannelsShown) {
    std::vector<double> a(513, 1e-6);
    a[0] = 100;  // a DC bin far above all else
    a[40] = 2;
    std::vector<double> b(513, 1e-6);
    b[7] = 1e-20;
    b[300] = 0.5;
    const PowerDensity s = MakePowerDensity({a, b});
    PowerDensityPlot plot;
    plot.SetArea(kArea);
    const std::size_t both[] = {0, 1};
    const std::size_t second[] = {1};
    struct Case {
        std::span<const std::size_t> shown;
        LevelScale level;
        FrequencyScale frequency;
        double bottom, top;
    };
    const Case cases[] = {
        {both, LevelScale::Decibel, FrequencyScale::Linear, -110, 30},  // 20 dB + 1 up, 140 down
        {both, LevelScale::Decibel, FrequencyScale::Logarithmic, -130, 10},  // DC left out: 3 dB
        {second, LevelScale::Decibel, FrequencyScale::Linear, -140, 0},      // -3 dB
        {both, LevelScale::Linear, FrequencyScale::Linear, 0, 105},
        {both, LevelScale::Linear, FrequencyScale::Logarithmic, 0, 2.1},
        {second, LevelScale::Linear, FrequencyScale::Linear, 0, 0.525},
    };
    for (const Case& c : cases) {
        plot.Fit(s, c.shown, c.level, c.frequency);
        EXPECT_NEAR(plot.AxisBottom(), c.bottom, 1e-9);
        EXPECT_NEAR(plot.AxisTop(), c.top, 1e-9);
        EXPECT_EQ(plot.YOf(plot.AxisTop()), kArea.top);
        EXPECT_EQ(plot.YOf(plot.AxisBottom()), kArea.top + kArea.height - 1);
        EXPECT_EQ(plot.YOf(plot.AxisTop() * 10 + 100), kArea.top);
        EXPECT_NEAR(plot.LevelAt(kArea.top + 200), (c.bottom + c.top) / 2, 1e-9);
    }
    // No level at all: a floor of zero in linear, 0 dB at the top in decibels.
    const PowerDensity silent = MakePowerDensity({std::vector<double>(513, 0.0)});
    const std::size_t first[] = {0};
    plot.Fit(silent, first, LevelScale::Decibel, FrequencyScale::Linear);
    EXPECT_EQ(plot.AxisTop(), 0);
    EXPECT_EQ(plot.AxisBottom(), -kDecibelSpan);
    EXPECT_EQ(plot.AxisLevel(0), -kDecibelSpan);
    plot.Fit(silent, first, LevelScale::Linear, FrequencyScale::Linear);
    EXPECT_EQ(plot.AxisTop(), 1);
}

std::vector<std::string> Texts(const std::vector<AxisTick>& ticks) {
    std::vector<std::string> texts;
    for (const AxisTick& t : ticks) {
        if (!t.text.empty()) texts.push_back(t.text);
    }
    return texts;
}

TEST(PowerDensityPlotTest, TicksAtRoundValues) {
    std::vector<double> a(513, 1e-13);
    a[40] = 2;  // 3 dB: the axis runs from -130 to 10 dB
    const PowerDensity s = MakePowerDensity({a});
    const std::size_t shown[] = {0};
    PowerDensityPlot plot;
    plot.SetArea(kArea);
    plot.Fit(s, shown, LevelScale::Decibel, FrequencyScale::Linear);
    using V = std::vector<std::string>;
    EXPECT_EQ(Texts(plot.FrequencyTicks(80)),
              (V{"0", "50", "100", "150", "200", "250", "300", "350", "400", "450", "500"}));
    EXPECT_EQ(Texts(plot.FrequencyTicks(150)), (V{"0", "100", "200", "300", "400", "500"}));
    EXPECT_EQ(Texts(plot.LevelTicks(40)), (V{"-120", "-100", "-80", "-60", "-40", "-20", "0"}));
    for (const AxisTick& t : plot.FrequencyTicks(80)) EXPECT_EQ(t.pixel, plot.XOf(t.value));
    for (const AxisTick& t : plot.LevelTicks(40)) EXPECT_EQ(t.pixel, plot.YOf(t.value));

    plot.Fit(s, shown, LevelScale::Decibel, FrequencyScale::Logarithmic);
    // 2.7 decades in 800 pixels: 2 and 5 are named only with room for them.
    EXPECT_EQ(Texts(plot.FrequencyTicks(80)), (V{"1", "10", "100"}));
    EXPECT_EQ(Texts(plot.FrequencyTicks(50)),
              (V{"1", "2", "5", "10", "20", "50", "100", "200", "500"}));
    const std::vector<AxisTick> ticks = plot.FrequencyTicks(80);
    EXPECT_EQ(ticks.size(), 9u + 9 + 5);  // 1..9, 10..90, 100..500
    EXPECT_TRUE(
        std::is_sorted(ticks.begin(), ticks.end(),
                       [](const AxisTick& x, const AxisTick& y) { return x.pixel < y.pixel; }));

    plot.Fit(s, shown, LevelScale::Linear, FrequencyScale::Linear);
    EXPECT_EQ(Texts(plot.LevelTicks(40)), (V{"0", "0.5", "1", "1.5", "2"}));
}

TEST(PowerDensityPlotTest, TracesKeepEveryPeak) {
    std::vector<double> a(513);
    for (std::size_t k = 0; k < a.size(); ++k) a[k] = 1e-4 * (1 + static_cast<double>(k % 7));
    a[301] = 3;
    a[302] = 1e-9;
    const PowerDensity s = MakePowerDensity({a});
    const std::size_t shown[] = {0};
    for (const FrequencyScale f : {FrequencyScale::Linear, FrequencyScale::Logarithmic}) {
        for (const int width : {101, 2000}) {
            SCOPED_TRACE(std::to_string(width) + " px");
            PowerDensityPlot plot;
            plot.SetArea({10, 10, width, 300});
            plot.Fit(s, shown, LevelScale::Decibel, f);
            const std::vector<PlotPoint> points = plot.Trace(s, a);
            // Each column's highest and lowest point, worked out bin by bin.
            std::map<int, std::pair<int, int>> expected;
            const std::size_t from = f == FrequencyScale::Logarithmic ? 1 : 0;
            for (std::size_t k = from; k < a.size(); ++k) {
                const int x = plot.XOf(s.Frequency(k));
                const int y = plot.YOf(10 * std::log10(a[k]));
                auto [it, added] = expected.try_emplace(x, y, y);
                it->second.first = std::min(it->second.first, y);
                it->second.second = std::max(it->second.second, y);
            }
            std::map<int, std::pair<int, int>> got;
            for (const PlotPoint& p : points) {
                auto [it, added] = got.try_emplace(p.x, p.y, p.y);
                it->second.first = std::min(it->second.first, p.y);
                it->second.second = std::max(it->second.second, p.y);
            }
            EXPECT_EQ(got, expected);
            EXPECT_TRUE(
                std::is_sorted(points.begin(), points.end(),
                               [](const PlotPoint& p, const PlotPoint& q) { return p.x < q.x; }));
            if (width == 2000 && f == FrequencyScale::Linear) {
                EXPECT_EQ(points.size(), 513u);
            }
        }
    }
}

TEST(PowerDensityPlotTest, TextsOfLevelsPeaksAndTheReadout) {
    ChannelInfo volt;
    CopyText(volt.unit, "Volt", kUnitChars);
    ChannelInfo bare;
    struct Case {
        std::string got, expected;
    };
    const Case cases[] = {
        {FrequencyText(1.0, 1000.0 / 1024), "1.00 Hz"},
        {FrequencyText(1.0, 1000.0 / 1024, 1), "1.000 Hz"},
        {FrequencyText(12.25, 0.05), "12.250 Hz"},
        {FrequencyText(1000, 10), "1000 Hz"},
        {LevelText(1.2344e-5, LevelScale::Linear, volt), "1.234e-05 Volt\xC2\xB2/Hz"},
        {LevelText(0.5, LevelScale::Decibel, volt), "-3.0 dB"},
        {LevelText(0, LevelScale::Decibel, volt), "-\xE2\x88\x9E dB"},
        {LevelText(2, LevelScale::Linear, bare), "2.000e+00 1/Hz"},
        {DensityUnit(volt), "Volt\xC2\xB2/Hz"},
        {PeakText({8, 1.00049, 17.0, 3.5355339}, 0.12, LevelScale::Decibel, volt),
         "1.000 Hz: 3.536 Volt rms, 12.3 dB"},
        {PeakText({8, 1.00049, 17.0, 3.5355339}, 0.12, LevelScale::Linear, bare),
         "1.000 Hz: 3.536 rms, 1.700e+01 1/Hz"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.expected);

    std::vector<double> a(513, 1e-6);
    a[128] = 0.01;
    std::vector<double> b(513, 1e-6);
    b[128] = 4e-3;
    const PowerDensity s = MakePowerDensity({a, b});
    RecordingInfo info;
    info.channels = {volt, volt};
    CopyText(info.channels[0].name, "Druck", kNameChars);
    info.channels[0].inputNumber = kUnknownInput;
    info.channels[1].inputNumber = 5;
    const std::size_t shown[] = {1, 0};
    EXPECT_EQ(PowerDensityReadout(s, shown, info, 128, LevelScale::Decibel),
              "125.00 Hz   B -24.0 dB   #1: Druck -20.0 dB");
}

}  // namespace
}  // namespace tamix
