#include "view/wx/CSpectrumFrame.h"

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
#include "recording/SpectrumExport.h"
#include "view/SpectrumPlot.h"

#include "res/tamix.xpm"

namespace tamix {
namespace {

constexpr int kTimerMs = 100;
constexpr int kSideWidth = 300;

wxString W(std::string_view s) {
    return wxString::FromUTF8(s.data(), s.size());
}

wxString PickSpectrumFile(wxWindow* parent, const wxString& suggestion) {
    wxFileDialog dialog(parent, "Export the spectrum", "", suggestion, "CSV (*.csv)|*.csv",
                        wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    return dialog.ShowModal() == wxID_OK ? dialog.GetPath() : wxString();
}

SpectrumFilePicker gSpectrumFilePicker = PickSpectrumFile;

std::string Shortest(double value) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 4);
    return std::string(buf, r.ptr);
}

}  // namespace

void SetSpectrumFilePicker(SpectrumFilePicker picker) {
    gSpectrumFilePicker = picker ? std::move(picker) : PickSpectrumFile;
}

CSpectrumFrame* OpenSpectrumWindow(wxWindow* parent, const std::string& path, int64_t first,
                                   int64_t last, std::vector<std::size_t> channels,
                                   UserInterface& ui) {
    std::string error;
    std::unique_ptr<RecordingReader> reader = OpenRecording(path, error);
    if (!reader) {
        ui.ShowMessage(error, UserInterface::Icon::Error);
        return nullptr;
    }
    const RecordingInfo& info = reader->Info();
    SpectrumShape shape;
    if (!SpectrumAvailable()) {
        error = info.fileName + ": the spectrum is not available in this build (no FFTW)";
    } else if (!ShapeSpectrum(first, last, shape, error)) {
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
    auto* frame = new CSpectrumFrame(parent, std::move(reader), first, last, channels);
    frame->Show();
    return frame;
}

CSpectrumFrame::CSpectrumFrame(wxWindow* parent, std::unique_ptr<RecordingReader> reader,
                               int64_t first, int64_t last, const std::vector<std::size_t>& shown)
    : wxFrame(parent, wxID_ANY, wxString(), wxDefaultPosition, wxSize(1050, 620)),
      m_info(reader->Info()),
      m_timer(this) {
    SetTitle("Spectrum - " + wxFileName(W(m_info.fileName)).GetFullName());
    SetIcon(wxIcon(tamix_xpm));

    auto* panel = new wxPanel(this);
    m_canvas = new SpectrumCanvas(panel);
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
    m_export = new wxButton(panel, ID_SPECTRUM_EXPORT, wxString::FromUTF8("Export\xE2\x80\xA6"));
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
        {wxACCEL_CTRL, 'E', ID_SPECTRUM_EXPORT},
        {wxACCEL_CTRL, 'W', wxID_CLOSE},
    };
    SetAcceleratorTable(wxAcceleratorTable(static_cast<int>(std::size(keys)), keys));
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { Close(); }, wxID_CLOSE);
    Bind(wxEVT_MENU, &CSpectrumFrame::OnExport, this, ID_SPECTRUM_EXPORT);
    m_export->Bind(wxEVT_BUTTON, &CSpectrumFrame::OnExport, this);
    m_channels->Bind(wxEVT_CHECKLISTBOX, [this](wxCommandEvent&) { ChoicesChanged(); });
    m_level->Bind(wxEVT_RADIOBOX, [this](wxCommandEvent&) { ChoicesChanged(); });
    m_frequency->Bind(wxEVT_RADIOBOX, [this](wxCommandEvent&) { ChoicesChanged(); });
    m_canvas->onReadout = [this](const wxString& text) { SetStatus(kReadout, text); };
    Bind(wxEVT_TIMER, &CSpectrumFrame::OnTimer, this);
    Bind(wxEVT_CLOSE_WINDOW, &CSpectrumFrame::OnClose, this);

    // Every channel is computed, so that choosing another needs no second pass.
    std::vector<std::size_t> all(m_info.channels.size());
    for (std::size_t c = 0; c < all.size(); ++c) all[c] = c;
    m_canvas->SetNotice("Computing the spectrum...");
    SetStatus(kState, "Computing the spectrum...");
    m_builder.Start(std::move(reader), first, last, std::move(all));
    m_timer.Start(kTimerMs);
}

CSpectrumFrame::~CSpectrumFrame() {
    m_timer.Stop();
    m_builder.Cancel();
    // The canvas is destroyed after these members: it must not reach them.
    m_canvas->onReadout = nullptr;
    m_canvas->SetSpectrum(nullptr, nullptr);
    // The builder's destructor joins its thread.
}

void CSpectrumFrame::OnClose(wxCloseEvent& event) {
    m_timer.Stop();
    m_builder.Cancel();
    event.Skip();
}

void CSpectrumFrame::OnTimer(wxTimerEvent&) {
    if (!m_builder.Finished()) {
        const int64_t total = std::max<int64_t>(m_builder.Total(), 1);
        const auto percent = static_cast<int>(100 * m_builder.Done() / total);
        const wxString text = wxString::Format("Computing the spectrum: %d %%", percent);
        m_canvas->SetNotice(text);
        SetStatus(kState, text);
        return;
    }
    m_timer.Stop();
    std::string error;
    m_spectrum = m_builder.Take(error);
    if (!m_spectrum) {
        m_canvas->SetNotice(W(error));
        SetStatus(kState, W(error));
        m_ui.ShowMessage(error, UserInterface::Icon::Error);
        return;
    }
    m_channelPeaks.clear();
    for (const ChannelSpectrum& cs : m_spectrum->channels) {
        m_channelPeaks.push_back(StrongestPeaks(cs.density, m_spectrum->binHz, kListedPeaks));
    }
    const SpectrumShape& shape = m_spectrum->shape;
    m_stateText =
        W(std::to_string(shape.segments) + " segments of " + std::to_string(shape.segmentScans) +
          " scans, " + Shortest(m_spectrum->binHz) + " Hz apart");
    m_note->SetLabel(W(m_spectrum->note));
    m_note->Wrap(kSideWidth);
    m_note->GetParent()->Layout();
    m_canvas->SetNotice(wxString());
    m_canvas->SetSpectrum(m_spectrum.get(), &m_info);
    m_export->Enable();
    SetStatus(kState, m_stateText);
    ChoicesChanged();
}

std::vector<std::size_t> CSpectrumFrame::ShownChannels() const {
    std::vector<std::size_t> shown;
    for (unsigned c = 0; c < m_channels->GetCount(); ++c) {
        if (m_channels->IsChecked(c)) shown.push_back(c);
    }
    return shown;
}

void CSpectrumFrame::ChoicesChanged() {
    const LevelScale level =
        m_level->GetSelection() == 0 ? LevelScale::Linear : LevelScale::Decibel;
    const FrequencyScale frequency =
        m_frequency->GetSelection() == 1 ? FrequencyScale::Logarithmic : FrequencyScale::Linear;
    m_canvas->ShowChannels(ShownChannels(), level, frequency);
    if (m_spectrum && m_canvas->shown().empty()) m_canvas->SetNotice("No channel chosen");
    if (m_spectrum && !m_canvas->shown().empty()) m_canvas->SetNotice(wxString());
    FillPeaks();
}

void CSpectrumFrame::FillPeaks() {
    m_peaks->Clear();
    if (!m_spectrum) return;
    const LevelScale level = m_canvas->plot().Level();
    for (const std::size_t c : m_canvas->shown()) {
        if (c >= m_channelPeaks.size()) continue;
        const ChannelInfo& channel = m_info.channels[c];
        const std::string label = ChannelLabel(channel, c);
        for (const SpectrumPeak& peak : m_channelPeaks[c]) {
            m_peaks->Append(W(label + "  " + PeakText(peak, m_spectrum->binHz, level, channel)));
        }
    }
}

void CSpectrumFrame::OnExport(wxCommandEvent&) {
    if (!m_spectrum) return;
    const wxString suggestion = wxFileName(W(m_info.fileName)).GetName() + "_spectrum.csv";
    const wxString path = gSpectrumFilePicker(this, suggestion);
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
    if (!ExportSpectrumCsv(*m_spectrum, m_info, shown, out, DefaultFileOpener(), error)) {
        m_ui.ShowMessage(error, UserInterface::Icon::Error);
        return;
    }
    SetStatus(kState,
              wxString::Format("Exported the spectrum of %zu channels to ", shown.size()) + path);
}

void CSpectrumFrame::SetStatus(int field, const wxString& text) {
    wxStatusBar* bar = GetStatusBar();
    if (bar == nullptr || field >= bar->GetFieldsCount()) return;
    if (bar->GetStatusText(field) != text) bar->SetStatusText(text, field);
}

wxString CSpectrumFrame::StatusText(int field) const {
    const wxStatusBar* bar = GetStatusBar();
    if (bar == nullptr || field >= bar->GetFieldsCount()) return {};
    return bar->GetStatusText(field);
}

}  // namespace tamix
