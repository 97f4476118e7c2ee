#include <wx/dcmemory.h>
#include <wx/filedlg.h>
#include <wx/filehistory.h>
#include <wx/image.h>
#include <wx/menu.h>
#include <wx/settings.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>

#include "../support/GuiTest.h"
#include "../support/TempDir.h"
#include "../support/WdqReader.h"
#include "acquisition/MeasurementSetup.h"
#include "app/CMainFrame.h"
#include "app/CTamixDoc.h"
#include "control/MeasurementCommands.h"
#include "device/D2xxDriver.h"
#include "device/InstrumentSource.h"
#include "device/SignalGenerator.h"
#include "device/SimulatedDriver.h"
#include "recording/OpenRecording.h"
#include "recording/WdqWriter.h"
#include "view/TracePalette.h"
#include "view/wx/CTamixView.h"
#include "view/wx/SignalCanvas.h"

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
                  ExpectMessage("Recording will be stopped automatically after 1 minute"));
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

    // Closing asks first; No keeps the run going.
    wxTEST_DIALOG(test::MainFrame().Close(false), ExpectMessage(kQuitDuringRun, wxID_NO));
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
                  ExpectMessage("Recording will be stopped automatically after 1.2 seconds"));
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
    // No unit attached: the notice, read before the run would begin, then why
    // it failed; an existing file is kept.
    NullDriver none;
    D2xxDriver* attached = TheSetup().link.Driver();
    TheSetup().link.SetDriver(&none);
    wxTEST_DIALOG(
        Command(ID_MEASUREMENT_START), ExpectOptions(Choose({0}, existing, 0, 1)),
        ExpectMessage("File exists. Overwrite?", wxID_YES),
        ExpectMessage("Recording will be stopped automatically after 1 minute"),
        ExpectMessage("Can't find proper data acquisition system.\n\nCheck power, cable and "
                      "communication port settings.\n\nUSB devices may need to be reconnected."));
    EXPECT_EQ(test::ReadText(existing), "precious");
    wxTEST_DIALOG(
        Command(ID_MEASUREMENT_START), ExpectOptions(Choose({0}, dir.File("nounit"), 0, 1)),
        ExpectMessage("Recording will be stopped automatically after 1 minute"),
        ExpectMessage("Can't find proper data acquisition system.\n\nCheck power, cable and "
                      "communication port settings.\n\nUSB devices may need to be reconnected."));
    TheSetup().link.SetDriver(attached);
    EXPECT_FALSE(std::filesystem::exists(dir.File("nounit.wdq")));
    wxTEST_DIALOG(Command(ID_MEASUREMENT_CALIBRATE),
                  ExpectMessage("This function is not implemented in this version."));
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
                  ExpectMessage("Recording will be stopped automatically after 1 minute"));
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

// Open shows a recording in a window of its own (see the review tests): the
// main window's view, title and run stay as they are, and Save writes nothing.
TEST_F(MainWindowGuiTest, OpenNewAndSaveLeaveTheMainWindowAlone) {
    const std::string any = dir.File("notes.txt");
    std::ofstream(any) << "not a recording";
    CTamixView* before = &View();
    std::string reason;
    ASSERT_FALSE(OpenRecording(any, reason));
    SetOpenFilePicker([&](wxWindow*) { return wxString::FromUTF8(any); });
    wxTEST_DIALOG(Command(wxID_OPEN), ExpectMessage(reason));
    SetOpenFilePicker(nullptr);
    EXPECT_EQ(test::MainFrame().GetTitle(), "Tamix - Tamix Windows Application");
    EXPECT_EQ(&View(), before) << "the view (and any run) stays";
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

// A TIRQEL is set up on its own panel: the simulated one must stream the
// inputs chosen for the run, and the file must hold exactly those signals.
TEST_F(MainWindowGuiTest, ASimulatedTirqelRecordsTheSelectedInputs) {
    InstrumentSource tirqel;
    tirqel.simulate = "A60089Rz";
    std::string error;
    ASSERT_TRUE(test::App().UseInstrument(tirqel, error)) << error;
    const std::string path = dir.File("tirqel.wdq");
    const std::vector<int> inputs = {0, 1, 4, 5};
    wxTEST_DIALOG(Command(ID_MEASUREMENT_START), ExpectOptions(Choose(inputs, path, 0, 0.02)),
                  ExpectMessage("Recording will be stopped automatically after 1.2 seconds"));
    const bool ended = WaitFor(Idle, 20);
    InstrumentSource kpr;
    kpr.simulate = "A30008SN";
    ASSERT_TRUE(test::App().UseInstrument(kpr, error)) << error;
    ASSERT_TRUE(ended);
    std::string readError;
    const auto f = test::ReadWdq(test::ReadBytes(path), readError);
    ASSERT_TRUE(f) << readError;
    ASSERT_EQ(f->channelCount, 4);
    EXPECT_DOUBLE_EQ(f->period, 0.001);
    EXPECT_GE(f->ScanCount(), 1200);
    for (int64_t scan = 0; scan < f->ScanCount(); ++scan) {
        for (std::size_t k = 0; k < inputs.size(); ++k) {
            const int16_t want =
                SignalGenerator::IntendedSample(inputs[k], static_cast<double>(scan) * 0.001, 4);
            ASSERT_EQ(f->samples[scan * 4 + k], RoundWdqSample(want))
                << "scan " << scan << " input " << inputs[k];
        }
    }
}

// The pointer's readout at a point of the sweep is the value in the file, and
// a marker is drawn at the column that gathered its scan.
TEST_F(MainWindowGuiTest, ReadoutAndMarkersMatchTheRecording) {
    const std::string path = dir.File("readout.wdq");
    wxTEST_DIALOG(Command(ID_MEASUREMENT_START), ExpectOptions(Choose({0, 2}, path, 0, 1)),
                  ExpectMessage("Recording will be stopped automatically after 1 minute"));
    MeasurementSetup& setup = TheSetup();
    ASSERT_TRUE(WaitFor([&] { return setup.displayColumn.load() > 60; }, 10));
    wxTEST_DIALOG(Command(ID_TOOLS_ADDMARKER),
                  test::ExpectMarker("probe on", "1. marker comment:"));
    const int64_t markerScan = setup.markers.markerPos[1];
    ASSERT_TRUE(WaitFor([&] { return setup.displayColumn.load() > 120; }, 10));
    // Past the first second, which a stop would otherwise leave unrecorded.
    ASSERT_TRUE(WaitFor([&] { return setup.scanLoops.load() > 520; }, 10));
    EXPECT_EQ(CommandUi(ID_MEASUREMENT_STOP).first, true);
    wxTEST_DIALOG(
        Command(ID_MEASUREMENT_STOP),
        ExpectMessage("Measurement will be aborted.\nWould you like to continue?", wxID_YES));
    ASSERT_TRUE(WaitFor(Idle, 10));
    ASSERT_TRUE(WaitFor([] { return !View().worker().Joinable(); }, 5));
    EXPECT_EQ(View().StatusText(0),
              "Saved " + path + " (00:00:0" + std::to_string(setup.scanCount.load() / 500) + ")");

    std::string error;
    const auto f = test::ReadWdq(test::ReadBytes(path), error);
    ASSERT_TRUE(f) << error;
    CTamixView& view = View();
    view.RenderAll();
    const ViewLayout& l = view.layout();
    const int x = l.traces.left + 50;
    const int y = l.strips[1].top + 5;
    const auto r = view.ReadoutAt(x, y);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->channel, 1);
    ASSERT_LT(r->scan, f->ScanCount());
    EXPECT_EQ(f->samples[r->scan * 2 + 1], RoundWdqSample(r->sample));
    EXPECT_NEAR(f->Value(r->scan, 1), r->value, 4 / 3276.8);
    EXPECT_DOUBLE_EQ(r->seconds, static_cast<double>(r->scan) * 0.002);
    view.OnPointer(x, y);
    EXPECT_EQ(view.StatusText(0).rfind("t = ", 0), 0u) << view.StatusText(0);

    // The marker's column: the one whose four scans include the marker's scan.
    int column = -1;
    for (int j = 0; j < setup.displayColumn.load(); ++j) {
        const int64_t first = setup.columnExtremes.firstScan[j];
        if (first <= markerScan && markerScan < first + 4) column = j;
    }
    ASSERT_GE(column, 0);
    const std::optional<int> mx = view.MarkerX(1);
    ASSERT_TRUE(mx);
    EXPECT_EQ(*mx, l.traces.left + column);
    const wxImage image = view.canvas()->BufferImage();
    const wxColour ink = view.theme().ink;
    const auto isInk = [&](int px, int py) {
        return image.GetRed(px, py) == ink.Red() && image.GetGreen(px, py) == ink.Green() &&
               image.GetBlue(px, py) == ink.Blue();
    };
    const int bottom = l.traces.top + l.stripHeight * l.channelCount;
    EXPECT_TRUE(isInk(*mx + 1, bottom - 4)) << "the marker's flag";
    EXPECT_EQ(view.TipAt(*mx, l.strips[0].top + l.stripHeight / 2), "Marker 1: probe on");
}

// Traces, zero lines and icons stand out from the window's background on any
// theme (run once more under a dark theme): measured on the view's pixels.
TEST_F(MainWindowGuiTest, ThemeTracesContrastWithTheBackground) {
    wxTEST_DIALOG(Command(ID_MEASUREMENT_START), ExpectOptions(Choose({0, 1, 2, 7}, "", 0, 1)),
                  ExpectMessage("WARNING: You've selected not to save data."));
    MeasurementSetup& setup = TheSetup();
    ASSERT_TRUE(WaitFor([&] { return setup.displayColumn.load() > 200; }, 10));
    CTamixView& view = View();
    view.RenderAll();
    const wxImage image = view.canvas()->BufferImage();
    const char* theme = std::getenv("GTK_THEME");
    const wxColour bgSystem = wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW);
    const Rgb bg{bgSystem.Red(), bgSystem.Green(), bgSystem.Blue()};
    if (theme != nullptr && std::string(theme).find("dark") != std::string::npos) {
        EXPECT_TRUE(IsDark(bg)) << "a dark theme gives a dark window";
    }
    const ViewLayout& l = view.layout();
    for (int c = 0; c < 4; ++c) {
        const Rect& s = l.strips[c];
        // The trace's pixels: those that stand out from the background (the
        // dotted zero line and the label lie outside the counted rows and columns).
        int clear = 0;
        for (int x = s.left + 4; x < s.left + 200; ++x) {
            for (int y = s.top + 20; y < s.bottom - 20; ++y) {
                if (y == (s.top + s.bottom) / 2) continue;
                const Rgb p{image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y)};
                clear += ContrastRatio(p, bg) >= kMinTraceContrast;
            }
        }
        EXPECT_GE(clear, 100) << "strip " << c << " shows no clear trace";
    }
    // The icons are drawn in the ink colour, which stands out from the background.
    const wxColour ink = view.theme().ink;
    EXPECT_GE(ContrastRatio({ink.Red(), ink.Green(), ink.Blue()}, bg), 7.0);
    int inkPixels = 0;
    for (int x = 0; x < kIconColumnWidth; ++x) {
        for (int y = l.strips[0].top; y < l.strips[0].bottom; ++y) {
            inkPixels += image.GetRed(x, y) == ink.Red() && image.GetGreen(x, y) == ink.Green() &&
                         image.GetBlue(x, y) == ink.Blue();
        }
    }
    EXPECT_GT(inkPixels, 30);
    if (const char* out = std::getenv("TAMIX_SCREENSHOT_DIR")) {
        if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr)
            wxImage::AddHandler(new wxPNGHandler);
        const bool dark = IsDark(bg);
        image.SaveFile(std::string(out) + (dark ? "/main-window-dark.png" : "/main-window.png"),
                       wxBITMAP_TYPE_PNG);
    }
    Command(ID_MEASUREMENT_STOP);
    EXPECT_TRUE(WaitFor(Idle, 10));
}

TEST_F(MainWindowGuiTest, TheTimerRunsOnlyDuringARun) {
    ASSERT_TRUE(WaitFor([] { return !View().canvas()->timerRunning(); }, 5));
    wxTEST_DIALOG(Command(ID_MEASUREMENT_START), ExpectOptions(Choose({0}, "", 0, 1)),
                  ExpectMessage("WARNING: You've selected not to save data."));
    EXPECT_TRUE(View().canvas()->timerRunning());
    Command(ID_MEASUREMENT_STOP);
    EXPECT_TRUE(WaitFor([] { return Idle() && !View().canvas()->timerRunning(); }, 10));
}

TEST_F(MainWindowGuiTest, MenusShowTheirKeysAndTheAboutBoxItsVersion) {
    wxMenuBar* bar = test::MainFrame().GetMenuBar();
    EXPECT_EQ(bar->FindItem(ID_MEASUREMENT_PAUSE)->GetItemLabel(), "&Pause\tP");
    EXPECT_EQ(bar->FindItem(ID_TOOLS_ADDMARKER)->GetItemLabel(), "&Add Marker\tSpace");
    EXPECT_EQ(test::KeysMissingFromTable(test::MainFrame()), std::vector<std::string>{});
    CAboutDlg about(&test::MainFrame());
    EXPECT_EQ(about.FindWindow(CAboutDlg::kVersionLabel)->GetLabel(), "Version " TAMIX_VERSION);
}

}  // namespace
}  // namespace tamix
