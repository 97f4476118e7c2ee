#include "view/StatusText.h"

#include <cstdio>

#include "view/ViewGeometry.h"

namespace tamix {

std::string SizeText(int64_t bytes) {
    char text[48];
    if (bytes >= 1024 * 1024) {
        std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    } else if (bytes >= 1024) {
        std::snprintf(text, sizeof text, "%.0f KB", static_cast<double>(bytes) / 1024.0);
    } else {
        std::snprintf(text, sizeof text, "%lld bytes", static_cast<long long>(bytes));
    }
    return text;
}

StatusFields RunStatusFields(const MeasurementSetup& setup, std::string_view runFile) {
    StatusFields f;
    switch (setup.Status()) {
        case RunStatus::Idle:
            f.state = "Idle";
            break;
        case RunStatus::Starting:
            f.state = "Starting";
            break;
        case RunStatus::Paused:
            f.state = "Paused";
            break;
        case RunStatus::StopRequested:
            f.state = "Stopping";
            break;
        case RunStatus::Running:
            f.state = runFile.empty() ? "Screen only" : "Recording to " + std::string(runFile);
            break;
    }
    f.time = ClockText(setup.scanCount.load(), setup.profile.samplePeriod);
    f.size = runFile.empty() ? std::string() : SizeText(setup.bytesWritten.load());
    f.lost = "Scans lost: " + std::to_string(setup.lostScans.load());
    f.model = std::string(setup.profile.ModelName());
    return f;
}

std::string RunEndStatus(const MeasurementSetup& setup, std::string_view runFile,
                         std::string_view failure) {
    if (!failure.empty()) {
        std::string line(failure);
        for (std::size_t at = line.find("\n\n"); at != std::string::npos; at = line.find("\n\n"))
            line.replace(at, 2, " ");
        for (char& c : line) {
            if (c == '\n') c = ' ';
        }
        return line;
    }
    const std::string time = ClockText(setup.scanCount.load(), setup.profile.samplePeriod);
    if (runFile.empty()) return "Screen-only run ended (" + time + ")";
    return "Saved " + std::string(runFile) + " (" + time + ")";
}

}  // namespace tamix
