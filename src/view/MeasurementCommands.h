// The measurement commands' rules that need no window: which menu entries are
// enabled or checked in each run state, and the texts the commands show.
#pragma once

#include <cstdint>
#include <string>

#include "acquisition/MeasurementSetup.h"

namespace tamix {

// Command identifiers of the menus and accelerators.
namespace cmd {
inline constexpr int ID_MEASUREMENT_START = 32771;
inline constexpr int ID_MEASUREMENT_STOP = 32772;
inline constexpr int ID_MEASUREMENT_COMMPORT = 32773;
inline constexpr int ID_MEASUREMENT_CALIBRATE = 32777;
inline constexpr int ID_TOOLS_ADDMARKER = 32779;
inline constexpr int ID_MEASUREMENT_EIGHTCHANNELS = 32780;
inline constexpr int ID_TOOLS_RESETALLSCALING = 32781;
inline constexpr int ID_MEASUREMENT_PAUSE = 32782;
inline constexpr int ID_TOOLS_AUTOSCALEALL = 32783;
inline constexpr int ID_HELP_SIMPLEHELP = 32784;
inline constexpr int ID_APP_ABOUT = 57664;
inline constexpr int ID_APP_EXIT = 57665;
inline constexpr int ID_NEXT_PANE = 57680;
inline constexpr int ID_PREV_PANE = 57681;
}  // namespace cmd

struct CommandState {
    bool enabled = false;
    bool checked = false;
};

// The update rule of a command in the current state; nullopt-like default
// (enabled, unchecked) for commands without a rule.
CommandState CommandStateFor(int id, const MeasurementSetup& setup);

namespace text {
inline constexpr const char* kAppTitle = "Tamix Windows Application";
inline constexpr const char* kNoChannel = "No channel selected for acquisition";
inline constexpr const char* kFileExists = "File exists. Overwrite?";
inline constexpr const char* kCantCreate = "Can't create output file.";
inline constexpr const char* kNotSaving = "WARNING: You've selected not to save data.";
inline constexpr const char* kNoUnit =
    "Can't find proper data acquisition system.\n\nCheck power, cable and communication port "
    "settings.\n\nUSB devices may need to be reconnected.";
inline constexpr const char* kAbortQuestion = "Measurement will be aborted.\nWould you like to continue?";
inline constexpr const char* kPaused = "Data recording paused.\nPress OK to resume.";
inline constexpr const char* kNotImplemented = "This function is not implemented in this version.";
inline constexpr const char* kNoTimers = "Not enough timers available for this window.";
}  // namespace text

// "Recording will be stopped automatically after %.0lf minutes".
std::string AutoStopNotice(double totalTimeSeconds);
// "Pause time:hh:mm:ss" of the time paused so far.
std::string PauseMarkerText(int64_t scanLoops, int64_t scanCount, double samplePeriod);

}  // namespace tamix
