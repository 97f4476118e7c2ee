// The measurement commands' rules that need no window: which menu entries are
// enabled or checked in each run state, and the texts the commands show.
#pragma once

#include <cstdint>
#include <string>

#include "acquisition/MeasurementSetup.h"
#include "base/Messages.h"

namespace tamix {

// Command identifiers of the menus and accelerators. The toolkit takes menu
// identifiers below 0x7FFF only, so the program's commands are their classic
// numbers less 20000, and the framework's own commands sit just below them.
namespace cmd {
inline constexpr int ID_MEASUREMENT_START = 12771;
inline constexpr int ID_MEASUREMENT_STOP = 12772;
inline constexpr int ID_MEASUREMENT_COMMPORT = 12773;
inline constexpr int ID_MEASUREMENT_CALIBRATE = 12777;
inline constexpr int ID_TOOLS_ADDMARKER = 12779;
inline constexpr int ID_MEASUREMENT_EIGHTCHANNELS = 12780;
inline constexpr int ID_TOOLS_RESETALLSCALING = 12781;
inline constexpr int ID_MEASUREMENT_PAUSE = 12782;
inline constexpr int ID_TOOLS_AUTOSCALEALL = 12783;
inline constexpr int ID_HELP_SIMPLEHELP = 12784;
inline constexpr int ID_TOOLS_LIVENUMBERS = 12785;
inline constexpr int ID_FILE_REVIEWRECORDING = 12786;
inline constexpr int ID_APP_ABOUT = 12760;
inline constexpr int ID_APP_EXIT = 12761;
inline constexpr int ID_NEXT_PANE = 12762;
inline constexpr int ID_PREV_PANE = 12763;
}  // namespace cmd

struct CommandState {
    bool enabled = false;
    bool checked = false;
};

// The update rule of a command in the current state; nullopt-like default
// (enabled, unchecked) for commands without a rule.
CommandState CommandStateFor(int id, const MeasurementSetup& setup);

// "Recording will be stopped automatically after %.0lf minutes" for whole
// minutes above one; "1 minute", seconds, or minutes and seconds otherwise.
std::string AutoStopNotice(double totalTimeSeconds);
// "Pause time:hh:mm:ss" of the time paused so far.
std::string PauseMarkerText(int64_t scanLoops, int64_t scanCount, double samplePeriod);

}  // namespace tamix
