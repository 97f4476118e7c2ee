#include "view/wx/CTamixView.h"

#include <wx/app.h>
#include <wx/dcbuffer.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/frame.h>
#include <wx/graphics.h>
#include <wx/msgdlg.h>
#include <wx/settings.h>
#include <wx/statusbr.h>
#include <wx/utils.h>

#include "acquisition/AcquisitionWorker.h"
#include "base/ChannelLabel.h"
#include "base/IniFile.h"
#include "base/ProfileKeys.h"
#include "control/MeasurementCommands.h"
#include "control/MeasurementControl.h"
#include "dialogs/wx/CAboutDlg.h"
#include "dialogs/wx/CAddMarkerDlg.h"
#include "dialogs/wx/CHelpDlg.h"
#include "dialogs/wx/CMeasurementOptionsDlg.h"
#include "dialogs/wx/CMessageBox.h"
#include "dialogs/wx/CSystemSetupDlg.h"
#include "dialogs/wx/SaveProfile.h"
#include "view/StatusText.h"
#include "view/wx/ColumnBars.h"
#include "view/wx/SignalCanvas.h"
#include "view/wx/StripFrame.h"

namespace tamix {
namespace {

IniFile* gProfile = nullptr;
FileOpener* gOpener = nullptr;
PrepareInstrumentFn gPrepareInstrument;

wxString W(std::string_view s) {
    return wxString::FromUTF8(s.data(), s.size());
}

constexpr int kLabelMargin = 2;  // inside the strip's sunken edge
constexpr int kMarkerHitPixels = 3;
// The live numbers are read again once a second, on the refresh tick.
constexpr auto kLiveNumbersEvery = std::chrono::seconds(1);

// Status bar fields.
enum Field { kMessage, kState, kTime, kSize, kLost, kModel, kFieldCount };

}  // namespace

void SetViewServices(IniFile* profile, FileOpener* opener, PrepareInstrumentFn prepare) {
    gProfile = profile;
    gOpener = opener;
    gPrepareInstrument = std::move(prepare);
}

wxIMPLEMENT_DYNAMIC_CLASS(CTamixView, wxView);

// clang-format off
wxBEGIN_EVENT_TABLE(CTamixView, wxView)
    EVT_MENU(cmd::ID_MEASUREMENT_START, CTamixView::OnMeasurementStart)
    EVT_MENU(cmd::ID_MEASUREMENT_STOP, CTamixView::OnMeasurementStop)
    EVT_MENU(cmd::ID_MEASUREMENT_PAUSE, CTamixView::OnMeasurementPause)
    EVT_MENU(cmd::ID_MEASUREMENT_COMMPORT, CTamixView::OnMeasurementCommPort)
    EVT_MENU(cmd::ID_MEASUREMENT_EIGHTCHANNELS, CTamixView::OnMeasurementEightChannels)
    EVT_MENU(cmd::ID_MEASUREMENT_CALIBRATE, CTamixView::OnMeasurementCalibrate)
    EVT_MENU(cmd::ID_TOOLS_ADDMARKER, CTamixView::OnToolsAddMarker)
    EVT_MENU(cmd::ID_TOOLS_RESETALLSCALING, CTamixView::OnToolsResetAllScaling)
    EVT_MENU(cmd::ID_TOOLS_AUTOSCALEALL, CTamixView::OnToolsAutoscaleAll)
    EVT_MENU(cmd::ID_TOOLS_LIVENUMBERS, CTamixView::OnToolsLiveNumbers)
    EVT_UPDATE_UI(cmd::ID_TOOLS_LIVENUMBERS, CTamixView::OnUpdateCommand)
    EVT_UPDATE_UI(cmd::ID_MEASUREMENT_START, CTamixView::OnUpdateCommand)
    EVT_UPDATE_UI(cmd::ID_MEASUREMENT_STOP, CTamixView::OnUpdateCommand)
    EVT_UPDATE_UI(cmd::ID_MEASUREMENT_PAUSE, CTamixView::OnUpdateCommand)
    EVT_UPDATE_UI(cmd::ID_MEASUREMENT_COMMPORT, CTamixView::OnUpdateCommand)
    EVT_UPDATE_UI(cmd::ID_MEASUREMENT_EIGHTCHANNELS, CTamixView::OnUpdateCommand)
    EVT_UPDATE_UI(cmd::ID_MEASUREMENT_CALIBRATE, CTamixView::OnUpdateCommand)
    EVT_UPDATE_UI(cmd::ID_TOOLS_ADDMARKER, CTamixView::OnUpdateCommand)
    EVT_UPDATE_UI(cmd::ID_APP_EXIT, CTamixView::OnUpdateCommand)
wxEND_EVENT_TABLE();
// clang-format on

CTamixView::CTamixView() {
    TheSetup().SetDefaults();
}

CTamixView::~CTamixView() {
    if (m_canvas != nullptr) m_canvas->DetachView();
    TheSetup().RequestStop();
    // The worker's destructor waits for it: the file is complete before the program goes on.
}

bool CTamixView::OnCreate(wxDocument* doc, long flags) {
    if (!wxView::OnCreate(doc, flags)) return false;
    wxFrame* frame = wxStaticCast(wxTheApp->GetTopWindow(), wxFrame);
    SetFrame(frame);
    m_canvas = new SignalCanvas(frame, this);
    // The canvas covers the frame's client area: the frame need not erase it
    // before every tick's paint, which costs GTK style look-ups each time.
    frame->SetBackgroundStyle(wxBG_STYLE_PAINT);
    if (wxStatusBar* bar = frame->GetStatusBar()) {
        // The readout and messages, the state, time, size, lost scans, unit.
        const int widths[kFieldCount] = {-3, -2, 80, 90, 120, 90};
        bar->SetFieldsCount(kFieldCount, widths);
    }
    UpdateStatus();
    if (gProfile != nullptr) {
        m_bLiveNumbers = gProfile->GetInt(profile::kSettings, profile::kLiveNumbers, 0) != 0;
    }
    frame->SendSizeEvent();
    return true;
}

bool CTamixView::OnClose(bool deleteWindow) {
    if (!wxView::OnClose(deleteWindow)) return false;
    Activate(false);
    return true;
}

void CTamixView::OnUpdate(wxView*, wxObject*) {
    InvalidateAll();
}

void CTamixView::OnDraw(wxDC*) {}

void CTamixView::OnChangeFilename() {
    if (GetFrame() == nullptr || GetDocument() == nullptr) return;
    GetFrame()->SetLabel(GetDocument()->GetUserReadableName() + " - " + text::kAppTitle);
}

void CTamixView::InvalidateAll() {
    if (m_canvas != nullptr) m_canvas->RequestFullRedraw();
}

void CTamixView::RenderAll() {
    if (m_canvas == nullptr) return;
    MeasurementSetup& setup = TheSetup();
    const wxSize size = m_canvas->GetClientSize();
    const wxColour background = wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW);
    if (!m_theme.background.IsOk() || m_theme.background != background) {
        m_theme = ViewTheme::For(background);
    }
    wxDC& dc = m_canvas->BufferDC(size);
    dc.SetBackground(wxBrush(m_theme.background));
    dc.Clear();
    m_layout = ComputeLayout(size.x, size.y, setup.channelCount);
    dc.SetFont(*wxNORMAL_FONT);
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    for (int i = 0; i < m_layout.channelCount && m_layout.stripHeight > 0; ++i) {
        const Rect& s = m_layout.strips[i];
        const int mid = (s.top + s.bottom) / 2;
        // The zero line's dots, a pixel every fourth column: as one-row bars
        // they cost next to nothing, where a point at a time took a third of the paint.
        size_t dots = 0;
        for (int x = s.left; x < s.right; x += 4) {
            m_bars[dots++] = {x, mid, mid};
            if (dots == m_bars.size() || x + 4 >= s.right) {
                FillColumnBars(dc, std::span(m_bars.data(), dots), ToWx(s), m_theme.zeroLine);
                dots = 0;
            }
        }
        DrawStripFrame(dc, m_layout, m_theme, i);
        // Name and unit at the top left, the values of the edges at the right.
        const ChannelInfo& channel = setup.channels[i];
        const EdgeValues edges =
            StripEdgeValues(s, m_scaling.gain(i), m_scaling.offset(i), channel);
        const std::string_view unit = channel.Unit();
        const wxString name = W(ChannelTitle(channel, static_cast<std::size_t>(i)));
        const wxString top = W(FormatValue(edges.top, unit));
        const wxString bottom = W(FormatValue(edges.bottom, unit));
        auto& labels = m_labels[i];
        const wxSize nameSize = dc.GetTextExtent(name);
        labels[0] = {wxRect(s.left + kLabelMargin, s.top + kLabelMargin, nameSize.x, nameSize.y),
                     name, 0, m_theme.trace[channel.inputNumber & 7]};
        dc.SetFont(*wxSMALL_FONT);
        const wxSize topSize = dc.GetTextExtent(top);
        const wxSize bottomSize = dc.GetTextExtent(bottom);
        dc.SetFont(*wxNORMAL_FONT);
        labels[1] = {
            wxRect(s.right - kLabelMargin - topSize.x, s.top + kLabelMargin, topSize.x, topSize.y),
            top, 1, m_theme.ink};
        labels[2] = {wxRect(s.right - kLabelMargin - bottomSize.x,
                            s.bottom - kLabelMargin - bottomSize.y, bottomSize.x, bottomSize.y),
                     bottom, 1, m_theme.ink};
        // A strip too low for both edge values shows only its name.
        if (labels[2].rect.y < labels[1].rect.GetBottom() + 1) {
            labels[1].text.clear();
            labels[2].text.clear();
        }
        PlaceLiveNumbers(dc, i, false);
    }
    if (m_canvas != nullptr) m_canvas->SetAccessibleText(LiveNumbersLines());
    m_nDrawnUpTo = 0;
    setup.displayWidth = DisplayWidthFor(m_layout.traceWidth);
    DrawTraces(dc, 0, setup.displayColumn.load(), true);
    if (m_layout.channelCount > 0) DrawStripLabels(dc, m_layout.traces.left, m_layout.traces.right);
}

void CTamixView::DrawHeader(wxDC& dc) {
    const MeasurementSetup& setup = TheSetup();
    const wxRect header = ToWx(m_layout.header);
    dc.SetBrush(wxBrush(m_theme.background));
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.DrawRectangle(header);
    dc.SetFont(*wxNORMAL_FONT);
    dc.SetTextForeground(m_theme.ink);
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    const wxString clock = ClockText(setup.scanCount.load(), setup.profile.samplePeriod);
    dc.DrawLabel(clock, header, wxALIGN_RIGHT | wxALIGN_TOP);
    dc.DrawLabel(W(setup.OutputFileName()), header, wxALIGN_LEFT | wxALIGN_TOP);
    dc.DrawLabel(W(setup.profile.ModelName()), header, wxALIGN_CENTRE_HORIZONTAL | wxALIGN_TOP);
    if (setup.profile.samplePeriod > 0) {
        // The time one sweep spans, just left of the clock.
        const wxString span =
            W(SweepSpanText(setup.displayWidth.load(), setup.profile.samplePeriod));
        wxRect left = header;
        left.width -= dc.GetTextExtent(clock).x + 3 * dc.GetCharWidth();
        dc.DrawLabel(span, left, wxALIGN_RIGHT | wxALIGN_TOP);
    }
}

int CTamixView::DrawTraces(wxDC& dc, int from, int to, bool withHeader) {
    MeasurementSetup& setup = TheSetup();
    if (withHeader) DrawHeader(dc);
    to = std::min(to, kBufferRows);
    if (from >= to || m_layout.stripHeight < 1) return from;
    const DisplayColumns& columns = setup.columnExtremes;
    constexpr auto relaxed = std::memory_order_relaxed;
    // Crisp one-pixel traces, and several times cheaper to stroke than smoothed ones.
    wxGraphicsContext* gc = dc.GetGraphicsContext();
    const wxAntialiasMode smoothing = gc != nullptr ? gc->GetAntialiasMode() : wxANTIALIAS_NONE;
    if (gc != nullptr) gc->SetAntialiasMode(wxANTIALIAS_NONE);
    for (int c = 0; c < m_layout.channelCount; ++c) {
        const Rect& s = m_layout.strips[c];
        dc.SetPen(wxPen(m_theme.trace[setup.channels[c].inputNumber & 7]));
        const int mid = (s.top + s.bottom) / 2;
        const int g = m_scaling.gain(c);
        const int o = m_scaling.offset(c);
        const int h = m_layout.stripHeight;
        // A line through the columns' first scans, and each column's span from
        // its lowest to its highest scan as a bar, so that a fast signal shows
        // its whole band.
        int n = 0;
        int yMin = s.bottom;
        int yMax = s.top;
        for (int j = from; j < to; ++j) {
            const int y = PointY(mid, columns.first[j][c].load(relaxed), o, h, g);
            yMin = std::min(yMin, y);
            yMax = std::max(yMax, y);
            m_points[n++] = wxPoint(s.left + j, y);
        }
        if (n == 1) m_points[n++] = m_points[0] + wxPoint(1, 0);
        {
            // A one-pixel stroke covers no pixel beyond its points' rows and
            // columns, so a line a pixel clear of the strip's edges needs no
            // clipping, which costs as much as the stroke.
            const bool inside = yMin > s.top && yMax < s.bottom - 2 && m_points[0].x > s.left &&
                                m_points[n - 1].x < s.right - 2;
            std::optional<wxDCClipper> dcClip;
            bool pushed = false;
            if (!inside && gc != nullptr) {
                gc->PushState();
                gc->Clip(s.left, s.top, s.Width(), s.Height());
                pushed = true;
            } else if (!inside) {
                dcClip.emplace(dc, ToWx(s));
            }
            dc.DrawLines(n, m_points.data());
            if (pushed) gc->PopState();
        }
        size_t bars = 0;
        for (int j = from; j < to; ++j) {
            const int yHigh = PointY(mid, columns.high[j][c].load(relaxed), o, h, g);
            const int yLow = PointY(mid, columns.low[j][c].load(relaxed), o, h, g);
            if (yLow - yHigh >= 2) m_bars[bars++] = {s.left + j, yHigh, yLow};
        }
        FillColumnBars(dc, std::span(m_bars.data(), bars), ToWx(s), dc.GetPen().GetColour());
    }
    if (gc != nullptr) gc->SetAntialiasMode(smoothing);
    DrawMarkers(dc, from, to);
    return to - 1;
}

std::optional<int> CTamixView::MarkerX(int m) const {
    const MeasurementSetup& setup = TheSetup();
    const auto column =
        ColumnOfScan(setup.columnExtremes, setup.displayColumn.load(), setup.markers.markerPos[m]);
    if (!column || m_layout.stripHeight < 1) return std::nullopt;
    return m_layout.traces.left + *column;
}

void CTamixView::DrawMarkers(wxDC& dc, int from, int to) {
    const MeasurementSetup& setup = TheSetup();
    const int count = setup.markers.markerCount.load(std::memory_order_acquire);
    const Rect& t = m_layout.traces;
    bool drawn = false;
    for (int m = 0; m < count; ++m) {
        const std::optional<int> x = MarkerX(m);
        if (!x || *x < t.left + from || *x >= t.left + to) continue;
        // Choosing a font costs more than a tick's traces: only when a flag is drawn.
        if (!drawn) dc.SetFont(*wxSMALL_FONT);
        drawn = true;
        // A dashed line over every strip and a flag with the marker's number.
        dc.SetPen(wxPen(m_theme.ink, 1, wxPENSTYLE_SHORT_DASH));
        const int bottom = t.top + m_layout.stripHeight * m_layout.channelCount;
        dc.DrawLine(*x, t.top, *x, bottom);
        // The flag sits at the bottom, clear of the strips' names and values.
        const wxString number = wxString::Format("%d", m);
        const wxSize size = dc.GetTextExtent(number);
        int flagTop = bottom - kLabelMargin - size.y;
        // Above the last strip's live numbers where it would fall on them.
        const wxRect live = m_layout.channelCount > 0
                                ? m_labels[m_layout.channelCount - 1][kLiveLabel].rect
                                : wxRect();
        if (!live.IsEmpty() && *x + size.x + 4 >= live.GetLeft() - 1 && *x <= live.GetRight() + 1) {
            flagTop = live.GetTop() - 1 - size.y;
        }
        dc.SetPen(wxPen(m_theme.ink));
        dc.SetBrush(wxBrush(m_theme.ink));
        dc.DrawRectangle(*x, flagTop, size.x + 4, size.y);
        dc.SetTextForeground(m_theme.background);
        dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
        dc.DrawText(number, *x + 2, flagTop);
    }
    if (drawn) dc.SetFont(*wxNORMAL_FONT);
}

void CTamixView::DrawStripLabels(wxDC& dc, int x0, int x1) {
    bool drawn = false;
    for (int i = 0; i < m_layout.channelCount; ++i) {
        for (const LabelBox& label : m_labels[i]) {
            if (label.text.empty()) continue;
            wxRect backing = label.rect;
            backing.Inflate(1, 0);
            if (backing.GetRight() < x0 || backing.GetLeft() > x1) continue;
            drawn = true;
            DrawLabel(dc, label, m_theme.background);
        }
    }
    // Most ticks draw no label; choosing a font is dearer than their traces.
    if (drawn) dc.SetFont(*wxNORMAL_FONT);
}

void CTamixView::DrawLabel(wxDC& dc, const LabelBox& label, const wxColour& background) {
    wxRect backing = label.rect;
    backing.Inflate(1, 0);
    // On its own backing, so that no trace runs through the text.
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(background));
    dc.DrawRectangle(backing);
    dc.SetFont(label.font == 0 ? *wxNORMAL_FONT : *wxSMALL_FONT);
    dc.SetTextForeground(label.colour);
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    dc.DrawText(label.text, label.rect.GetTopLeft());
}

void CTamixView::PlaceLiveNumbers(wxDC& dc, int i, bool keepWidth) {
    LabelBox& live = m_labels[i][kLiveLabel];
    const int oldWidth = live.rect.width;
    live.text.clear();
    live.rect = wxRect();
    if (!m_bLiveNumbers || !m_live || m_live->scans < 1) return;
    const Rect& s = m_layout.strips[i];
    const ChannelInfo& channel = TheSetup().channels[i];
    const double seconds = m_live->scans * TheSetup().profile.samplePeriod;
    const wxString text = W(LiveNumbersText(m_live->channels[i], seconds, channel.Unit()));
    dc.SetFont(*wxSMALL_FONT);
    const wxSize size = dc.GetTextExtent(text);
    dc.SetFont(*wxNORMAL_FONT);
    // The bottom left corner: below the name, left of the bottom edge value.
    const wxRect box(s.left + kLabelMargin, s.bottom - kLabelMargin - size.y, size.x, size.y);
    const LabelBox& name = m_labels[i][0];
    const LabelBox& bottom = m_labels[i][2];
    const int right = bottom.text.empty() ? s.right - kLabelMargin : bottom.rect.GetLeft() - 8;
    if (box.y <= name.rect.GetBottom() + 1 || box.GetRight() >= right) return;
    live = {box, text, 1, m_theme.ink};
    // A shorter text than the last one covers the last one's backing too.
    if (keepWidth) live.rect.width = std::max(live.rect.width, oldWidth);
}

wxString CTamixView::LiveNumbersLines() const {
    wxString lines;
    for (int i = 0; i < m_layout.channelCount; ++i) {
        const LabelBox& live = m_labels[i][kLiveLabel];
        if (live.text.empty()) continue;
        if (!lines.empty()) lines += "\n";
        lines += m_labels[i][0].text + ": " + live.text;
    }
    return lines;
}

void CTamixView::RefreshLiveNumbers() {
    m_liveReadAt = std::chrono::steady_clock::now();
    if (std::optional<LiveNumbers> numbers = ReadLiveNumbers(TheSetup())) m_live = numbers;
    if (m_canvas == nullptr || !m_canvas->HasBuffer()) return;
    wxDC& dc = m_canvas->BufferDC(m_canvas->GetClientSize());
    for (int i = 0; i < m_layout.channelCount && m_layout.stripHeight > 0; ++i) {
        PlaceLiveNumbers(dc, i, true);
        const LabelBox& live = m_labels[i][kLiveLabel];
        if (live.text.empty()) continue;
        DrawLabel(dc, live, m_theme.background);
        m_canvas->RefreshRect(live.rect.Inflate(1, 0), false);
    }
    dc.SetFont(*wxNORMAL_FONT);
    m_canvas->SetAccessibleText(LiveNumbersLines());
}

void CTamixView::OnTimerTick() {
    if (m_canvas == nullptr) return;
    MeasurementSetup& setup = TheSetup();
    const RunStatus status = setup.Status();
    // Frozen while paused; the worker's last second stays after its end.
    if (m_bLiveNumbers && status != RunStatus::Idle && status != RunStatus::Paused &&
        std::chrono::steady_clock::now() - m_liveReadAt >= kLiveNumbersEvery) {
        RefreshLiveNumbers();
    }
    if (status == RunStatus::Idle) {
        ReportRunEnd();
        // Idle: nothing changes on screen until the next Start, so no ticks.
        if (!m_worker.Joinable() && !m_bReporting && m_canvas != nullptr) m_canvas->StopRefresh();
        return;
    }
    if (setup.redrawRequest.load()) {
        m_nDrawnUpTo = 0;
        InvalidateAll();
        setup.redrawRequest = 0;
        return;
    }
    if (!m_canvas->HasBuffer()) return;
    const int to = setup.displayColumn.load();
    const bool withHeader = setup.secondTick.load() != 0;
    const int from = m_nDrawnUpTo;
    if (to <= from + 1 && !withHeader) return;  // nothing new to draw
    {
        wxDC& dc = m_canvas->BufferDC(m_canvas->GetClientSize());
        m_nDrawnUpTo = DrawTraces(dc, from, to, withHeader);
        const Rect& t = m_layout.traces;
        if (to > from) DrawStripLabels(dc, t.left + from, t.left + to);
    }
    setup.secondTick = 0;
    if (withHeader) {
        m_canvas->RefreshRect(ToWx(m_layout.header), false);
        UpdateStatus();
    }
    if (to > from) {
        const Rect& t = m_layout.traces;
        m_canvas->RefreshRect(wxRect(t.left + from, t.top, to - from + 1, t.Height()), false);
        // Labels redrawn over the new segment may reach beyond it.
        for (int i = 0; i < m_layout.channelCount; ++i) {
            for (const LabelBox& label : m_labels[i]) {
                if (!label.text.empty() && label.rect.GetRight() + 1 >= t.left + from &&
                    label.rect.GetLeft() - 1 <= t.left + to) {
                    m_canvas->RefreshRect(label.rect, false);
                }
            }
        }
    }
}

void CTamixView::ReportRunEnd() {
    MeasurementSetup& setup = TheSetup();
    if (m_bReporting || !m_worker.Joinable() || setup.workerActive.load()) return;
    m_worker.Join();
    // The numbers of the run's last second stay until the next run.
    if (m_bLiveNumbers) m_live = ReadLiveNumbers(setup);
    InvalidateAll();
    const std::string report = RunEndReport(setup);
    UpdateStatus();
    SetStatus(kMessage, W(RunEndStatus(setup, m_runFile, report)));
    if (report.empty()) return;
    m_bReporting = true;
    m_ui.ShowMessage(report, UserInterface::Icon::Warning);
    m_bReporting = false;
}

void CTamixView::SetStatus(int field, const wxString& text) {
    wxFrame* frame = wxDynamicCast(GetFrame(), wxFrame);
    wxStatusBar* bar = frame != nullptr ? frame->GetStatusBar() : nullptr;
    if (bar == nullptr || field >= bar->GetFieldsCount()) return;
    if (bar->GetStatusText(field) != text) bar->SetStatusText(text, field);
}

wxString CTamixView::StatusText(int field) const {
    wxFrame* frame = wxDynamicCast(GetFrame(), wxFrame);
    wxStatusBar* bar = frame != nullptr ? frame->GetStatusBar() : nullptr;
    if (bar == nullptr || field >= bar->GetFieldsCount()) return {};
    return bar->GetStatusText(field);
}

void CTamixView::UpdateStatus() {
    const StatusFields f = RunStatusFields(TheSetup(), m_runFile);
    SetStatus(kState, W(f.state));
    SetStatus(kTime, W(f.time));
    SetStatus(kSize, W(f.size));
    SetStatus(kLost, W(f.lost));
    SetStatus(kModel, W(f.model));
}

std::optional<Readout> CTamixView::ReadoutAt(int x, int y) const {
    const MeasurementSetup& setup = TheSetup();
    return tamix::ReadoutAt(m_layout, setup, setup.displayColumn.load(), x, y);
}

wxString CTamixView::TipAt(int x, int y) const {
    static const char* const kIconTips[3] = {
        "Zoom: click to fit the trace to its strip, right-click to reset its scaling",
        "Amplitude: click to double the trace's height, right-click to halve it",
        "Shift: click to move the trace up, right-click to move it down"};
    if (const auto hit = HitTestIconColumn(m_layout, x, y); hit && hit->zone < 3) {
        return kIconTips[hit->zone];
    }
    if (x < m_layout.traces.left || y < m_layout.traces.top) return {};
    const MeasurementSetup& setup = TheSetup();
    const int count = setup.markers.markerCount.load(std::memory_order_acquire);
    for (int m = count - 1; m >= 0; --m) {
        const std::optional<int> mx = MarkerX(m);
        if (mx && std::abs(*mx - x) <= kMarkerHitPixels) {
            return wxString::Format("Marker %d: ", m) + W(setup.markers.Text(m));
        }
    }
    return {};
}

void CTamixView::OnPointer(int x, int y) {
    if (m_canvas == nullptr) return;
    const std::optional<Readout> r = ReadoutAt(x, y);
    SetStatus(kMessage, r ? W(ReadoutText(*r, TheSetup().channels[r->channel])) : wxString());
    const wxString tip = TipAt(x, y);
    if (tip.empty()) {
        m_canvas->UnsetToolTip();
    } else if (m_canvas->GetToolTipText() != tip) {
        m_canvas->SetToolTip(tip);
    }
}

void CTamixView::OnMeasurementStart(wxCommandEvent&) {
    MeasurementSetup& setup = TheSetup();
    if (gProfile == nullptr) return;
    // The previous worker may still be completing its file with the old choices.
    m_ui.BeginWait();
    m_worker.Join();
    m_ui.EndWait();
    // The profile as it is on disk now: another instance or an editor may have changed it.
    *gProfile = IniFile(gProfile->path());
    for (;;) {
        CMeasurementOptionsDlg dlg(nullptr, *gProfile);
        if (dlg.ShowModal() != wxID_OK) return;
        dlg.TransferToSetup(setup);
        if (gPrepareInstrument) gPrepareInstrument(setup);
        // The last run's numbers belong to its channels.
        m_live.reset();
        m_liveReadAt = {};
        m_nDrawnUpTo = 0;
        InvalidateAll();
        const StartOutcome outcome = StartMeasurement(
            setup, m_worker, gOpener != nullptr ? *gOpener : DefaultFileOpener(), m_ui);
        // The program is ending: the options are not asked for again.
        if (MessageBoxesEnded()) return;
        if (outcome == StartOutcome::Started) {
            setup.displayWidth = DisplayWidthFor(m_layout.traceWidth);
            m_runFile = std::string(setup.OutputFileName());
            SetStatus(kMessage, wxString());
            UpdateStatus();
            if (m_canvas != nullptr) m_canvas->StartRefresh();
        }
        if (outcome != StartOutcome::NoChannel) return;
    }
}

void CTamixView::OnMeasurementStop(wxCommandEvent&) {
    if (StopMeasurement(TheSetup(), m_ui) && GetDocument() != nullptr) {
        GetDocument()->Modify(false);
    }
}

void CTamixView::OnMeasurementPause(wxCommandEvent&) {
    MeasurementSetup& setup = TheSetup();
    // Its key reaches the command whatever the menu's state.
    if (!CommandStateFor(cmd::ID_MEASUREMENT_PAUSE, setup).enabled) return;
    // The state field shows the pause while its box is open.
    if (setup.Status() != RunStatus::Paused) SetStatus(kState, "Paused");
    PauseMeasurement(setup, m_ui);
    UpdateStatus();
    InvalidateAll();
}

void CTamixView::OnMeasurementCommPort(wxCommandEvent&) {
    if (gProfile == nullptr) return;
    CSystemSetupDlg dlg(nullptr, *gProfile);
    if (dlg.ShowModal() == wxID_OK) TheSetup().SetCommPort(dlg.GetPort());
}

void CTamixView::OnMeasurementEightChannels(wxCommandEvent&) {
    MeasurementSetup& setup = TheSetup();
    setup.SetEightChannels(!setup.GetEightChannels());
}

void CTamixView::OnMeasurementCalibrate(wxCommandEvent&) {
    m_ui.ShowMessage(text::kNotImplemented, UserInterface::Icon::Information);
}

void CTamixView::OnToolsAddMarker(wxCommandEvent&) {
    const std::optional<PendingMarker> marker = PrepareMarker(TheSetup());
    if (!marker) return;
    CAddMarkerDlg dlg(wxTheApp->GetTopWindow());
    dlg.SetMarkerNumber(marker->number);
    if (dlg.ShowModal() != wxID_OK) return;
    TheSetup().AddMarker(marker->scan, dlg.m_strComment, marker->wallTime);
    InvalidateAll();
}

void CTamixView::OnToolsResetAllScaling(wxCommandEvent&) {
    m_scaling.ResetAll();
    InvalidateAll();
}

void CTamixView::OnToolsAutoscaleAll(wxCommandEvent&) {
    MeasurementSetup& setup = TheSetup();
    if (m_scaling.AutoscaleAll(setup, setup.displayColumn.load())) InvalidateAll();
}

void CTamixView::OnToolsLiveNumbers(wxCommandEvent&) {
    m_bLiveNumbers = !m_bLiveNumbers;
    // Whatever the state: a paused or ended run shows the numbers it stands at.
    m_live = m_bLiveNumbers ? ReadLiveNumbers(TheSetup()) : std::nullopt;
    m_liveReadAt = std::chrono::steady_clock::now();
    InvalidateAll();
    if (gProfile == nullptr) return;
    // Into the file as it is now, as the program's other settings are kept.
    IniFile onDisk(gProfile->path());
    onDisk.SetInt(profile::kSettings, profile::kLiveNumbers, m_bLiveNumbers ? 1 : 0);
    if (SaveProfile(onDisk, wxTheApp->GetTopWindow())) *gProfile = std::move(onDisk);
}

void CTamixView::OnButtonDown(int x, int y, MouseButton button) {
    const auto hit = HitTestIconColumn(m_layout, x, y);
    if (!hit) return;
    MeasurementSetup& setup = TheSetup();
    m_scaling.Click(*hit, button, setup, setup.displayColumn.load());
    InvalidateAll();
}

void CTamixView::OnUpdateCommand(wxUpdateUIEvent& event) {
    const CommandState state = CommandStateFor(event.GetId(), TheSetup());
    event.Enable(state.enabled);
    if (event.GetId() == cmd::ID_MEASUREMENT_PAUSE ||
        event.GetId() == cmd::ID_MEASUREMENT_EIGHTCHANNELS) {
        event.Check(state.checked);
    }
    if (event.GetId() == cmd::ID_TOOLS_LIVENUMBERS) event.Check(m_bLiveNumbers);
}

}  // namespace tamix
