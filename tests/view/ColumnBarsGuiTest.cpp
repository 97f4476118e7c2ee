// The min-max bars and the zero line's dots written straight into the view's
// buffer give exactly the pixels that cairo's own fill gives.
#include <gtest/gtest.h>
#include <wx/bitmap.h>
#include <wx/dcmemory.h>
#include <wx/image.h>

#include <random>
#include <vector>

#include "view/wx/ColumnBars.h"

namespace tamix {
namespace {

constexpr int kWidth = 300;
constexpr int kHeight = 120;

struct Case {
    const char* what;
    int depth;    // the buffer bitmap's bits per pixel
    wxRect clip;  // the strip
    bool dots;    // one-row bars, against single points drawn by the DC
};

const Case kCases[] = {
    {"bars in a 24-bit buffer", 24, wxRect(15, 16, 270, 40), false},
    {"bars in a 32-bit buffer", 32, wxRect(15, 56, 270, 40), false},
    {"bars clipped at the buffer's edges", 24, wxRect(0, 0, kWidth, kHeight), false},
    {"zero-line dots", 24, wxRect(15, 16, 270, 40), true},
};

// The buffer after drawing: background, a stroke already drawn, then the bars.
wxImage Draw(const Case& c, const std::vector<ColumnBar>& bars, bool reference) {
    wxBitmap bitmap(kWidth, kHeight, c.depth);
    {
        wxMemoryDC dc(bitmap);
        dc.SetBackground(wxBrush(wxColour(250, 248, 240)));
        dc.Clear();
        // Drawing queued in cairo before the bars must land beneath them.
        dc.SetPen(wxPen(wxColour(40, 40, 40)));
        dc.DrawLine(0, kHeight / 2, kWidth, kHeight / 3);
        const wxColour colour(0, 114, 178);
        if (!reference) {
            FillColumnBars(dc, bars, c.clip, colour);
        } else if (c.dots) {
            wxDCClipper clip(dc, c.clip);
            dc.SetPen(wxPen(colour));
            for (const ColumnBar& b : bars) dc.DrawPoint(b.x, b.top);
        } else {
            FillColumnBars(dc, bars, c.clip, colour, BarFill::Path);
        }
        dc.SetPen(wxPen(wxColour(200, 0, 0)));
        dc.DrawLine(0, 0, kWidth, kHeight);
    }
    return bitmap.ConvertToImage();
}

TEST(ColumnBarsGuiTest, GiveTheSamePixelsAsCairosFill) {
    std::mt19937 random(20240611);
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        // One bar per column, as the view draws them, some beyond every edge.
        std::vector<ColumnBar> bars;
        std::uniform_int_distribution<int> y(-10, kHeight + 10);
        std::uniform_int_distribution<int> span(0, 30);
        for (int x = -5; x < kWidth + 5; ++x) {
            const int top = y(random);
            bars.push_back({x, top, c.dots ? top : top + span(random)});
        }
        const wxImage fast = Draw(c, bars, false);
        const wxImage reference = Draw(c, bars, true);
        ASSERT_TRUE(fast.IsOk() && reference.IsOk());
        int differing = 0;
        for (int py = 0; py < kHeight; ++py) {
            for (int px = 0; px < kWidth; ++px) {
                if (fast.GetRed(px, py) != reference.GetRed(px, py) ||
                    fast.GetGreen(px, py) != reference.GetGreen(px, py) ||
                    fast.GetBlue(px, py) != reference.GetBlue(px, py)) {
                    if (differing++ < 3) ADD_FAILURE() << "pixel " << px << "," << py << " differs";
                }
            }
        }
        EXPECT_EQ(differing, 0);
    }
}

}  // namespace
}  // namespace tamix
