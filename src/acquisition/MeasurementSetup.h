// The one record that the user interface and the acquisition worker share:
// configuration, markers, run state, counters, display buffers, the identified
// unit and the link.
//
// Thread rules: configuration, channels and markers are written by the user
// interface thread (markers also during a run). Counters, display buffers,
// profile, link and wdqHeader are written only by the worker. Words that cross
// threads are atomics; a value one scan old is acceptable to every reader.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <span>
#include <string_view>

#include "acquisition/DisplayColumns.h"
#include "acquisition/RunStatus.h"
#include "base/ChannelInfo.h"
#include "base/MarkerTable.h"
#include "base/OutputKinds.h"
#include "base/TextLimits.h"
#include "device/CUsbLink.h"
#include "device/DeviceProfile.h"

namespace tamix {

using SampleRow = std::array<std::atomic<int16_t>, kMaxChannels>;

struct MeasurementSetup {
    MeasurementSetup();
    MeasurementSetup(const MeasurementSetup&) = delete;
    MeasurementSetup& operator=(const MeasurementSetup&) = delete;

    // --- configuration (user interface thread, while Idle) ---
    SaveMode saveToFile = SaveMode::ScreenOnly;
    double totalTime = 10.0;
    double splitSeconds = 0.0;  // a new file this often; 0: only when a WinDaq file is full
    FileType fileType = FileType::WinDaq;
    int32_t freqIndex = 2;
    int32_t channelCount = 8;
    std::array<ChannelInfo, kMaxChannels> channels{};
    // Written by the user interface while Idle with no worker; read through
    // OutputFileName(), which also honours the worker's clearing at run end.
    std::array<char, kPathBytes> outputFileName{};
    std::atomic<bool> outputFileNameValid{false};
    int32_t commPort = 1;
    int32_t eightChannels = 0;

    MarkerTable markers;

    // --- run state ---
    std::atomic<int> runStatus{static_cast<int>(RunStatus::Idle)};
    int pausedStatus = 0;

    // --- worker counters (64-bit: a 6000-hour run at 1 ms has 2.16e10 scans) ---
    std::atomic<int64_t> sampleLimit{0};
    std::atomic<int64_t> scanCount{0};
    std::atomic<int64_t> scanLoops{0};
    std::atomic<int64_t> bytesWritten{0};
    // Scans the unit sent that never arrived (gaps found by the worker).
    std::atomic<int64_t> lostScans{0};
    // The files of the run's chain that hold scans (raised once a second), the
    // scans of each but the last, and whether the WinDaq limit rather than
    // the split sets them.
    std::atomic<int64_t> chainFiles{1};
    std::atomic<int64_t> chainFileScans{0};
    std::atomic<bool> chainFillsFiles{false};
    // The run's first file, kept for the end report after the name is cleared;
    // written by the worker before it reports its start.
    std::array<char, kPathBytes> chainTarget{};

    // --- display hand-off ---
    std::array<SampleRow, kBufferRows> historyRing{};
    std::atomic<int> ringIndex{0};
    std::array<SampleRow, kBufferRows> displayColumns{};
    std::atomic<int> displayColumn{0};
    std::atomic<int> displayWidth{100};
    std::atomic<int> redrawRequest{0};
    std::atomic<int> secondTick{0};
    DisplayColumns columnExtremes;  // min-max and first scan per column (the view's trace)

    // --- the identified unit, the link and the header image (worker) ---
    DeviceProfile profile;
    CUsbLink link;
    std::array<uint8_t, 1156> wdqHeader{};

    // --- how the last run ended (worker writes before it finishes) ---
    std::atomic<bool> workerActive{false};
    // Set by the worker once it has left Starting (a StartResult); see ReportStart.
    std::atomic<int> startResult{static_cast<int>(StartResult::NoUnit)};
    std::atomic<int> runEnd{static_cast<int>(RunEnd::None)};
    std::array<char, 1024> runEndMessage{};
    std::atomic<int64_t> runEndScans{0};

    // The channels of the run: the first channelCount entries.
    std::span<const ChannelInfo> SelectedChannels() const;

    // Puts configuration, channels and markers in their initial state.
    void SetDefaults();
    void ResetMarkers();

    int SetCommPort(int index);
    int GetCommPort() const { return commPort - 1; }
    int SetEightChannels(int flag);
    int GetEightChannels() const { return eightChannels; }

    RunStatus Status() const { return static_cast<RunStatus>(runStatus.load()); }
    void SetStatus(RunStatus s) { runStatus.store(static_cast<int>(s)); }
    // Moves `from` to `to` only if the word still holds `from`.
    bool ChangeStatus(RunStatus from, RunStatus to);
    // Stop: a running or paused run becomes StopRequested; any other state is kept.
    bool RequestStop();
    // The worker's word on its start, after the run status it leaves Starting
    // with; wakes whoever waits in AwaitStartReport.
    void ReportStart(StartResult result);
    // Until the worker has reported its start.
    void AwaitStartReport(int pending) const { startResult.wait(pending); }

    std::string_view OutputFileName() const;
    void SetOutputFileName(std::string_view name);
    // The worker's last step: the name reads as empty from then on.
    void ClearOutputFileName() { outputFileNameValid.store(false, std::memory_order_release); }
    RunEnd LastRunEnd() const { return static_cast<RunEnd>(runEnd.load()); }

    // Adds a marker at `position` with `comment` unless the table is full. The
    // user interface and the worker may both call it.
    bool AddMarker(int64_t position, std::string_view comment, int64_t wallTime);
};

// The process-wide instance.
MeasurementSetup& TheSetup();

}  // namespace tamix
