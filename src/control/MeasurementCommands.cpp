#include "control/MeasurementCommands.h"

#include "base/Clock.h"

#include <cmath>
#include <cstdio>

namespace tamix {

CommandState CommandStateFor(int id, const MeasurementSetup& setup) {
    const RunStatus status = setup.Status();
    const bool idle = status == RunStatus::Idle;
    switch (id) {
        case cmd::ID_MEASUREMENT_START:
        case cmd::ID_MEASUREMENT_CALIBRATE:
        case cmd::ID_APP_EXIT:
            return {idle, false};
        case cmd::ID_MEASUREMENT_STOP:
            return {!idle, false};
        case cmd::ID_MEASUREMENT_PAUSE:
            return {!idle, status == RunStatus::Paused};
        case cmd::ID_MEASUREMENT_COMMPORT:
            return {false, false};
        case cmd::ID_MEASUREMENT_EIGHTCHANNELS:
            return {false, setup.GetEightChannels() != 0};
        case cmd::ID_TOOLS_ADDMARKER:
            return {
                !setup.OutputFileName().empty() && setup.markers.markerCount.load() < kMaxMarkers,
                false};
        default:
            return {true, false};
    }
}

std::string AutoStopNotice(double totalTimeSeconds) {
    char text[128];
    std::snprintf(text, sizeof text, "Recording will be stopped automatically after %.0f minutes",
                  totalTimeSeconds / 60.0);
    return text;
}

std::string PauseMarkerText(int64_t scanLoops, int64_t scanCount, double samplePeriod) {
    const auto t =
        static_cast<int64_t>(std::trunc(static_cast<double>(scanLoops - scanCount) * samplePeriod));
    return "Pause time:" + FormatClock(t);
}

}  // namespace tamix
