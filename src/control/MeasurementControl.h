// Start, Stop, Pause and Add Marker as both programs run them: the decisions,
// the file checks and the notices, with the operator reached through
// UserInterface. User interface thread only.
#pragma once

#include <cstdint>
#include <optional>

#include "acquisition/MeasurementSetup.h"
#include "acquisition/WorkerThread.h"
#include "control/UserInterface.h"
#include "recording/OutputFile.h"

namespace tamix {

enum class StartOutcome {
    Started,
    NoChannel,     // told; the options should be chosen again
    Declined,      // the operator kept the existing file, or the program is ending
    CantCreate,    // told, with the file and the reason
    NoUnit,        // told
    CreateFailed,  // the unit answered but the file could not be created; told
};

// Starts a run with the choices already in `setup`: resets the markers and the
// sweep, checks the output file with the operator without changing it, shows
// the notices, starts the worker and reports a start that failed.
StartOutcome StartMeasurement(MeasurementSetup& setup, WorkerThread& worker, FileOpener& opener,
                              UserInterface& ui);

// Stop: asks first when a file is being recorded. True when a stop was requested.
bool StopMeasurement(MeasurementSetup& setup, UserInterface& ui);

// Pause: a second Pause resumes; otherwise the pause box, then a pause marker
// and the previous state again.
void PauseMeasurement(MeasurementSetup& setup, UserInterface& ui);

// A marker taken at the moment of the command, before its comment is asked for.
struct PendingMarker {
    int number = 0;
    int64_t scan = 0;
    int64_t wallTime = 0;
};
// The marker Add Marker would add now, or nothing when none may be added.
std::optional<PendingMarker> PrepareMarker(const MeasurementSetup& setup);

// The notice shown before a recording starts.
std::string StartNotice(const MeasurementSetup& setup);

}  // namespace tamix
