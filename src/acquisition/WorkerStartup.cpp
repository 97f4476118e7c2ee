#include <algorithm>
#include <ctime>

#include "acquisition/AcquisitionWorker.h"
#include "acquisition/WorkerRun.h"
#include "device/InstrumentProtocol.h"
#include "recording/WdqWriter.h"

namespace tamix {

bool BeginRun(MeasurementSetup& setup, FileOpener& opener, WorkerRun& run) {
    setup.redrawRequest = 0;
    ResetRunState(setup);
    setup.runEnd = static_cast<int>(RunEnd::None);
    // A new sweep starts with the run, whether or not a unit answers.
    setup.displayColumn = 0;
    setup.ringIndex = 0;
    // Without a channel there is nothing to request, and the loop would never block.
    if (setup.channelCount < 1 ||
        SetupDevice(setup.link, setup.profile, setup.SelectedChannels()) != SetupResult::Ok) {
        setup.SetStatus(RunStatus::Idle);
        setup.ReportStart(StartResult::NoUnit);
        return false;
    }
    run.channels = setup.SelectedChannels();
    run.channelCount = static_cast<int>(run.channels.size());
    for (int k = 0; k < run.channelCount; ++k) run.inputs[k] = run.channels[k].inputNumber;
    run.period = setup.profile.samplePeriod;
    run.modelClass = setup.profile.modelClass;
    const FileType type = setup.fileType;
    run.limit = EffectiveScanLimit(setup.totalTime, run.period, type, run.channelCount);
    run.limitIsFileFull = run.limit < EffectiveScanLimit(setup.totalTime, run.period,
                                                         FileType::Text, run.channelCount);

    const std::string name(setup.OutputFileName());
    if (!name.empty()) {
        SinkSettings settings;
        settings.type = type;
        settings.fileName = name;
        settings.channels = run.channels;
        settings.period = run.period;
        settings.headerScans = run.limit + 8;
        settings.creationTime = static_cast<int64_t>(std::time(nullptr));
        std::string error;
        run.sink = CreateSink(settings, opener, setup.wdqHeader, error);
        if (!run.sink) {
            // Never a screen-only run in place of the recording that was asked for.
            setup.link.Close();
            SetRunEnd(setup, RunEnd::CreateFailed, error);
            setup.SetStatus(RunStatus::Idle);
            setup.ReportStart(StartResult::CreateFailed);
            return false;
        }
        run.writeFailed = !run.sink->Begin(setup.markers);
    }
    setup.sampleLimit = run.limit;

    StartStreaming(setup.link);
    // A stop that arrived while the unit was being set up is kept.
    setup.ChangeStatus(RunStatus::Starting, RunStatus::Running);
    setup.bytesWritten = 0;
    setup.scanCount = 0;
    setup.ReportStart(StartResult::Running);
    return true;
}

}  // namespace tamix
