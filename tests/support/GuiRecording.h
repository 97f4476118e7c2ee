// A real recording made through the main window's commands with the simulated
// unit, with markers at given scans, for the GUI tests that read it back.
#pragma once

#include <string>
#include <vector>

#include "GuiTest.h"
#include "acquisition/MeasurementSetup.h"
#include "control/MeasurementCommands.h"

namespace tamix::test {

// Records `inputs` into `path` (a WinDaq file) until `scans` scans are on
// record, adding one marker with each comment once its scan count is passed.
inline void RecordWithMarkers(const std::string& path, std::vector<int> inputs, int64_t scans,
                              const std::vector<std::pair<int64_t, std::string>>& markers) {
    wxTEST_DIALOG(Command(cmd::ID_MEASUREMENT_START), ExpectOptions(Choose(inputs, path, 0, 1)),
                  ExpectMessage("Recording will be stopped automatically after 1 minute"));
    MeasurementSetup& setup = TheSetup();
    int number = 1;
    for (const auto& marker : markers) {
        const int64_t at = marker.first;
        ASSERT_TRUE(WaitFor([&] { return setup.scanCount.load() > at; }, 30));
        wxTEST_DIALOG(Command(cmd::ID_TOOLS_ADDMARKER),
                      ExpectMarker(marker.second, std::to_string(number++) + ". marker comment:"));
    }
    ASSERT_TRUE(WaitFor([&] { return setup.scanCount.load() > scans; }, 30));
    wxTEST_DIALOG(
        Command(cmd::ID_MEASUREMENT_STOP),
        ExpectMessage("Measurement will be aborted.\nWould you like to continue?", wxID_YES));
    ASSERT_TRUE(WaitFor(
        [&] { return setup.Status() == RunStatus::Idle && !setup.workerActive.load(); }, 20));
}

}  // namespace tamix::test
