#include "dialogs/ChoicesProfile.h"

#include <algorithm>

#include "base/ProfileKeys.h"
#include "base/Utf8Text.h"
#include "dialogs/ControlAccess.h"
#include "dialogs/OptionChecks.h"

namespace tamix {

namespace key = profile;

namespace {

// "key=value" as the file has it, for messages; long values shortened.
std::string KeyValue(const IniFile& p, std::string_view section, std::string_view key,
                     std::string_view fallback) {
    constexpr std::size_t kShown = 40;
    const std::string value = p.GetString(section, key, fallback);
    const std::string_view shown = Utf8Prefix(value, kShown, kShown * 4);
    return std::string(key) + "=" + std::string(shown) + (shown.size() < value.size() ? "..." : "");
}

std::string Found(const IniFile& p, std::string_view section, std::string_view key,
                  std::string_view fallback) {
    return "[" + std::string(section) + "] " + KeyValue(p, section, key, fallback);
}

}  // namespace

void LoadChoices(const IniFile& p, MeasurementChoices& c, std::vector<SettingRepair>& repairs) {
    using Field = SettingRepair::Field;
    const auto repair = [&repairs](Field field, int input, std::string found,
                                   std::string_view reason) {
        repairs.push_back({field, input, std::move(found), std::string(reason)});
    };
    repairs.clear();
    for (int i = 0; i < kMaxChannels; ++i) {
        const int fallback = i < 4 ? 1 : 0;
        int ticked = p.GetInt(key::kOptions, key::ChannelTicked(i), fallback);
        if (ticked != 0 && ticked != 1) {
            repair(Field::ChannelTicked, i, Found(p, key::kOptions, key::ChannelTicked(i), ""),
                   "not 0 or 1");
            ticked = fallback;
        }
        c.inputs[static_cast<std::size_t>(i)].recorded = ticked != 0;
    }
    int freqIndex = p.GetInt(key::kOptions, key::kFreq, 2);
    const int fileType = p.GetInt(key::kOptions, key::kFileType, 0);
    double time = p.GetReal(key::kOptions, key::kTime, "30.0");
    int timeUnit = p.GetInt(key::kOptions, key::kTimeUnit, 0);
    c.splitEvery = p.GetString(key::kOptions, key::kSplitEvery, "");
    for (int i = 0; i < kMaxChannels; ++i) {
        InputChoice& in = c.inputs[static_cast<std::size_t>(i)];
        in.name = p.GetString(key::kChannelInfo, key::Name(i), "chn");
        in.unit = p.GetString(key::kChannelInfo, key::Unit(i), "Volt");
        in.calibration.valueAt1V = p.GetReal(key::kChannelInfo, key::ValueAt1V(i), "1.0");
        in.calibration.valueAt0V = p.GetReal(key::kChannelInfo, key::ValueAt0V(i), "0.0");
        const CalibrationFault fault =
            CheckCalibration(in.calibration.valueAt1V, in.calibration.valueAt0V);
        if (fault != CalibrationFault::None) {
            repair(Field::Calibration, i,
                   Found(p, key::kChannelInfo, key::ValueAt1V(i), "1.0") + ", " +
                       KeyValue(p, key::kChannelInfo, key::ValueAt0V(i), "0.0"),
                   Describe(fault));
            in.calibration = Calibration{};
        }
    }
    c.fileType = FileType::WinDaq;
    if (fileType < 0 || fileType > 1) {
        repair(Field::FileType, -1, Found(p, key::kOptions, key::kFileType, ""),
               "not 0 (WinDaq binary) or 1 (text)");
    } else {
        c.fileType = FileTypeOf(fileType);
    }
    if (freqIndex < 0 || freqIndex >= kFreqIndexes) {
        repair(Field::FreqIndex, -1, Found(p, key::kOptions, key::kFreq, ""),
               "not a list index from 0 to " + std::to_string(kFreqIndexes - 1));
        freqIndex = std::clamp(freqIndex, 0, kFreqIndexes - 1);
    }
    c.freqIndex = freqIndex;
    // The time and its unit make one duration: a bad one gives the default 30 min.
    if (timeUnit != 0 && timeUnit != 1) {
        repair(Field::TimeUnit, -1, Found(p, key::kOptions, key::kTimeUnit, ""),
               "not 0 (minutes) or 1 (hours)");
        timeUnit = 0;
        time = 30.0;
    }
    if (!TotalTimeAllowed(time)) {
        repair(Field::TotalTime, -1, Found(p, key::kOptions, key::kTime, "30.0"),
               "not a number from " + ddx::FormatNumber(kMinTotalTime) + " to " +
                   ddx::FormatNumber(kMaxTotalTime));
        time = 30.0;
        timeUnit = 0;
    }
    c.duration = {time, timeUnit == 1 ? TimeUnit::Hours : TimeUnit::Minutes};
}

void SaveChoices(const MeasurementChoices& c, IniFile& p) {
    for (int i = 0; i < kMaxChannels; ++i) {
        p.SetInt(key::kOptions, key::ChannelTicked(i),
                 c.inputs[static_cast<std::size_t>(i)].recorded ? 1 : 0);
    }
    p.SetInt(key::kOptions, key::kFreq, c.freqIndex);
    p.SetInt(key::kOptions, key::kFileType, static_cast<int>(c.fileType));
    const bool hours = c.duration.unit == TimeUnit::Hours;
    p.SetReal(
        key::kOptions, key::kTime,
        c.duration.unit == TimeUnit::Seconds ? c.duration.Seconds() / 60.0 : c.duration.amount);
    p.SetInt(key::kOptions, key::kTimeUnit, hours ? 1 : 0);
    // Written once it was ever chosen, so that a profile without splits stays as it was.
    if (!c.splitEvery.empty() || !p.GetString(key::kOptions, key::kSplitEvery, "").empty()) {
        p.SetString(key::kOptions, key::kSplitEvery, c.splitEvery);
    }
    for (int i = 0; i < kMaxChannels; ++i) {
        const InputChoice& in = c.inputs[static_cast<std::size_t>(i)];
        p.SetString(key::kChannelInfo, key::Name(i), in.name);
        p.SetString(key::kChannelInfo, key::Unit(i), in.unit);
        p.SetReal(key::kChannelInfo, key::ValueAt1V(i), in.calibration.valueAt1V);
        p.SetReal(key::kChannelInfo, key::ValueAt0V(i), in.calibration.valueAt0V);
    }
}

}  // namespace tamix
