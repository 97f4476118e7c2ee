// The signal view's arithmetic: layout of header, icon column and strips from
// the client size, the screen point of a display sample, the sweep width and
// the clock text. Pure functions, used by the wx view and tested without a display.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tamix {

struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

inline constexpr int kHeaderHeight = 16;
inline constexpr int kIconColumnWidth = 15;

struct ViewLayout {
    Rect header;
    Rect traces;
    int traceWidth = 0;
    int stripHeight = 0;  // 0 when there is no channel to show
    int channelCount = 0;
    std::array<Rect, 8> strips{};

    // Icon cell k (0 zoom, 1 volume, 2 shift) of strip i.
    Rect IconCell(int strip, int k) const;
    // Top-left of an icon drawn in a cell.
    int IconX(const Rect& cell) const { return cell.left + 1; }
    int IconY(const Rect& cell) const { return (cell.top + cell.bottom) / 2 - 7; }
};

// Lays out a client area of `width` × `height` pixels for `channelCount` channels.
// With no channel (or a count outside 1..8) only the header is laid out.
ViewLayout ComputeLayout(int width, int height, int channelCount);

// The worker's sweep width for a trace area: clamped into 100..2048.
int DisplayWidthFor(int traceWidth);

// y of a display sample `v` in a strip with middle row `mid`.
int PointY(int mid, int v, int offset, int stripHeight, int gain);

// "hh:mm:ss" of the recorded time, hours not wrapped.
std::string ClockText(int64_t scanCount, double samplePeriod);

}  // namespace tamix
