// The markers of a run: scan positions and comments, published to the worker
// one entry at a time.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string_view>

#include "base/TextLimits.h"

namespace tamix {

struct MarkerTable {
    // Entries below markerCount are valid. A writer (the user interface, or the
    // worker for a gap) first claims an entry through `reserved`, fills it, then
    // publishes it by raising markerCount (release) in entry order; readers use
    // acquire.
    std::atomic<int> markerCount{1};
    std::atomic<int> reserved{1};
    std::array<int64_t, kMaxMarkers> markerPos{};
    std::array<std::array<char, kCommentBytes>, kMaxMarkers> markerText{};
    // Wall-clock time (seconds since 1970) at which the marker was set; 0 unknown.
    std::array<int64_t, kMaxMarkers> markerWallTime{};

    std::string_view Text(int m) const;
};

}  // namespace tamix
