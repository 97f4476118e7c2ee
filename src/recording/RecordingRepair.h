// Makes a recording that a crash cut short whole again: a WinDaq file gets its
// data size from the whole scans on disk and a start-marker trailer; a text file
// loses its partial last line and gets an info file when it has none. The
// original is kept as FILE.bak.
#pragma once

#include <string>
#include <vector>

namespace tamix {

enum class RepairOutcome { NothingToRepair, Repaired, Failed };

struct RepairReport {
    RepairOutcome outcome = RepairOutcome::Failed;
    std::vector<std::string> actions;  // what was done, one sentence each
    std::string error;                 // "FILE: reason" when Failed
};

RepairReport RepairRecording(const std::string& path);

}  // namespace tamix
