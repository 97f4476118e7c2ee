#include "dialogs/MeasurementChoices.h"

#include <algorithm>
#include <cctype>

#include "acquisition/MeasurementSetup.h"
#include "base/Utf8Text.h"
#include "dialogs/SplitEvery.h"

namespace tamix {

double Duration::Seconds() const {
    switch (unit) {
        case TimeUnit::Seconds:
            return amount;
        case TimeUnit::Minutes:
            return amount * 60.0;
        case TimeUnit::Hours:
            return amount * 3600.0;
    }
    return amount;
}

MeasurementChoices::MeasurementChoices() {
    for (int i = 0; i < 4; ++i) inputs[static_cast<std::size_t>(i)].recorded = true;
}

void FillSetup(const MeasurementChoices& c, MeasurementSetup& setup) {
    setup.channelCount = 0;
    for (int i = 0; i < kMaxChannels; ++i) {
        const InputChoice& in = c.inputs[static_cast<std::size_t>(i)];
        if (!in.recorded) continue;
        ChannelInfo& ch = setup.channels[static_cast<std::size_t>(setup.channelCount)];
        ch.inputNumber = i;
        CopyText(ch.name, in.name, kNameChars);
        // Right-aligned in four characters, as the file formats show units.
        const std::string_view unit = Utf8Prefix(in.unit, kUnitChars, kUnitBytes - 2);
        const std::size_t chars = Utf8Length(unit);
        CopyText(ch.unit,
                 std::string(kUnitChars - std::min(chars, kUnitChars), ' ') + std::string(unit),
                 kUnitChars);
        ch.valueAt1V = in.calibration.valueAt1V;
        ch.valueAt0V = in.calibration.valueAt0V;
        ++setup.channelCount;
    }
    setup.freqIndex = c.freqIndex;
    setup.fileType = c.fileType;
    const bool toFile = c.save != SaveMode::ScreenOnly;
    setup.SetOutputFileName(toFile ? ApplyExtension(c.fileName, static_cast<int>(c.fileType))
                                   : std::string());
    setup.totalTime = c.duration.Seconds();
    setup.splitSeconds = ParseSplitEvery(c.splitEvery).value_or(0.0);
    setup.saveToFile = toFile ? SaveMode::ToFile : SaveMode::ScreenOnly;
}

std::optional<int> FileTypeNamed(std::string_view name) {
    const auto endsWith = [name](std::string_view ext) {
        if (name.size() <= ext.size()) return false;
        const std::string_view tail = name.substr(name.size() - ext.size());
        return std::equal(tail.begin(), tail.end(), ext.begin(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) == b;
        });
    };
    if (endsWith(".wdq")) return 0;
    if (endsWith(".dat")) return 1;
    return std::nullopt;
}

std::string ApplyExtension(std::string_view name, int fileType) {
    const std::string_view ext = fileType == 1 ? ".dat" : ".wdq";
    std::string result(name);
    if (result.find(ext) == std::string::npos) result += ext;
    return result;
}

}  // namespace tamix
