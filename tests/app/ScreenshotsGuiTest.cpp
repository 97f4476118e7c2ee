// Saves screenshots of the dialogs and of the main window during a run, for the
// documentation. Runs only when TAMIX_SCREENSHOT_DIR names a folder (and
// ImageMagick's `import` is installed); otherwise skipped.
#include <cstdlib>
#include <string>

#include "../support/GuiTest.h"
#include "../support/TempDir.h"
#include "acquisition/MeasurementSetup.h"
#include "control/MeasurementCommands.h"

namespace tamix {
namespace {

void Capture(wxWindow& window, const std::string& file) {
    window.Show();
    window.Raise();
    test::WaitFor([] { return false; }, 0.5);
    const wxRect r = window.GetScreenRect();
    const std::string command = "import -window root -crop " + std::to_string(r.width) + "x" +
                                std::to_string(r.height) + "+" + std::to_string(r.x) + "+" +
                                std::to_string(r.y) + " '" + file + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

TEST(ScreenshotsGuiTest, DialogsAndARun) {
    const char* dir = std::getenv("TAMIX_SCREENSHOT_DIR");
    if (dir == nullptr) GTEST_SKIP() << "TAMIX_SCREENSHOT_DIR is not set";
    const std::string out(dir);
    test::TempDir temp;
    IniFile profile(temp.File("tamix.INI"));
    {
        CMeasurementOptionsDlg dlg(&test::MainFrame(), profile);
        Capture(dlg, out + "/measurement-options.png");
    }
    {
        CSystemSetupDlg dlg(&test::MainFrame(), profile);
        Capture(dlg, out + "/system-setup.png");
    }
    {
        CAddMarkerDlg dlg(&test::MainFrame());
        dlg.SetMarkerNumber(1);
        Capture(dlg, out + "/add-marker.png");
    }
    {
        CHelpDlg dlg(&test::MainFrame());
        Capture(dlg, out + "/help.png");
    }
    {
        CAboutDlg dlg(&test::MainFrame());
        Capture(dlg, out + "/about.png");
    }
    wxFrame& frame = test::MainFrame();
    frame.SetSize(0, 0, 1200, 700);
    wxTEST_DIALOG(test::Command(cmd::ID_MEASUREMENT_START),
                  test::ExpectOptions(test::Choose({0, 1, 2, 3}, temp.File("run.wdq"), 0, 30)),
                  test::ExpectMessage("Recording will be stopped automatically after 30 minutes"));
    test::WaitFor([] { return TheSetup().scanCount.load() > 1300; }, 10);
    Capture(frame, out + "/main-window.png");
    TheSetup().ChangeStatus(RunStatus::Running, RunStatus::StopRequested);
    test::WaitFor([] { return !TheSetup().workerActive.load(); }, 10);
}

}  // namespace
}  // namespace tamix
