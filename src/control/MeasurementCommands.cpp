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

namespace {

// "1 second", "30 seconds", "0.5 seconds", to the millisecond.
std::string Count(double n, const char* unit) {
    char text[48];
    std::snprintf(text, sizeof text, "%.10g %s%s", n, unit, n == 1.0 ? "" : "s");
    return text;
}

}  // namespace

std::string AutoStopNotice(double totalTimeSeconds) {
    // Counted in milliseconds, so that a time typed in minutes or hours comes
    // out in whole units where it is whole.
    const double ms = std::round(totalTimeSeconds * 1000.0);
    const double minutes = std::floor(ms / 60000.0);
    const double seconds = (ms - minutes * 60000.0) / 1000.0;
    std::string after;
    if (minutes < 1) {
        after = Count(seconds, "second");
    } else if (seconds == 0) {
        after = Count(minutes, "minute");
    } else {
        after = Count(minutes, "minute") + " " + Count(seconds, "second");
    }
    return "Recording will be stopped automatically after " + after;
}

std::string PauseMarkerText(int64_t scanLoops, int64_t scanCount, double samplePeriod) {
    const auto t =
        static_cast<int64_t>(std::trunc(static_cast<double>(scanLoops - scanCount) * samplePeriod));
    return "Pause time:" + FormatClock(t);
}

}  // namespace tamix
