// The three steps of one measurement on the worker thread (start-up, sample
// loop, end of run) and what they share for the length of the run.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "acquisition/MeasurementSetup.h"
#include "device/InstrumentProtocol.h"
#include "recording/ChainSink.h"
#include "recording/OutputFile.h"

namespace tamix {

struct WorkerRun {
    std::span<const ChannelInfo> channels;
    std::array<int, kMaxChannels> inputs{};
    int channelCount = 0;
    double period = 0.0;
    int modelClass = 0;
    int64_t limit = 0;                // recorded scans after which the run ends
    std::unique_ptr<ChainSink> sink;  // none for a screen-only run
    bool writeFailed = false;
    std::array<uint8_t, kBlockBytes * kMaxChannels> batch{};
    // The batch the start-up read: it proved the unit, and holds the
    // recording's first scans, which the sample loop takes before reading more.
    std::optional<BatchResult> firstBatch;
};

// How the sample loop ended.
enum class LoopEnd { Stopped, TimeLimit, UnitLost, WriteFailed };

// Start-up: counters, the unit's set-up, the start command, the unit's first
// batch, and only then the output file and its header. False when there is no
// run (no unit, no channel, no file): the worker has then reported it and
// returned to Idle, and nothing was created.
bool BeginRun(MeasurementSetup& setup, FileOpener& opener, WorkerRun& run);

// The next batch into run.batch: the start-up's first, then the unit's.
BatchResult NextBatch(CUsbLink& link, WorkerRun& run, const ReadPatience& patience);

// Cycles of eight scans until a stop, the time limit, the loss of the unit or
// a failed write. Allocates nothing.
LoopEnd SampleLoop(MeasurementSetup& setup, WorkerRun& run);

// The stop byte, the link closed, the file completed, the outcome recorded.
void EndRun(MeasurementSetup& setup, WorkerRun& run, LoopEnd end);

}  // namespace tamix
