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

// The scan limit of a recording: totalTime / period, truncated, whatever the
// type (a WinDaq run that fills a file goes on in the next one).
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

// The sentence for a run that went on in a next file because a WinDaq file
// was full ("run.wdq is full: the recording goes on in run-0002.wdq."), for
// the latest such switch of the run's chain of `files` files; empty otherwise.
std::string ChainFullNote(const MeasurementSetup& setup, int64_t files);

// One line per file of the last run's chain, with its scans, when it has more
// than one: "run.wdq: 1000 scans".
std::string ChainFilesReport(const MeasurementSetup& setup);

}  // namespace tamix
