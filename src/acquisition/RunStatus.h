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
};

}  // namespace tamix
