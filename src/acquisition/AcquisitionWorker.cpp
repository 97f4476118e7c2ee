#include "acquisition/AcquisitionWorker.h"

#include <algorithm>
#include <cmath>

#include "acquisition/WorkerRun.h"
#include "base/Clock.h"
#include "base/Utf8Text.h"
#include "recording/ChainNames.h"
#include "recording/WdqWriter.h"

namespace tamix {
namespace {

int64_t ScanLimit(double totalTime, double period) {
    if (!(period > 0.0) || !(totalTime > 0.0)) return 0;
    const double limit = std::trunc(totalTime / period);
    return limit >= 9.0e18 ? int64_t{9'000'000'000'000'000'000} : static_cast<int64_t>(limit);
}

}  // namespace

void ResetRunState(MeasurementSetup& setup) {
    setup.freqIndex = std::clamp(setup.freqIndex, 0, 4);
    setup.displayColumn = 0;
    setup.scanCount = 0;
    setup.scanLoops = 0;
    setup.bytesWritten = 0;
    setup.lostScans = 0;
    setup.sampleLimit = ScanLimit(setup.totalTime, setup.profile.samplePeriod);
}

int64_t EffectiveScanLimit(double totalTime, double period, FileType type, int channelCount) {
    // A full WinDaq file no longer ends the run: the next file of its chain takes over.
    static_cast<void>(type);
    static_cast<void>(channelCount);
    return ScanLimit(totalTime, period);
}

void SetRunEnd(MeasurementSetup& setup, RunEnd end, std::string_view message) {
    CopyText(setup.runEndMessage, message, setup.runEndMessage.size());
    setup.runEndScans = setup.scanCount.load();
    setup.runEnd = static_cast<int>(end);
}

int AcquisitionWorker(MeasurementSetup& setup, FileOpener& opener) {
    WorkerRun run;
    if (!BeginRun(setup, opener, run)) return 1;
    const LoopEnd end = SampleLoop(setup, run);
    EndRun(setup, run, end);
    return 0;
}

std::string RunEndReport(const MeasurementSetup& setup) {
    const RunEnd end = setup.LastRunEnd();
    std::string report;
    if (end == RunEnd::InfoFailed || end == RunEnd::CreateFailed || end == RunEnd::Discarded) {
        report = std::string(FieldText(setup.runEndMessage));
    } else if (end == RunEnd::ConnectionLost || end == RunEnd::WriteFailed ||
               end == RunEnd::FileFull) {
        const auto seconds = static_cast<int64_t>(static_cast<double>(setup.runEndScans.load()) *
                                                  setup.profile.samplePeriod);
        report = std::string(FieldText(setup.runEndMessage)) +
                 "\n\nRecorded time: " + FormatClock(seconds);
    }
    const std::string full = ChainFullNote(setup, setup.chainFiles.load());
    if (!full.empty() && end != RunEnd::CreateFailed && end != RunEnd::Discarded) {
        if (!report.empty()) report += "\n\n";
        report += full;
    }
    const int64_t lost = setup.lostScans.load();
    if (lost > 0 && end != RunEnd::CreateFailed && end != RunEnd::Discarded) {
        if (!report.empty()) report += "\n\n";
        report += "About " + std::to_string(lost) +
                  " scans were lost before they reached the computer; markers show where.";
    }
    return report;
}

std::string ChainFullNote(const MeasurementSetup& setup, int64_t files) {
    if (!setup.chainFillsFiles.load() || files < 2) return {};
    const std::string_view target = FieldText(setup.chainTarget);
    const FileType type = setup.fileType;
    return ChainFileName(target, type, files - 1) + " is full: the recording goes on in " +
           ChainFileName(target, type, files) + ".";
}

std::string ChainFilesReport(const MeasurementSetup& setup) {
    const int64_t files = setup.chainFiles.load();
    if (files < 2) return {};
    const std::string_view target = FieldText(setup.chainTarget);
    const int64_t share = setup.chainFileScans.load();
    std::string report = "The recording is in " + std::to_string(files) + " files:";
    for (int64_t k = 1; k <= files; ++k) {
        const int64_t scans =
            k < files ? share
                      : std::max<int64_t>(setup.runEndScans.load() - (files - 1) * share, 0);
        report += "\n  " + ChainFileName(target, setup.fileType, k) + ": " + std::to_string(scans) +
                  " scans";
    }
    return report;
}

}  // namespace tamix
