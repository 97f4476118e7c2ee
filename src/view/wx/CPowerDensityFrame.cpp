#include "view/wx/CPowerDensityFrame.h"

#include <wx/accel.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/statusbr.h>

#include <algorithm>
#include <charconv>

#include "base/ChannelLabel.h"
#include "recording/OpenRecording.h"
#include "recording/OutputFile.h"
#include "recording/PowerDensityExport.h"
#include "view/PowerDensityPlot.h"

#include "res/tamix.xpm"

namespace tamix {
namespace {

constexpr int kTimerMs = 100;
constexpr int kSideWidth = 300;

wxString W(std::string_view s) {
    return wxString::FromUTF8(s.data(), s.size());
}

wxString PickPowerDensityFile(wxWindow* parent, const wxString& suggestion) {
    wxFileDialog dialog(parent, "Export the power density", "", suggestion, "CSV (*.csv)|*.csv",
                        wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    return dialog.ShowModal() == wxID_OK ? dialog.GetPath() : wxString();
}

PowerDensityFilePicker gPowerDensityFilePicker = PickPowerDensityFile;

std::string Shortest(double value) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 4);
    return std::string(buf, r.ptr);
}

}  // namespace

void SetPowerDensityFilePicker(PowerDensityFilePicker picker) {
    gPowerDensityFilePicker = picker ? std::move(picker) : PickPowerDensityFile;
}

CPowerDensityFrame* OpenPowerDensityWindow(wxWindow* parent, const std::string& path, int64_t first,
                                           int64_t last, std::vector<std::size_t> channels,
                                           UserInterface& ui) {
    std::string error;
    std::unique_ptr<RecordingReader> reader = OpenRecording(path, error);
    if (!reader) {
        ui.ShowMessage(error, UserInterface::Icon::Error);
        return nullptr;
    }
    const RecordingInfo& info = reader->Info();
    PowerDensityShape shape;
    if (!PowerDensityAvailable()) {
        error = info.fileName + ": the power density is not available in this build (no FFTW)";
    } else if (!ShapePowerDensity(first, last, shape, error)) {
        error = info.fileName + ": " + error;
    } else if (last > info.scanCount) {
        error = info.fileName + ": the span ends at scan " + std::to_string(last) +
                ", after the recording's " + std::to_string(info.scanCount) + " scans";
    } else if (const auto bad =
                   std::find_if(channels.begin(), channels.end(),
                                [&](std::size_t c) { return c >= info.channels.size(); });
               bad != channels.end()) {
        error = info.fileName + ": the recording has no channel " + std::to_string(*bad + 1);
    }
    if (!error.empty()) {
        ui.ShowMessage(error, UserInterface::Icon::Error);
        return nullptr;
    }
    if (channels.empty() && !info.channels.empty()) channels.push_back(0);
    auto* frame = new CPowerDensityFrame(parent, std::move(reader), first, last, channels);
    frame->Show();
    return frame;
}

CPowerDensityFrame::CPowerDensityFrame(wxWindow* parent, std::unique_ptr<RecordingReader> reader,
                                       int64_t first, int64_t last,
                                       const std::vector<std::size_t>& shown)
    : wxFrame(parent, wxID_ANY, wxString(), wxDefaultPosition, wxSize(1050, 620)),
      m_info(reader->Info()),
      m_timer(this) {
    SetTitle("Power density - " + wxFileName(W(m_info.fileName)).GetFullName());
    SetIcon(wxIcon(tamix_xpm));

    auto* panel = new wxPanel(this);
    m_canvas = new PowerDensityCanvas(panel);
    auto* side = new wxBoxSizer(wxVERTICAL);
    side->Add(new wxStaticText(panel, wxID_ANY, "Channels"), 0, wxLEFT | wxTOP, 4);
    m_channels = new wxCheckListBox(panel, wxID_ANY, wxDefaultPosition, wxSize(kSideWidth, -1));
    for (std::size_t c = 0; c < m_info.channels.size(); ++c) {
        m_channels->Append(W(ChannelTitle(m_info.channels[c], c)));
    }
    for (const std::size_t c : shown) m_channels->Check(static_cast<unsigned>(c));
    side->Add(m_channels, 1, wxEXPAND | wxALL, 4);
    const wxString levels[] = {"Linear", "dB"};
    m_level = new wxRadioBox(panel, wxID_ANY, "Level", wxDefaultPosition, wxDefaultSize, 2, levels,
                             1, wxRA_SPECIFY_ROWS);
    m_level->SetSelection(1);
    side->Add(m_level, 0, wxEXPAND | wxALL, 4);
    const wxString frequencies[] = {"Linear", "Logarithmic"};
    m_frequency = new wxRadioBox(panel, wxID_ANY, "Frequency", wxDefaultPosition, wxDefaultSize, 2,
                                 frequencies, 1, wxRA_SPECIFY_ROWS);
    side->Add(m_frequency, 0, wxEXPAND | wxALL, 4);
    side->Add(new wxStaticText(panel, wxID_ANY, "Strongest peaks"), 0, wxLEFT | wxTOP, 4);
    m_peaks = new wxListBox(panel, wxID_ANY, wxDefaultPosition, wxSize(kSideWidth, -1));
    side->Add(m_peaks, 2, wxEXPAND | wxALL, 4);
    m_note = new wxStaticText(panel, wxID_ANY, wxString());
    side->Add(m_note, 0, wxEXPAND | wxALL, 4);
    m_export =
        new wxButton(panel, ID_POWER_DENSITY_EXPORT, wxString::FromUTF8("Export\xE2\x80\xA6"));
    m_export->Disable();
    side->Add(m_export, 0, wxALL, 4);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(m_canvas, 1, wxEXPAND);
    row->Add(side, 0, wxEXPAND);
    panel->SetSizer(row);

    CreateStatusBar(kFieldCount);
    const int widths[kFieldCount] = {-2, -1};
    GetStatusBar()->SetStatusWidths(kFieldCount, widths);

    wxAcceleratorEntry keys[] = {
        {wxACCEL_CTRL, 'E', ID_POWER_DENSITY_EXPORT},
        {wxACCEL_CTRL, 'W', wxID_CLOSE},
    };
    SetAcceleratorTable(wxAcceleratorTable(static_cast<int>(std::size(keys)), keys));
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { Close(); }, wxID_CLOSE);
    Bind(wxEVT_MENU, &CPowerDensityFrame::OnExport, this, ID_POWER_DENSITY_EXPORT);
    m_export->Bind(wxEVT_BUTTON, &CPowerDensityFrame::OnExport, this);
    m_channels->Bind(wxEVT_CHECKLISTBOX, [this](wxCommandEvent&) { ChoicesChanged(); });
    m_level->Bind(wxEVT_RADIOBOX, [this](wxCommandEvent&) { ChoicesChanged(); });
    m_frequency->Bind(wxEVT_RADIOBOX, [this](wxCommandEvent&) { ChoicesChanged(); });
    m_canvas->onReadout = [this](const wxString& text) { SetStatus(kReadout, text); };
    Bind(wxEVT_TIMER, &CPowerDensityFrame::OnTimer, this);
    Bind(wxEVT_CLOSE_WINDOW, &CPowerDensityFrame::OnClose, this);

    // Every channel is computed, so that choosing another needs no second pass.
    std::vector<std::size_t> all(m_info.channels.size());
    for (std::size_t c = 0; c < all.size(); ++c) all[c] = c;
    m_canvas->SetNotice("Computing the power density...");
    SetStatus(kState, "Computing the power density...");
    m_builder.Start(std::move(reader), first, last, std::move(all));
    m_timer.Start(kTimerMs);
}

CPowerDensityFrame::~CPowerDensityFrame() {
    m_timer.Stop();
    m_builder.Cancel();
    // The canvas is destroyed after these members: it must not reach them.
    m_canvas->onReadout = nullptr;
    m_canvas->SetPowerDensity(nullptr, nullptr);
    // The builder's destructor joins its thread.
}

void CPowerDensityFrame::OnClose(wxCloseEvent& event) {
    m_timer.Stop();
    m_builder.Cancel();
    event.Skip();
}

void CPowerDensityFrame::OnTimer(wxTimerEvent&) {
    if (!m_builder.Finished()) {
        const int64_t total = std::max<int64_t>(m_builder.Total(), 1);
        const auto percent = static_cast<int>(100 * m_builder.Done() / total);
        const wxString text = wxString::Format("Computing the power density: %d %%", percent);
        m_canvas->SetNotice(text);
        SetStatus(kState, text);
        return;
    }
    m_timer.Stop();
    std::string error;
    m_psd = m_builder.Take(error);
    if (!m_psd) {
        m_canvas->SetNotice(W(error));
        SetStatus(kState, W(error));
        m_ui.ShowMessage(error, UserInterface::Icon::Error);
        return;
    }
    m_channelPeaks.clear();
    for (const ChannelPowerDensity& cs : m_psd->channels) {
        m_channelPeaks.push_back(StrongestPeaks(cs.density, m_psd->binHz, kListedPeaks));
    }
    const PowerDensityShape& shape = m_psd->shape;
    m_stateText =
        W(std::to_string(shape.segments) + " segments of " + std::to_string(shape.segmentScans) +
          " scans, " + Shortest(m_psd->binHz) + " Hz apart");
    m_note->SetLabel(W(m_psd->note));
    m_note->Wrap(kSideWidth);
    m_note->GetParent()->Layout();
    m_canvas->SetNotice(wxString());
    m_canvas->SetPowerDensity(m_psd.get(), &m_info);
    m_export->Enable();
    SetStatus(kState, m_stateText);
    ChoicesChanged();
}

std::vector<std::size_t> CPowerDensityFrame::ShownChannels() const {
    std::vector<std::size_t> shown;
    for (unsigned c = 0; c < m_channels->GetCount(); ++c) {
        if (m_channels->IsChecked(c)) shown.push_back(c);
    }
    return shown;
}

void CPowerDensityFrame::ChoicesChanged() {
    const LevelScale level =
        m_level->GetSelection() == 0 ? LevelScale::Linear : LevelScale::Decibel;
    const FrequencyScale frequency =
        m_frequency->GetSelection() == 1 ? FrequencyScale::Logarithmic : FrequencyScale::Linear;
    m_canvas->ShowChannels(ShownChannels(), level, frequency);
    if (m_psd && m_canvas->shown().empty()) m_canvas->SetNotice("No channel chosen");
    if (m_psd && !m_canvas->shown().empty()) m_canvas->SetNotice(wxString());
    FillPeaks();
}

void CPowerDensityFrame::FillPeaks() {
    m_peaks->Clear();
    if (!m_psd) return;
    const LevelScale level = m_canvas->plot().Level();
    for (const std::size_t c : m_canvas->shown()) {
        if (c >= m_channelPeaks.size()) continue;
        const ChannelInfo& channel = m_info.channels[c];
        const std::string label = ChannelLabel(channel, c);
        for (const PowerDensityPeak& peak : m_channelPeaks[c]) {
            m_peaks->Append(W(label + "  " + PeakText(peak, m_psd->binHz, level, channel)));
        }
    }
}

void CPowerDensityFrame::OnExport(wxCommandEvent&) {
    if (!m_psd) return;
    const wxString suggestion = wxFileName(W(m_info.fileName)).GetName() + "_psd.csv";
    const wxString path = gPowerDensityFilePicker(this, suggestion);
    if (path.empty()) return;
    const std::string out(path.utf8_str());
    if (wxFileName(path).GetExt().Lower() != "csv") {
        m_ui.ShowMessage(out + ": choose a name ending in .csv", UserInterface::Icon::Error);
        return;
    }
    const std::vector<std::size_t> shown = m_canvas->shown();
    if (shown.empty()) {
        m_ui.ShowMessage(out + ": choose at least one channel to export",
                         UserInterface::Icon::Error);
        return;
    }
    std::string error;
    if (!ExportPowerDensityCsv(*m_psd, m_info, shown, out, DefaultFileOpener(), error)) {
        m_ui.ShowMessage(error, UserInterface::Icon::Error);
        return;
    }
    SetStatus(
        kState,
        wxString::Format("Exported the power density of %zu channels to ", shown.size()) + path);
}

void CPowerDensityFrame::SetStatus(int field, const wxString& text) {
    wxStatusBar* bar = GetStatusBar();
    if (bar == nullptr || field >= bar->GetFieldsCount()) return;
    if (bar->GetStatusText(field) != text) bar->SetStatusText(text, field);
}

wxString CPowerDensityFrame::StatusText(int field) const {
    const wxStatusBar* bar = GetStatusBar();
    if (bar == nullptr || field >= bar->GetFieldsCount()) return {};
    return bar->GetStatusText(field);
}

}  // namespace tamix
