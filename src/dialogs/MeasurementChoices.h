// The measurement choices of one run, shared by the Measurement Options dialog
// and the command-line recorder: inputs with their names, units and
// calibrations, the duration, the sampling frequency, the output type and file.
// A plain value: whoever builds a run owns one (the dialog its members, the
// recorder a local); the profile, the checks and the shared record take it whole.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "base/OutputKinds.h"
#include "base/TextLimits.h"

namespace tamix {

struct MeasurementSetup;

// Engineering values an input reads at 1 V and at 0 V.
struct Calibration {
    double valueAt1V = 1.0;
    double valueAt0V = 0.0;
};

struct InputChoice {
    bool recorded = false;
    std::string name = "chn";
    std::string unit = "Volt";
    Calibration calibration;
};

// The unit a duration was given in. The profile and the dialog know minutes
// (0) and hours (1); the recorder's options give seconds.
enum class TimeUnit { Minutes = 0, Hours = 1, Seconds = 2 };

// A duration as it was given, so that the profile writes back the very number
// it read (a number turned into seconds and back can change its last digit).
struct Duration {
    double amount = 30.0;
    TimeUnit unit = TimeUnit::Minutes;

    static Duration InSeconds(double seconds) { return {seconds, TimeUnit::Seconds}; }
    double Seconds() const;
};

struct MeasurementChoices {
    MeasurementChoices();

    std::array<InputChoice, kMaxChannels> inputs;  // in the order 1, 2, 3, 4, A, B, C, D
    int freqIndex = 2;  // 2000 / 2^index Hz; feeds only the size estimate
    FileType fileType = FileType::WinDaq;
    Duration duration;
    SaveMode save = SaveMode::ScreenOnly;
    std::string fileName;  // as typed; the type's extension is added on the way to the run
    // How often the recording begins its next file, as typed ("1h"); empty: never.
    std::string splitEvery;
};

// Puts the choices into the shared record: the recorded inputs packed in input
// order, the duration in seconds, the output file with its extension.
void FillSetup(const MeasurementChoices& choices, MeasurementSetup& setup);

// The file type a name's own extension names: ".wdq" 0, ".dat" 1, in any case.
std::optional<int> FileTypeNamed(std::string_view name);

// ".wdq" (binary) or ".dat" (text) appended when the name does not contain it
// anywhere (case-sensitive).
std::string ApplyExtension(std::string_view name, int fileType);

}  // namespace tamix
