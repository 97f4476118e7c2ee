#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include "acquisition/AcquisitionWorker.h"
#include "acquisition/WorkerRun.h"
#include "base/Utf8Text.h"
#include "device/InstrumentProtocol.h"
#include "recording/WdqWriter.h"

namespace tamix {
namespace {

// Ends a start-up that found no usable unit, or could not make the file:
// nothing was created, and an existing file keeps every byte.
bool RefuseStart(MeasurementSetup& setup, WorkerRun& run, StartResult result) {
    if (setup.link.IsOpen()) StopStreaming(setup.link);
    setup.link.Close();
    if (result == StartResult::CreateFailed)
        SetRunEnd(setup, RunEnd::CreateFailed, run.sink->Error());
    if (run.sink) run.sink->Discard();
    run.sink.reset();
    setup.SetStatus(RunStatus::Idle);
    setup.ReportStart(result);
    return false;
}

// A test hook: TAMIX_WDQ_LIMIT_BYTES lowers the sample bytes a WinDaq file
// holds, so that tests reach the limit in seconds rather than in days.
uint64_t WdqLimitBytes() {
    constexpr uint64_t kFormatLimit = 0xFFFFFFFFu;
    const char* text = std::getenv("TAMIX_WDQ_LIMIT_BYTES");
    if (text == nullptr || *text == '\0') return kFormatLimit;
    uint64_t bytes = 0;
    const char* end = text + std::strlen(text);
    const auto r = std::from_chars(text, end, bytes);
    return r.ec == std::errc() && r.ptr == end ? std::min(bytes, kFormatLimit) : kFormatLimit;
}

// Scans per file: the split's, and fewer where a WinDaq file would be full.
void ShareOfEachFile(double splitSeconds, FileType type, const WorkerRun& run,
                     ChainSettings& chain) {
    if (splitSeconds > 0 && run.period > 0) {
        chain.fileScans = std::max<int64_t>(1, std::llround(splitSeconds / run.period));
    }
    if (type != FileType::WinDaq) return;
    const int64_t full = std::max<int64_t>(1, WdqFileScans(run.channelCount, WdqLimitBytes()));
    if (chain.fileScans == 0 || full < chain.fileScans) {
        chain.fileScans = full;
        chain.fileScansAreFull = true;
    }
}

}  // namespace

bool BeginRun(MeasurementSetup& setup, FileOpener& opener, WorkerRun& run) {
    setup.redrawRequest = 0;
    ResetRunState(setup);
    setup.chainFiles = 1;
    setup.chainFileScans = 0;
    setup.chainFillsFiles = false;
    setup.chainTarget[0] = '\0';
    setup.runEnd = static_cast<int>(RunEnd::None);
    // A new sweep starts with the run, whether or not a unit answers.
    setup.displayColumn = 0;
    setup.ringIndex = 0;
    // Without a channel there is nothing to request, and the loop would never block.
    if (setup.channelCount < 1 ||
        SetupDevice(setup.link, setup.profile, setup.SelectedChannels()) != SetupResult::Ok) {
        return RefuseStart(setup, run, StartResult::NoUnit);
    }
    run.channels = setup.SelectedChannels();
    run.channelCount = static_cast<int>(run.channels.size());
    for (int k = 0; k < run.channelCount; ++k) run.inputs[k] = run.channels[k].inputNumber;
    run.period = setup.profile.samplePeriod;
    run.modelClass = setup.profile.modelClass;
    const FileType type = setup.fileType;
    run.limit = EffectiveScanLimit(setup.totalTime, run.period, type, run.channelCount);

    const std::string name(setup.OutputFileName());
    if (!name.empty()) {
        SinkSettings settings;
        settings.type = type;
        settings.fileName = name;
        settings.channels = run.channels;
        settings.period = run.period;
        settings.headerScans = run.limit + 8;
        settings.creationTime = static_cast<int64_t>(std::time(nullptr));
        ChainSettings chain;
        chain.first = settings;
        chain.runScans = run.limit;
        ShareOfEachFile(setup.splitSeconds, type, run, chain);
        setup.chainFileScans = chain.fileScans;
        setup.chainFillsFiles = chain.fileScansAreFull;
        CopyText(setup.chainTarget, name, setup.chainTarget.size());
        run.sink = std::make_unique<ChainSink>(chain, opener, setup.wdqHeader);
        // Never a screen-only run in place of the recording that was asked for.
        if (!run.sink->Prepare(setup.markers))
            return RefuseStart(setup, run, StartResult::CreateFailed);
    }
    setup.sampleLimit = run.limit;

    // The unit has answered once it has echoed its commands and its first
    // batch of scans is here; until then no file is created or truncated.
    const int n = run.channelCount;
    if (!StartStreaming(setup.link)) return RefuseStart(setup, run, StartResult::NoUnit);
    run.firstBatch = ReadBatch(setup.link, n, std::span(run.batch).first(kBlockBytes * n));
    if (!run.firstBatch->Complete(n)) return RefuseStart(setup, run, StartResult::NoUnit);
    if (run.sink) {
        if (!run.sink->Open()) return RefuseStart(setup, run, StartResult::CreateFailed);
        run.writeFailed = !run.sink->Begin(setup.markers);
    }
    // A stop that arrived while the unit was being set up is kept.
    setup.ChangeStatus(RunStatus::Starting, RunStatus::Running);
    setup.bytesWritten = 0;
    setup.scanCount = 0;
    setup.ReportStart(StartResult::Running);
    return true;
}

BatchResult NextBatch(CUsbLink& link, WorkerRun& run, const ReadPatience& patience) {
    if (run.firstBatch) {
        BatchResult first = *std::exchange(run.firstBatch, std::nullopt);
        // Counted before the loop's clock began: no moment for the gap detector.
        first.queuedBefore = -1;
        return first;
    }
    const int n = run.channelCount;
    return ReadBatch(link, n, std::span(run.batch).first(kBlockBytes * n), patience);
}

}  // namespace tamix
