#include <string>

#include "acquisition/AcquisitionWorker.h"
#include "acquisition/WorkerRun.h"
#include "base/Messages.h"
#include "device/InstrumentProtocol.h"

namespace tamix {

void EndRun(MeasurementSetup& setup, WorkerRun& run, LoopEnd end) {
    StopStreaming(setup.link);
    setup.link.Close();
    setup.SetStatus(RunStatus::Idle);

    // Stopped, or unable to write, before the recording took the target's
    // place: nothing worth an earlier file was recorded, so the disk stays as
    // it was. A run that ended by its time or by losing the unit keeps what
    // it has, however short.
    if (run.sink && !run.sink->Placed() &&
        (end == LoopEnd::Stopped || end == LoopEnd::WriteFailed)) {
        run.sink->Discard();
        const std::string kept =
            std::string(setup.OutputFileName()) + " is as it was before the start.";
        if (end == LoopEnd::WriteFailed) {
            SetRunEnd(setup, RunEnd::WriteFailed,
                      run.sink->Error() + "\n\nNothing was recorded: " + kept);
            setup.runEndScans = 0;
        } else {
            SetRunEnd(setup, RunEnd::Discarded, std::string(text::kStoppedBeforeRecording) + kept);
        }
        run.sink.reset();
        setup.bytesWritten = 0;
        setup.ClearOutputFileName();
        setup.SetStatus(RunStatus::Idle);
        return;
    }
    SinkEnd sinkEnd = SinkEnd::Ok;
    if (run.sink) {
        const int markerCount = setup.markers.markerCount.load(std::memory_order_acquire);
        sinkEnd = run.sink->Finish(setup.markers, markerCount);
        setup.chainFiles = run.sink->Files();
    }
    if (sinkEnd == SinkEnd::WriteFailed || end == LoopEnd::WriteFailed) {
        SetRunEnd(setup, RunEnd::WriteFailed, run.sink ? run.sink->Error() : std::string());
        // The time reported is what the disk holds, not what was handed to it.
        if (run.sink) setup.runEndScans = run.sink->ScansKept();
    } else if (end == LoopEnd::UnitLost) {
        SetRunEnd(setup, RunEnd::ConnectionLost, text::kConnectionLost);
    } else if (sinkEnd == SinkEnd::InfoFailed) {
        SetRunEnd(setup, RunEnd::InfoFailed, run.sink->Error());
    } else {
        SetRunEnd(setup, RunEnd::Completed, {});
    }
    run.sink.reset();
    setup.bytesWritten = 0;
    setup.ClearOutputFileName();
    setup.SetStatus(RunStatus::Idle);
}

}  // namespace tamix
