// tamix-record: the headless recorder. Runs the same shared record and
// acquisition worker as the desktop program, with progress on a terminal,
// markers from standard input and Ctrl-C as Stop.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "CommandLine.h"
#include "RecorderArgs.h"
#include "RecorderConsole.h"
#include "StandardOutput.h"
#include "TerminalInterface.h"
#include "acquisition/AcquisitionWorker.h"
#include "acquisition/MeasurementSetup.h"
#include "acquisition/WorkerThread.h"
#include "base/Clock.h"
#include "control/MeasurementControl.h"
#include "device/InstrumentSource.h"

namespace {

using namespace tamix;
using namespace std::chrono_literals;

std::atomic<bool> gStop{false};
std::atomic<bool> gFinished{false};

// Each line on standard input is a marker at the current scan.
void ReadMarkers(MeasurementSetup& setup, const std::atomic<bool>& done) {
    std::string line;
    char buf[512];
    while (!done.load()) {
        // Woken at the end of the run; no deadline, so no wake-ups while idle.
        const long n = ReadStandardInput(buf, sizeof buf, kNoDeadline);
        if (n == 0) continue;
        if (n < 0) return;  // end of input: no more markers
        for (long i = 0; i < n; ++i) {
            if (buf[i] != '\n') {
                line.push_back(buf[i]);
                continue;
            }
            if (!line.empty() && line.back() == '\r') line.pop_back();
            // Kept whenever it is typed, also before the first scans arrived.
            const int64_t scan = setup.scanCount.load();
            if (!setup.AddMarker(scan, line, static_cast<int64_t>(std::time(nullptr)))) {
                std::cerr << "\nThe marker table is full (200 markers).\n";
            }
            line.clear();
        }
    }
}

void ShowProgress(const MeasurementSetup& setup, double totalSeconds) {
    const double period = setup.profile.samplePeriod;
    const double recorded = static_cast<double>(setup.scanCount.load()) * period;
    const double fraction = totalSeconds > 0 ? std::min(recorded / totalSeconds, 1.0) : 0.0;
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(fraction * kWidth);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(kWidth, '.');
    std::fprintf(stderr, "\r[%s] %s / %s %s", bar.c_str(),
                 FormatClock(static_cast<int64_t>(recorded)).c_str(),
                 FormatClock(static_cast<int64_t>(totalSeconds)).c_str(),
                 setup.Status() == RunStatus::Paused ? "(paused)" : "        ");
    std::fflush(stderr);
}

constexpr int kExitOutput = 6;
// Stopped before the first second was on disk: no file was changed.
constexpr int kExitNothingRecorded = 7;

}  // namespace

int main(int argc, char** argv) {
    cli::PrepareStandardOutput();
    RecorderArgs args;
    std::string error;
    if (!ParseRecorderArgs(std::vector<std::string>(argv + 1, argv + argc), args, error)) {
        std::cerr << "tamix-record: " << error << "\nTry 'tamix-record --help'.\n";
        return 2;
    }
    if (args.help || args.version) {
        cli::Print(args.help ? kRecorderHelp : cli::VersionLine("tamix-record"));
        std::string reason;
        if (cli::FinishStandardOutput(reason)) return 0;
        std::cerr << "tamix-record: " << cli::kStandardOutput << ": " << reason << "\n";
        return kExitOutput;
    }

    MeasurementSetup& setup = TheSetup();
    const IniFile profile(args.profilePath.empty() ? DefaultProfilePath() : args.profilePath);
    std::error_code missing;
    if (!args.profilePath.empty() && !std::filesystem::exists(args.profilePath, missing)) {
        // A mistyped path would otherwise pass for settings forgotten.
        std::cerr << "tamix-record: profile " << args.profilePath
                  << " does not exist; the defaults are used\n";
    }
    MeasurementChoices choices;
    std::vector<SettingRepair> repairs;
    LoadChoices(profile, choices, repairs);
    ApplyRecorderArgs(args, choices);
    const std::string problem = CheckRecorderChoices(args, profile, repairs, choices);
    if (!problem.empty()) {
        std::cerr << "tamix-record: " << problem << "\n";
        return 2;
    }
    FillSetup(choices, setup);
    const std::string file(setup.OutputFileName());

    InstrumentSource source;
    source.simulate = args.simulate;
    source.unpaced = args.unpaced;
    source.ports = args.ports;
    StreamSelectedInputs(source, setup.SelectedChannels());
    auto driver = MakeDriver(source, error);
    if (!driver) {
        std::cerr << "tamix-record: " << error << "\n";
        return 2;
    }
    setup.link.SetDriver(driver.get());
    // No trace to keep moving: the worker wakes for six 2 ms cycles at once,
    // under 40 % of what the bridge's buffer holds at the fastest stream.
    setup.link.SetWakeInterval(0.096);

    // Every way of being told to go (Ctrl-C, kill, a closed terminal) is a Stop
    // that completes the file. The handler asks for it at once (a lock-free
    // exchange on the run status), so the waits below need no deadline.
    InstallStopHandlers(gStop, gFinished, [] { TheSetup().RequestStop(); });

    // Quiet when not on a terminal (scripts, logs): only failures are reported.
    const bool progress = !args.quiet && StderrIsTerminal();
    WorkerThread worker;
    TerminalInterface ui(progress);
    switch (StartMeasurement(setup, worker, DefaultFileOpener(), ui)) {
        case StartOutcome::Started:
            break;
        case StartOutcome::NoUnit: {
            const std::string reason = driver->LastOpenError();
            if (!reason.empty()) std::cerr << "\n(" << reason << ")\n";
            return 1;
        }
        case StartOutcome::NoChannel:
            return 2;
        case StartOutcome::Declined:
        case StartOutcome::CantCreate:
        case StartOutcome::CreateFailed:
            return 3;
    }
    const double period = setup.profile.samplePeriod;
    const int64_t limit = setup.sampleLimit.load();
    const double totalSeconds = static_cast<double>(limit) * period;
    if (progress) {
        std::cerr << "Recording " << setup.channelCount << " channel(s) from "
                  << setup.profile.ModelName() << " to " << file << " for "
                  << FormatClock(static_cast<int64_t>(totalSeconds)) << " (" << limit
                  << " scans)\n";
    }

    // A stop that came during start-up found no run to stop yet.
    if (gStop.load()) setup.RequestStop();
    std::atomic<bool> done{false};
    std::thread markers(ReadMarkers, std::ref(setup), std::cref(done));
    // Without a progress bar this thread wakes only to say when a full WinDaq
    // file went on in the next one.
    int64_t filesSaid = 1;
    while (setup.workerActive.load()) {
        if (progress) ShowProgress(setup, totalSeconds);
        const int64_t files = setup.chainFiles.load();
        if (files > filesSaid) {
            filesSaid = files;
            const std::string note = ChainFullNote(setup, files);
            if (!note.empty()) std::cerr << (progress ? "\n" : "") << note << "\n";
        }
        std::this_thread::sleep_for(progress ? 100ms : 500ms);
    }
    worker.Join();
    gFinished = true;
    done = true;
    WakeStandardInput();
    markers.join();
    if (progress) std::fprintf(stderr, "\n");

    const std::string report = RunEndReport(setup);
    if (!report.empty()) std::cerr << report << "\n";
    const std::string files = ChainFilesReport(setup);
    if (!files.empty() && setup.LastRunEnd() != RunEnd::Discarded) std::cerr << files << "\n";
    if (setup.LastRunEnd() == RunEnd::Discarded) return kExitNothingRecorded;
    if (setup.LastRunEnd() != RunEnd::Completed) return 4;
    if (setup.lostScans.load() > 0) return 5;
    if (progress) {
        std::cerr << "Recorded "
                  << FormatClock(static_cast<int64_t>(
                         static_cast<double>(setup.runEndScans.load()) * period))
                  << " to " << file << " (worker: " << worker.PriorityClass() << " priority, "
                  << worker.CpuSeconds() << " s CPU)\n";
    }
    return 0;
}
