// The review window of a recording of all eight inputs: every strip says its
// input, every value under the pointer is readable beside its strip's label,
// marker flags never cover each other, a marker row the list cuts gives its
// whole text as a tip; and a recording that is still being written says so.
#include <wx/dcmemory.h>
#include <wx/listbox.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "../support/ChildProcess.h"
#include "../support/GuiTest.h"
#include "../support/TempDir.h"
#include "base/ChannelLabel.h"
#include "base/MarkerTable.h"
#include "base/Utf8Text.h"
#include "recording/OutputFile.h"
#include "recording/WdqWriter.h"
#include "view/ReviewReadout.h"
#include "view/TimeAxis.h"
#include "view/wx/CReviewFrame.h"

namespace tamix {
namespace {

using test::Command;
using test::WaitFor;

constexpr int kChannels = 8;
constexpr int64_t kScans = 20000;
constexpr double kPeriod = 0.002;

int16_t SampleAt(int64_t scan, int k) {
    return static_cast<int16_t>(((scan * 37 + k * 4001) % 60000 - 30000) & ~3);
}
double ValueAt(int64_t scan, int k) {
    // 3276.8 counts per volt; channel k reads k + 1 per volt and -k at 0 V.
    return SampleAt(scan, k) / 3276.8 * (k + 1.0) - k;
}

const std::string kLongComment =
    "Valve V3 opened by hand after the pressure alarm; flow meter reading in the log";

struct MarkerAt {
    int64_t scan;
    std::string comment;
};
// Six markers four scans apart (one pixel of the whole recording), then two
// more a hundred scans apart, one with a long comment.
const std::vector<MarkerAt> kMarkers = {
    {0, "Acquisition start"}, {10000, "valve 1 open"}, {10004, "valve 2 open"},
    {10008, "valve 3 open"},  {10012, "valve 4 open"}, {10016, "valve 5 open"},
    {10020, "valve 6 open"},  {15000, kLongComment},   {15100, "pump on"}};

void WriteRecording(const std::string& path) {
    std::vector<ChannelInfo> channels(kChannels);
    for (int k = 0; k < kChannels; ++k) {
        CopyText(channels[static_cast<std::size_t>(k)].name, "chn", kNameChars);
        CopyText(channels[static_cast<std::size_t>(k)].unit, "Volt", kUnitChars);
        channels[static_cast<std::size_t>(k)].valueAt1V = k + 1.0;
        channels[static_cast<std::size_t>(k)].valueAt0V = -k;
    }
    auto markers = std::make_unique<MarkerTable>();
    for (std::size_t m = 0; m < kMarkers.size(); ++m) {
        markers->markerPos[m] = kMarkers[m].scan;
        CopyText(markers->markerText[m], kMarkers[m].comment, kCommentChars);
    }
    std::string error;
    auto file = DefaultFileOpener().Create(path, error);
    ASSERT_TRUE(file) << error;
    std::array<uint8_t, kWdqHeaderBytes> header{};
    BuildWdqHeader(header, kScans, kChannels, kPeriod, channels, 1700000000);
    std::vector<uint8_t> bytes(static_cast<std::size_t>(kScans) * kChannels * 2);
    for (int64_t s = 0; s < kScans; ++s) {
        for (int k = 0; k < kChannels; ++k) {
            PutWdqSample(&bytes[static_cast<std::size_t>(s * kChannels + k) * 2], SampleAt(s, k));
        }
    }
    const auto count = static_cast<int>(kMarkers.size());
    ASSERT_TRUE(file->Write(header.data(), header.size()) &&
                file->Write(bytes.data(), bytes.size()) &&
                WriteWdqTrailer(*file, *markers, count, channels, 1700000000) &&
                PatchWdqDataSize(*file, bytes.size()) && file->Close())
        << file->Error();
}

wxString ExpectedValueText(double value, const char* unit) {
    char number[32];
    std::snprintf(number, sizeof number, "%.4g", value);
    return "= " + wxString(number) + " " + unit;
}

void Mouse(wxWindow& window, wxEventType type, int x, int y) {
    wxMouseEvent event(type);
    event.m_x = x;
    event.m_y = y;
    event.SetEventObject(&window);
    window.ProcessWindowEvent(event);
}

CReviewFrame* NewestReview() {
    CReviewFrame* newest = nullptr;
    for (wxWindow* w : wxTopLevelWindows) {
        if (auto* f = dynamic_cast<CReviewFrame*>(w); f && !f->IsBeingDeleted()) newest = f;
    }
    return newest;
}

// Flags apart from each other and from the first strip's label, inside the
// traces and above that strip's lower edge value.
void ExpectFlagsApart(ReviewCanvas& canvas) {
    const std::vector<ReviewCanvas::Label>& flags = canvas.flags();
    const ViewLayout& l = canvas.layout();
    for (std::size_t i = 0; i < flags.size(); ++i) {
        const wxRect& box = flags[i].box;
        EXPECT_GE(box.x, l.traces.left) << flags[i].text;
        EXPECT_LE(box.GetRight(), l.traces.right) << flags[i].text;
        EXPECT_FALSE(box.Intersects(canvas.nameBoxes()[0])) << flags[i].text;
        EXPECT_LT(box.GetBottom(), l.strips[0].bottom) << flags[i].text;
        for (std::size_t j = 0; j < i; ++j) {
            EXPECT_FALSE(box.Intersects(flags[j].box)) << flags[i].text << " / " << flags[j].text;
        }
    }
}

class ReviewLabelsGuiTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir = std::make_unique<test::TempDir>();
        path = dir->File("eight.wdq");
        WriteRecording(path);
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
    }

    CReviewFrame& OpenReview(const std::string& file) {
        SetOpenFilePicker([&](wxWindow*) { return wxString::FromUTF8(file); });
        Command(wxID_OPEN);
        CReviewFrame* frame = NewestReview();
        EXPECT_TRUE(frame);
        EXPECT_TRUE(WaitFor([&] { return frame->Ready(); }, 30));
        frame->canvas().RenderAll();
        return *frame;
    }

    static std::unique_ptr<test::TempDir> dir;
    static std::string path;
    test::TempDir temp;
};

std::unique_ptr<test::TempDir> ReviewLabelsGuiTest::dir;
std::string ReviewLabelsGuiTest::path;

TEST_F(ReviewLabelsGuiTest, EveryStripSaysItsInputAndEveryValueIsReadable) {
    CReviewFrame& frame = OpenReview(path);
    ReviewCanvas& canvas = frame.canvas();
    const ViewLayout& l = canvas.layout();
    ASSERT_EQ(l.channelCount, kChannels);
    const char* const titles[kChannels] = {"1: chn [Volt]", "2: chn [Volt]", "3: chn [Volt]",
                                           "4: chn [Volt]", "A: chn [Volt]", "B: chn [Volt]",
                                           "C: chn [Volt]", "D: chn [Volt]"};
    for (std::size_t c = 0; c < kChannels; ++c) {
        EXPECT_EQ(ChannelTitle(canvas.shownChannels()[c], c), titles[c]);
    }

    const int column = 300;
    Mouse(canvas, wxEVT_MOTION, l.traces.left + column, l.strips[5].top + 9);
    const int64_t scan = canvas.viewport().ScanAtColumn(column);
    EXPECT_EQ(frame.StatusText(CReviewFrame::kReadout),
              "t = " + TimeLabel(static_cast<double>(scan) * kPeriod, 0.001));
    const std::vector<ReviewCanvas::Label> values = canvas.ReadoutLabels();
    ASSERT_EQ(values.size(), static_cast<std::size_t>(kChannels));
    const wxRect client(wxPoint(0, 0), canvas.GetClientSize());
    for (std::size_t k = 0; k < values.size(); ++k) {
        const wxRect& box = values[k].box;
        const Rect& strip = l.strips[k];
        EXPECT_EQ(values[k].text, ExpectedValueText(ValueAt(scan, static_cast<int>(k)), "Volt"));
        EXPECT_TRUE(client.Contains(box)) << k;
        EXPECT_GE(box.y, strip.top) << k;
        EXPECT_LT(box.GetBottom(), strip.bottom) << k;
        EXPECT_LT(box.GetRight(), strip.right) << k;
        for (const wxRect& name : canvas.nameBoxes()) EXPECT_FALSE(box.Intersects(name)) << k;
        for (std::size_t j = 0; j < k; ++j) EXPECT_FALSE(box.Intersects(values[j].box)) << k;
    }

    // Drawn over the buffer, each in its channel's colour.
    wxBitmap shown(canvas.buffer().ConvertToImage());
    {
        wxMemoryDC dc(shown);
        canvas.DrawReadout(dc);
    }
    const wxImage image = shown.ConvertToImage();
    for (std::size_t k = 0; k < values.size(); ++k) {
        const wxColour ink = canvas.theme().trace[ColourSlot(canvas.shownChannels()[k], k)];
        int inked = 0;
        const wxRect& box = values[k].box;
        for (int y = box.y; y <= box.GetBottom(); ++y) {
            for (int x = box.x; x <= box.GetRight(); ++x) {
                inked += image.GetRed(x, y) == ink.Red() && image.GetGreen(x, y) == ink.Green() &&
                         image.GetBlue(x, y) == ink.Blue();
            }
        }
        EXPECT_GT(inked, 10) << "value " << k << " is drawn";
    }

    // Off the traces the values go.
    Mouse(canvas, wxEVT_MOTION, 2, l.strips[0].top + 3);
    EXPECT_TRUE(canvas.ReadoutLabels().empty());
}

TEST_F(ReviewLabelsGuiTest, MarkerFlagsNeverCoverEachOther) {
    CReviewFrame& frame = OpenReview(path);
    ReviewCanvas& canvas = frame.canvas();
    ExpectFlagsApart(canvas);
    // The whole recording puts the six valve markers within two pixels: not
    // all have a flag, and the tip at their line names them all.
    const std::optional<int> x = canvas.MarkerX(1);
    ASSERT_TRUE(x);
    const wxString tip = canvas.MarkerTip(*x);
    for (int m = 1; m <= 6; ++m) {
        EXPECT_TRUE(tip.Contains(wxString::Format("Marker %d: valve %d open", m, m))) << tip;
    }

    // Six pixels a scan: 24 between two markers, room for the number, not the comment.
    ReviewViewport& v = canvas.viewport();
    v.Zoom(static_cast<double>(kScans) * 6 / v.Columns(), 0);
    v.CentreOn(10010);
    canvas.ViewChanged();
    canvas.RenderAll();
    ExpectFlagsApart(canvas);
    std::vector<wxString> texts(kMarkers.size());
    for (const ReviewCanvas::Label& flag : canvas.flags()) texts[flag.index] = flag.text;
    for (std::size_t m = 1; m <= 5; ++m) EXPECT_EQ(texts[m], wxString::Format("%zu", m)) << m;
    EXPECT_EQ(texts[6], "6 valve 6 open") << "the last one keeps its comment";
}

TEST_F(ReviewLabelsGuiTest, TheMarkerListGivesACutRowItsWholeTextAsATip) {
    CReviewFrame& frame = OpenReview(path);
    wxListBox& list = frame.markerList();
    ASSERT_EQ(list.GetCount(), kMarkers.size());
    EXPECT_TRUE(list.GetString(7).EndsWith(wxString::FromUTF8(kLongComment)))
        << "the list holds the whole comment";
    EXPECT_EQ(frame.MarkerListTip(7), list.GetString(7));
    EXPECT_EQ(frame.MarkerListTip(8), "") << "a row that shows all of its text has no tip";
    EXPECT_EQ(frame.MarkerListTip(99), "");
    // The pointer over a row sets its tip.
    const auto rowAt = [&](int item) {
        for (int y = 0; y < list.GetClientSize().y; ++y) {
            if (list.HitTest(wxPoint(10, y)) == item) return y;
        }
        return -1;
    };
    const int longRow = rowAt(7);
    const int shortRow = rowAt(8);
    ASSERT_GE(longRow, 0);
    ASSERT_GE(shortRow, 0);
    Mouse(list, wxEVT_MOTION, 10, longRow);
    EXPECT_EQ(list.GetToolTipText(), list.GetString(7));
    Mouse(list, wxEVT_MOTION, 10, shortRow);
    EXPECT_EQ(list.GetToolTipText(), "");
}

// A recording that a recorder is still writing: opened by a real tamix-record
// run, it is "Being recorded", not cut short.
TEST_F(ReviewLabelsGuiTest, AFileStillBeingRecordedSaysSo) {
    const std::string out = temp.File("going.wdq");
    test::ChildProcess rec({TAMIX_RECORD_PATH, "--quiet", "--profile", temp.File("p.INI"),
                            "--simulate", "--inputs", "1,2", "--time", "60", out});
    ASSERT_TRUE(rec.Started());
    ASSERT_TRUE(WaitFor(
        [&] {
            std::error_code ec;
            return std::filesystem::exists(out, ec) &&
                   std::filesystem::file_size(out, ec) >= 1156 + 4 * 600;
        },
        20));
    {
        CReviewFrame& frame = OpenReview(out);
        const RecordingInfo& info = frame.reader().Info();
        EXPECT_TRUE(info.beingRecorded);
        EXPECT_EQ(frame.StatusText(CReviewFrame::kState),
                  wxString::Format("Being recorded: %lld scans so far",
                                   static_cast<long long>(info.scanCount)));
        frame.Destroy();
        ASSERT_TRUE(WaitFor([] { return NewestReview() == nullptr; }, 10));
    }
    rec.Signal(SIGINT);
    EXPECT_EQ(rec.ExitCode(), 0);
    CReviewFrame& done = OpenReview(out);
    EXPECT_FALSE(done.reader().Info().beingRecorded);
    EXPECT_TRUE(done.StatusText(CReviewFrame::kState).StartsWith("2 channels at 500 Hz"))
        << done.StatusText(CReviewFrame::kState);
}

}  // namespace
}  // namespace tamix
