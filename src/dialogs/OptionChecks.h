// What makes a measurement choice usable: the limits of the Measurement Options
// dialog, shared by its fields, the profile repairs and the command-line recorder.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tamix {

struct MeasurementChoices;

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
// "The calibration is not usable: 1 V reads the same as 0 V."
std::string CalibrationMessage(CalibrationFault fault);

// "31 characters, at most 30 are possible" (characters as the operator sees
// them), or empty when `text` fits `limit`.
std::string TextLengthFault(std::string_view text, std::size_t limit);

// Why these choices cannot make a run, as the operator reads it, or empty: a
// recorded input's calibration, a duration outside what a run can last, an
// output file without a name or with a path too long. The one check on OK of
// the dialog and on the recorder's choices after its options.
std::string CheckChoices(const MeasurementChoices& choices);

// A recorded input's name or unit that is longer than its field: the run
// shortens it (as the dialog always has), a caller that must not guess refuses it.
struct TextOverLimit {
    int input = -1;
    bool isUnit = false;  // else the name
    std::string fault;    // as TextLengthFault gives it
};
std::optional<TextOverLimit> FirstTextOverLimit(const MeasurementChoices& choices);

}  // namespace tamix
