// Saves screenshots of the dialogs for the documentation. Runs only when TAMIX_SCREENSHOT_DIR names
// a folder (and ImageMagick's `import` is installed); otherwise skipped.
#include <cstdlib>
#include <string>

#include "../support/GuiRecording.h"
#include "../support/GuiTest.h"
#include "../support/TempDir.h"
#include "acquisition/MeasurementSetup.h"
#include "control/MeasurementCommands.h"
#include "view/wx/CReviewFrame.h"

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

// A recording of four inputs with markers in its review window: the whole
// recording, then zoomed in on a marker.
TEST(ScreenshotsGuiTest, ReviewWindow) {
    const char* dir = std::getenv("TAMIX_SCREENSHOT_DIR");
    if (dir == nullptr) GTEST_SKIP() << "TAMIX_SCREENSHOT_DIR is not set";
    const std::string out(dir);
    test::TempDir temp;
    const std::string path = temp.File("pressure-test.wdq");
    test::RecordWithMarkers(path, {0, 1, 4, 5}, 6000,
                            {{1200, "valve open"}, {3000, "pump on"}, {4500, "valve shut"}});
    WxUserInterface ui;
    CReviewFrame* frame = CReviewFrame::Open(path, ui);
    ASSERT_NE(frame, nullptr);
    frame->SetSize(1100, 640);
    ASSERT_TRUE(test::WaitFor([&] { return frame->Ready(); }, 30));
    // The pointer over the second strip, for the readout in the status bar.
    const auto point = [&](double at) {
        ReviewCanvas& canvas = frame->canvas();
        wxMouseEvent move(wxEVT_MOTION);
        move.m_x = canvas.layout().traces.left + static_cast<int>(at * canvas.layout().traceWidth);
        move.m_y = canvas.layout().strips[1].top + 20;
        canvas.ProcessWindowEvent(move);
    };
    point(0.3);
    Capture(*frame, out + "/review-window.png");
    frame->canvas().viewport().Zoom(12, 0);
    wxCommandEvent next(wxEVT_MENU, CReviewFrame::ID_REVIEW_NEXTMARKER);
    frame->ProcessWindowEvent(next);
    frame->ProcessWindowEvent(next);
    point(0.6);
    Capture(*frame, out + "/review-window-zoomed.png");
    frame->Destroy();
}

}  // namespace
}  // namespace tamix
