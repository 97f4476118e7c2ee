// What the review window tells in numbers: the time and every channel's value
// at the pointer, and the calibration a strip draws with. Pure functions over
// a recording reader, tested without a display.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/ChannelInfo.h"
#include "recording/RecordingReader.h"
#include "view/ReviewViewport.h"

namespace tamix {

struct ReviewReadout {
    int64_t scan = 0;
    double seconds = 0;
    std::vector<double> values;  // engineering values, one per channel
};

// The scan at the left edge of `column` and its values. False (the reason in
// reader.Error()) when the file cannot be read there.
bool ReadoutAtColumn(RecordingReader& reader, const ReviewViewport& view, int column,
                     ReviewReadout& out);

// "t = 0:00:01.234   ECG = 1.234 mV   Druck = 0.5 bar"
std::string ReviewReadoutText(const ReviewReadout& readout, std::span<const ChannelInfo> channels);

// The calibration a strip draws a channel with, so that the live view's gain
// and offset in sample counts apply: a WinDaq channel's own; a text channel's
// values (which carry none) keep the plain volt calibration within ±10 and are
// otherwise spread over the sample range by [lo, hi], their whole range.
ChannelInfo DisplayCalibration(const ChannelInfo& channel, RecordingFormat format, double lo,
                               double hi);

// Sample counts of an engineering value under `channel`'s calibration.
double DisplaySample(double value, const ChannelInfo& channel);

}  // namespace tamix
