// What the signal view tells about its traces in numbers: the engineering
// values at a strip's edges for its gain and offset, the time a sweep spans,
// the time and value under the pointer, and the column a marker falls on.
// Pure functions over the shared record, tested without a display.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "acquisition/MeasurementSetup.h"
#include "view/ViewGeometry.h"

namespace tamix {

// Engineering value of a display sample on `channel`.
double DisplayValue(double sample, const ChannelInfo& channel);

struct EdgeValues {
    double top = 0;
    double bottom = 0;
};
// The values a trace would show on the top and bottom pixel rows of a strip.
EdgeValues StripEdgeValues(const Rect& strip, int gain, int offset, const ChannelInfo& channel);

// "1.234 Volt": four significant digits, the unit without its padding.
std::string FormatValue(double value, std::string_view unit);
// "sweep 4.10 s": the recorded time one sweep of `displayWidth` columns spans.
std::string SweepSpanText(int displayWidth, double samplePeriod);

struct Readout {
    int channel = 0;     // position in the run's channels
    int column = 0;      // display column
    int64_t scan = 0;    // recorded-scan index of the column's first scan
    double seconds = 0;  // time of that scan since the start
    int16_t sample = 0;
    double value = 0;  // engineering value of the sample
};
// The point of the current sweep under client pixel (x, y), if any; `points`
// is the number of columns gathered (displayColumn).
std::optional<Readout> ReadoutAt(const ViewLayout& layout, const MeasurementSetup& setup,
                                 int points, int x, int y);
// "t = 12.345 s   A: ECG = 1.234 Volt"
std::string ReadoutText(const Readout& r, const ChannelInfo& channel);

// The column of the current sweep (0..points-1) that holds recorded scan
// `scan`, or nothing when the scan lies outside the sweep.
std::optional<int> ColumnOfScan(const DisplayColumns& columns, int points, int64_t scan);

}  // namespace tamix
