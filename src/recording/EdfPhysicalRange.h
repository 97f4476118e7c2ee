// A channel's physical minimum, maximum and dimension in an EDF+ header. The
// two numbers have 8 characters each; where the channel's range does not fit
// them faithfully in its own unit, the unit takes a decimal prefix (µV -> mV).
#pragma once

#include <string>
#include <string_view>

#include "base/ChannelInfo.h"

namespace tamix {

// How far the header's numbers may lie from the channel's true range, in
// digital steps, before another prefix is tried, and before the export is refused.
inline constexpr double kEdfRangeTolerance = 0.1;
inline constexpr double kEdfRangeLimit = 0.5;

struct EdfPhysicalRange {
    std::string minimum;  // the header's texts, at most 8 characters each
    std::string maximum;
    double minimumValue = 0;  // what a reader takes from them, in `dimension`
    double maximumValue = 0;
    std::string dimension;  // at most 8 characters
    // The values are in units of 10^exponent of the channel's own unit.
    int exponent = 0;
    // Every sample has the same value (1 V reads as 0 V): each is written as
    // the digital minimum, which reads as `minimumValue`.
    bool constant = false;
    // The largest distance between a sample's value in the file and in the
    // recording, in digital steps (a step being the range / 65535).
    double stepError = 0;
};

// `unit` is the channel's unit as the header gives it (ASCII, at most 8
// characters). False with `reason` when no prefix gives a faithful header.
bool ChooseEdfPhysicalRange(const ChannelInfo& channel, std::string_view unit,
                            EdfPhysicalRange& range, std::string& reason);

// The text of at most 8 characters nearest to `value` ("-10", "9.999695",
// "-1000000"), or empty when it has no such text. `decimals` gets the digits
// after the point of the 8-character form before its trailing zeros went.
std::string EdfNumberText(double value, int* decimals = nullptr);

// `unit` in units of 10^exponent of it: "uV" and 3 give "mV", "V" and -6
// "uV", "mmHg" and 3 "kmmHg". Empty when there is no such prefix or the
// result is longer than 8 characters.
std::string EdfPrefixedUnit(std::string_view unit, int exponent);

}  // namespace tamix
