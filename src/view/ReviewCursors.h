// The review window's two cursors: where a pointer puts them (snapped to a
// scan once scans lie apart on screen), what they read (times, Δt, 1/Δt and
// every channel's value at each and their difference), and the typed times of
// "Go to time...". Pure functions over a recording reader, tested without a
// display.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/ChannelInfo.h"
#include "recording/RecordingReader.h"
#include "view/ReviewViewport.h"

namespace tamix {

// Columns a scan must cover before the cursor snaps to the nearest scan
// instead of the scan its column starts with.
inline constexpr double kSnapColumnsPerScan = 3.0;

// The scan a cursor dropped at fractional column `x` stands on.
int64_t CursorScanAt(const ReviewViewport& view, double x);

// The fractional column a cursor on `scan` is drawn at: the middle of the
// scan's width once it is wide enough to snap to, else its column.
double CursorColumn(const ReviewViewport& view, int64_t scan);

struct CursorPair {
    std::array<std::optional<int64_t>, 2> scan;
    int active = 0;  // the one the keys move, the one last placed

    bool Both() const { return scan[0].has_value() && scan[1].has_value(); }
    // [first, last) from the earlier to the later cursor, the later one
    // included; empty unless both are placed.
    std::optional<std::pair<int64_t, int64_t>> Span() const;
};

struct CursorReading {
    std::array<std::optional<int64_t>, 2> scan;
    std::array<std::vector<double>, 2> values;  // per channel, at each placed cursor
};

// Reads every channel's engineering value at each placed cursor. False (the
// reason in reader.Error()) when the file cannot be read there.
bool ReadCursors(RecordingReader& reader, const CursorPair& cursors, CursorReading& out);

// The readout as lines: each cursor's time and scan, Δt with 1/Δt, and for
// every channel its value at each cursor and the difference, in its unit.
std::vector<std::string> CursorReadoutLines(const CursorReading& reading, double period,
                                            std::span<const ChannelInfo> channels);

// "12.5", "12.5 s", "1:02.5", "0:01:02.5", "250 ms", "2 min": seconds from
// the recording's start; nothing for text that is no time or is negative.
std::optional<double> ParseTypedTime(std::string_view text);

// The scan nearest `seconds`, kept inside a recording of `total` scans.
int64_t ScanAtSeconds(double seconds, double period, int64_t total);

}  // namespace tamix
