// Closing the main window during a recording. It ends the application, so it
// runs in a process of its own (see tests/CMakeLists.txt).
#include <wx/frame.h>
#include <wx/weakref.h>

#include <type_traits>

#include "../support/GuiTest.h"
#include "../support/TempDir.h"
#include "../support/WdqReader.h"
#include "acquisition/MeasurementSetup.h"
#include "app/CMainFrame.h"
#include "control/MeasurementCommands.h"
#include "view/wx/CReviewFrame.h"
#include "view/wx/WxUserInterface.h"

namespace tamix {
namespace {

using test::ExpectMessage;
using test::WaitFor;

TEST(QuitGuiTest, ClosingDuringARunAsksThenCompletesTheFile) {
    test::TempDir dir;
    const std::string path = dir.File("quit.wdq");
    wxTEST_DIALOG(test::Command(cmd::ID_MEASUREMENT_START),
                  test::ExpectOptions(test::Choose({0, 1}, path, 0, 1)),
                  ExpectMessage("Recording will be stopped automatically after 1 minute"));
    MeasurementSetup& setup = TheSetup();
    ASSERT_TRUE(WaitFor([&] { return setup.scanCount.load() > 600; }, 10));
    // No: the run and the window go on.
    wxTEST_DIALOG(test::MainFrame().Close(false), ExpectMessage(kQuitDuringRun, wxID_NO));
    WaitFor([] { return false; }, 0.2);
    EXPECT_NE(setup.Status(), RunStatus::Idle);
    EXPECT_TRUE(test::MainFrame().IsShown());
    // The recording so far in a review window, which goes with the main window.
    WxUserInterface ui;
    wxWeakRef<wxFrame> review(CReviewFrame::Open(path, ui));
    ASSERT_TRUE(review.get() != nullptr);
    // Yes: the file is completed, then the windows go.
    wxWeakRef<wxFrame> frame(&test::MainFrame());
    wxTEST_DIALOG(test::MainFrame().Close(false), ExpectMessage(kQuitDuringRun, wxID_YES));
    ASSERT_TRUE(WaitFor([&] { return frame.get() == nullptr; }, 10));
    EXPECT_TRUE(WaitFor([&] { return review.get() == nullptr; }, 10))
        << "a review window left open would keep the program running";
    EXPECT_FALSE(setup.workerActive.load());
    std::string error;
    const auto f = test::ReadWdq(test::ReadBytes(path), error);
    ASSERT_TRUE(f) << error;
    EXPECT_EQ(f->channelCount, 2);
    EXPECT_GT(f->ScanCount(), 600);
    EXPECT_EQ(f->ScanCount() % 8, 0);
}

}  // namespace
}  // namespace tamix
