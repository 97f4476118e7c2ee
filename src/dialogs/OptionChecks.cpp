#include "dialogs/OptionChecks.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "base/ChannelInfo.h"
#include "recording/EngineeringValue.h"

namespace tamix {

bool TotalTimeAllowed(double time) {
    return time >= kMinTotalTime && time <= kMaxTotalTime;
}

CalibrationFault CheckCalibration(double valueAt1V, double valueAt0V) {
    if (!std::isfinite(valueAt1V) || !std::isfinite(valueAt0V)) return CalibrationFault::NotFinite;
    // The value at 1 V is the scale, so 0 (or a scale lost against a large
    // offset) records a constant.
    if (1.0 * valueAt1V + valueAt0V == valueAt0V) return CalibrationFault::Flat;
    ChannelInfo channel;
    channel.valueAt1V = valueAt1V;
    channel.valueAt0V = valueAt0V;
    const double low = EngineeringValue(std::numeric_limits<int16_t>::min(), channel);
    const double high = EngineeringValue(std::numeric_limits<int16_t>::max(), channel);
    if (!std::isfinite(low) || !std::isfinite(high)) return CalibrationFault::Overflow;
    return CalibrationFault::None;
}

std::string_view Describe(CalibrationFault fault) {
    switch (fault) {
        case CalibrationFault::None:
            return {};
        case CalibrationFault::NotFinite:
            return "not a finite number";
        case CalibrationFault::Flat:
            return "1 V reads the same as 0 V";
        case CalibrationFault::Overflow:
            return "values at \u00B110 V are beyond the range of numbers";
    }
    return {};
}

}  // namespace tamix
