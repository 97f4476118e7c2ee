// Command-line arguments of the headless recorder, applied on top of the
// measurement choices taken from the profile.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "base/IniFile.h"
#include "device/LinuxSerialDriver.h"
#include "dialogs/ChoicesProfile.h"
#include "dialogs/MeasurementChoices.h"

namespace tamix {

// What the options say of one input; nothing given leaves the profile's choice.
struct InputOptions {
    std::optional<std::string> name;
    std::optional<std::string> unit;
    std::optional<Calibration> calibration;
};

struct RecorderArgs {
    bool help = false;
    bool version = false;
    std::optional<std::string> simulate;  // serial or model name
    bool unpaced = false;
    std::vector<SerialPortInfo> ports;  // explicit ports, listed first
    std::string profilePath;
    std::string outputFile;
    bool quiet = false;
    std::optional<std::vector<int>> inputs;
    std::array<InputOptions, kMaxChannels> perInput;
    std::optional<double> seconds;
    std::optional<FileType> fileType;
    std::optional<std::string> splitEvery;  // as typed, checked
};

// Parses argv; false with `error` set for bad arguments. Every value is taken
// whole (no trailing characters) and checked as the desktop dialog checks it.
bool ParseRecorderArgs(const std::vector<std::string>& args, RecorderArgs& out, std::string& error);

// The options over the choices read from the profile: this run's choices.
void ApplyRecorderArgs(const RecorderArgs& args, MeasurementChoices& choices);

// Why the run must not start, or empty: a profile that could not be read, or a
// profile value this run would use that the desktop program would have to
// repair or shorten (the recorder never guesses), then the checks the dialog
// makes on OK.
std::string CheckRecorderChoices(const RecorderArgs& args, const IniFile& profile,
                                 const std::vector<SettingRepair>& repairs,
                                 const MeasurementChoices& choices);

extern const char* const kRecorderHelp;

}  // namespace tamix
