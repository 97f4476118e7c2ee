// One measurement from start to end, on the worker thread: set-up, streaming in
// cycles of eight scans, display hand-off, recording, and the end of run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "acquisition/MeasurementSetup.h"
#include "base/OutputKinds.h"
#include "recording/OutputFile.h"

namespace tamix {

// Clamps freqIndex; zeroes displayColumn and the counters; sets sampleLimit.
void ResetRunState(MeasurementSetup& setup);

// The scan limit of a recording: totalTime / period, truncated, and for a WinDaq
// file no more than the file can hold (see MaxWdqScans).
int64_t EffectiveScanLimit(double totalTime, double period, FileType type, int channelCount);

// Records how the run ended, for RunEndReport.
void SetRunEnd(MeasurementSetup& setup, RunEnd end, std::string_view message);

// Runs one measurement; 1 when the set-up failed, 0 after a run. Worker thread only.
int AcquisitionWorker(MeasurementSetup& setup, FileOpener& opener);

// What the operator should be told about the last run, or empty when it ended
// normally: the loss of the unit, a failed write or a full WinDaq file with
// the recorded time, a file that could not be created, an info file that
// could not be written, and scans lost on the way.
std::string RunEndReport(const MeasurementSetup& setup);

}  // namespace tamix
