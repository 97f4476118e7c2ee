// The review window on a real recording: the whole recording first, wheel
// zoom around the pointer, dragging and the scroll bar, the ends, markers by
// list and N/P, the readout against the file, export, and failures.
#include <wx/cmdline.h>
#include <wx/filehistory.h>
#include <wx/menu.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "../recording/ChainFiles.h"
#include "../support/GuiRecording.h"
#include "../support/GuiTest.h"
#include "../support/TempDir.h"
#include "../support/WdqReader.h"
#include "dialogs/wx/CMessageBox.h"
#include "recording/ExportSelection.h"
#include "recording/OpenRecording.h"
#include "recording/OutputFile.h"
#include "recording/RecordingExport.h"
#include "view/ReviewReadout.h"
#include "view/TimeAxis.h"
#include "view/TraceReadout.h"
#include "view/wx/CReviewFrame.h"

namespace tamix {
namespace {

using test::Command;
using test::ExpectMessage;
using test::WaitFor;

// A message box whose text starts with `prefix` (the system's reason follows).
class ExpectMessageStarting : public wxExpectModalBase<CMessageBox, ExpectMessageStarting> {
  public:
    explicit ExpectMessageStarting(std::string prefix) : m_prefix(std::move(prefix)) {}

  protected:
    int OnInvoked(CMessageBox* dlg) const override {
        const std::string text(dlg->GetMessage().utf8_str());
        EXPECT_EQ(text.rfind(m_prefix, 0), 0u) << text;
        EXPECT_GT(text.size(), m_prefix.size()) << "a reason follows the file";
        return wxID_OK;
    }

  private:
    std::string m_prefix;
};

// "= 1.234 Volt": a value as the readout should show it, formatted here.
wxString ExpectedValueText(double value, std::string_view unit) {
    char number[32];
    std::snprintf(number, sizeof number, "%.4g", value);
    while (!unit.empty() && unit.front() == ' ') unit.remove_prefix(1);
    return "= " + wxString::FromUTF8(number) + (unit.empty() ? "" : " ") +
           wxString::FromUTF8(unit.data(), unit.size());
}

CReviewFrame* NewestReview() {
    CReviewFrame* newest = nullptr;
    for (wxWindow* w : wxTopLevelWindows) {
        if (auto* f = dynamic_cast<CReviewFrame*>(w); f && !f->IsBeingDeleted()) newest = f;
    }
    return newest;
}

void ReviewCommand(CReviewFrame& frame, int id) {
    wxCommandEvent event(wxEVT_MENU, id);
    event.SetEventObject(&frame);
    frame.ProcessWindowEvent(event);
}

void Mouse(wxWindow& window, wxEventType type, int x, int y, bool leftDown = false, int wheel = 0) {
    wxMouseEvent event(type);
    event.m_x = x;
    event.m_y = y;
    event.m_leftDown = leftDown;
    event.m_wheelRotation = wheel;
    event.m_wheelDelta = 120;
    event.m_wheelAxis = wxMOUSE_WHEEL_VERTICAL;
    event.SetEventObject(&window);
    window.ProcessWindowEvent(event);
}

class ReviewGuiTest : public ::testing::Test {
  protected:
    // One recording for the whole suite: about 3.6 s of three inputs with two markers.
    static void SetUpTestSuite() {
        dir = std::make_unique<test::TempDir>();
        path = dir->File("review.wdq");
        test::RecordWithMarkers(path, {0, 2, 5}, 1800, {{500, "valve open"}, {1300, "valve shut"}});
    }
    static void TearDownTestSuite() { dir.reset(); }

    void TearDown() override {
        std::vector<CReviewFrame*> open;
        for (wxWindow* w : wxTopLevelWindows) {
            if (auto* f = dynamic_cast<CReviewFrame*>(w)) open.push_back(f);
        }
        for (CReviewFrame* f : open) f->Destroy();
        WaitFor([] { return NewestReview() == nullptr; }, 10);
        SetOpenFilePicker(nullptr);
        SetExportFilePicker(nullptr);
    }

    // Opens the recording as File > Open does and waits for its overview.
    CReviewFrame& OpenReview(const std::string& file) {
        SetOpenFilePicker([&](wxWindow*) { return wxString::FromUTF8(file); });
        Command(wxID_OPEN);
        CReviewFrame* frame = NewestReview();
        EXPECT_TRUE(frame);
        EXPECT_TRUE(WaitFor([&] { return frame->Ready(); }, 30));
        frame->canvas().RenderAll();
        return *frame;
    }

    static test::WdqFile File() {
        std::string error;
        auto f = test::ReadWdq(test::ReadBytes(path), error);
        EXPECT_TRUE(f) << error;
        return *f;
    }

    static std::unique_ptr<test::TempDir> dir;
    static std::string path;
    test::TempDir temp;
};

std::unique_ptr<test::TempDir> ReviewGuiTest::dir;
std::string ReviewGuiTest::path;

TEST_F(ReviewGuiTest, OpensTheWholeRecordingThenZoomsPansAndGoesToTheEnds) {
    const test::WdqFile f = File();
    CReviewFrame& frame = OpenReview(path);
    EXPECT_EQ(test::KeysMissingFromTable(frame), std::vector<std::string>{});
    EXPECT_EQ(test::App().docManager()->GetFileHistory()->GetHistoryFile(0),
              wxString::FromUTF8(path));
    ReviewCanvas& canvas = frame.canvas();
    ReviewViewport& v = canvas.viewport();
    const ViewLayout& l = canvas.layout();
    EXPECT_TRUE(v.ShowsAll());
    EXPECT_EQ(v.TotalScans(), f.ScanCount());
    EXPECT_EQ(l.channelCount, 3);
    EXPECT_EQ(v.Columns(), l.traceWidth);
    EXPECT_FALSE(frame.StatusText(CReviewFrame::kState).empty());

    // The wheel zooms around the pointer: the scan under it stays under it.
    const int x = l.traces.left + l.traceWidth / 3;
    const int64_t under = v.ScanAtColumn(x - l.traces.left);
    Mouse(canvas, wxEVT_MOUSEWHEEL, x, l.strips[0].top + 10, false, 3 * 120);
    EXPECT_NEAR(static_cast<double>(v.Span()), static_cast<double>(f.ScanCount()) / 1.953125, 2);
    EXPECT_NEAR(static_cast<double>(v.ScanAtColumn(x - l.traces.left)), static_cast<double>(under),
                2);
    Mouse(canvas, wxEVT_MOUSEWHEEL, x, l.strips[0].top + 10, false, 120 * 4);
    const int64_t span = v.Span();
    EXPECT_LT(span, f.ScanCount() / 4);

    // Dragging to the left shows later scans, by the dragged columns.
    const int64_t first = v.First();
    Mouse(canvas, wxEVT_LEFT_DOWN, x, l.strips[1].top + 10, true);
    Mouse(canvas, wxEVT_MOTION, x - 100, l.strips[1].top + 10, true);
    Mouse(canvas, wxEVT_LEFT_UP, x - 100, l.strips[1].top + 10);
    EXPECT_NEAR(static_cast<double>(v.First() - first),
                100.0 * static_cast<double>(span) / v.Columns(), 1);
    EXPECT_EQ(v.Span(), span);
    EXPECT_EQ(frame.scrollBar().GetThumbPosition(), static_cast<int>(v.First()));

    // The scroll bar moves the view; Home and End go to the ends at the same zoom.
    wxScrollEvent scroll(wxEVT_SCROLL_THUMBTRACK, frame.scrollBar().GetId(), 40, wxHORIZONTAL);
    scroll.SetEventObject(&frame.scrollBar());
    frame.scrollBar().ProcessWindowEvent(scroll);
    EXPECT_EQ(v.First(), 40);
    ReviewCommand(frame, CReviewFrame::ID_REVIEW_END);
    EXPECT_EQ(v.EndScan(), f.ScanCount());
    EXPECT_EQ(v.Span(), span);
    ReviewCommand(frame, CReviewFrame::ID_REVIEW_HOME);
    EXPECT_EQ(v.First(), 0);
    ReviewCommand(frame, CReviewFrame::ID_REVIEW_WHOLE);
    EXPECT_TRUE(v.ShowsAll());

    // The traces are drawn: each strip has pixels in its channel's colour.
    canvas.RenderAll();
    const wxImage image = canvas.buffer().ConvertToImage();
    for (int c = 0; c < 3; ++c) {
        const wxColour colour = canvas.theme().trace[ColourSlot(
            canvas.shownChannels()[static_cast<std::size_t>(c)], static_cast<std::size_t>(c))];
        int traced = 0;
        const Rect& s = l.strips[c];
        for (int px = s.left + 2; px < s.right - 2; ++px) {
            for (int py = s.top + 2; py < s.bottom - 2; ++py) {
                traced += image.GetRed(px, py) == colour.Red() &&
                          image.GetGreen(px, py) == colour.Green() &&
                          image.GetBlue(px, py) == colour.Blue();
            }
        }
        EXPECT_GT(traced, l.traceWidth / 2) << "strip " << c;
    }
}

TEST_F(ReviewGuiTest, MarkersAreListedAndNAndPJumpToThem) {
    const test::WdqFile f = File();
    ASSERT_EQ(f.markers.size(), 3u);
    CReviewFrame& frame = OpenReview(path);
    const std::vector<RecordingMarker>& markers = frame.reader().Info().markers;
    ASSERT_EQ(markers.size(), 3u);
    EXPECT_EQ(markers[1].comment, "valve open");
    ASSERT_EQ(frame.markerList().GetCount(), 3u);
    EXPECT_TRUE(frame.markerList().GetString(2).EndsWith("valve shut"));
    ReviewViewport& v = frame.canvas().viewport();
    v.Zoom(16, 0);
    frame.canvas().ViewChanged();
    const auto centred = [&](std::size_t m) {
        const int64_t scan = markers[m].scan;
        return frame.currentMarker() == m &&
               frame.markerList().GetSelection() == static_cast<int>(m) && v.First() <= scan &&
               scan < v.EndScan() && frame.canvas().MarkerX(m).has_value();
    };
    ReviewCommand(frame, CReviewFrame::ID_REVIEW_NEXTMARKER);
    EXPECT_TRUE(centred(1));
    EXPECT_NEAR(static_cast<double>(v.First() + v.Span() / 2), static_cast<double>(markers[1].scan),
                1);
    ReviewCommand(frame, CReviewFrame::ID_REVIEW_NEXTMARKER);
    EXPECT_TRUE(centred(2));
    ReviewCommand(frame, CReviewFrame::ID_REVIEW_NEXTMARKER);
    EXPECT_TRUE(centred(2)) << "past the last marker nothing moves";
    ReviewCommand(frame, CReviewFrame::ID_REVIEW_PREVMARKER);
    EXPECT_TRUE(centred(1));
    ReviewCommand(frame, CReviewFrame::ID_REVIEW_PREVMARKER);
    EXPECT_TRUE(centred(0));
    // Choosing from the list jumps as well; panning forgets the current marker.
    wxCommandEvent choose(wxEVT_LISTBOX, frame.markerList().GetId());
    choose.SetInt(2);
    choose.SetEventObject(&frame.markerList());
    frame.markerList().ProcessWindowEvent(choose);
    EXPECT_TRUE(centred(2));
    ReviewCommand(frame, CReviewFrame::ID_REVIEW_HOME);
    EXPECT_FALSE(frame.currentMarker());
}

TEST_F(ReviewGuiTest, TheReadoutShowsTheFileValuesUnderThePointer) {
    const test::WdqFile f = File();
    CReviewFrame& frame = OpenReview(path);
    ReviewCanvas& canvas = frame.canvas();
    canvas.viewport().Zoom(4, 0);
    canvas.ViewChanged();
    canvas.RenderAll();
    const ViewLayout& l = canvas.layout();
    const int column = 123;
    Mouse(canvas, wxEVT_MOTION, l.traces.left + column, l.strips[2].top + 7);
    ReviewReadout r;
    ASSERT_TRUE(ReadoutAtColumn(frame.reader(), canvas.viewport(), column, r));
    EXPECT_EQ(r.scan, canvas.viewport().ScanAtColumn(column));
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(r.values[static_cast<std::size_t>(k)], f.Value(r.scan, k), 1e-9) << k;
    }
    EXPECT_EQ(frame.StatusText(CReviewFrame::kReadout), "t = " + TimeLabel(r.seconds, 0.001));
    // Each value beside its strip's label, in four significant digits.
    const std::vector<ReviewCanvas::Label> values = canvas.ReadoutLabels();
    ASSERT_EQ(values.size(), 3u);
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(values[k].text, ExpectedValueText(f.Value(r.scan, static_cast<int>(k)),
                                                    frame.reader().Info().channels[k].Unit()));
    }
    Mouse(canvas, wxEVT_MOTION, 2, l.strips[0].top + 3);
    EXPECT_EQ(frame.StatusText(CReviewFrame::kReadout), "") << "no readout on the icons";
    EXPECT_TRUE(canvas.ReadoutLabels().empty());
}

TEST_F(ReviewGuiTest, ExportWritesCsvAndNamesTheFileOfAFailure) {
    const test::WdqFile f = File();
    CReviewFrame& frame = OpenReview(path);
    const std::string csv = temp.File("out.csv");
    SetExportFilePicker([&](wxWindow*, const wxString&) { return wxString::FromUTF8(csv); });
    ReviewCommand(frame, CReviewFrame::ID_REVIEW_EXPORT);
    std::ifstream in(csv);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line.rfind("time_s,", 0), 0u) << line;
    int64_t rows = 0;
    while (std::getline(in, line)) {
        if (rows == 777) {
            std::stringstream fields(line);
            std::string field;
            std::getline(fields, field, ',');
            EXPECT_NEAR(std::stod(field), 777 * 0.002, 1e-9);
            for (int k = 0; k < 3; ++k) {
                std::getline(fields, field, ',');
                EXPECT_NEAR(std::stod(field), f.Value(777, k), 1e-3) << k;
            }
        }
        ++rows;
    }
    EXPECT_EQ(rows, f.ScanCount());
    EXPECT_TRUE(std::filesystem::exists(temp.File("out_markers.csv")));
    EXPECT_TRUE(frame.StatusText(CReviewFrame::kState).StartsWith("Exported "));

    // EDF+ by the name's extension (readers check it in the export tests).
    const std::string edf = temp.File("out.edf");
    SetExportFilePicker([&](wxWindow*, const wxString&) { return wxString::FromUTF8(edf); });
    ReviewCommand(frame, CReviewFrame::ID_REVIEW_EXPORT);
    const std::vector<uint8_t> edfBytes = test::ReadBytes(edf);
    ASSERT_GT(edfBytes.size(), 256u);
    EXPECT_EQ(std::string(edfBytes.begin() + 192, edfBytes.begin() + 197), "EDF+C");

    const std::string txt = temp.File("out.txt");
    SetExportFilePicker([&](wxWindow*, const wxString&) { return wxString::FromUTF8(txt); });
    wxTEST_DIALOG(ReviewCommand(frame, CReviewFrame::ID_REVIEW_EXPORT),
                  ExpectMessage(txt + ": choose a name ending in .csv or .edf"));
    const std::string nowhere = temp.File("missing/out.csv");
    SetExportFilePicker([&](wxWindow*, const wxString&) { return wxString::FromUTF8(nowhere); });
    wxTEST_DIALOG(ReviewCommand(frame, CReviewFrame::ID_REVIEW_EXPORT),
                  ExpectMessageStarting(nowhere + ": "));
}

// The span between the cursors, of the channels typed, as tamix-file export
// --channels writes them: the cursors' own scans, the later one included.
TEST_F(ReviewGuiTest, TheCursorsSpanExportsTheChosenChannels) {
    const test::WdqFile f = File();
    CReviewFrame& frame = OpenReview(path);
    frame.canvas().PlaceCursor(0, 1500);
    frame.canvas().PlaceCursor(1, 1000);
    const std::string csv = temp.File("span.csv");
    SetExportFilePicker([&](wxWindow*, const wxString&) { return wxString::FromUTF8(csv); });
    SetChannelAsker([](wxWindow*) { return std::optional<wxString>("3,1"); });
    ReviewCommand(frame, CReviewFrame::ID_REVIEW_EXPORTSPAN);
    SetChannelAsker(nullptr);
    std::ifstream in(csv);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(std::count(line.begin(), line.end(), ','), 2) << line;
    int64_t rows = 0;
    while (std::getline(in, line)) {
        std::stringstream fields(line);
        std::string field;
        std::getline(fields, field, ',');
        const int64_t scan = 1000 + rows;
        EXPECT_NEAR(std::stod(field), static_cast<double>(scan) * 0.002, 1e-9);
        for (const int k : {2, 0}) {
            std::getline(fields, field, ',');
            EXPECT_NEAR(std::stod(field), f.Value(scan, k), 1e-3) << scan << " " << k;
        }
        ++rows;
    }
    EXPECT_EQ(rows, 501);
}

// Another program cuts the open recording short (a new run onto the same name,
// `truncate -s 0`) while the main window records: the next zoom says so once,
// naming the file; the window stays and closes as usual, and the recording in
// the main window goes on and is completed.
TEST_F(ReviewGuiTest, AFileCutShortUnderTheWindowIsAMessageAndTheRunGoesOn) {
    const std::string copy = temp.File("changing.wdq");
    std::filesystem::copy_file(path, copy);
    const std::string running = temp.File("running.wdq");
    wxTEST_DIALOG(Command(cmd::ID_MEASUREMENT_START),
                  test::ExpectOptions(test::Choose({0, 1}, running, 0, 1)),
                  ExpectMessage("Recording will be stopped automatically after 1 minute"));
    MeasurementSetup& setup = TheSetup();
    ASSERT_TRUE(WaitFor([&] { return setup.scanCount.load() > 100; }, 30));

    CReviewFrame& frame = OpenReview(copy);
    std::filesystem::resize_file(copy, 0);
    const std::string changed = copy + ": the file was changed by another program";
    bool told = false;
    const auto zoomIn = [&] {
        ReviewCommand(frame, CReviewFrame::ID_REVIEW_ZOOMIN);
        frame.canvas().RenderAll();
        EXPECT_TRUE(WaitFor([&] { return told; }, 10));
    };
    wxTEST_DIALOG(zoomIn(), ExpectMessage(changed, wxID_OK, [&] { told = true; }));
    EXPECT_EQ(frame.StatusText(CReviewFrame::kState), wxString::FromUTF8(changed));
    // Told once: further views of the file show the reason without a box.
    ReviewCommand(frame, CReviewFrame::ID_REVIEW_WHOLE);
    frame.canvas().RenderAll();
    wxTheApp->Yield(true);
    EXPECT_TRUE(frame.IsShown());
    frame.Close();
    EXPECT_TRUE(WaitFor([] { return NewestReview() == nullptr; }, 10));

    const int64_t scans = setup.scanCount.load();
    EXPECT_TRUE(
        WaitFor([&] { return setup.scanCount.load() > std::max<int64_t>(scans + 200, 520); }, 30));
    wxTEST_DIALOG(
        Command(cmd::ID_MEASUREMENT_STOP),
        ExpectMessage("Measurement will be aborted.\nWould you like to continue?", wxID_YES));
    ASSERT_TRUE(WaitFor(
        [&] { return setup.Status() == RunStatus::Idle && !setup.workerActive.load(); }, 20));
    std::string error;
    const auto done = OpenRecording(running, error);
    ASSERT_TRUE(done) << error;
    EXPECT_FALSE(done->Info().incomplete);
    EXPECT_GT(done->Info().scanCount, scans + 200);
}

TEST_F(ReviewGuiTest, AForeignFileIsRefusedWithTheReaderReason) {
    const std::string notes = temp.File("notes.txt");
    std::ofstream(notes) << "not a recording";
    std::string reason;
    ASSERT_FALSE(OpenRecording(notes, reason));
    EXPECT_NE(reason.find(notes), std::string::npos);
    SetOpenFilePicker([&](wxWindow*) { return wxString::FromUTF8(notes); });
    const size_t before = test::App().docManager()->GetFileHistory()->GetCount();
    wxTEST_DIALOG(Command(wxID_OPEN), ExpectMessage(reason));
    EXPECT_EQ(NewestReview(), nullptr);
    EXPECT_EQ(test::App().docManager()->GetFileHistory()->GetCount(), before);
    EXPECT_EQ(test::MainFrame().GetTitle(), "Tamix - Tamix Windows Application");
}

TEST_F(ReviewGuiTest, ACutShortFileOpensAndSaysSo) {
    // The file as a crash would leave it: no trailer and a header that promises more.
    const std::string cut = temp.File("cut.wdq");
    std::vector<uint8_t> bytes = test::ReadBytes(path);
    const test::WdqFile f = File();
    bytes.resize(1156 + static_cast<std::size_t>(f.ScanCount() / 2) * 6 + 3);
    std::ofstream(cut, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    CReviewFrame& frame = OpenReview(cut);
    EXPECT_TRUE(frame.reader().Info().incomplete);
    EXPECT_EQ(frame.canvas().viewport().TotalScans(), f.ScanCount() / 2);
    EXPECT_TRUE(frame.StatusText(CReviewFrame::kState).StartsWith("Cut short: "))
        << frame.StatusText(CReviewFrame::kState);
}

// A text recording carries no calibration: its strips are fitted to its values,
// and the readout shows the values as written.
TEST_F(ReviewGuiTest, ATextRecordingOpensWithItsValues) {
    const std::string dat = temp.File("review.dat");
    {
        std::string error;
        auto wdq = OpenRecording(path, error);
        ASSERT_TRUE(wdq) << error;
        ExportSelection all;
        ASSERT_TRUE(SelectExport(wdq->Info(), std::nullopt, std::nullopt, "", all, error));
        ASSERT_TRUE(ExportText(*wdq, all, dat, DefaultFileOpener(), {}, error)) << error;
    }
    std::string error;
    auto text = OpenRecording(dat, error);
    ASSERT_TRUE(text) << error;
    CReviewFrame& frame = OpenReview(dat);
    EXPECT_EQ(frame.reader().Info().format, RecordingFormat::Text);
    ReviewCanvas& canvas = frame.canvas();
    const ViewLayout& l = canvas.layout();
    EXPECT_EQ(l.channelCount, 3);
    Mouse(canvas, wxEVT_MOTION, l.traces.left + 200, l.strips[0].top + 7);
    ReviewReadout r;
    ASSERT_TRUE(ReadoutAtColumn(*text, canvas.viewport(), 200, r));
    EXPECT_EQ(frame.StatusText(CReviewFrame::kReadout), "t = " + TimeLabel(r.seconds, 0.001));
    const std::vector<ReviewCanvas::Label> values = canvas.ReadoutLabels();
    ASSERT_EQ(values.size(), 3u);
    for (std::size_t k = 0; k < 3; ++k) {
        // The text holds the values as written, without a unit.
        EXPECT_EQ(values[k].text, ExpectedValueText(r.values[k], "")) << k;
    }
    // Fitted strips: every trace lies inside its strip's edge values.
    for (int c = 0; c < 3; ++c) {
        const EdgeValues edges =
            StripEdgeValues(l.strips[c], canvas.scaling().gain(c), canvas.scaling().offset(c),
                            canvas.shownChannels()[static_cast<std::size_t>(c)]);
        EXPECT_LE(edges.bottom, r.values[static_cast<std::size_t>(c)]) << c;
        EXPECT_GE(edges.top, r.values[static_cast<std::size_t>(c)]) << c;
    }
}

// A split run opens whole from any of its files, its title naming the chain;
// the markers, which each file keeps for itself, are not edited from the whole.
TEST_F(ReviewGuiTest, AChainOfFilesOpensAsOneRecordingFromAnyOfThem) {
    const auto paths = test::WriteChain(temp, test::ChainParts({900, 700, 800}, ".wdq"));
    for (const std::string& file : paths) {
        CReviewFrame& frame = OpenReview(file);
        EXPECT_EQ(frame.canvas().viewport().TotalScans(), 2400);
        EXPECT_EQ(frame.markerList().GetCount(), 6u);
        EXPECT_NE(frame.markerList().GetString(2).Find("Continued from run.wdq at scan 900"),
                  wxNOT_FOUND)
            << frame.markerList().GetString(2);
        const wxString title = wxString::FromUTF8(std::filesystem::path(file).filename().string()) +
                               " (chain of 3 files) - Review";
        EXPECT_TRUE(frame.GetTitle().StartsWith(title)) << frame.GetTitle();
        if (file == paths[1]) {
            wxTEST_DIALOG(ReviewCommand(frame, CReviewFrame::ID_REVIEW_ADDMARKER),
                          ExpectMessage(file + ": it is one of a chain of 3 files read as one "
                                               "recording, whose markers cannot be changed"));
            EXPECT_FALSE(frame.MarkersChanged());
        }
        frame.Close(true);
        ASSERT_TRUE(WaitFor([] { return NewestReview() == nullptr; }, 10));
    }
}

TEST_F(ReviewGuiTest, RecentFilesReopenIntoReview) {
    OpenReview(path).Close(true);
    ASSERT_TRUE(WaitFor([] { return NewestReview() == nullptr; }, 10));
    ASSERT_EQ(test::App().docManager()->GetFileHistory()->GetHistoryFile(0),
              wxString::FromUTF8(path));
    wxMenu* recent =
        test::MainFrame().GetMenuBar()->GetMenu(0)->FindItemByPosition(1)->GetSubMenu();
    ASSERT_TRUE(recent);
    ASSERT_GE(recent->GetMenuItemCount(), 1u);
    EXPECT_TRUE(recent->FindItemByPosition(0)->GetItemLabelText().Contains("review.wdq"));
    Command(wxID_FILE1);
    CReviewFrame* frame = NewestReview();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->reader().Info().fileName, path);
}

// `tamix FILE` names a recording to open; unknown options are still refused.
TEST_F(ReviewGuiTest, TheCommandLineTakesOneFile) {
    const auto parses = [](std::vector<const char*> args) {
        wxCmdLineParser parser(static_cast<int>(args.size()), const_cast<char**>(args.data()));
        test::App().OnInitCmdLine(parser);
        return parser.Parse(false) == 0;
    };
    EXPECT_TRUE(parses({"tamix", "run.wdq"}));
    EXPECT_TRUE(parses({"tamix", "--simulate", "A30008SN", "run.wdq"}));
    EXPECT_FALSE(parses({"tamix", "--bogus"}));
    EXPECT_FALSE(parses({"tamix", "a.wdq", "b.wdq"}));
}

}  // namespace
}  // namespace tamix
