#include <sys/resource.h>
#include <wx/dcmemory.h>
#include <wx/filedlg.h>
#include <wx/filehistory.h>
#include <wx/menu.h>
#include <csignal>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "../support/GuiTest.h"
#include "../support/TempDir.h"
#include "../support/WdqReader.h"
#include "acquisition/MeasurementSetup.h"
#include "app/CTamixDoc.h"
#include "app/TerminationSignals.h"
#include "control/MeasurementCommands.h"
#include "device/D2xxDriver.h"
#include "device/SimulatedDriver.h"
#include "view/wx/CTamixView.h"

namespace tamix {
namespace {

namespace id = options_id;
using namespace cmd;
using test::Command;
using test::CommandUi;
using test::ExpectMessage;
using test::ExpectOptions;
using test::WaitFor;

using test::Choose;

CTamixView& View() {
    auto* app = &test::App();
    return *wxStaticCast(app->docManager()->GetCurrentView(), CTamixView);
}

bool Idle() {
    return TheSetup().Status() == RunStatus::Idle && !TheSetup().workerActive.load();
}

class MainWindowGuiTest : public ::testing::Test {
  protected:
    void TearDown() override {
        MeasurementSetup& setup = TheSetup();
        setup.RequestStop();
        EXPECT_TRUE(WaitFor(Idle, 20));
        WaitFor([] { return false; }, 0.1);
    }
    test::TempDir dir;
};

TEST_F(MainWindowGuiTest, TheWindowHasItsTitleAndMenus) {
    EXPECT_EQ(test::MainFrame().GetTitle(), "Tamix - Tamix Windows Application");
    wxMenuBar* bar = test::MainFrame().GetMenuBar();
    ASSERT_EQ(bar->GetMenuCount(), 4u);
    EXPECT_EQ(bar->GetMenuLabel(1), "&Measurement");
    EXPECT_EQ(bar->GetMenu(1)->GetMenuItemCount(), 8u);
    EXPECT_EQ(bar->FindItem(ID_MEASUREMENT_EIGHTCHANNELS)->GetItemLabel(),
              "&Eight channels installed");
    EXPECT_TRUE(test::MainFrame().IsMaximized() || test::MainFrame().GetSize().x >= 640);
}

TEST_F(MainWindowGuiTest, RecordsAWinDaqFileWithMarkersAndAPause) {
    const std::string path = dir.File("gui.wdq");
    wxTEST_DIALOG(Command(ID_MEASUREMENT_START), ExpectOptions(Choose({0, 1, 2, 3}, path, 0, 1)),
                  ExpectMessage("Recording will be stopped automatically after 1 minutes"));
    MeasurementSetup& setup = TheSetup();
    ASSERT_NE(setup.Status(), RunStatus::Idle);
    EXPECT_EQ(CommandUi(ID_MEASUREMENT_START).first, false);
    EXPECT_EQ(CommandUi(ID_MEASUREMENT_CALIBRATE).first, false);
    EXPECT_EQ(CommandUi(ID_APP_EXIT).first, false);
    EXPECT_EQ(CommandUi(ID_MEASUREMENT_STOP).first, true);
    EXPECT_EQ(CommandUi(ID_MEASUREMENT_PAUSE).first, true);
    EXPECT_EQ(CommandUi(ID_TOOLS_ADDMARKER).first, true);

    ASSERT_TRUE(WaitFor([&] { return setup.scanCount.load() > 300; }, 10));
    wxTEST_DIALOG(Command(ID_TOOLS_ADDMARKER),
                  test::ExpectMarker("stimulus", "1. marker comment:"));
    int64_t pausedScans = 0;
    wxTEST_DIALOG(Command(ID_MEASUREMENT_PAUSE),
                  ExpectMessage("Data recording paused.\nPress OK to resume.", wxID_OK, [&] {
                      EXPECT_TRUE(CommandUi(ID_MEASUREMENT_PAUSE).second);
                      const int64_t before = setup.scanCount.load();
                      WaitFor([] { return false; }, 1.2);
                      pausedScans = setup.scanCount.load() - before;
                  }));
    EXPECT_LE(pausedScans, 8);
    EXPECT_FALSE(CommandUi(ID_MEASUREMENT_PAUSE).second);

    // Closing is refused while the run goes on.
    test::MainFrame().Close(false);
    WaitFor([] { return false; }, 0.2);
    EXPECT_TRUE(test::MainFrame().IsShown());

    wxTEST_DIALOG(
        Command(ID_MEASUREMENT_STOP),
        ExpectMessage("Measurement will be aborted.\nWould you like to continue?", wxID_YES));
    ASSERT_TRUE(WaitFor(Idle, 10));
    std::string error;
    const auto f = test::ReadWdq(test::ReadBytes(path), error);
    ASSERT_TRUE(f) << error;
    EXPECT_EQ(f->channelCount, 4);
    EXPECT_EQ(f->ScanCount() % 8, 0);
    ASSERT_EQ(f->markers.size(), 3u);
    EXPECT_EQ(f->markers[1].comment, "stimulus");
    // About 1.2 s paused; a slow machine may round to a later second.
    EXPECT_EQ(f->markers[2].comment.rfind("Pause time:00:00:0", 0), 0u) << f->markers[2].comment;
    EXPECT_NE(f->markers[2].comment, "Pause time:00:00:00");
    EXPECT_EQ(CommandUi(ID_MEASUREMENT_START).first, true);
}

TEST_F(MainWindowGuiTest, ATextRecordingEndsAtItsTimeLimit) {
    const std::string path = dir.File("gui.dat");
    wxTEST_DIALOG(Command(ID_MEASUREMENT_START), ExpectOptions(Choose({0, 6}, path, 1, 0.02)),
                  ExpectMessage("Recording will be stopped automatically after 0 minutes"));
    ASSERT_TRUE(WaitFor(Idle, 10));
    std::istringstream text(test::ReadText(path));
    std::string line;
    int lines = 0;
    while (std::getline(text, line)) ++lines;
    EXPECT_EQ(lines, 8 * (600 / 8 + 1));
    EXPECT_TRUE(std::filesystem::exists(dir.File("gui_info.txt")));
}

TEST_F(MainWindowGuiTest, ScreenOnlyRunsWarnAndStopWithoutAQuestion) {
    wxTEST_DIALOG(Command(ID_MEASUREMENT_START), ExpectOptions(Choose({0}, "", 0, 1)),
                  ExpectMessage("WARNING: You've selected not to save data."));
    ASSERT_NE(TheSetup().Status(), RunStatus::Idle);
    EXPECT_FALSE(CommandUi(ID_TOOLS_ADDMARKER).first);
    Command(ID_MEASUREMENT_STOP);
    EXPECT_TRUE(WaitFor(Idle, 10));
}

TEST_F(MainWindowGuiTest, StartReportsEachFailure) {
    // No channel ticked: the message, then the dialog again (cancelled).
    wxTEST_DIALOG(Command(ID_MEASUREMENT_START), ExpectOptions(Choose({}, "", 0, 1)),
                  ExpectMessage("No channel selected for acquisition"),
                  ExpectOptions(nullptr, false));
    // An existing file that the operator keeps.
    const std::string existing = dir.File("keep.wdq");
    std::ofstream(existing) << "precious";
    wxTEST_DIALOG(Command(ID_MEASUREMENT_START), ExpectOptions(Choose({0}, existing, 0, 1)),
                  ExpectMessage("File exists. Overwrite?", wxID_NO));
    EXPECT_EQ(test::ReadText(existing), "precious");
    // A file that cannot be created: the message names it and the reason.
    wxTEST_DIALOG(Command(ID_MEASUREMENT_START),
                  ExpectOptions(Choose({0}, dir.File("missing/dir/x.wdq"), 0, 1)),
                  ExpectMessage("Can't create output file.\n\n" + dir.File("missing/dir/x.wdq") +
                                ": No such file or directory"));
    // No unit attached: the message comes alone, and an existing file is kept.
    NullDriver none;
    D2xxDriver* attached = TheSetup().link.Driver();
    TheSetup().link.SetDriver(&none);
    wxTEST_DIALOG(
        Command(ID_MEASUREMENT_START), ExpectOptions(Choose({0}, existing, 0, 1)),
        ExpectMessage("File exists. Overwrite?", wxID_YES),
        ExpectMessage("Can't find proper data acquisition system.\n\nCheck power, cable and "
                      "communication port settings.\n\nUSB devices may need to be reconnected."));
    EXPECT_EQ(test::ReadText(existing), "precious");
    wxTEST_DIALOG(
        Command(ID_MEASUREMENT_START), ExpectOptions(Choose({0}, dir.File("nounit"), 0, 1)),
        ExpectMessage("Can't find proper data acquisition system.\n\nCheck power, cable and "
                      "communication port settings.\n\nUSB devices may need to be reconnected."));
    TheSetup().link.SetDriver(attached);
    EXPECT_FALSE(std::filesystem::exists(dir.File("nounit.wdq")));
    wxTEST_DIALOG(Command(ID_MEASUREMENT_CALIBRATE),
                  ExpectMessage("This function is not implemented in this version."));
}

TEST_F(MainWindowGuiTest, ATerminationSignalCompletesTheRecordingBeforeQuitting) {
    for (const int sig : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        const std::string path = dir.File("signal" + std::to_string(sig) + ".wdq");
        wxTEST_DIALOG(Command(ID_MEASUREMENT_START), ExpectOptions(Choose({0, 1}, path, 0, 1)),
                      ExpectMessage("Recording will be stopped automatically after 1 minutes"));
        ASSERT_TRUE(WaitFor([] { return TheSetup().scanCount.load() > 200; }, 10));
        bool quit = false;
        wxFrame* frame = &test::MainFrame();
        HandleTerminationSignals(&View().worker(), [&] { quit = true; });
        std::raise(sig);
        ASSERT_TRUE(WaitFor([&] { return quit; }, 10));
        HandleTerminationSignals(&View().worker(), [frame] { frame->Close(true); });
        EXPECT_TRUE(Idle()) << "the run ended before the program would quit";
        std::string error;
        const auto f = test::ReadWdq(test::ReadBytes(path), error);
        ASSERT_TRUE(f) << error;
        EXPECT_GT(f->ScanCount(), 200);
        EXPECT_EQ(f->markers.size(), 1u) << "the file was completed";
        WaitFor([] { return false; }, 0.1);
    }
}

TEST_F(MainWindowGuiTest, ALostUnitIsReportedWithTheRecordedTime) {
    SimulatedUnitOptions unit;
    unit.serial = "A30008SN";
    unit.paced = false;
    unit.unplugAfterScans = 1203;  // 2.4 s of scans, then the cable is pulled
    SimulatedDriver unplugging({unit}, 0.05);
    D2xxDriver* attached = TheSetup().link.Driver();
    TheSetup().link.SetDriver(&unplugging);
    const std::string path = dir.File("lost.wdq");
    wxTEST_DIALOG(Command(ID_MEASUREMENT_START), ExpectOptions(Choose({0}, path, 0, 1)),
                  ExpectMessage("Recording will be stopped automatically after 1 minutes"));
    bool reported = false;
    wxTEST_DIALOG(WaitFor([&] { return reported; }, 10),
                  ExpectMessage("Connection to the data acquisition system was lost.\n\nRecorded "
                                "time: 00:00:02",
                                wxID_OK, [&] { reported = true; }));
    TheSetup().link.SetDriver(attached);
    EXPECT_TRUE(reported);
    std::string error;
    const auto f = test::ReadWdq(test::ReadBytes(path), error);
    ASSERT_TRUE(f) << error;
    EXPECT_EQ(f->ScanCount(), 1200);
}

TEST_F(MainWindowGuiTest, OpenAndNewChangeOnlyTheTitleAndTheRecentFiles) {
    const std::string any = dir.File("notes.txt");
    std::ofstream(any) << "not a recording";
    CTamixView* before = &View();
    SetOpenFilePicker([&](wxWindow*) { return wxString::FromUTF8(any); });
    Command(wxID_OPEN);
    SetOpenFilePicker(nullptr);
    EXPECT_EQ(test::MainFrame().GetTitle(), "notes.txt - Tamix Windows Application");
    EXPECT_EQ(&View(), before) << "the view (and any run) stays";
    EXPECT_EQ(test::App().docManager()->GetFileHistory()->GetHistoryFile(0),
              wxString::FromUTF8(any));
    EXPECT_EQ(test::ReadText(any), "not a recording");
    Command(wxID_SAVE);
    EXPECT_EQ(test::ReadText(any), "not a recording") << "saving never empties a file";
    Command(wxID_NEW);
    EXPECT_EQ(test::MainFrame().GetTitle(), "Tamix - Tamix Windows Application");
}

TEST_F(MainWindowGuiTest, SystemSetupKeysAreReadAtStartAndWrittenAtExit) {
    MeasurementSetup& setup = TheSetup();
    const int port = setup.GetCommPort();
    const int eight = setup.GetEightChannels();
    IniFile& profile = test::App().profile();
    profile.SetInt("System setup", "port", 7);
    profile.SetInt("System setup", "chn8", 1);
    test::App().LoadSystemSetup();
    EXPECT_EQ(setup.commPort, 8);
    EXPECT_TRUE(CommandUi(ID_MEASUREMENT_EIGHTCHANNELS).second);
    profile.SetInt("System setup", "port", 8);
    test::App().LoadSystemSetup();
    EXPECT_EQ(setup.commPort, 1);
    test::App().SaveSystemSetup();
    const IniFile written(test::GuiTempDir() + "/tamix.INI");
    EXPECT_EQ(written.GetInt("System setup", "port", -5), 0);
    EXPECT_EQ(written.GetInt("System setup", "chn8", -5), 1);
    setup.SetCommPort(port);
    setup.SetEightChannels(eight);
}

TEST_F(MainWindowGuiTest, EightChannelsTogglesItsCheckMark) {
    const int before = TheSetup().GetEightChannels();
    Command(ID_MEASUREMENT_EIGHTCHANNELS);
    EXPECT_EQ(CommandUi(ID_MEASUREMENT_EIGHTCHANNELS), std::make_pair(false, before == 0));
    Command(ID_MEASUREMENT_EIGHTCHANNELS);
    EXPECT_EQ(TheSetup().GetEightChannels(), before);
}

TEST_F(MainWindowGuiTest, IconClicksChangeTheScalingOfTheirStrip) {
    CTamixView& view = View();
    view.RenderAll();
    const ViewLayout& l = view.layout();
    ASSERT_GT(l.stripHeight, 3);
    const Rect wedge = l.IconCell(0, 1);
    view.scaling().ResetAll();
    view.OnButtonDown(3, wedge.top + 1, MouseButton::Left);
    EXPECT_EQ(view.scaling().gain(0), 2);
    view.OnButtonDown(3, wedge.top + 1, MouseButton::Right);
    EXPECT_EQ(view.scaling().gain(0), 1);
    view.OnButtonDown(40, wedge.top + 1, MouseButton::Left);
    EXPECT_EQ(view.scaling().gain(0), 1);
}

// Figures for the drawing cost: a full repaint of a 1920-pixel-wide view with
// eight channels, and one 50 ms tick of new segments.
TEST_F(MainWindowGuiTest, DrawingCost) {
    MeasurementSetup& setup = TheSetup();
    setup.channelCount = 8;
    wxFrame& frame = test::MainFrame();
    const wxSize old = frame.GetSize();
    frame.SetSize(1935, 1000);
    WaitFor([] { return false; }, 0.3);
    CTamixView& view = View();
    for (int j = 0; j < kBufferRows; ++j) {
        for (int c = 0; c < 8; ++c)
            setup.displayColumns[j][c] = static_cast<int16_t>((j * 97 + c * 5000) % 60000 - 30000);
    }
    setup.displayColumn = 1920;
    const auto cpu = [] {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
    };
    const double t0 = cpu();
    constexpr int kRepaints = 10;
    for (int i = 0; i < kRepaints; ++i) view.RenderAll();
    const double full = (cpu() - t0) / kRepaints;
    setup.SetStatus(RunStatus::Running);
    setup.displayColumn = 100;
    view.m_nDrawnUpTo = 94;
    const double t1 = cpu();
    constexpr int kTicks = 200;
    for (int i = 0; i < kTicks; ++i) {
        view.m_nDrawnUpTo = 94;
        view.OnTimerTick();
    }
    const double tick = (cpu() - t1) / kTicks;
    setup.SetStatus(RunStatus::Idle);
    setup.displayColumn = 0;
    std::printf(
        "[ figures  ] full repaint 1920 px x 8 channels: %.2f ms CPU; tick of 6 columns x 8 "
        "channels: %.3f ms CPU\n",
        full, tick);
    RecordProperty("full_repaint_ms", std::to_string(full));
    RecordProperty("tick_ms", std::to_string(tick));
    EXPECT_LT(tick, 5.0);
    frame.SetSize(old);
}

}  // namespace
}  // namespace tamix
