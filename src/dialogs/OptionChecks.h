// What makes a measurement choice usable: the limits of the Measurement Options
// dialog, shared by its fields, the profile repairs and the command-line recorder.
#pragma once

#include <string_view>

namespace tamix {

// Total time in the chosen unit (minutes or hours).
inline constexpr double kMinTotalTime = 0.01;
inline constexpr double kMaxTotalTime = 6000;
inline constexpr int kFreqIndexes = 5;  // 2000, 1000, 500, 250, 125 Hz

// Finite and within kMinTotalTime..kMaxTotalTime (NaN is not).
bool TotalTimeAllowed(double time);

enum class CalibrationFault {
    None,
    NotFinite,  // a value is NaN or infinite
    Flat,       // 1 V reads the same engineering value as 0 V: the trace says nothing
    Overflow,   // full scale (±10 V) gives values no double holds
};

// Judged on the engineering values the recordings write, in their arithmetic.
CalibrationFault CheckCalibration(double valueAt1V, double valueAt0V);

// "1 V reads the same as 0 V" and so on; empty for None.
std::string_view Describe(CalibrationFault fault);

}  // namespace tamix
