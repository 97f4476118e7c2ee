#include "acquisition/AcquisitionWorker.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "base/Clock.h"
#include "base/Utf8Text.h"
#include "device/InstrumentProtocol.h"
#include "recording/TextWriter.h"
#include "recording/WdqWriter.h"

namespace tamix {
namespace {

constexpr const char* kConnectionLost = "Connection to the data acquisition system was lost.";

int64_t ScanLimit(double totalTime, double period) {
    if (!(period > 0.0) || !(totalTime > 0.0)) return 0;
    const double limit = std::trunc(totalTime / period);
    return limit >= 9.0e18 ? int64_t{9'000'000'000'000'000'000} : static_cast<int64_t>(limit);
}

// The output of one run: the file and what happened to it.
struct Recording {
    std::unique_ptr<OutputFile> file;
    std::string name;
    bool binary = false;
    bool failed = false;
    std::string error;

    bool Check(bool ok) {
        if (!ok && !failed) {
            failed = true;
            error = file->Error();
        }
        return ok;
    }
};

void SetEnd(MeasurementSetup& setup, RunEnd end, const std::string& message) {
    CopyText(setup.runEndMessage, message, setup.runEndMessage.size());
    setup.runEndScans = setup.scanCount.load();
    setup.runEnd = static_cast<int>(end);
}

}  // namespace

void ResetRunState(MeasurementSetup& setup) {
    setup.freqIndex = std::clamp(setup.freqIndex, 0, 4);
    setup.displayColumn = 0;
    setup.scanCount = 0;
    setup.scanLoops = 0;
    setup.bytesWritten = 0;
    setup.sampleLimit = ScanLimit(setup.totalTime, setup.profile.samplePeriod);
}

int64_t EffectiveScanLimit(double totalTime, double period, int fileType, int channelCount) {
    int64_t limit = ScanLimit(totalTime, period);
    // The run writes whole cycles of eight scans past the limit.
    if (fileType == 0) limit = std::min(limit, MaxWdqScans(channelCount) - 8);
    return limit;
}

int AcquisitionWorker(MeasurementSetup& setup, FileOpener& opener) {
    setup.redrawRequest = 0;
    ResetRunState(setup);
    setup.runEnd = static_cast<int>(RunEnd::None);
    // Without a channel there is nothing to request, and the loop would never block.
    // A new sweep starts with the run, whether or not a unit answers.
    setup.displayColumn = 0;
    setup.ringIndex = 0;
    if (setup.channelCount < 1 ||
        SetupDevice(setup.link, setup.profile, setup.SelectedChannels()) != 0) {
        setup.unitFound = false;
        setup.SetStatus(RunStatus::Idle);
        return 1;
    }
    CUsbLink& link = setup.link;
    const double period = setup.profile.samplePeriod;
    const int modelClass = setup.profile.modelClass;
    const int n = std::clamp(setup.channelCount, 0, kMaxChannels);
    const std::span<const ChannelInfo> channels(setup.channels.data(), static_cast<std::size_t>(n));
    std::array<int, kMaxChannels> inputs{};
    for (int k = 0; k < n; ++k) inputs[k] = channels[k].inputNumber;

    Recording rec;
    rec.name = std::string(setup.OutputFileName());
    rec.binary = setup.fileType == 0;
    int64_t limit = ScanLimit(setup.totalTime, period);
    const int64_t creationTime = static_cast<int64_t>(std::time(nullptr));
    if (!rec.name.empty()) {
        std::string error;
        rec.file = opener.Create(rec.name, error);
    }
    if (rec.file && rec.binary) {
        limit = EffectiveScanLimit(setup.totalTime, period, 0, n);
        BuildWdqHeader(setup.wdqHeader, limit + 8, n, period, channels, creationTime);
        rec.Check(rec.file->Write(setup.wdqHeader.data(), kWdqHeaderBytes));
    }
    setup.sampleLimit = limit;

    StartStreaming(link);
    setup.unitFound = true;
    // A stop that arrived while the unit was being set up is kept.
    setup.ChangeStatus(RunStatus::Starting, RunStatus::Running);
    setup.bytesWritten = 0;
    setup.scanCount = 0;

    std::array<uint8_t, kBlockBytes * kMaxChannels> batch{};
    std::array<int16_t, kMaxChannels> scan{};
    std::array<uint8_t, 2 * kMaxChannels> wdqScan{};
    std::array<char, kMaxTextLine> line{};
    bool lost = false;
    bool limitReached = false;
    int64_t scanCount = 0;
    int64_t scanLoops = 0;
    int64_t bytesWritten = 0;
    int ringIndex = setup.ringIndex;
    int displayColumn = setup.displayColumn;

    for (;;) {
        const BatchResult got = ReadBatch(link, n, std::span(batch).first(kBlockBytes * n));
        if (!got.Complete(n)) {
            // Stale bytes are not samples: the incomplete batch is dropped whole.
            lost = true;
            break;
        }
        for (int j = 0; j < kScansPerBatch && !rec.failed; ++j) {
            for (int k = 0; k < n; ++k) {
                const int w = j * n + k;
                const int16_t s =
                    ConvertSample(batch[2 * w], batch[2 * w + 1], modelClass, inputs[k]);
                scan[k] = s;
                setup.displayColumns[displayColumn][k].store(s, std::memory_order_relaxed);
                setup.historyRing[ringIndex][k].store(s, std::memory_order_relaxed);
            }
            const RunStatus status = setup.Status();
            const bool recording = status != RunStatus::Paused;
            if (rec.file && recording) {
                if (rec.binary) {
                    for (int k = 0; k < n; ++k) PutWdqSample(&wdqScan[2 * k], scan[k]);
                    if (rec.Check(rec.file->Write(wdqScan.data(), 2 * n))) {
                        bytesWritten += 2 * n;
                        setup.bytesWritten.store(bytesWritten, std::memory_order_relaxed);
                    }
                } else {
                    const std::size_t len = FormatTextLine(line.data(), scanCount, period,
                                                           std::span(scan).first(n), channels);
                    rec.Check(rec.file->Write(line.data(), len));
                }
                if (scanCount >= limit && !limitReached) {
                    limitReached = true;
                    setup.ChangeStatus(RunStatus::Running, RunStatus::Idle);
                    setup.redrawRequest = 1;
                }
            }
            if (rec.failed) break;
            if (recording) setup.scanCount.store(++scanCount, std::memory_order_relaxed);
            setup.scanLoops.store(++scanLoops, std::memory_order_relaxed);
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
        if (rec.failed || limitReached) break;
        const RunStatus status = setup.Status();
        if (status == RunStatus::Idle || status == RunStatus::StopRequested) break;
    }

    StopStreaming(link);
    link.Close();
    setup.SetStatus(RunStatus::Idle);

    if (rec.file) {
        const int markerCount = setup.markers.markerCount.load(std::memory_order_acquire);
        if (!rec.failed) {
            if (rec.binary) {
                rec.Check(
                    WriteWdqTrailer(*rec.file, setup.markers, markerCount, channels, creationTime));
            } else {
                std::string error;
                if (auto info = opener.Create(InfoFileName(rec.name), error)) {
                    WriteInfoFile(*info, channels, setup.markers, markerCount, period);
                    info->Close();
                }
            }
        }
        // The header must describe only what reached the file, also after a failure.
        if (rec.binary) {
            uint64_t dataBytes = static_cast<uint64_t>(bytesWritten);
            if (rec.failed) {
                const uint64_t size = rec.file->DurableSize();
                const uint64_t onDisk = size > kWdqHeaderBytes ? size - kWdqHeaderBytes : 0;
                const uint64_t scanBytes = 2 * static_cast<uint64_t>(std::max(n, 1));
                dataBytes = std::min(dataBytes, onDisk / scanBytes * scanBytes);
            }
            rec.Check(PatchWdqDataSize(*rec.file, dataBytes));
        }
        rec.Check(rec.file->Close());
    }

    if (rec.failed) {
        SetEnd(setup, RunEnd::WriteFailed,
               "Can't write output file " + rec.name + ": " + rec.error + ".");
    } else if (lost) {
        SetEnd(setup, RunEnd::ConnectionLost, kConnectionLost);
    } else {
        SetEnd(setup, RunEnd::Completed, {});
    }
    setup.bytesWritten = 0;
    setup.ClearOutputFileName();
    setup.SetStatus(RunStatus::Idle);
    return 0;
}

std::string RunEndReport(const MeasurementSetup& setup) {
    const RunEnd end = setup.LastRunEnd();
    if (end != RunEnd::ConnectionLost && end != RunEnd::WriteFailed) return {};
    const auto seconds = static_cast<int64_t>(static_cast<double>(setup.runEndScans.load()) *
                                              setup.profile.samplePeriod);
    return std::string(FieldText(setup.runEndMessage)) +
           "\n\nRecorded time: " + FormatClock(seconds);
}

}  // namespace tamix
