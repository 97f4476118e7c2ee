// Saves screenshots of the dialogs for the documentation. Runs only when TAMIX_SCREENSHOT_DIR names
// a folder (and ImageMagick's `import` is installed); otherwise skipped.
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
    // The main window during a run (light and dark) is saved by the theme test
    // straight from the view's buffer.
}

}  // namespace
}  // namespace tamix
