// The texts of the main window's status bar: the run state, the recorded
// time, the file size, the scans lost, the unit, and how the last run ended.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "acquisition/MeasurementSetup.h"

namespace tamix {

struct StatusFields {
    std::string state;  // "Idle", "Recording to FILE", "Screen only", "Paused", ...
    std::string time;   // recorded time hh:mm:ss
    std::string size;   // bytes written so far
    std::string lost;   // scans the unit dropped
    std::string model;  // the unit's model name
};

// "12.4 MB", "512 KB", "100 bytes".
std::string SizeText(int64_t bytes);

// The fields during a run recording to `runFile` (empty: screen only).
StatusFields RunStatusFields(const MeasurementSetup& setup, std::string_view runFile);

// After the run: "Saved FILE (hh:mm:ss)", "Screen-only run ended (hh:mm:ss)",
// or the failure as the worker reported it, on one line.
std::string RunEndStatus(const MeasurementSetup& setup, std::string_view runFile,
                         std::string_view failure);

}  // namespace tamix
