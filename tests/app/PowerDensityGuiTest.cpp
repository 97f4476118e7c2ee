// The power density window on a real recording of the simulated unit: the peaks of
// its 1 Hz and 50 Hz sines, the readout under the pointer, the choice of
// channels and scales, the export, and the refusals.
#include <wx/filename.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>

#include "../support/GuiRecording.h"
#include "../support/GuiTest.h"
#include "../support/TempDir.h"
#include "view/PowerDensityPlot.h"
#include "view/wx/CPowerDensityFrame.h"

namespace tamix {
namespace {

using test::WaitFor;

// Collects what the window tells its caller instead of showing a box.
class NotedMessages final : public UserInterface {
  public:
    void ShowMessage(std::string_view text, Icon) override { messages.emplace_back(text); }
    bool AskYesNo(std::string_view, Answer) override { return false; }
    std::vector<std::string> messages;
};

// "1.000 Hz: 3.536 Volt rms, 12.3 dB" after the channel's label: the
// frequency and the RMS value, read as a user reads them.
std::pair<double, double> PeakNumbers(const wxString& row, const std::string& label) {
    const std::string text(row.utf8_str());
    EXPECT_EQ(text.rfind(label + "  ", 0), 0u) << text;
    const std::string rest = text.substr(label.size() + 2);
    const double hz = std::stod(rest);
    const std::size_t colon = rest.find(": ");
    EXPECT_NE(colon, std::string::npos) << text;
    const double rms = std::stod(rest.substr(colon + 2));
    return {hz, rms};
}

void Mouse(wxWindow& window, int x, int y) {
    wxMouseEvent event(wxEVT_MOTION);
    event.m_x = x;
    event.m_y = y;
    event.SetEventObject(&window);
    window.ProcessWindowEvent(event);
}

template <typename Control>
void Changed(Control& control, wxEventType type, int value) {
    wxCommandEvent event(type, control.GetId());
    event.SetInt(value);
    event.SetEventObject(&control);
    control.ProcessWindowEvent(event);
}

class PowerDensityGuiTest : public ::testing::Test {
  protected:
    // About 8.4 s of the 1 Hz sine (5 V) and the 50 Hz sine (1 V) at 500 Hz.
    static void SetUpTestSuite() {
        dir = std::make_unique<test::TempDir>();
        path = dir->File("power density.wdq");
        test::RecordWithMarkers(path, {0, 7}, 4200, {});
    }
    static void TearDownTestSuite() { dir.reset(); }

    void TearDown() override {
        std::vector<CPowerDensityFrame*> open;
        for (wxWindow* w : wxTopLevelWindows) {
            if (auto* f = dynamic_cast<CPowerDensityFrame*>(w)) open.push_back(f);
        }
        for (CPowerDensityFrame* f : open) f->Destroy();
        WaitFor(
            [] {
                return std::none_of(
                    wxTopLevelWindows.begin(), wxTopLevelWindows.end(),
                    [](wxWindow* w) { return dynamic_cast<CPowerDensityFrame*>(w); });
            },
            10);
        SetPowerDensityFilePicker(nullptr);
    }

    CPowerDensityFrame& Open(std::vector<std::size_t> channels) {
        NotedMessages ui;
        CPowerDensityFrame* frame =
            OpenPowerDensityWindow(&test::MainFrame(), path, 0, 4200, std::move(channels), ui);
        EXPECT_TRUE(frame);
        EXPECT_EQ(ui.messages, std::vector<std::string>{});
        EXPECT_TRUE(WaitFor([&] { return frame->Ready(); }, 30));
        return *frame;
    }

    static inline std::unique_ptr<test::TempDir> dir;
    static inline std::string path;
};

TEST_F(PowerDensityGuiTest, ShowsThePeaksAndTheLevelUnderThePointer) {
    CPowerDensityFrame& frame = Open({0});
    EXPECT_EQ(frame.GetTitle(), "Power density - power density.wdq");
    EXPECT_EQ(frame.NoteText(), "");
    ASSERT_EQ(frame.peakList().GetCount(), kListedPeaks);
    // The strongest peak is the 5 V sine: 1 Hz and 5/√2 V RMS.
    const auto [hz, rms] = PeakNumbers(frame.peakList().GetString(0), "#1: chn");
    EXPECT_NEAR(hz, 1.0, 0.05);
    EXPECT_NEAR(rms, 5.0 / std::sqrt(2.0), 0.02);

    // The pointer over 1 Hz: the readout names the bin nearest to it (0.98 Hz
    // with bins 500/1024 Hz apart) and the channel's level there.
    const PowerDensity& psd = *frame.psd();
    ASSERT_EQ(psd.shape.segmentScans, 1024u);
    PowerDensityCanvas& canvas = frame.canvas();
    const PowerDensityPlot& plot = canvas.plot();
    const int y = plot.Area().top + plot.Area().height / 2;
    Mouse(canvas, plot.XOf(1.0), y);
    const std::string readout(frame.StatusText(CPowerDensityFrame::kReadout).utf8_str());
    const double level = 10 * std::log10(psd.channels[0].density[2]);
    char expected[64];
    std::snprintf(expected, sizeof expected, "0.98 Hz   #1: chn %.1f dB", level);
    EXPECT_EQ(readout, expected);
    EXPECT_GT(level, 0);  // 12.5 V² over 1.5 bins of 0.49 Hz: about +12 dB
    Mouse(canvas, plot.Area().left - 5, y);
    EXPECT_EQ(frame.StatusText(CPowerDensityFrame::kReadout), "");
}

TEST_F(PowerDensityGuiTest, ChannelsAndScalesAreChosenInTheWindow) {
    CPowerDensityFrame& frame = Open({0});
    // The second channel added: its 50 Hz sine of 1 V leads its own peaks,
    // listed after the first channel's.
    const unsigned before = frame.peakList().GetCount();
    frame.channelList().Check(1);
    Changed(frame.channelList(), wxEVT_CHECKLISTBOX, 1);
    ASSERT_GT(frame.peakList().GetCount(), before);
    const auto [hz, rms] = PeakNumbers(frame.peakList().GetString(before), "#2: chn");
    EXPECT_NEAR(hz, 50.0, 0.05);
    EXPECT_NEAR(rms, 1.0 / std::sqrt(2.0), 0.01);
    EXPECT_EQ(frame.canvas().shown(), (std::vector<std::size_t>{0, 1}));

    // Linear levels: the peaks give densities in Volt²/Hz.
    frame.levelChoice().SetSelection(0);
    Changed(frame.levelChoice(), wxEVT_RADIOBOX, 0);
    EXPECT_EQ(frame.canvas().plot().Level(), LevelScale::Linear);
    EXPECT_NE(frame.peakList().GetString(0).Find(wxString::FromUTF8("Volt\xC2\xB2/Hz")),
              wxNOT_FOUND);
    frame.frequencyChoice().SetSelection(1);
    Changed(frame.frequencyChoice(), wxEVT_RADIOBOX, 1);
    EXPECT_EQ(frame.canvas().plot().Frequency(), FrequencyScale::Logarithmic);
    EXPECT_EQ(frame.canvas().plot().MinFrequency(), frame.psd()->binHz);

    // Neither channel: no trace and no peaks.
    frame.channelList().Check(0, false);
    frame.channelList().Check(1, false);
    Changed(frame.channelList(), wxEVT_CHECKLISTBOX, 0);
    EXPECT_EQ(frame.peakList().GetCount(), 0u);
}

TEST_F(PowerDensityGuiTest, ExportsTheChannelsShownToCsv) {
    CPowerDensityFrame& frame = Open({1, 0});
    const std::string csv = dir->File("power density.csv");
    wxString suggested;
    SetPowerDensityFilePicker([&](wxWindow*, const wxString& suggestion) {
        suggested = suggestion;
        return wxString::FromUTF8(csv);
    });
    wxCommandEvent click(wxEVT_BUTTON, frame.exportButton().GetId());
    click.SetEventObject(&frame.exportButton());
    frame.exportButton().ProcessWindowEvent(click);
    EXPECT_EQ(suggested, "power density_psd.csv");
    std::ifstream in(csv);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "frequency_hz,#1: chn [Volt^2/Hz],#2: chn [Volt^2/Hz]");
    std::size_t lines = 0;
    while (std::getline(in, line)) ++lines;
    EXPECT_EQ(lines, frame.psd()->Bins());
    EXPECT_EQ(frame.StatusText(CPowerDensityFrame::kState),
              "Exported the power density of 2 channels to " + wxString::FromUTF8(csv));
    // Ctrl+E exports too.
    suggested.clear();
    wxKeyEvent key(wxEVT_KEY_DOWN);
    key.m_keyCode = 'E';
    key.SetControlDown(true);
    ASSERT_TRUE(frame.GetAcceleratorTable()->IsOk());
    EXPECT_EQ(frame.GetAcceleratorTable()->GetCommand(key),
              CPowerDensityFrame::ID_POWER_DENSITY_EXPORT);
    wxCommandEvent command(wxEVT_MENU, CPowerDensityFrame::ID_POWER_DENSITY_EXPORT);
    frame.ProcessWindowEvent(command);
    EXPECT_EQ(suggested, "power density_psd.csv");
}

TEST_F(PowerDensityGuiTest, RefusalsNameTheFileAndTheReason) {
    NotedMessages ui;
    const std::string missing = dir->File("none.wdq");
    EXPECT_EQ(OpenPowerDensityWindow(nullptr, missing, 0, 100, {0}, ui), nullptr);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].rfind(missing + ": ", 0), 0u) << ui.messages[0];
    const std::string name = wxFileName(wxString::FromUTF8(path)).GetFullName().utf8_str().data();
    struct Case {
        int64_t first, last;
        std::vector<std::size_t> channels;
        std::string reason;
    };
    const Case cases[] = {
        {100, 110, {0}, "a power density needs a span of at least 16 scans; this one holds 10"},
        {0, 100, {2}, "the recording has no channel 3"},
        {0, 1'000'000, {0}, "the span ends at scan 1000000, after the recording's "},
    };
    for (const Case& c : cases) {
        ui.messages.clear();
        EXPECT_EQ(OpenPowerDensityWindow(nullptr, path, c.first, c.last, c.channels, ui), nullptr);
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_NE(ui.messages[0].find(name + ": " + c.reason), std::string::npos) << ui.messages[0];
    }
}

}  // namespace
}  // namespace tamix
