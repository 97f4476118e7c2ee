// The part of a recording the review window shows: the visible scans, how
// zooming, panning and the ends change them, and the mapping between scans,
// screen columns and time. Pure arithmetic, tested without a display.
#pragma once

#include <cstdint>
#include <optional>

namespace tamix {

class ReviewViewport {
  public:
    // Fewer scans than this are never spread over the whole width.
    static constexpr int64_t kMinSpan = 10;

    // Shows the whole recording of `totalScans` over `columns` screen columns.
    ReviewViewport(int64_t totalScans, double period, int columns);

    int64_t First() const { return first_; }
    int64_t Span() const { return span_; }
    int64_t EndScan() const { return first_ + span_; }  // exclusive
    int64_t TotalScans() const { return total_; }
    int Columns() const { return columns_; }
    double Period() const { return period_; }
    bool ShowsAll() const { return first_ == 0 && span_ == total_; }

    // The window was resized: the same scans over a new width.
    void SetColumns(int columns);

    // First scan of column `column`: the same boundaries as the min-max columns.
    int64_t ScanAtColumn(int column) const;
    double SecondsAtColumn(int column) const;
    // The column showing `scan`, or nothing when it is off screen.
    std::optional<int> ColumnOfScan(int64_t scan) const;
    // The column at time `seconds`, which may lie off screen (negative or past the width).
    double ColumnOfSeconds(double seconds) const;

    // Zooms in by `factor` (> 1) or out (< 1), keeping the scan under `column`
    // where it is; the span stays within kMinSpan and the whole recording.
    void Zoom(double factor, int column);
    // Moves the view by a number of screen columns (positive: later).
    void PanColumns(double columns);
    // Starts the view at `first`, clamped so that it stays inside the recording.
    void ScrollTo(int64_t first);
    // The first or last scans, at the current zoom.
    void Home() { ScrollTo(0); }
    void End() { ScrollTo(total_); }
    // Centres `scan` (as far as the ends allow), at the current zoom.
    void CentreOn(int64_t scan);
    void ShowAll();
    // The recording grew to `totalScans` while it is being made: a view of
    // the whole recording goes on showing all of it, one that reached the end
    // follows the end at its zoom, and any other stays where it was.
    void Grow(int64_t totalScans);

  private:
    int64_t total_;
    double period_;
    int columns_;
    int64_t first_ = 0;
    int64_t span_ = 0;
};

}  // namespace tamix
