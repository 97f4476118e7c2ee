#include "view/ReviewViewport.h"

#include <algorithm>
#include <cmath>

namespace tamix {

ReviewViewport::ReviewViewport(int64_t totalScans, double period, int columns)
    : total_(std::max<int64_t>(totalScans, 0)), period_(period), columns_(std::max(columns, 1)) {
    ShowAll();
}

void ReviewViewport::SetColumns(int columns) {
    columns_ = std::max(columns, 1);
}

void ReviewViewport::ShowAll() {
    first_ = 0;
    span_ = total_;
}

void ReviewViewport::Grow(int64_t totalScans) {
    if (totalScans <= total_) return;
    const bool all = ShowsAll();
    const bool atEnd = EndScan() >= total_;
    total_ = totalScans;
    if (all) {
        ShowAll();
    } else if (atEnd) {
        End();
    }
}

int64_t ReviewViewport::ScanAtColumn(int column) const {
    column = std::clamp(column, 0, columns_);
    // span × columns stays far below 2^63 for any recording a reader accepts.
    return first_ + span_ * column / columns_;
}

double ReviewViewport::SecondsAtColumn(int column) const {
    return static_cast<double>(ScanAtColumn(column)) * period_;
}

std::optional<int> ReviewViewport::ColumnOfScan(int64_t scan) const {
    if (span_ <= 0 || scan < first_ || scan >= EndScan()) return std::nullopt;
    // The last column whose first scan is at or before `scan`.
    int64_t c = ((scan - first_) * columns_ + columns_ - 1) / span_;
    c = std::clamp<int64_t>(c, 0, columns_ - 1);
    while (c > 0 && ScanAtColumn(static_cast<int>(c)) > scan) --c;
    while (c + 1 < columns_ && ScanAtColumn(static_cast<int>(c + 1)) <= scan) ++c;
    return static_cast<int>(c);
}

double ReviewViewport::ColumnOfSeconds(double seconds) const {
    if (span_ <= 0 || period_ <= 0) return 0;
    return (seconds / period_ - static_cast<double>(first_)) * columns_ /
           static_cast<double>(span_);
}

void ReviewViewport::Zoom(double factor, int column) {
    if (total_ <= 0 || !(factor > 0)) return;
    column = std::clamp(column, 0, columns_);
    const double anchor = static_cast<double>(first_) +
                          static_cast<double>(span_) * column / static_cast<double>(columns_);
    const int64_t minSpan = std::min(kMinSpan, total_);
    const int64_t span =
        std::clamp<int64_t>(std::llround(static_cast<double>(span_) / factor), minSpan, total_);
    span_ = span;
    ScrollTo(std::llround(anchor - static_cast<double>(span) * column / columns_));
}

void ReviewViewport::PanColumns(double columns) {
    ScrollTo(first_ + std::llround(columns * static_cast<double>(span_) / columns_));
}

void ReviewViewport::ScrollTo(int64_t first) {
    first_ = std::clamp<int64_t>(first, 0, total_ - span_);
}

void ReviewViewport::CentreOn(int64_t scan) {
    ScrollTo(scan - span_ / 2);
}

}  // namespace tamix
