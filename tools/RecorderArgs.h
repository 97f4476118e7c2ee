// Command-line arguments of the headless recorder, applied on top of the
// measurement choices taken from the profile.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "device/LinuxSerialDriver.h"
#include "dialogs/MeasurementOptions.h"

namespace tamix {

struct RecorderArgs {
    bool help = false;
    std::optional<std::string> simulate;  // serial or model name
    bool unpaced = false;
    std::vector<SerialPortInfo> ports;  // explicit ports, listed first
    std::string profilePath;
    std::string outputFile;
    bool quiet = false;
    std::optional<std::vector<int>> inputs;
    std::vector<std::pair<int, std::string>> names, units;
    std::vector<std::pair<int, std::pair<double, double>>> calibrations;
    std::optional<double> seconds;
    std::optional<int> fileType;
};

// Parses argv; false with `error` set for bad arguments. Every value is taken
// whole (no trailing characters) and checked as the desktop dialog checks it.
bool ParseRecorderArgs(const std::vector<std::string>& args, RecorderArgs& out, std::string& error);

// Applies the arguments to the options read from the profile.
void ApplyRecorderArgs(const RecorderArgs& args, MeasurementOptions& options);

// Why the run must not start, or empty: a profile that could not be read, or a
// profile value this run would use that the desktop program would have to
// repair (the recorder never guesses), an over-long name or unit, the checks on OK.
std::string CheckRecorderChoices(const RecorderArgs& args, const IniFile& profile,
                                 const MeasurementOptions& options);

extern const char* const kRecorderHelp;

}  // namespace tamix
