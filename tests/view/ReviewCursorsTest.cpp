#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

#include "view/ReviewCursors.h"
#include "view/ReviewViewport.h"

namespace tamix {
namespace {

// A cursor stands on the scan a column starts with while several scans share
// a column, and on the scan under the pointer once each scan has columns of
// its own, where it is drawn in the middle of the scan's width.
TEST(ReviewCursorsTest, ACursorStandsOnTheScanUnderThePointerAndIsDrawnThere) {
    ReviewViewport wide(1000, 0.001, 100);  // ten scans a column
    EXPECT_EQ(CursorScanAt(wide, 0.0), 0);
    EXPECT_EQ(CursorScanAt(wide, 42.9), 420);
    EXPECT_EQ(CursorScanAt(wide, 99.99), 990);
    EXPECT_EQ(CursorScanAt(wide, 500.0), 990) << "kept on the traces";
    EXPECT_EQ(CursorScanAt(wide, -3.0), 0);
    EXPECT_DOUBLE_EQ(CursorColumn(wide, 425), 42.0);

    ReviewViewport close(1000, 0.001, 100);
    close.Zoom(50, 0);  // 20 scans over 100 columns: five columns a scan
    ASSERT_EQ(close.Span(), 20);
    for (const double x : {0.0, 4.9, 5.0, 52.0, 99.0}) {
        const int64_t scan = CursorScanAt(close, x);
        EXPECT_EQ(scan, static_cast<int64_t>(x / 5)) << x;
        // Drawn in the middle of its own five columns: snapped.
        EXPECT_DOUBLE_EQ(CursorColumn(close, scan), static_cast<double>(scan) * 5 + 2.5) << x;
    }
}

TEST(ReviewCursorsTest, TheSpanRunsFromTheEarlierCursorThroughTheLater) {
    CursorPair c;
    EXPECT_FALSE(c.Span());
    c.scan[0] = 700;
    EXPECT_FALSE(c.Span());
    c.scan[1] = 200;
    ASSERT_TRUE(c.Span());
    EXPECT_EQ(c.Span()->first, 200);
    EXPECT_EQ(c.Span()->second, 701);
}

TEST(ReviewCursorsTest, TypedTimes) {
    struct Case {
        const char* text;
        std::optional<double> seconds;
    };
    for (const Case& c :
         {Case{"12.5", 12.5}, Case{" 12.5 s ", 12.5}, Case{"250 ms", 0.25}, Case{"2 min", 120.0},
          Case{"1h", 3600.0}, Case{"1:02.5", 62.5}, Case{"0:01:02.5", 62.5},
          Case{"1:00:00", 3600.0}, Case{"0", 0.0}, Case{"", std::nullopt}, Case{"-1", std::nullopt},
          Case{"abc", std::nullopt}, Case{"1:75", std::nullopt}, Case{"1:2:3:4", std::nullopt},
          Case{"12.5x", std::nullopt}, Case{"1e999", std::nullopt}, Case{"nan", std::nullopt}}) {
        const std::optional<double> t = ParseTypedTime(c.text);
        ASSERT_EQ(t.has_value(), c.seconds.has_value()) << c.text;
        if (t) {
            EXPECT_DOUBLE_EQ(*t, *c.seconds) << c.text;
        }
    }
    EXPECT_EQ(ScanAtSeconds(12.5, 0.002, 100000), 6250);
    EXPECT_EQ(ScanAtSeconds(1e9, 0.002, 100000), 99999);
    EXPECT_EQ(ScanAtSeconds(0.0011, 0.002, 100000), 1) << "the nearest scan";
}

}  // namespace
}  // namespace tamix
