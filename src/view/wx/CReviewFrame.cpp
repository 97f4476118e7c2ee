#include "view/wx/CReviewFrame.h"

#include <wx/accel.h>
#include <wx/button.h>
#include <wx/clipbrd.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/progdlg.h>
#include <wx/sizer.h>
#include <wx/statusbr.h>
#include <wx/textdlg.h>

#include <algorithm>
#include <vector>

#include "base/Messages.h"
#include "recording/ExportFormat.h"
#include "recording/ExportSelection.h"
#include "recording/MarkerSave.h"
#include "recording/OpenRecording.h"
#include "recording/OutputFile.h"
#include "recording/SpanStatistics.h"
#include "view/ReviewCursors.h"
#include "view/ReviewMarkers.h"
#include "view/TimeAxis.h"
#include "view/wx/CPowerDensityFrame.h"

#include "res/tamix.xpm"

namespace tamix {
namespace {

constexpr int kTimerMs = 100;
constexpr int kMarkerListWidth = 240;
constexpr int kListPadding = 12;
constexpr int64_t kScrollSteps = 1'000'000;  // scroll bars count in int
constexpr double kZoomStep = 2.0;
constexpr int kMeasureHeight = 170;
// A dragged cursor repaints at once; the statistics of its span follow once
// it has stood still this long, so that a drag never waits for them.
constexpr int kStatsDelayMs = 80;
constexpr int kOverviewTimerId = 1;
constexpr int kStatsTimerId = 2;
constexpr int kFollowTimerId = 3;
// The recorder makes its file readable once a second; reading on twice as
// often shows each second soon after it reached the disk.
constexpr int kFollowMs = 500;

wxString W(std::string_view s) {
    return wxString::FromUTF8(s.data(), s.size());
}

wxString PickExportFile(wxWindow* parent, const wxString& suggestion) {
    wxFileDialog dialog(parent, "Export", "", suggestion, "CSV (*.csv)|*.csv|EDF+ (*.edf)|*.edf",
                        wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    return dialog.ShowModal() == wxID_OK ? dialog.GetPath() : wxString();
}

ExportFilePicker gExportFilePicker = PickExportFile;

wxString AskTime(wxWindow* parent, const wxString& current) {
    wxTextEntryDialog dialog(parent, "Time from the start (seconds, or h:mm:ss.s):", "Go to time",
                             current);
    return dialog.ShowModal() == wxID_OK ? dialog.GetValue() : wxString();
}

TimeAsker gTimeAsker = AskTime;

std::optional<wxString> AskComment(wxWindow* parent, const wxString& current) {
    wxTextEntryDialog dialog(parent, "Comment:", "Marker", current);
    if (dialog.ShowModal() != wxID_OK) return std::nullopt;
    return dialog.GetValue();
}

CommentAsker gCommentAsker = AskComment;

std::optional<wxString> AskChannels(wxWindow* parent) {
    wxTextEntryDialog dialog(parent,
                             "Channels to export, by number or name separated by commas "
                             "(empty for all):",
                             "Export the span", wxString());
    if (dialog.ShowModal() != wxID_OK) return std::nullopt;
    return dialog.GetValue();
}

ChannelAsker gChannelAsker = AskChannels;

}  // namespace

void SetExportFilePicker(ExportFilePicker picker) {
    gExportFilePicker = picker ? std::move(picker) : PickExportFile;
}

void SetTimeAsker(TimeAsker asker) {
    gTimeAsker = asker ? std::move(asker) : AskTime;
}

void SetChannelAsker(ChannelAsker asker) {
    gChannelAsker = asker ? std::move(asker) : AskChannels;
}

void SetCommentAsker(CommentAsker asker) {
    gCommentAsker = asker ? std::move(asker) : AskComment;
}

// clang-format off
wxBEGIN_EVENT_TABLE(CReviewFrame, wxFrame)
    EVT_MENU(ID_REVIEW_EXPORT, CReviewFrame::OnExport)
    EVT_MENU(ID_REVIEW_ZOOMIN, CReviewFrame::OnZoom)
    EVT_MENU(ID_REVIEW_ZOOMOUT, CReviewFrame::OnZoom)
    EVT_MENU(ID_REVIEW_WHOLE, CReviewFrame::OnZoom)
    EVT_MENU(ID_REVIEW_HOME, CReviewFrame::OnEnds)
    EVT_MENU(ID_REVIEW_END, CReviewFrame::OnEnds)
    EVT_MENU(ID_REVIEW_NEXTMARKER, CReviewFrame::OnMarkerStep)
    EVT_MENU(ID_REVIEW_PREVMARKER, CReviewFrame::OnMarkerStep)
    EVT_MENU(ID_REVIEW_CURSOR1, CReviewFrame::OnCursorCommand)
    EVT_MENU(ID_REVIEW_CURSOR2, CReviewFrame::OnCursorCommand)
    EVT_MENU(ID_REVIEW_CURSORLEFT, CReviewFrame::OnCursorCommand)
    EVT_MENU(ID_REVIEW_CURSORRIGHT, CReviewFrame::OnCursorCommand)
    EVT_MENU(ID_REVIEW_CURSORSTOMARKERS, CReviewFrame::OnCursorCommand)
    EVT_MENU(ID_REVIEW_CLEARCURSORS, CReviewFrame::OnCursorCommand)
    EVT_MENU(ID_REVIEW_GOTOTIME, CReviewFrame::OnGoToTime)
    EVT_MENU(ID_REVIEW_ZOOMSPAN, CReviewFrame::OnZoomSpan)
    EVT_MENU(ID_REVIEW_EXPORTSPAN, CReviewFrame::OnExport)
    EVT_MENU(ID_REVIEW_STATISTICS, CReviewFrame::OnStatistics)
    EVT_MENU(ID_REVIEW_STATISTICSALL, CReviewFrame::OnStatistics)
    EVT_MENU(ID_REVIEW_POWER_DENSITY, CReviewFrame::OnPowerDensity)
    EVT_MENU(ID_REVIEW_ADDMARKER, CReviewFrame::OnMarkerEdit)
    EVT_MENU(ID_REVIEW_EDITMARKER, CReviewFrame::OnMarkerEdit)
    EVT_MENU(ID_REVIEW_DELETEMARKER, CReviewFrame::OnMarkerEdit)
    EVT_MENU(ID_REVIEW_SAVEMARKERS, CReviewFrame::OnSaveMarkers)
wxEND_EVENT_TABLE();
// clang-format on

CReviewFrame* CReviewFrame::Open(const std::string& path, UserInterface& ui) {
    std::string error;
    std::unique_ptr<RecordingReader> reader = OpenRecording(path, error);
    // The overview is built with a reader of its own, on its own thread.
    std::unique_ptr<RecordingReader> second = reader ? OpenRecording(path, error) : nullptr;
    if (!reader || !second) {
        ui.ShowMessage(error, UserInterface::Icon::Error);
        return nullptr;
    }
    auto* frame = new CReviewFrame(std::move(reader), std::move(second));
    frame->Show();
    return frame;
}

CReviewFrame::CReviewFrame(std::unique_ptr<RecordingReader> reader,
                           std::unique_ptr<RecordingReader> second)
    : wxFrame(nullptr, wxID_ANY, wxString(), wxDefaultPosition, wxSize(1100, 720)),
      m_reader(std::move(reader)),
      m_timer(this, kOverviewTimerId),
      m_statsTimer(this, kStatsTimerId),
      m_followTimer(this, kFollowTimerId) {
    const RecordingInfo& info = m_reader->Info();
    wxString shown = wxFileName(W(info.fileName)).GetFullName();
    if (info.chainFiles.size() > 1)
        shown += wxString::Format(" (chain of %zu files)", info.chainFiles.size());
    SetTitle(shown + " - Review - " + text::kAppTitle);
    SetIcon(wxIcon(tamix_xpm));

    auto* file = new wxMenu;
    file->Append(ID_REVIEW_EXPORT, "&Export...\tCtrl+E");
    file->AppendSeparator();
    file->Append(wxID_CLOSE, "&Close\tCtrl+W");
    auto* view = new wxMenu;
    view->Append(ID_REVIEW_ZOOMIN, "Zoom &in\tI");
    view->Append(ID_REVIEW_ZOOMOUT, "Zoom &out\tO");
    view->Append(ID_REVIEW_WHOLE, "&Whole recording\tW");
    view->AppendSeparator();
    view->Append(ID_REVIEW_HOME, "&Start\tHome");
    view->Append(ID_REVIEW_END, "&End\tEnd");
    view->AppendSeparator();
    view->Append(ID_REVIEW_NEXTMARKER, "&Next marker\tN");
    view->Append(ID_REVIEW_PREVMARKER, "&Previous marker\tP");
    auto* measure = new wxMenu;
    measure->Append(ID_REVIEW_CURSOR1, "Cursor &1 here\t1");
    measure->Append(ID_REVIEW_CURSOR2, "Cursor &2 here\t2");
    measure->Append(ID_REVIEW_CURSORLEFT, "Cursor &left\t,");
    measure->Append(ID_REVIEW_CURSORRIGHT, "Cursor &right\t.");
    measure->Append(ID_REVIEW_GOTOTIME, "&Go to time...\tCtrl+G");
    measure->Append(ID_REVIEW_CURSORSTOMARKERS, "Cursors on the chosen &marker and the next");
    measure->Append(ID_REVIEW_CLEARCURSORS, "&Clear cursors");
    measure->AppendSeparator();
    measure->Append(ID_REVIEW_STATISTICS, "&Statistics of the span\tS");
    measure->Append(ID_REVIEW_STATISTICSALL, "Statistics of the &whole recording");
    measure->Append(ID_REVIEW_POWER_DENSITY, "&Power density of the span...\tF");
    measure->Append(ID_REVIEW_ZOOMSPAN, "&Zoom to the span\tZ");
    measure->Append(ID_REVIEW_EXPORTSPAN, "E&xport the span...");
    auto* markerMenu = new wxMenu;
    markerMenu->Append(ID_REVIEW_ADDMARKER, "&Add marker at the cursor...\tM");
    markerMenu->Append(ID_REVIEW_EDITMARKER, "&Edit the chosen marker...");
    markerMenu->Append(ID_REVIEW_DELETEMARKER, "&Delete the chosen marker\tDelete");
    markerMenu->AppendSeparator();
    markerMenu->Append(ID_REVIEW_SAVEMARKERS, "&Save markers\tCtrl+S");
    auto* bar = new wxMenuBar;
    bar->Append(file, "&File");
    bar->Append(view, "&View");
    bar->Append(measure, "&Measure");
    bar->Append(markerMenu, "Ma&rkers");
    SetMenuBar(bar);
    // As in the main window, every key is in the frame's table, whatever child
    // has the focus; the table replaces the one built from the menu's hints.
    wxAcceleratorEntry keys[] = {
        {wxACCEL_CTRL, 'E', ID_REVIEW_EXPORT},
        {wxACCEL_CTRL, 'W', wxID_CLOSE},
        {wxACCEL_NORMAL, 'I', ID_REVIEW_ZOOMIN},
        {wxACCEL_NORMAL, 'O', ID_REVIEW_ZOOMOUT},
        {wxACCEL_NORMAL, 'W', ID_REVIEW_WHOLE},
        {wxACCEL_NORMAL, WXK_HOME, ID_REVIEW_HOME},
        {wxACCEL_NORMAL, WXK_END, ID_REVIEW_END},
        {wxACCEL_NORMAL, 'N', ID_REVIEW_NEXTMARKER},
        {wxACCEL_NORMAL, 'P', ID_REVIEW_PREVMARKER},
        {wxACCEL_NORMAL, '1', ID_REVIEW_CURSOR1},
        {wxACCEL_NORMAL, '2', ID_REVIEW_CURSOR2},
        {wxACCEL_NORMAL, ',', ID_REVIEW_CURSORLEFT},
        {wxACCEL_NORMAL, '.', ID_REVIEW_CURSORRIGHT},
        {wxACCEL_CTRL, 'G', ID_REVIEW_GOTOTIME},
        {wxACCEL_NORMAL, 'Z', ID_REVIEW_ZOOMSPAN},
        {wxACCEL_NORMAL, 'M', ID_REVIEW_ADDMARKER},
        {wxACCEL_NORMAL, 'S', ID_REVIEW_STATISTICS},
        {wxACCEL_NORMAL, 'F', ID_REVIEW_POWER_DENSITY},
        {wxACCEL_NORMAL, WXK_DELETE, ID_REVIEW_DELETEMARKER},
        {wxACCEL_CTRL, 'S', ID_REVIEW_SAVEMARKERS},
    };
    SetAcceleratorTable(wxAcceleratorTable(static_cast<int>(std::size(keys)), keys));
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { Close(); }, wxID_CLOSE);

    auto* panel = new wxPanel(this);
    m_canvas = new ReviewCanvas(panel);
    m_scroll = new wxScrollBar(panel, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxSB_HORIZONTAL);
    m_markers = new wxListBox(panel, wxID_ANY, wxDefaultPosition, wxSize(kMarkerListWidth, -1));
    m_edited = info.markers;
    ListMarkers();
    m_measure =
        new wxTextCtrl(panel, wxID_ANY, wxString(), wxDefaultPosition, wxSize(-1, kMeasureHeight),
                       wxTE_MULTILINE | wxTE_READONLY | wxTE_DONTWRAP | wxHSCROLL);
    m_measure->SetFont(wxFont(wxFontInfo().Family(wxFONTFAMILY_TELETYPE)));
    m_measure->SetName("Measurements");
    auto* copy = new wxButton(panel, wxID_COPY, "&Copy");
    copy->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        if (wxTheClipboard->Open()) {
            wxTheClipboard->SetData(new wxTextDataObject(m_measure->GetValue()));
            wxTheClipboard->Close();
        }
    });
    auto* measureRow = new wxBoxSizer(wxHORIZONTAL);
    measureRow->Add(m_measure, 1, wxEXPAND);
    measureRow->Add(copy, 0, wxALIGN_TOP | wxLEFT, 4);
    auto* left = new wxBoxSizer(wxVERTICAL);
    left->Add(m_canvas, 1, wxEXPAND);
    left->Add(m_scroll, 0, wxEXPAND);
    left->Add(measureRow, 0, wxEXPAND | wxTOP, 2);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(left, 1, wxEXPAND);
    row->Add(m_markers, 0, wxEXPAND);
    panel->SetSizer(row);

    CreateStatusBar(kFieldCount);
    const int widths[kFieldCount] = {-3, -1};
    GetStatusBar()->SetStatusWidths(kFieldCount, widths);

    m_canvas->onReadout = [this](const wxString& text) { SetStatus(kReadout, text); };
    m_canvas->onViewChanged = [this] { ViewChanged(); };
    m_canvas->onReadFailed = [this](const std::string& error) { ReadFailed(error); };
    m_canvas->onCursorsChanged = [this] { CursorsChanged(); };
    m_scroll->Bind(wxEVT_SCROLL_THUMBTRACK, &CReviewFrame::OnScroll, this);
    m_scroll->Bind(wxEVT_SCROLL_CHANGED, &CReviewFrame::OnScroll, this);
    m_scroll->Bind(wxEVT_SCROLL_LINEUP, &CReviewFrame::OnScroll, this);
    m_scroll->Bind(wxEVT_SCROLL_LINEDOWN, &CReviewFrame::OnScroll, this);
    m_scroll->Bind(wxEVT_SCROLL_PAGEUP, &CReviewFrame::OnScroll, this);
    m_scroll->Bind(wxEVT_SCROLL_PAGEDOWN, &CReviewFrame::OnScroll, this);
    m_markers->Bind(wxEVT_LISTBOX, &CReviewFrame::OnMarkerChosen, this);
    m_markers->Bind(wxEVT_LISTBOX_DCLICK, [this](wxCommandEvent&) {
        wxCommandEvent edit(wxEVT_MENU, ID_REVIEW_EDITMARKER);
        OnMarkerEdit(edit);
    });
    m_markers->Bind(wxEVT_MOTION, &CReviewFrame::OnMarkerListMotion, this);
    Bind(wxEVT_TIMER, &CReviewFrame::OnTimer, this, kOverviewTimerId);
    Bind(
        wxEVT_TIMER,
        [this](wxTimerEvent&) {
            if (const auto span = m_canvas->cursors().Span(); m_statsFollowCursors && span)
                ShowStatistics(*span);
        },
        kStatsTimerId);
    Bind(
        wxEVT_TIMER, [this](wxTimerEvent&) { FollowRecording(); }, kFollowTimerId);
    Bind(wxEVT_CLOSE_WINDOW, &CReviewFrame::OnClose, this);

    m_canvas->SetRecording(m_reader.get(), nullptr);
    m_canvas->SetMarkers(&m_edited);
    if (info.beingRecorded) {
        // Not a crash: the recorder is still writing, and the window reads on
        // as the scans reach the disk.
        m_stateText = RecordedState();
        m_followTimer.Start(kFollowMs);
    } else if (info.incomplete) {
        std::string why;
        for (const std::string& note : info.notes) why += (why.empty() ? "" : " ") + note;
        m_stateText = "Cut short: " + W(why);
    }
    CursorsChanged();
    m_canvas->SetNotice("Reading the overview...");
    m_builder.Start(std::move(second));
    m_timer.Start(kTimerMs);
    SetStatus(kState, m_stateText.empty() ? wxString("Reading the overview...") : m_stateText);
}

void CReviewFrame::CloseAll() {
    std::vector<CReviewFrame*> open;
    for (wxWindow* window : wxTopLevelWindows) {
        if (auto* frame = dynamic_cast<CReviewFrame*>(window)) open.push_back(frame);
    }
    for (CReviewFrame* frame : open) frame->Destroy();
}

CReviewFrame::~CReviewFrame() {
    m_followTimer.Stop();
    m_timer.Stop();
    m_statsTimer.Stop();
    m_builder.Cancel();
    // The canvas is destroyed after these members: it must not reach them.
    m_canvas->onViewChanged = nullptr;
    m_canvas->onReadout = nullptr;
    m_canvas->onReadFailed = nullptr;
    m_canvas->onCursorsChanged = nullptr;
    m_canvas->SetRecording(nullptr, nullptr);
    // The builder's destructor joins its thread before the reader goes.
}

void CReviewFrame::OnClose(wxCloseEvent& event) {
    m_statsTimer.Stop();
    if (m_markersChanged && event.CanVeto()) {
        const std::string name(wxFileName(W(m_reader->Info().fileName)).GetFullName().utf8_str());
        if (m_ui.AskYesNo("The markers of " + name + " were changed. Save them?",
                          UserInterface::Answer::Yes) &&
            !SaveMarkers()) {
            event.Veto();
            return;
        }
    }
    m_timer.Stop();
    m_builder.Cancel();
    event.Skip();
}

void CReviewFrame::OnTimer(wxTimerEvent&) {
    if (!m_builder.Finished()) {
        const int64_t total = std::max<int64_t>(m_builder.Total(), 1);
        const auto percent = static_cast<int>(100 * m_builder.Done() / total);
        const wxString text = wxString::Format("Reading the overview: %d %%", percent);
        m_canvas->SetNotice(text);
        if (m_stateText.empty()) SetStatus(kState, text);
        return;
    }
    m_timer.Stop();
    std::string error;
    m_overview = m_builder.Take(error);
    if (!m_overview) {
        m_canvas->SetNotice(W(error));
        SetStatus(kState, W(error));
        m_ui.ShowMessage(error, UserInterface::Icon::Error);
        return;
    }
    m_canvas->SetNotice(m_stateText.empty() ? wxString() : m_stateText);
    m_canvas->SetRecording(m_reader.get(), m_overview.get());
    const RecordingInfo& info = m_reader->Info();
    if (m_stateText.empty()) {
        m_stateText = wxString::Format("%zu channels at %g Hz, %lld scans", info.channels.size(),
                                       info.period > 0 ? 1.0 / info.period : 0.0,
                                       static_cast<long long>(info.scanCount));
    }
    SetStatus(kState, m_stateText);
}

wxString CReviewFrame::RecordedState() const {
    const RecordingInfo& info = m_reader->Info();
    if (info.beingRecorded) {
        return wxString::Format("Being recorded: %lld scans so far",
                                static_cast<long long>(info.scanCount));
    }
    return wxString::Format("%zu channels at %g Hz, %lld scans", info.channels.size(),
                            info.period > 0 ? 1.0 / info.period : 0.0,
                            static_cast<long long>(info.scanCount));
}

// Only this window's reader and overview are touched, on this thread: the
// recorder is never asked for anything and never waits for the window.
void CReviewFrame::FollowRecording() {
    // The overview summarises what its builder's reader saw; this reader
    // reads on only once it can extend it.
    if (!m_overview) return;
    bool grew = false;
    std::string error;
    if (!m_reader->Refresh(grew) || (grew && !m_overview->Extend(*m_reader, error))) {
        m_followTimer.Stop();
        ReadFailed(error.empty() ? m_reader->Error() : error);
        return;
    }
    if (!grew) return;
    const RecordingInfo& info = m_reader->Info();
    if (!info.beingRecorded) m_followTimer.Stop();
    // Markers edited here are the user's; the recorder's arrive otherwise,
    // and the list is made anew only when they did.
    const auto sameMarker = [](const RecordingMarker& a, const RecordingMarker& b) {
        return a.scan == b.scan && a.comment == b.comment;
    };
    if (!m_markersChanged && !std::equal(m_edited.begin(), m_edited.end(), info.markers.begin(),
                                         info.markers.end(), sameMarker)) {
        m_edited = info.markers;
        ListMarkers();
    }
    m_stateText = info.incomplete && !info.beingRecorded
                      ? wxString("Cut short: the recorder ended without closing the file")
                      : RecordedState();
    m_canvas->SetNotice(info.beingRecorded ? m_stateText : wxString());
    SetStatus(kState, m_stateText);
    m_jumping = true;  // keeps the chosen marker
    m_canvas->RecordingGrew();
    m_jumping = false;
    if (const auto span = m_canvas->cursors().Span(); m_statsFollowCursors && span) {
        m_statsTimer.StartOnce(kStatsDelayMs);
    }
}

void CReviewFrame::ViewChanged() {
    const ReviewViewport& v = m_canvas->viewport();
    m_scrollUnit = std::max<int64_t>(1, v.TotalScans() / kScrollSteps);
    const auto range = static_cast<int>(v.TotalScans() / m_scrollUnit);
    const auto thumb = static_cast<int>(std::max<int64_t>(1, v.Span() / m_scrollUnit));
    m_scroll->SetScrollbar(static_cast<int>(v.First() / m_scrollUnit), thumb, range, thumb);
    if (!m_jumping) {
        m_current.reset();
        if (m_markers->GetSelection() != wxNOT_FOUND) m_markers->SetSelection(wxNOT_FOUND);
    }
}

void CReviewFrame::OnScroll(wxScrollEvent& event) {
    ReviewViewport& v = m_canvas->viewport();
    const int pos = event.GetPosition();
    if (pos + m_scroll->GetThumbSize() >= m_scroll->GetRange()) {
        v.End();
    } else {
        v.ScrollTo(pos * m_scrollUnit);
    }
    m_canvas->ViewChanged();
}

void CReviewFrame::OnZoom(wxCommandEvent& event) {
    ReviewViewport& v = m_canvas->viewport();
    if (event.GetId() == ID_REVIEW_WHOLE) {
        v.ShowAll();
    } else {
        v.Zoom(event.GetId() == ID_REVIEW_ZOOMIN ? kZoomStep : 1 / kZoomStep, v.Columns() / 2);
    }
    m_canvas->ViewChanged();
}

void CReviewFrame::OnEnds(wxCommandEvent& event) {
    ReviewViewport& v = m_canvas->viewport();
    if (event.GetId() == ID_REVIEW_HOME) {
        v.Home();
    } else {
        v.End();
    }
    m_canvas->ViewChanged();
}

void CReviewFrame::OnMarkerStep(wxCommandEvent& event) {
    const std::vector<RecordingMarker>& markers = m_edited;
    const ReviewViewport& v = m_canvas->viewport();
    const int64_t from = m_current ? markers[*m_current].scan : v.First() + v.Span() / 2;
    const std::optional<std::size_t> m = event.GetId() == ID_REVIEW_NEXTMARKER
                                             ? NextMarker(markers, from, m_current)
                                             : PreviousMarker(markers, from, m_current);
    if (m) JumpToMarker(*m);
}

void CReviewFrame::OnMarkerChosen(wxCommandEvent& event) {
    if (event.GetSelection() >= 0) JumpToMarker(static_cast<std::size_t>(event.GetSelection()));
}

wxString CReviewFrame::MarkerListTip(int item) const {
    if (item < 0 || static_cast<unsigned>(item) >= m_markers->GetCount()) return {};
    const wxString text = m_markers->GetString(static_cast<unsigned>(item));
    // A row shows what fits its width, less the list's own padding.
    const int room = m_markers->GetClientSize().x - kListPadding;
    return m_markers->GetTextExtent(text).x > room ? text : wxString();
}

void CReviewFrame::OnMarkerListMotion(wxMouseEvent& event) {
    const wxString tip = MarkerListTip(m_markers->HitTest(event.GetPosition()));
    if (tip.empty()) {
        m_markers->UnsetToolTip();
    } else if (m_markers->GetToolTipText() != tip) {
        m_markers->SetToolTip(tip);
    }
    event.Skip();
}

void CReviewFrame::JumpToMarker(std::size_t m) {
    m_jumping = true;
    m_current = m;
    m_canvas->viewport().CentreOn(m_edited[m].scan);
    m_canvas->ViewChanged();
    if (m_markers->GetSelection() != static_cast<int>(m))
        m_markers->SetSelection(static_cast<int>(m));
    m_jumping = false;
}

void CReviewFrame::OnExport(wxCommandEvent& event) {
    if (event.GetId() != ID_REVIEW_EXPORTSPAN) {
        Export(std::nullopt);
        return;
    }
    if (const auto span = CursorSpan()) Export(span);
}

void CReviewFrame::Export(std::optional<std::pair<int64_t, int64_t>> span) {
    std::string channels;
    if (span) {
        const std::optional<wxString> chosen = gChannelAsker(this);
        if (!chosen) return;
        channels = std::string(chosen->utf8_str());
    }
    Export(span, channels);
}

void CReviewFrame::Export(std::optional<std::pair<int64_t, int64_t>> span,
                          const std::string& channels) {
    const RecordingInfo& info = m_reader->Info();
    const wxString path = gExportFilePicker(this, wxFileName(W(info.fileName)).GetName() + ".csv");
    if (path.empty()) return;
    const std::string out(path.utf8_str());
    const wxString ext = wxFileName(path).GetExt().Lower();
    if (ext != "csv" && ext != "edf") {
        m_ui.ShowMessage(out + ": choose a name ending in .csv or .edf",
                         UserInterface::Icon::Error);
        return;
    }
    ExportSelection selection;
    std::string error;
    // The channels by the rule of tamix-file export --channels.
    if (!SelectExport(info, std::nullopt, std::nullopt, channels, selection, error)) {
        m_ui.ShowMessage(out + ": " + error, UserInterface::Icon::Error);
        return;
    }
    if (span) {
        // The cursors' scans themselves, not seconds rounded back to scans.
        selection.firstScan = span->first;
        selection.endScan = span->second;
    }
    bool ok = false;
    std::string note;
    {
        wxProgressDialog progress("Export", "Exporting to " + path, 1000, this,
                                  wxPD_CAN_ABORT | wxPD_AUTO_HIDE | wxPD_APP_MODAL);
        const ProgressCallback report = [&](int64_t done, int64_t total) {
            return progress.Update(static_cast<int>(1000 * done / std::max<int64_t>(total, 1)));
        };
        ok = ExportRecording(*m_reader, selection,
                             ext == "csv" ? ExportFormat::Csv : ExportFormat::Edf, out,
                             DefaultFileOpener(), report, note, error);
    }
    if (!ok) {
        m_ui.ShowMessage(error, UserInterface::Icon::Error);
        return;
    }
    wxString done =
        wxString::Format("Exported %lld scans to ",
                         static_cast<long long>(selection.endScan - selection.firstScan)) +
        path;
    if (!note.empty()) done += " (" + W(note) + ")";
    SetStatus(kState, done);
}

void CReviewFrame::OnCursorCommand(wxCommandEvent& event) {
    switch (event.GetId()) {
        case ID_REVIEW_CURSOR1:
            m_canvas->PlaceCursorAtPointer(0);
            break;
        case ID_REVIEW_CURSOR2:
            m_canvas->PlaceCursorAtPointer(1);
            break;
        case ID_REVIEW_CURSORLEFT:
            m_canvas->StepCursor(-1);
            break;
        case ID_REVIEW_CURSORRIGHT:
            m_canvas->StepCursor(1);
            break;
        case ID_REVIEW_CLEARCURSORS:
            m_canvas->ClearCursors();
            break;
        case ID_REVIEW_CURSORSTOMARKERS: {
            const std::vector<RecordingMarker>& markers = m_canvas->markers();
            const int chosen = m_markers->GetSelection();
            if (chosen == wxNOT_FOUND || static_cast<std::size_t>(chosen) >= markers.size()) {
                SetStatus(kState, "Choose a marker in the list first");
                return;
            }
            const auto m = static_cast<std::size_t>(chosen);
            const int64_t end =
                m + 1 < markers.size() ? markers[m + 1].scan : m_reader->Info().scanCount - 1;
            m_canvas->PlaceCursor(0, markers[m].scan);
            m_canvas->PlaceCursor(1, end);
            break;
        }
        default:
            break;
    }
}

void CReviewFrame::OnGoToTime(wxCommandEvent&) {
    const RecordingInfo& info = m_reader->Info();
    const ReviewViewport& v = m_canvas->viewport();
    const wxString current = W(TimeLabel(
        (static_cast<double>(v.First()) + static_cast<double>(v.Span()) / 2) * info.period, 0.001));
    const wxString typed = gTimeAsker(this, current);
    if (typed.empty()) return;
    const std::optional<double> seconds = ParseTypedTime(std::string(typed.utf8_str()));
    if (!seconds) {
        m_ui.ShowMessage(std::string(typed.utf8_str()) +
                             " is no time: type seconds (12.5), or h:mm:ss.s (0:01:02.5)",
                         UserInterface::Icon::Error);
        return;
    }
    const int64_t scan = ScanAtSeconds(*seconds, info.period, info.scanCount);
    m_canvas->viewport().CentreOn(scan);
    m_canvas->ViewChanged();
    m_canvas->PlaceCursor(m_canvas->cursors().active, scan);
}

std::optional<std::pair<int64_t, int64_t>> CReviewFrame::CursorSpan() {
    auto span = m_canvas->cursors().Span();
    if (!span) SetStatus(kState, "Place both cursors first (keys 1 and 2, or Shift and a drag)");
    return span;
}

void CReviewFrame::OnStatistics(wxCommandEvent& event) {
    if (!m_overview) {
        SetStatus(kState, "The overview is still being read");
        return;
    }
    m_statsFollowCursors = event.GetId() == ID_REVIEW_STATISTICS;
    if (!m_statsFollowCursors) {
        ShowStatistics({0, m_reader->Info().scanCount});
    } else if (const auto span = CursorSpan()) {
        ShowStatistics(*span);
    } else {
        m_statsFollowCursors = false;
    }
}

void CReviewFrame::ShowStatistics(std::pair<int64_t, int64_t> span) {
    const RecordingInfo& info = m_reader->Info();
    std::vector<std::size_t> channels(info.channels.size());
    for (std::size_t k = 0; k < channels.size(); ++k) channels[k] = k;
    SpanStatistics stats;
    std::string error;
    if (!ComputeSpanStatistics(*m_reader, *m_overview, span.first, span.second, channels, stats,
                               error)) {
        m_statsFollowCursors = false;
        m_ui.ShowMessage(error, UserInterface::Icon::Error);
        return;
    }
    const double from = static_cast<double>(span.first) * info.period;
    const double to = static_cast<double>(span.second) * info.period;
    m_statistics = "Statistics from " + TimeLabel(from, 0.001) + " to " + TimeLabel(to, 0.001) +
                   " (" + std::to_string(span.second - span.first) + " scans)\n" +
                   StatisticsTable(stats);
    for (const std::string& note : stats.notes) m_statistics += note + "\n";
    ShowMeasurements();
}

void CReviewFrame::OnPowerDensity(wxCommandEvent&) {
    const auto span = CursorSpan();
    if (!span) return;
    std::vector<std::size_t> channels(m_reader->Info().channels.size());
    for (std::size_t k = 0; k < channels.size(); ++k) channels[k] = k;
    OpenPowerDensityWindow(this, m_reader->Info().fileName, span->first, span->second, channels,
                           m_ui);
}

void CReviewFrame::OnZoomSpan(wxCommandEvent&) {
    const auto span = CursorSpan();
    if (!span) return;
    ReviewViewport& v = m_canvas->viewport();
    const int64_t length = span->second - span->first;
    // Zoom by the ratio of the spans, then start at the span's first scan.
    v.Zoom(static_cast<double>(v.Span()) / static_cast<double>(std::max(length, int64_t{1})), 0);
    v.ScrollTo(span->first);
    m_canvas->ViewChanged();
}

void CReviewFrame::CursorsChanged() {
    CursorReading reading;
    if (!ReadCursors(*m_reader, m_canvas->cursors(), reading)) {
        ReadFailed(m_reader->Error());
        return;
    }
    m_cursorLines = CursorReadoutLines(reading, m_reader->Info().period, m_reader->Info().channels);
    ShowMeasurements();
    // Statistics of the cursors' span follow the cursors once asked for.
    if (m_statsFollowCursors && m_overview && m_canvas->cursors().Span())
        m_statsTimer.StartOnce(kStatsDelayMs);
}

void CReviewFrame::ShowMeasurements() {
    std::string text;
    for (const std::string& line : m_cursorLines) text += line + "\n";
    if (!m_statistics.empty()) text += "\n" + m_statistics;
    const wxString shown = W(text);
    if (m_measure->GetValue() != shown) m_measure->ChangeValue(shown);
}

void CReviewFrame::ListMarkers() {
    const double period = m_reader->Info().period;
    wxArrayString rows;
    for (std::size_t m = 0; m < m_edited.size(); ++m)
        rows.Add(W(MarkerListText(m, m_edited[m], period)));
    m_markers->Set(rows);
}

void CReviewFrame::MarkersEdited() {
    m_markersChanged = true;
    m_current.reset();
    ListMarkers();
    m_canvas->SetMarkers(&m_edited);
    const wxString title = GetTitle();
    if (!title.StartsWith("*")) SetTitle("*" + title);
}

void CReviewFrame::OnMarkerEdit(wxCommandEvent& event) {
    const RecordingInfo& info = m_reader->Info();
    if (info.beingRecorded || info.incomplete) {
        m_ui.ShowMessage(
            info.fileName + (info.beingRecorded
                                 ? ": it is being recorded; its markers can be changed once "
                                   "the recording has ended"
                                 : ": it was cut short; repair it (tamix-file repair) before "
                                   "changing its markers"),
            UserInterface::Icon::Error);
        return;
    }
    // Each file of a chain keeps its own markers; the whole run's list has no
    // one file to be saved into.
    if (info.chainFiles.size() > 1) {
        m_ui.ShowMessage(info.fileName + ": it is one of a chain of " +
                             std::to_string(info.chainFiles.size()) +
                             " files read as one recording, whose markers cannot be changed",
                         UserInterface::Icon::Error);
        return;
    }
    const int chosen = m_markers->GetSelection();
    if (event.GetId() == ID_REVIEW_ADDMARKER) {
        const CursorPair& c = m_canvas->cursors();
        const auto i = static_cast<std::size_t>(c.active);
        const ReviewViewport& v = m_canvas->viewport();
        const int64_t scan = c.scan[i] ? *c.scan[i] : v.First() + v.Span() / 2;
        const std::optional<wxString> comment = gCommentAsker(this, wxString());
        if (!comment) return;
        RecordingMarker marker;
        marker.scan = scan;
        marker.comment = std::string(comment->utf8_str());
        // In scan order, after any marker already on the same scan.
        const auto at =
            std::upper_bound(m_edited.begin(), m_edited.end(), scan,
                             [](int64_t s, const RecordingMarker& m) { return s < m.scan; });
        const auto index = static_cast<int>(at - m_edited.begin());
        m_edited.insert(at, std::move(marker));
        MarkersEdited();
        m_markers->SetSelection(index);
        return;
    }
    if (chosen == wxNOT_FOUND || static_cast<std::size_t>(chosen) >= m_edited.size()) {
        SetStatus(kState, "Choose a marker in the list first");
        return;
    }
    RecordingMarker& marker = m_edited[static_cast<std::size_t>(chosen)];
    if (event.GetId() == ID_REVIEW_EDITMARKER) {
        const std::optional<wxString> comment = gCommentAsker(this, W(marker.comment));
        if (!comment) return;
        marker.comment = std::string(comment->utf8_str());
    } else {
        m_edited.erase(m_edited.begin() + chosen);
    }
    MarkersEdited();
    if (!m_edited.empty())
        m_markers->SetSelection(std::min(chosen, static_cast<int>(m_edited.size()) - 1));
}

void CReviewFrame::OnSaveMarkers(wxCommandEvent&) {
    SaveMarkers();
}

bool CReviewFrame::SaveMarkers() {
    std::string error;
    if (!SaveRecordingMarkers(m_reader->Info().fileName, m_edited, error)) {
        m_ui.ShowMessage(error, UserInterface::Icon::Error);
        return false;
    }
    m_markersChanged = false;
    wxString title = GetTitle();
    if (title.StartsWith("*")) SetTitle(title.Mid(1));
    SetStatus(kState, wxString::Format("Saved %zu markers into ", m_edited.size()) +
                          wxFileName(W(m_reader->Info().fileName)).GetFullName());
    return true;
}

void CReviewFrame::ReadFailed(const std::string& error) {
    m_stateText = W(error);
    SetStatus(kState, m_stateText);
    if (m_readFailed) return;
    m_readFailed = true;
    // The failure is met while painting; the message waits for the paint to end.
    CallAfter([this, error] { m_ui.ShowMessage(error, UserInterface::Icon::Error); });
}

void CReviewFrame::SetStatus(int field, const wxString& text) {
    wxStatusBar* bar = GetStatusBar();
    if (bar == nullptr || field >= bar->GetFieldsCount()) return;
    if (bar->GetStatusText(field) != text) bar->SetStatusText(text, field);
}

wxString CReviewFrame::StatusText(int field) const {
    const wxStatusBar* bar = GetStatusBar();
    if (bar == nullptr || field >= bar->GetFieldsCount()) return {};
    return bar->GetStatusText(field);
}

}  // namespace tamix
