#include "dialogs/OptionChecks.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "base/ChannelInfo.h"
#include "base/ProfileKeys.h"
#include "base/TextLimits.h"
#include "base/Utf8Text.h"
#include "dialogs/MeasurementChoices.h"
#include "dialogs/SplitEvery.h"
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

std::string CalibrationMessage(CalibrationFault fault) {
    return "The calibration is not usable: " + std::string(Describe(fault)) + ".";
}

std::string TextLengthFault(std::string_view text, std::size_t limit) {
    const std::size_t chars = Utf8Length(text);
    if (chars <= limit) return {};
    return std::to_string(chars) + " characters, at most " + std::to_string(limit) +
           " are possible";
}

std::string CheckChoices(const MeasurementChoices& c) {
    for (std::size_t i = 0; i < c.inputs.size(); ++i) {
        const InputChoice& in = c.inputs[i];
        if (!in.recorded) continue;
        const CalibrationFault fault =
            CheckCalibration(in.calibration.valueAt1V, in.calibration.valueAt0V);
        if (fault != CalibrationFault::None) {
            return "Input " + std::string(kInputLabels[i]) + ": " + CalibrationMessage(fault);
        }
    }
    // NaN fails both comparisons.
    const double seconds = c.duration.Seconds();
    if (!(seconds > 0 && seconds <= kMaxTotalTime * 3600.0)) {
        return "The total time must be more than 0 and at most " +
               std::to_string(static_cast<int>(kMaxTotalTime)) + " hours.";
    }
    std::string split = SplitEveryFault(
        "[" + std::string(profile::kOptions) + "] " + std::string(profile::kSplitEvery),
        c.splitEvery);
    if (!split.empty()) return split;
    if (c.save == SaveMode::ScreenOnly) return {};
    // An empty name would make a hidden ".wdq" or ".dat" in the working folder.
    const std::size_t slash = c.fileName.find_last_of("/\\");
    const std::string_view base =
        std::string_view(c.fileName).substr(slash == std::string::npos ? 0 : slash + 1);
    if (base.find_first_not_of(" \t") == std::string_view::npos) {
        return "Please enter a name for the output file.";
    }
    const std::string name = ApplyExtension(c.fileName, static_cast<int>(c.fileType));
    if (name.size() >= kPathBytes) {
        return "The output file name is too long: at most " + std::to_string(kPathBytes - 1) +
               " bytes are possible.";
    }
    return {};
}

std::optional<TextOverLimit> FirstTextOverLimit(const MeasurementChoices& c) {
    for (std::size_t i = 0; i < c.inputs.size(); ++i) {
        const InputChoice& in = c.inputs[i];
        if (!in.recorded) continue;
        std::string fault = TextLengthFault(in.name, kNameChars);
        if (!fault.empty()) return TextOverLimit{static_cast<int>(i), false, std::move(fault)};
        fault = TextLengthFault(in.unit, kUnitChars);
        if (!fault.empty()) return TextOverLimit{static_cast<int>(i), true, std::move(fault)};
    }
    return std::nullopt;
}

}  // namespace tamix
