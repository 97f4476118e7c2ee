#include "acquisition/MeasurementSetup.h"

#include <cctype>
#include <cstdio>
#include <memory>
#include <thread>

#include "base/Utf8Text.h"

namespace tamix {

MeasurementSetup::MeasurementSetup() {
    SetDefaults();
}

std::span<const ChannelInfo> MeasurementSetup::SelectedChannels() const {
    const int n =
        channelCount < 0 ? 0 : (channelCount > kMaxChannels ? kMaxChannels : channelCount);
    return {channels.data(), static_cast<std::size_t>(n)};
}

void MeasurementSetup::SetDefaults() {
    displayColumn = 0;
    SetStatus(RunStatus::Idle);
    channelCount = kMaxChannels;
    for (int i = 0; i < kMaxChannels; ++i) {
        ChannelInfo& ch = channels[i];
        ch.inputNumber = i;
        char name[16];
        std::snprintf(name, sizeof name, "Chn%d", i);
        CopyText(ch.name, name, kNameChars);
        CopyText(ch.unit, "Volt", kUnitChars);
        ch.valueAt1V = 1.0;
        ch.valueAt0V = 0.0;
    }
    freqIndex = 2;
    fileType = FileType::WinDaq;
    SetOutputFileName({});
    totalTime = 10.0;
    splitSeconds = 0.0;
    saveToFile = SaveMode::ScreenOnly;
    ResetMarkers();
}

void MeasurementSetup::ResetMarkers() {
    markers.markerPos[0] = 0;
    CopyText(markers.markerText[0], "Acquisition start", kCommentChars);
    markers.markerWallTime[0] = 0;
    for (int i = 1; i < kMaxMarkers; ++i) {
        markers.markerPos[i] = i * 100 + 10;
        char text[16];
        std::snprintf(text, sizeof text, "Marker%d", i);
        CopyText(markers.markerText[i], text, kCommentChars);
        markers.markerWallTime[i] = 0;
    }
    markers.reserved.store(1);
    markers.markerCount.store(1, std::memory_order_release);
}

int MeasurementSetup::SetCommPort(int index) {
    const long port = static_cast<long>(index) + 1;
    commPort = (port < 1 || port > 8) ? 1 : static_cast<int32_t>(port);
    return commPort - 1;
}

int MeasurementSetup::SetEightChannels(int flag) {
    eightChannels = flag != 0 ? 1 : 0;
    return eightChannels;
}

bool MeasurementSetup::ChangeStatus(RunStatus from, RunStatus to) {
    int expected = static_cast<int>(from);
    return runStatus.compare_exchange_strong(expected, static_cast<int>(to));
}

bool MeasurementSetup::RequestStop() {
    return ChangeStatus(RunStatus::Running, RunStatus::StopRequested) ||
           ChangeStatus(RunStatus::Paused, RunStatus::StopRequested);
}

void MeasurementSetup::ReportStart(StartResult result) {
    startResult.store(static_cast<int>(result));
    startResult.notify_all();
}

std::string_view MeasurementSetup::OutputFileName() const {
    if (!outputFileNameValid.load(std::memory_order_acquire)) return {};
    return FieldText(outputFileName);
}

void MeasurementSetup::SetOutputFileName(std::string_view name) {
    CopyText(outputFileName, name, outputFileName.size());
    outputFileNameValid.store(outputFileName[0] != '\0', std::memory_order_release);
}

bool MeasurementSetup::AddMarker(int64_t position, std::string_view comment, int64_t wallTime) {
    int m = markers.reserved.load();
    do {
        if (m >= kMaxMarkers) return false;
    } while (!markers.reserved.compare_exchange_weak(m, m + 1));
    markers.markerPos[m] = position;
    CopyText(markers.markerText[m], comment, kCommentChars);
    markers.markerWallTime[m] = wallTime;
    // The other writer may still be filling an earlier entry: a few instructions.
    int expected = m;
    while (!markers.markerCount.compare_exchange_weak(expected, m + 1, std::memory_order_release,
                                                      std::memory_order_relaxed)) {
        expected = m;
        std::this_thread::yield();
    }
    return true;
}

MeasurementSetup& TheSetup() {
    // Built on first use and kept for the whole process, like a static record.
    static const std::unique_ptr<MeasurementSetup> setup = std::make_unique<MeasurementSetup>();
    return *setup;
}

}  // namespace tamix
