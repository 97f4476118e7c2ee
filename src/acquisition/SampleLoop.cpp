#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "acquisition/GapDetector.h"
#include "acquisition/WorkerRun.h"
#include "device/InstrumentProtocol.h"

namespace tamix {

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// A unit that stays silent this long is taken as lost; a shorter silence (a
// busy USB hub, a bridge that stalls, a machine that was suspended briefly)
// is waited out, and what it cost is marked as a gap.
constexpr double kSilenceLimit = 10.0;

bool StopAsked(const MeasurementSetup& setup) {
    const RunStatus status = setup.Status();
    return status == RunStatus::Idle || status == RunStatus::StopRequested;
}

bool KeepWaiting(void* context, double silentSeconds) {
    return silentSeconds < kSilenceLimit && !StopAsked(*static_cast<MeasurementSetup*>(context));
}

void MarkGap(MeasurementSetup& setup, const GapDetector::Gap& gap, int64_t lostSoFar) {
    setup.lostScans.store(lostSoFar, std::memory_order_relaxed);
    char comment[64];
    std::snprintf(comment, sizeof comment, "Gap: about %lld scans lost",
                  static_cast<long long>(gap.scans));
    setup.AddMarker(gap.at, comment, static_cast<int64_t>(std::time(nullptr)));
}

}  // namespace

LoopEnd SampleLoop(MeasurementSetup& setup, WorkerRun& run) {
    if (run.writeFailed) return LoopEnd::WriteFailed;
    CUsbLink& link = setup.link;
    const int n = run.channelCount;
    const double period = run.period;
    ChainSink* const sink = run.sink.get();
    // Filled by NextBatch, the first time with the batch the start-up read.
    const auto& batch = run.batch;
    std::array<int16_t, kMaxChannels> scan{};
    const std::span<const int16_t> samples(scan.data(), static_cast<std::size_t>(n));
    bool limitReached = false;
    int64_t scanCount = 0;
    int64_t scanLoops = 0;
    int ringIndex = setup.ringIndex;
    int displayColumn = setup.displayColumn;
    // Once a second the file is brought up to date on disk, so that a crash
    // costs at most the last second.
    const int64_t checkpointEvery = std::max<int64_t>(kScansPerBatch, std::llround(1.0 / period));
    int64_t nextCheckpoint = checkpointEvery;
    GapDetector gaps(period, kScansPerBatch);
    const ReadPatience patience{KeepWaiting, &setup};
    const double scanBytes = kSampleWordBytes * n;
    const Clock::time_point start = Clock::now();

    for (;;) {
        const Clock::time_point before = Clock::now();
        const BatchResult got = NextBatch(link, run, patience);
        // Stale bytes are not samples: an incomplete batch is dropped whole.
        if (!got.Complete(n)) {
            return got.status == FT_OK && StopAsked(setup) ? LoopEnd::Stopped : LoopEnd::UnitLost;
        }
        const Clock::time_point after = Clock::now();
        // The stream is judged at the moment its queue was counted.
        const bool counted = got.queuedBefore >= 0;
        const double queued = counted ? static_cast<double>(got.queuedBefore) / scanBytes : -1.0;
        const Clock::time_point judged = counted ? got.queuedAt : before;
        const GapDetector::Gap gap = gaps.AfterCycle(
            {Seconds(judged - start), Seconds(after - start), scanLoops, queued, scanCount});
        if (gap.scans > 0) MarkGap(setup, gap, gaps.lost());
        for (int j = 0; j < kScansPerBatch; ++j) {
            for (int k = 0; k < n; ++k) {
                const int w = j * n + k;
                const int16_t s =
                    ConvertSample(batch[2 * w], batch[2 * w + 1], run.modelClass, run.inputs[k]);
                scan[k] = s;
                setup.displayColumns[displayColumn][k].store(s, std::memory_order_relaxed);
                setup.historyRing[ringIndex][k].store(s, std::memory_order_relaxed);
            }
            AddScanToColumn(setup.columnExtremes, displayColumn, ringIndex % 4 == 0, samples,
                            scanCount);
            const bool recording = setup.Status() != RunStatus::Paused;
            if (sink != nullptr && recording) {
                if (!sink->WriteScan(scanCount, samples)) return LoopEnd::WriteFailed;
                setup.bytesWritten.store(static_cast<int64_t>(sink->BytesWritten()),
                                         std::memory_order_relaxed);
                if (scanCount >= run.limit && !limitReached) {
                    limitReached = true;
                    setup.ChangeStatus(RunStatus::Running, RunStatus::Idle);
                    setup.redrawRequest = 1;
                }
            }
            if (recording) setup.scanCount.store(++scanCount, std::memory_order_relaxed);
            // Release: a reader that sees the count sees this scan's row of
            // historyRing (scan s lies in row s % kBufferRows), as the live
            // numbers read it. A plain store on x86, as relaxed is.
            setup.scanLoops.store(++scanLoops, std::memory_order_release);
            const double t = static_cast<double>(scanCount) * period;
            if (std::floor(t - period) < std::floor(t)) setup.secondTick = 1;
            ringIndex = (ringIndex + 1) % kBufferRows;
            setup.ringIndex.store(ringIndex, std::memory_order_relaxed);
            if (ringIndex % 4 == 0) {
                ++displayColumn;
                if (displayColumn >= setup.displayWidth.load(std::memory_order_relaxed)) {
                    displayColumn = 0;
                    setup.redrawRequest = 1;
                }
                setup.displayColumn.store(displayColumn, std::memory_order_relaxed);
            }
        }
        if (sink != nullptr && scanLoops >= nextCheckpoint) {
            // The first one puts the new recording in the target's place.
            if (!sink->Checkpoint() || !sink->TakePlace()) return LoopEnd::WriteFailed;
            setup.chainFiles.store(sink->Files(), std::memory_order_relaxed);
            nextCheckpoint = scanLoops + checkpointEvery;
        }
        if (limitReached) return LoopEnd::TimeLimit;
        if (StopAsked(setup)) return LoopEnd::Stopped;
    }
}

}  // namespace tamix
