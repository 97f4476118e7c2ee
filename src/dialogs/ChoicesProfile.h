// The measurement choices in the profile: read with the repairs the dialog
// makes to values it would not accept, and written back key by key.
#pragma once

#include <string>
#include <vector>

#include "base/IniFile.h"
#include "dialogs/MeasurementChoices.h"

namespace tamix {

// A profile value that LoadChoices could not use as found and replaced by its
// default, so that a caller that must not guess (the recorder) can refuse it.
struct SettingRepair {
    enum class Field { ChannelTicked, FreqIndex, FileType, TotalTime, TimeUnit, Calibration };
    Field field;
    int input = -1;      // ChannelTicked and Calibration
    std::string found;   // as in the file, e.g. "[Options] time=abc"
    std::string reason;  // e.g. "not a number from 0.01 to 6000"
};

// The profile's choices over the defaults. A value the dialog would not accept
// (a time out of its range or not a number, an index out of its list, a
// calibration that is not finite or reads 1 V as 0 V) becomes its default and
// is listed in `repairs`; names and units are taken as found. The file name and
// the save mode are never in the profile: they stay as `choices` had them.
void LoadChoices(const IniFile& profile, MeasurementChoices& choices,
                 std::vector<SettingRepair>& repairs);

// Every key of the choices, whether or not it changed. A duration in seconds is
// written in minutes, the profile's smaller unit.
void SaveChoices(const MeasurementChoices& choices, IniFile& profile);

}  // namespace tamix
