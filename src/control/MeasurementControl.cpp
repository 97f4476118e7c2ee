#include "control/MeasurementControl.h"

#include <cstdio>
#include <ctime>

#include "acquisition/AcquisitionWorker.h"
#include "base/Messages.h"
#include "control/MeasurementCommands.h"
#include "recording/TextWriter.h"
#include "recording/WdqWriter.h"

namespace tamix {
namespace {

// Marks a wait on the operator's side for as long as it lives.
class Waiting {
  public:
    explicit Waiting(UserInterface& ui) : ui_(ui) { ui_.BeginWait(); }
    ~Waiting() { ui_.EndWait(); }
    Waiting(const Waiting&) = delete;
    Waiting& operator=(const Waiting&) = delete;

  private:
    UserInterface& ui_;
};

bool ConfirmStartNotice(const MeasurementSetup& setup, UserInterface& ui) {
    if (setup.saveToFile == SaveMode::ToFile) {
        return ui.Confirm(StartNotice(setup), UserInterface::Icon::Information);
    }
    return ui.Confirm(text::kNotSaving, UserInterface::Icon::Warning);
}

}  // namespace

std::string StartNotice(const MeasurementSetup& setup) {
    std::string notice = AutoStopNotice(setup.totalTime);
    if (setup.fileType == FileType::WinDaq) {
        // At the fastest unit's rate a WinDaq file may fill before the time is up.
        const double most = static_cast<double>(MaxWdqScans(setup.channelCount) - 8) * 0.001;
        if (setup.totalTime > most) {
            char extra[160];
            std::snprintf(extra, sizeof extra,
                          "\n\nA WinDaq file of %d channel(s) holds at most %.0f minutes at 1000 "
                          "scans per second; the recording then goes on in a next file.",
                          setup.channelCount, most / 60);
            notice += extra;
        }
    }
    return notice;
}

StartOutcome StartMeasurement(MeasurementSetup& setup, WorkerThread& worker, FileOpener& opener,
                              UserInterface& ui) {
    if (setup.channelCount < 1) {
        ui.ShowMessage(text::kNoChannel, UserInterface::Icon::Warning);
        return StartOutcome::NoChannel;
    }
    {
        // The previous worker may still be completing its file.
        Waiting wait(ui);
        worker.Join();
    }
    setup.ResetMarkers();
    setup.displayColumn = 0;
    if (setup.saveToFile == SaveMode::ToFile) {
        const std::string name(setup.OutputFileName());
        // Nothing is created or truncated here: the worker creates the file
        // once the unit's first scans have arrived, and it replaces an existing
        // one only at its first checkpoint, so a start that fails, and a stop
        // within the first second, leave an existing file alone.
        if (opener.Exists(name) && !ui.AskYesNo(text::kFileExists, UserInterface::Answer::No))
            return StartOutcome::Declined;
        // A text recording's info file is one of its files: one that cannot
        // be replaced would leave an earlier run's names beside the new data.
        std::string reason;
        std::string refused = name;
        bool possible = opener.CanCreate(name, reason);
        if (possible && setup.fileType == FileType::Text) {
            refused = InfoFileName(name);
            possible = opener.CanCreate(refused, reason);
        }
        if (!possible) {
            ui.ShowMessage(std::string(text::kCantCreate) + "\n\n" + refused + ": " + reason,
                           UserInterface::Icon::Error);
            return StartOutcome::CantCreate;
        }
    } else {
        setup.SetOutputFileName({});
    }
    // A box is read before the run begins, so that the operator sees the run
    // from its first scan; a terminal is told once the unit has answered.
    const bool noticeFirst = ui.NoticesBeforeStart();
    if (noticeFirst && !ConfirmStartNotice(setup, ui)) return StartOutcome::Declined;
    StartResult started = StartResult::NoThread;
    {
        Waiting wait(ui);
        started = worker.StartRun(setup, opener);
    }
    switch (started) {
        case StartResult::Running:
            if (!noticeFirst) ConfirmStartNotice(setup, ui);
            return StartOutcome::Started;
        case StartResult::CreateFailed:
            worker.Join();
            ui.ShowMessage(RunEndReport(setup), UserInterface::Icon::Error);
            return StartOutcome::CreateFailed;
        case StartResult::NoUnit:
        case StartResult::NoThread:
            break;
    }
    worker.Join();
    ui.ShowMessage(text::kNoUnit, UserInterface::Icon::Error);
    return StartOutcome::NoUnit;
}

bool StopMeasurement(MeasurementSetup& setup, UserInterface& ui) {
    if (setup.OutputFileName().empty()) return setup.RequestStop();
    if (!ui.AskYesNo(text::kAbortQuestion, UserInterface::Answer::Yes)) return false;
    return setup.RequestStop();
}

void PauseMeasurement(MeasurementSetup& setup, UserInterface& ui) {
    if (setup.Status() == RunStatus::Paused) {
        setup.ChangeStatus(RunStatus::Paused, static_cast<RunStatus>(setup.pausedStatus));
        return;
    }
    const RunStatus current = setup.Status();
    if (current == RunStatus::Idle) return;
    setup.pausedStatus = static_cast<int>(current);
    if (!setup.ChangeStatus(current, RunStatus::Paused)) return;
    ui.ShowMessage(text::kPaused, UserInterface::Icon::Information);
    if (setup.markers.markerCount.load() < kMaxMarkers) {
        setup.AddMarker(setup.scanCount.load(),
                        PauseMarkerText(setup.scanLoops.load(), setup.scanCount.load(),
                                        setup.profile.samplePeriod),
                        static_cast<int64_t>(std::time(nullptr)));
    }
    // Only if the worker has not ended the run meanwhile.
    setup.ChangeStatus(RunStatus::Paused, static_cast<RunStatus>(setup.pausedStatus));
}

std::optional<PendingMarker> PrepareMarker(const MeasurementSetup& setup) {
    const int m = setup.markers.markerCount.load();
    if (m >= kMaxMarkers) return std::nullopt;
    const int64_t scan = setup.scanCount.load();
    if (scan < 2 || setup.OutputFileName().empty()) return std::nullopt;
    return PendingMarker{m, scan, static_cast<int64_t>(std::time(nullptr))};
}

}  // namespace tamix
