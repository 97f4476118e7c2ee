// The handshake word between the user interface and the acquisition worker.
#pragma once

namespace tamix {

// The integer values are fixed: they are what the word holds while a run goes on.
enum class RunStatus : int {
    Idle = 0,
    Starting = -1,
    Running = 1,
    Paused = 3,
    StopRequested = 4,
};

// How the last run ended; read by the user interface once the worker has finished.
enum class RunEnd : int {
    None = 0,            // no run yet, or set-up failed
    Completed = 1,       // stopped by the operator or by the time limit
    ConnectionLost = 2,  // the unit stopped delivering scans
    WriteFailed = 3,     // the output file could not be written
    CreateFailed = 4,    // the output file could not be created: no run
    InfoFailed = 5,      // the data file is complete, its info file could not be written
    FileFull = 6,        // a WinDaq file reached its format's limit before the time was up
    Discarded = 7,  // stopped before the first checkpoint: nothing recorded, the disk as it was
};

// What Start learns from the worker once it has left Starting.
enum class StartResult : int {
    Running = 0,
    NoUnit = 1,        // no usable unit (or no channel)
    CreateFailed = 2,  // the unit answered, but the output file could not be created
    NoThread = 3,      // the worker thread could not be created
};

}  // namespace tamix
