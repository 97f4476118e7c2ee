// The system's own message texts, shared by the desktop program and the
// command-line tools.
#pragma once

#include <string>
#include <string_view>

namespace tamix {

namespace text {
inline constexpr const char* kAppTitle = "Tamix Windows Application";
inline constexpr const char* kNoChannel = "No channel selected for acquisition";
inline constexpr const char* kFileExists = "File exists. Overwrite?";
inline constexpr const char* kCantCreate = "Can't create output file.";
inline constexpr const char* kNotSaving = "WARNING: You've selected not to save data.";
inline constexpr const char* kNoUnit =
    "Can't find proper data acquisition system.\n\nCheck power, cable and communication port "
    "settings.\n\nUSB devices may need to be reconnected.";
inline constexpr const char* kAbortQuestion =
    "Measurement will be aborted.\nWould you like to continue?";
inline constexpr const char* kPaused = "Data recording paused.\nPress OK to resume.";
inline constexpr const char* kNotImplemented = "This function is not implemented in this version.";
inline constexpr const char* kNoTimers = "Not enough timers available for this window.";
inline constexpr const char* kWdqFull =
    "The WinDaq file is full: the recording stopped before the time asked for.";
inline constexpr const char* kStoppedBeforeRecording =
    "The run was stopped before its first second was on disk, so nothing was recorded: ";
inline constexpr const char* kConnectionLost =
    "Connection to the data acquisition system was lost.";
}  // namespace text

// "Can't save settings to PATH: REASON."
inline std::string ProfileSaveFailure(std::string_view path, std::string_view reason) {
    return "Can't save settings to " + std::string(path) + ": " + std::string(reason) + ".";
}

}  // namespace tamix
