// What the review window tells in numbers: the time and every channel's value
// at the pointer, and the calibration and colour a strip draws with. Pure functions over
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

// "t = 0:00:01.234": the time at the pointer, for the status bar.
std::string ReviewTimeText(const ReviewReadout& readout);
// "= 1.234 mV": the value of channel `k` at the pointer, drawn after its
// strip's label, which names the channel and its input; empty without one.
std::string ReviewValueText(const ReviewReadout& readout, std::size_t k,
                            std::span<const ChannelInfo> channels);

// The slot of the live view's colours for the channel at `position`: its
// input's, or for a channel of unknown input its place.
int ColourSlot(const ChannelInfo& channel, std::size_t position);

// The calibration a strip draws a channel with, so that the live view's gain
// and offset in sample counts apply: a WinDaq channel's own; a text channel's
// values (which carry none) keep the plain volt calibration within ±10 and are
// otherwise spread over the sample range by [lo, hi], their whole range.
ChannelInfo DisplayCalibration(const ChannelInfo& channel, RecordingFormat format, double lo,
                               double hi);

// Sample counts of an engineering value under `channel`'s calibration.
double DisplaySample(double value, const ChannelInfo& channel);

}  // namespace tamix
